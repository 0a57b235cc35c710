// SPDX-License-Identifier: GPL-3.0-or-later
// The silence and single-file runs end to end, judged by the MP3s' frame headers and by real
// decoders (libsndfile, ffmpeg, mpg123, mp3val), and by what the console and boxes say.
#include "tests/support/test_support.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sndfile.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

std::string final_settings(int rate, const std::string& mode, const std::string& kbps) {
    return "Final settings: | Sample rate = " + std::to_string(rate) +
           "Hz\n                | Mode        = " + mode +
           "\n                | Bitrate     = " + kbps + "kbps";
}

// A spoken line with pauses (espeak-ng writes it at 22050 Hz mono), as game voice lines are.
const std::string kSpeech = "The gate is closed. Come back at dawn, and bring the silver key.";

const auto mpeg_of = [](int rate) { return rate < 16000 ? 25 : rate < 32000 ? 2 : 1; };

} // namespace

// Every input rate from 8 to 96 kHz: the printed settings are what the frame headers carry
// (8 to 12 kHz stop at 64 kbps, 96 kHz is written at 48 kHz, only the default is doubled).
TEST(Encoding, PrintedSettingsAreTheFrames) {
    struct Case {
        int rate, channels;
        std::vector<std::string> switches;
        std::string mode;
        int kbps, format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    };
    const std::string stereo = "independent stereo", joint = "joint stereo";
    const std::map<std::string, int> mode_codes = {
        {stereo, 0}, {joint, 1}, {"dual channel", 2}, {"mono", 3}}; // the header's mode bits
    std::vector<Case> cases = {{44100, 2, {"-mode", "dual"}, "dual channel", 128},
                               {44100, 1, {"-mode", "dual"}, "mono", 64},
                               {22050, 2, {"-mode", "stereo", "-brate", "144"}, stereo, 144},
                               {44100, 1, {}, "mono", 64, SF_FORMAT_WAV | SF_FORMAT_FLOAT}};
    // By MPEG version: default mono, default stereo, typed 8, typed 320.
    const std::map<int, std::array<int, 4>> by_version = {
        {25, {64, 64, 8, 64}}, {2, {64, 128, 8, 160}}, {1, {64, 128, 32, 320}}};
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000}) {
        const auto& k = by_version.at(mpeg_of(rate));
        cases.insert(cases.end(),
                     {{rate, 1, {}, "mono", k[0]},
                      {rate, 2, {}, joint, k[1]},
                      {rate, 1, {"-bitrate", "8"}, "mono", k[2]},
                      {rate, 2, {"-bitrate", "64"}, joint, 64},
                      {rate, 2, {"-bitrate", "320"}, k[3] > 192 ? stereo : joint, k[3]}});
    }
    TempDir t;
    for (const auto& c : cases) {
        std::vector<std::string> args{"-wav"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        args.push_back("in.wav");
        SCOPED_TRACE(testing::PrintToString(std::tuple(c.rate, c.channels, args)));
        ASSERT_TRUE(write_wav(t / "in.wav", {c.rate, c.channels, 1.5, c.format}));
        const RunResult r = tarvik_in(t.path(), args);
        const int mp3_rate = std::min(c.rate, 48000);
        EXPECT_TRUE(
            contains(r.out, final_settings(mp3_rate, c.mode, std::to_string(c.kbps)) + "\n"));
        const auto facts = mp3_facts(t / "in.mp3");
        ASSERT_TRUE(facts) << r.out << r.err;
        EXPECT_EQ(std::tuple(facts->sample_rate, facts->mpeg_version, facts->channel_mode),
                  std::tuple(mp3_rate, mpeg_of(c.rate), mode_codes.at(c.mode)));
        EXPECT_EQ(std::set(facts->bit_rates.begin(), facts->bit_rates.end()), std::set{c.kbps});
        AudioInfo info;
        const auto pcm = decode(t / "in.mp3", &info);
        // The sine's level (each channel's tone at the same amplitude).
        EXPECT_NEAR(channel_rms(pcm, info.channels, 0), 0.5 / std::sqrt(2.0),
                    c.kbps <= 32 ? 0.1 : 0.02);
        // The tag frame (when the encoder had room for one) gives the exact length.
        if (!facts->tag.empty()) EXPECT_EQ(info.frames, std::llround(1.5 * mp3_rate));
    }
}

