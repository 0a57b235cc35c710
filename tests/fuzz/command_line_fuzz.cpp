// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary argument vectors to tarvik's command-line reader. The input is split into
// arguments at NUL bytes (each NUL ends one argument; text after the last NUL is one more).
// Only the reading and the run-mode choice run: no mode is started.
// Checked beyond the sanitizers: a finished reading showed exactly one box (information with
// status 0, error otherwise) and a chosen mode none; the mode follows the flags; the
// positional parameters are the one or two last arguments; every setting holds a value the
// encoder accepts.
#include "common/mpeg.hpp"
#include "encoder/command_line.hpp"
#include "platform/box.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int boxes = 0;
tarvik::platform::BoxIcon last_icon = tarvik::platform::BoxIcon::Information;

void count_box(tarvik::platform::BoxIcon icon, const std::string&, const std::string&) {
    ++boxes;
    last_icon = icon;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "command_line_fuzz: %s\n", what);
    std::abort();
}

template <typename List> bool one_of(const List& values, uint32_t v) {
    return std::find(values.begin(), values.end(), v) != values.end();
}

} // namespace

// Undefined behaviour ends the run like a crash, so that libFuzzer keeps the input.
extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarvik::platform::set_box_handler(count_box);
    // The reader's console lines would drown libFuzzer's own (which go to standard error).
    if (!std::freopen("/dev/null", "w", stdout)) fail("cannot silence standard output");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i)
        if (data[i])
            args.back().push_back(static_cast<char>(data[i]));
        else
            args.emplace_back();
    if (args.back().empty()) args.pop_back();

    boxes = 0;
    tarvik::Context ctx;
    const tarvik::Dispatch d = tarvik::read_command_line(args, ctx, "library information\n");
    std::fflush(stdout);

    using tarvik::RunMode;
    if (d.mode == RunMode::Finished) {
        if (boxes != 1) fail("a finished reading must show exactly one box");
        const bool info = last_icon == tarvik::platform::BoxIcon::Information;
        if (info != (d.exit_status == tarvik::kExitSuccess))
            fail("box kind and exit status disagree");
        if (d.exit_status != tarvik::kExitSuccess && d.exit_status != tarvik::kExitFailure)
            fail("exit status is neither 0 nor 255");
        if (!d.positionals.empty()) fail("positional parameters without a run");
    } else {
        if (boxes != 0) fail("a box was shown although a mode was chosen");
        const size_t count = d.positionals.size();
        if (count < 1 || count > (d.mode == RunMode::Play ? 1u : 2u))
            fail("wrong number of parameters");
        if (d.positionals[0].starts_with('-')) fail("the first parameter is a switch");
        if (d.mode != RunMode::Play) {
            if (!std::equal(d.positionals.begin(), d.positionals.end(),
                            args.end() - static_cast<long>(count)))
                fail("the parameters are not the last arguments");
            const RunMode expected = ctx.flags.wav_mode     ? RunMode::SingleFile
                                     : ctx.flags.batch_mode ? RunMode::Batch
                                                            : RunMode::Silence;
            if (d.mode != expected) fail("the mode does not follow the flags");
        }
    }

    const tarvik::RunSettings& s = ctx.settings;
    if (!one_of(tarvik::kMpegRates, s.sample_rate)) fail("sample rate outside the MPEG rates");
    if (!one_of(tarvik::kMpeg1Kbps, s.bit_rate) && !one_of(tarvik::kMpeg2Kbps, s.bit_rate))
        fail("bit rate outside the MPEG bit rates");
    if (s.mode > tarvik::kModeMono) fail("channel mode outside the encoder's codes");
    if (s.vbr_quality < -1 || s.vbr_quality > 9) fail("VBR quality outside -1..9");
    if (s.jobs < 1 || s.jobs > tarvik::kMaxJobs) fail("job count outside 1..64");
    if ((ctx.flags.delete_wav || s.no_click) && !ctx.flags.wav_mode && !ctx.flags.batch_mode)
        fail("-rem or -noclick accepted outside the single-file and batch modes");
    return 0;
}
