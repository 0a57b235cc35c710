// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a WAV file through the encode path (InputWav, plan, encode_mp3) with the
// real encoder library; the last byte picks the settings.
// Checked beyond the sanitizers: the record keeps a valid channel mode and the settings' rate,
// and an encode leaves either the complete MP3 or nothing in its folder.
#include "encoder/binding.hpp"
#include "encoder/encoding.hpp"
#include "platform/box.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path work_dir; // one per process, removed at exit

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "wav_encode_fuzz: %s\n", what);
    std::abort();
}
} // namespace

// Undefined behaviour ends the run like a crash, so that libFuzzer keeps the input.
extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarvik::platform::set_box_handler(
        [](tarvik::platform::BoxIcon, const std::string&, const std::string&) {});
    if (!std::freopen("/dev/null", "w", stdout) || !tarvik::load_lame()) fail("cannot set up");
    // A memory file system when there is one: every successful encode syncs its MP3.
    std::string dir = fs::is_directory("/dev/shm")
                          ? "/dev/shm/wav_encode_fuzz.XXXXXX"
                          : fs::temp_directory_path() / "wav_encode_fuzz.XXXXXX";
    if (!::mkdtemp(dir.data())) fail("cannot create a temporary directory");
    work_dir = dir;
    std::atexit([] { fs::remove_all(work_dir); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string wav = work_dir / "input.wav", mp3 = work_dir / "output.mp3";
    std::ofstream(wav, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    const uint8_t pick = size ? data[size - 1] : 0;
    tarvik::RunSettings settings;
    settings.bit_rate = static_cast<uint16_t>(8 * (pick % 41)); // 0 to 320, legal or not
    settings.bit_rate_given = pick & 0x01;
    settings.mode = static_cast<uint8_t>((pick >> 2) & 3);
    settings.vbr_quality = (pick & 0x40) ? pick % 10 : -1;
    {
        tarvik::InputWav input;
        if (input.open(wav) && input.audio()) {
            const tarvik::Plan plan = tarvik::plan(settings, input.facts());
            if (plan.mode > 3 || plan.input_rate != input.facts().rate)
                fail("the plan has a bad channel mode or another rate than the input");
            tarvik::EncodeOptions options;
            options.no_click = pick & 0x20;
            std::string text;
            tarvik::ConsoleOut out(&text);
            tarvik::ConsoleSink sink(out, pick & 0x10);
            const bool ok = tarvik::encode_mp3(plan, input, mp3, options, sink).ok;
            // Complete or absent: the input, plus the MP3 only on success; no temporary file.
            const auto files =
                std::distance(fs::directory_iterator(work_dir), fs::directory_iterator{});
            if (files != (ok ? 2 : 1) || ok != fs::exists(mp3))
                fail("encode left an unexpected set of files");
        }
    }
    fs::remove(wav), fs::remove(mp3);
    return 0;
}