// VBR ranges over the whole class, with a typed bit rate as its floor.
TEST(Encoding, VbrFollowsTheSpeech) {
    TempDir t;
    ASSERT_EQ(run("/usr/bin/espeak-ng", {"-w", t / "line.wav", kSpeech}).exit_status, 0);
    std::map<std::string, std::set<int>> rates;
    for (const auto& [dir, range, args] :
         std::vector<std::tuple<std::string, std::string, std::vector<std::string>>>{
             {"q0", "8-160", {"-wav", "-vbr", "0", "line", "q0"}},
             {"q9", "8-160", {"-wav", "-vbr", "9", "line", "q9"}},
             {"floor", "64-160", {"-wav", "-vbr", "9", "-bitrate", "64", "line", "floor"}}}) {
        const RunResult r = tarvik_in(t.path(), args);
        EXPECT_TRUE(contains(r.out, final_settings(22050, "mono", range) + " (VBR)\n"));
        const auto facts = mp3_facts(t / dir + "/line.mp3");
        ASSERT_TRUE(facts) << r.err;
        EXPECT_EQ(facts->tag, "Xing");
        rates[dir] = std::set(facts->bit_rates.begin() + 1, facts->bit_rates.end());
    }
    EXPECT_GE(std::min(rates["q0"].size(), rates["q9"].size()), 5u);
    EXPECT_GT(file_size(t / "q0/line.mp3"), file_size(t / "q9/line.mp3") * 3 / 2);
    EXPECT_GE(*rates["floor"].begin(), 64);
}

// -noclick keeps every sample: decoders that honour the length tag return exactly the
// input's length, and the last 50 ms of speech cut off while loud decode as the input's.
TEST(Encoding, NoClickKeepsEverySample) {
    TempDir t;
    ASSERT_EQ(run("/usr/bin/espeak-ng", {"-w", t / "full.wav", kSpeech}).exit_status, 0);
    ASSERT_EQ(
        run("/usr/bin/sox", {t / "full.wav", t / "speech.wav", "trim", "0", "0.8"}).exit_status, 0);
    ASSERT_TRUE(write_wav(t / "stereo.wav", {.channels = 2, .seconds = 1.3}));
    ASSERT_TRUE(write_wav(t / "low.wav", {.sample_rate = 8000, .seconds = 1}));
    for (const auto& [name, vbr] : {std::pair{"speech", "-1"}, {"stereo", "-1"}, {"low", "5"}}) {
        SCOPED_TRACE(name);
        std::vector<std::string> args{"-wav", "-noclick", name, "out"};
        if (std::string(vbr) != "-1") args.insert(args.begin() + 1, {"-vbr", vbr});
        ASSERT_EQ(tarvik_in(t.path(), args).exit_status, 0);
        const std::string mp3 = t / "out/" + name + ".mp3";
        AudioInfo in, got;
        const auto input = decode(t / (std::string(name) + ".wav"), &in);
        const auto output = decode(mp3, &got);
        ASSERT_EQ(got.frames, in.frames);
        const size_t by_ffmpeg =
            run("/usr/bin/ffmpeg", {"-v", "error", "-i", mp3, "-f", "s16le", "-"}).out.size();
        EXPECT_EQ(by_ffmpeg, static_cast<size_t>(in.frames * in.channels * 2));
        const size_t tail = static_cast<size_t>(in.sample_rate / 20 * in.channels);
        double signal = 0, error = 0;
        for (size_t i = input.size() - tail; i < input.size(); ++i) {
            signal += input[i] * input[i];
            error += (output[i] - input[i]) * (output[i] - input[i]);
        }
        EXPECT_GT(signal / static_cast<double>(tail), 0.001); // it ends loud: above -30 dBFS
        EXPECT_LT(error, 0.1 * signal);                       // and decodes as it was
        const std::string report = run("/usr/bin/mp3val", {mp3}).out;
        EXPECT_EQ(count_occurrences(report, "WARNING"),
                  count_occurrences(report, "No supported tags"))
            << report;
    }
    // At 32 kbps a 22050 Hz stereo frame cannot hold the length tag, so the encoder writes
    // none: the line is made all the same, its fade playing after the audio.
    ASSERT_TRUE(write_wav(t / "small.wav", {.sample_rate = 22050, .channels = 2}));
    EXPECT_EQ(
        tarvik_in(t.path(), {"-wav", "-noclick", "-bitrate", "32", "small", "out"}).exit_status, 0);
    EXPECT_GE(decode(t / "out/small.mp3").size(), 22050u * 2);
}

