// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/box.hpp"

#include "platform/process.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace tarvik::platform {

namespace {
const char* icon_name(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return "error";
    case BoxIcon::Warning:
        return "warning";
    case BoxIcon::Question:
        return "question";
    case BoxIcon::Information:
        break;
    }
    return "information";
}

void write_all(std::FILE* f, std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), f);
}
} // namespace

namespace {
BoxHandler box_handler = nullptr;
} // namespace

void set_box_handler(BoxHandler handler) {
    box_handler = handler;
}

void show_box(BoxIcon icon, const std::string& caption, const std::string& text) {
    if (box_handler) {
        box_handler(icon, caption, text);
        return;
    }
    std::fflush(stdout);
    if (const char* program = std::getenv(kBoxProgramEnv); program && *program) {
        const auto result =
            run_and_wait(program, {"--message-box", icon_name(icon), caption, text});
        if (result.started && result.exit_status == 0) return;
        // The desktop box could not be shown: fall back to the console so nothing is lost.
    }
    std::FILE* out = icon == BoxIcon::Error ? stderr : stdout;
    write_all(out, caption);
    write_all(out, "\n");
    write_all(out, text);
    if (text.empty() || text.back() != '\n') write_all(out, "\n");
    std::fflush(out);
    const char* wait = std::getenv(kBoxWaitEnv);
    if (wait && std::string_view(wait) == "1" && ::isatty(STDIN_FILENO)) {
        write_all(stdout, "Press Enter to continue...");
        std::fflush(stdout);
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
    }
}

} // namespace tarvik::platform
