// SPDX-License-Identifier: GPL-3.0-or-later
/* Preloaded into a program under test: every new thread fails as under a process limit. */
#include <errno.h>
#include <pthread.h>

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
    (void)thread, (void)attr, (void)start, (void)arg;
    return EAGAIN;
}