// Silences decode to digital silence of the length asked, in the channel mode asked (a dual
// channel silence in dual-channel frames, MPEG-1 and MPEG-2 alike).
TEST(Encoding, SilenceRunsDecodeToDigitalSilence) {
    struct Case {
        std::vector<std::string> args;
        std::string printed, temp_wav, mp3;
        int frames, channels, mode = -1;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{"1"}, "Silence time = 1 second\nOutput file = \"", "(44100Hz/16bits/mono/1sec)\n", "1_sec.mp3", 44100, 1},
        {{"-mode", "stereo", "-srate", "22050", "3", "out/sil"}, "Silence time = 3 seconds\nOutput file = \"out/sil/3_sec.mp3\"\n",
         "(22050Hz/16bits/stereo/3sec)\n", "out/sil/3_sec.mp3", 66150, 2},
        // 8 kbps makes a stereo setting mono, the temporary WAV too; a one-level folder is made
        // for the file. (26-byte frames hold no length tag: frames 0, the length is not checked.)
        {{"-srate", "22050", "-mode", "stereo", "-bitrate", "8", "2", "low"}, "Directory created: \"low\"\n",
         "(22050Hz/16bits/mono/2sec)\n", "low/2_sec.mp3", 0, 1},
        {{"-mode", "dual", "-srate", "44100", "1", "d1"}, "| Mode        = dual channel\n", "", "d1/1_sec.mp3", 44100, 2, 2},
        {{"-mode", "dual", "-srate", "22050", "1", "d2"}, "| Mode        = dual channel\n", "", "d2/1_sec.mp3", 22050, 2, 2},
    };
    // clang-format on
    TempDir t;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mp3);
        const RunResult r = tarvik_in(t.path(), c.args);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, c.printed));
        EXPECT_TRUE(contains(r.out, c.temp_wav));
        AudioInfo info;
        const auto pcm = decode(t / c.mp3, &info);
        EXPECT_EQ(info.channels, c.channels);
        if (c.frames) EXPECT_EQ(info.frames, c.frames);
        EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0.0f), static_cast<long>(pcm.size()));
        if (c.mode >= 0) EXPECT_EQ(mp3_facts(t / c.mp3)->channel_mode, c.mode);
    }
}

// Size limits, input names, trailing chunks, progress forms, -rem and refused silences, each as
// the console and the folder show.
TEST(Encoding, InputsProgressAndRemoval) {
    TempDir t;
    fs::create_directories(t / "my.dir");
    const std::string longest(246, 'n'); // 250 bytes with ".wav" or ".mp3"
    // clang-format off
    for (const std::string& name : std::vector<std::string>{"voice.wav", "my.dir/voice.wav", "Upper.WAV", longest + ".wav", "line01.wav"})
        ASSERT_TRUE(write_wav(t / name, {.seconds = 0.25}));
    ASSERT_TRUE(write_wav(t / "small.wav", {.seconds = 4978.0 / 44100})); // about four chunks
    ASSERT_EQ(file_size(t / "small.wav"), 10000);
    // voice.wav with a LIST chunk after its data, as recording tools write them.
    std::string bytes = read_file(t / "voice.wav");
    const std::string info = "INFOICMT" + le32(4000) + std::string(4000, 'z');
    bytes += "LIST" + le32(static_cast<uint32_t>(info.size())) + info;
    ASSERT_TRUE(write_file(t / "listed.wav", bytes.replace(4, 4, le32(static_cast<uint32_t>(bytes.size() - 8)))));
    const std::string cannot_open = "main() failed on fopen(). Cannot open \"" + t.path() + "/";
    struct Case {
        std::vector<std::string> args;
        std::string created, box, printed;
    };
    const std::vector<Case> cases = {
        {{"-wav", "voice.mp3"}, "voice.mp3", "", ""}, // the input is voice.wav
        {{"-wav", "listed"}, "listed.mp3", "", ""},
        {{"-wav", "my.dir/voice"}, "my.dir/voice.mp3", "", ""}, // not my.wav
        {{"-wav", "./upper", "outdir"}, "outdir/Upper.mp3", "", ""}, // found without regard to case
        {{"-wav", longest}, longest + ".mp3", "", ""}, // its temporary name fits too
        {{"-wav", "-vbr", "4", "-rem", "line01", "mp3/"}, "mp3/line01.mp3", "", "Input file deleted: \"" + t.path() + "/line01.wav\"\n"},
        {{"-wav", "-rem", "line01", "mp3/"}, "", error_box(661, cannot_open + "line01.wav\"."), ""},
        {{"0"}, "", error_box(590, "Silence time is null!"), ""},
        // A silence whose temporary WAV would not fit is refused before anything is written.
        {{"99999999999", "new/dir"}, "", error_box_head(1008) +
         "Cannot make 99999999999 seconds of silence: its temporary WAV file would take 7.8 PiB, but \"" + bin_dir() + "\" has ", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back().substr(0, 20));
        const RunResult r = tarvik_in(t.path(), c.args);
        EXPECT_EQ(r.exit_status, c.box.empty() ? 0 : 255) << r.out << r.err;
        EXPECT_TRUE(r.err.starts_with(c.box) && r.err.empty() == c.box.empty()) << r.err;
        EXPECT_TRUE(contains(r.out, c.printed));
        if (!c.created.empty()) EXPECT_TRUE(exists(t / c.created));
    }
    // On a terminal the bar is drawn as the encode goes, its steps catching up.
    EXPECT_TRUE(
        contains(run_in_terminal(bin("tarvik"), {"-wav", t / "small.wav"}),
                 "Encoding: [ \b>]\b>]\b>]\b>]\b>]\b>]\b>]\b>]\b>]\b>] Done!\nSpace saved: "));
    EXPECT_FALSE(exists(t / "my.mp3") || exists(t / "new"));
    EXPECT_EQ(list_dir(t / "mp3"), std::vector<std::string>{"line01.mp3"}); // no temporary left
    EXPECT_EQ(decode(t / "listed.mp3"), decode(t / "voice.mp3")); // the LIST chunk is no click
}

