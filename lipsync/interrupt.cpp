// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/interrupt.hpp"

#include "platform/signals.hpp"

namespace tarvik::lipsync {

void install_stop_handlers() {
    platform::install_exit_on_stop_handlers();
}

} // namespace tarvik::lipsync
