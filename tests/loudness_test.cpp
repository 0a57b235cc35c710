// SPDX-License-Identifier: GPL-3.0-or-later
// -loudness end to end, judged by an independent meter (ffmpeg's ebur128 filter): measured
// values and normalised lines, the true-peak ceiling, lines left as they are, the summary.
#include "tests/support/test_support.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;

namespace {

// ffmpeg's integrated loudness (LUFS, to 0.001 from the filter's metadata: its summary rounds
// to 0.1) and true peak (dBTP) of a file (no summary: throws).
std::pair<double, double> ffmpeg_meter(const std::string& path) {
    const std::string err =
        run("/usr/bin/ffmpeg",
            {"-i", path, "-af", "ebur128=peak=true:metadata=1,ametadata=print:key=lavfi.r128.I",
             "-f", "null", "-"})
            .err;
    const size_t i = err.rfind("lavfi.r128.I="), peak = err.find("Peak:", err.rfind("Summary:"));
    return {std::stod(err.substr(i + 13)), std::stod(err.substr(peak + 5))};
}

// Voiced syllables, four a second, at `level`; `click`: one sample of that value at 0.5 s.
void speech(const std::string& path, int rate, int channels, double seconds, double level,
            double click = 0) {
    const auto frames = static_cast<int64_t>(seconds * rate);
    ASSERT_TRUE(write_wav_with(path, rate, channels, frames, [=](int64_t f, int c) {
        const double t = static_cast<double>(f) / rate, syllable = std::sin(M_PI * 4 * t);
        if (click > 0 && f == rate / 2) return click;
        return level * syllable * syllable *
               (std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * (700 + 90 * c) * t));
    }));
}

// The number after `key` in the block of `wav`.
double block_value(const std::string& out, const std::string& wav, const std::string& key) {
    const size_t at = out.find(key, out.find("Input file = \"" + wav + "\""));
    return at == std::string::npos ? NAN : std::stod(out.substr(at + key.size()));
}

} // namespace

TEST(Loudness, MeasuredAndNormalisedAsAnIndependentMeterReadsThem) {
    TempDir t;
    const std::string in = t / "in";
    std::filesystem::create_directory(in);
    speech(in + "/quiet.wav", 22050, 1, 2.0, 0.03);
    speech(in + "/mid.wav", 44100, 2, 2.0, 0.5);
    speech(in + "/peaky.wav", 16000, 1, 2.0, 0.01, 0.9);
    speech(in + "/short.wav", 48000, 2, 0.2, 0.3);
    speech(in + "/silent.wav", 44100, 1, 1.0, 0.0);
    ASSERT_EQ(tarvik_in(t.path(), {"-batch", in, t / "plain"}).exit_status, 0);

    const RunResult measured = tarvik_in(t.path(), {"-batch", "-loudness", in, t / "m"});
    EXPECT_EQ(measured.exit_status, 0) << measured.out;
    for (const std::string name : {"/quiet", "/mid", "/peaky"}) {
        EXPECT_NEAR(block_value(measured.out, in + name + ".wav", "Loudness: "),
                    ffmpeg_meter(in + name + ".wav").first, 0.2);
        EXPECT_TRUE(read_file(t / "m" + name + ".mp3") == read_file(t / "plain" + name + ".mp3"));
    }
    EXPECT_TRUE(contains(measured.out, "| 2 lines more than 2 LU from the median:\n|   -10.2"));
    EXPECT_TRUE(contains(measured.out, "| 2 lines not measured (shorter than 0.4 s, or silent):"));

    // The encoder takes loudness away, most at the lowest bit rate: the MP3 is measured and
    // encoded again at a corrected gain.
    const RunResult low = tarvik_in(
        t.path(), {"-wav", "-bitrate", "8", "-loudness", "-23", in + "/mid.wav", t / "low"});
    EXPECT_NEAR(ffmpeg_meter(t / "low/mid.mp3").first, -23, 0.2) << low.out;
    const RunResult r =
        tarvik_in(t.path(), {"-batch", "-jobs", "2", "-rem", "-loudness", "-23", in, t / "out"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(list_dir(in).empty()) << "-rem: the hash of two reads is the file's";
    for (const char* name : {"/quiet", "/mid"})
        EXPECT_NEAR(ffmpeg_meter(t / "out" + name + ".mp3").first, -23, 0.2) << name;
    EXPECT_LE(ffmpeg_meter(t / "out/peaky.mp3").second, -1 + 0.3);
    EXPECT_EQ(count_occurrences(r.out, "(lowered to keep the true peak at -1 dBTP)\n"), 1);
    for (const char* name : {"/short.mp3", "/silent.mp3"})
        EXPECT_TRUE(read_file(t / "out" + name) == read_file(t / "plain" + name)) << name;
    for (const char* piece : {"---- Loudness (target -23 LUFS) ----\n| 3 lines measured\n",
                              "| Minimum: -41.2 LUFS \"", "| Median:  -37.6 LUFS\n| Maximum: -10.2",
                              "| 1 line more than 2 LU from the target after the gain:\n|   ",
                              "peaky.wav\" (true peak limited)\n| 2 lines left as they are",
                              "Gain: none (shorter than 0.4 s: left as it is)\n",
                              "Gain: none (silent: left as it is)\n"})
        EXPECT_TRUE(contains(r.out, piece));

    for (const char* target : {"-50", "-4.9", "-abc", "-nan"}) {
        const RunResult bad = tarvik_in(t.path(), {"-loudness", target, "3"});
        EXPECT_EQ(bad.exit_status, 255) << target;
        EXPECT_TRUE(contains(bad.err, "after '-loudness'. It must be a value comprised between"));
    }
}