// Levels and channels reach the MP3 as written: full scale in 16-bit, 24-bit and float WAVs
// (neither clipped, wrapped nor attenuated), left and right apart, stereo and six channels
// mixed down with equal weights. Judged by the error against the expected signal, after
// the decoder drops the padding the length tag names: a full-scale square band-limited by
// the encoder keeps under 2% of error; a sign wrapped, a channel swapped or a wrong weight
// gives over 25%.
TEST(Encoding, LevelsAndChannelsReachTheMp3) {
    using Signal = std::function<double(int64_t, int)>;
    const auto square = [](int64_t f) { return f / 50 % 2 ? -1.0 : 1.0; }; // 441 Hz at 44100
    const auto sine = [](int64_t f) { return std::sin(2 * M_PI * 441 * double(f) / 22050); };
    const Signal full = [&](int64_t f, int) { return square(f); };
    struct Case {
        std::string name;
        int rate, channels, format;
        std::vector<std::string> switches;
        Signal in, out;   // the sample of each frame and channel, written and expected back
        double max_error; // 0: no length tag (8 kbps frames hold none): RMS within 20%
    };
    const Signal six = [&](int64_t f, int c) { return c == 5 ? -square(f) : square(f); };
    const Signal two_thirds = [&](int64_t f, int) { return square(f) * 2 / 3; }; // 4/6 stays
    const Signal apart = [&](int64_t f, int c) { return (c ? 0.25 : 0.75) * square(f); };
    const Signal mixed_in = [&](int64_t f, int c) { return (c ? -0.2 : 0.6) * sine(f); };
    const Signal mixed_out = [&](int64_t f, int) { return 0.2 * sine(f); };
    const std::vector<std::string> kbps192{"-bitrate", "192"};
    constexpr int kPcm24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                  kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // clang-format off
    const std::vector<Case> cases = {
        {"16-bit", 44100, 1, 0, kbps192, full, full, 0.05},
        {"24-bit", 44100, 1, kPcm24, kbps192, full, full, 0.05},
        {"float", 44100, 1, kFloat, kbps192, full, full, 0.05},
        {"six channels", 44100, 6, 0, kbps192, six, two_thirds, 0.05},
        {"stereo", 44100, 2, 0, {"-bitrate", "320"}, apart, apart, 0.05},
        {"stereo to mono", 22050, 2, 0, {"-bitrate", "8"}, mixed_in, mixed_out, 0},
    };
    // clang-format on
    TempDir t;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t frames = c.rate / 2;
        ASSERT_TRUE(write_wav_with(t / "in.wav", c.rate, c.channels, frames, c.in, c.format));
        std::vector<std::string> args{"-wav"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        args.push_back("in.wav");
        ASSERT_EQ(tarvik_in(t.path(), args).exit_status, 0);
        AudioInfo info;
        const auto pcm = decode(t / "in.mp3", &info);
        ASSERT_TRUE(info.frames == frames || c.max_error == 0) << info.frames;
        for (int ch = 0; ch < info.channels; ++ch) {
            double error = 0, signal = 0;
            for (int64_t f = 0; f < frames; ++f) {
                const double want = c.out(f, ch);
                error += std::pow(pcm[size_t(f * info.channels + ch)] - want, 2);
                signal += want * want;
            }
            if (c.max_error > 0) EXPECT_LT(error / signal, c.max_error) << "channel " << ch;
            const double rms = std::sqrt(signal / double(frames));
            if (c.max_error == 0) EXPECT_NEAR(channel_rms(pcm, info.channels, ch), rms, rms / 5);
        }
    }
}
