// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/app.hpp"

#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/binding.hpp"
#include "encoder/command_line.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/modes.hpp"
#include "encoder/results.hpp"
#include "platform/console.hpp"
#include "platform/signals.hpp"
#include "platform/system.hpp"

#include <cstdio>
#include <cstdlib>
#include <sndfile.h>

namespace tarvik {

namespace {

std::string sndfile_block() {
    char version[128] = {};
    sf_command(nullptr, SFC_GET_LIB_VERSION, version, sizeof version);
    version[sizeof version - 1] = '\0';
    return format_text("\n---- Libsndfile ----\n| Version tag:            %s\n| Home page: %s\n",
                       version, "https://libsndfile.github.io/libsndfile/");
}

int run_mode(Context& ctx, const Dispatch& d) {
    switch (d.mode) {
    case RunMode::Finished:
        return d.exit_status;
    case RunMode::Play:
        return play(ctx, d.positionals.front());
    case RunMode::Batch:
        return run_batch_command(ctx, d.positionals);
    case RunMode::SingleFile:
        return run_single_file(ctx, d.positionals);
    case RunMode::Silence:
        return run_silence(ctx, d.positionals);
    }
    return kExitFailure;
}

} // namespace

int run_tarvik(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto information = information_option(args)) {
        std::fputs(information->c_str(), stdout);
        return kExitSuccess;
    }
    // Standard output then carries the results alone; the console goes to standard error.
    if (results_on_standard_output(args)) results_take_standard_output();
    Context ctx;
    ctx.program_dir = directory_of(platform::executable_path());
    ctx.current_dir = platform::current_directory();

    platform::clear_console();
    std::printf("%s - voice lines to MP3 for game sound folders. Free software, no warranty.\n\n",
                kProgramCaption);

    if (!load_lame(ctx.program_dir)) {
        show_error_box<ErrorBox::LameNotLoaded>(kLameLibraryName);
        return kExitFailure;
    }
    std::atexit(unload_lame);

    // The audio facility's block is added by -ver itself: it loads the audio module.
    const std::string library_info = lame_version_text() + sndfile_block();
    const Dispatch d = read_command_line(args, ctx, library_info);
    // Every mode but playback (which keeps the terminal's keys) stops cleanly on a signal.
    if (d.mode != RunMode::Play && d.mode != RunMode::Finished) platform::install_stop_handlers();
    results_begin(ctx, d.mode);
    return results_end(run_mode(ctx, d));
}

} // namespace tarvik
