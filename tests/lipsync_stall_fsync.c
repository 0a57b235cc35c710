// SPDX-License-Identifier: GPL-3.0-or-later
/* Preloaded into lipsync by the stop-signal test: fsync never returns, so the program is
   caught while its temporary VLP file exists. */
#include <unistd.h>
int fsync(int fd) {
    (void)fd;
    for (;;)
        pause();
}
