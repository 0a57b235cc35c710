// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/app.hpp"

#include <cstdio>

int main(int argc, char** argv) {
    const int status = tarvik::run_tarvik(argc, argv);
    std::fflush(stdout);
    return status;
}
