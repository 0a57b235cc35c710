// SPDX-License-Identifier: GPL-3.0-or-later
// Shared text, path and sample utilities.
#include "common/audio_source.hpp"
#include "common/paths.hpp"
#include "platform/dir_search.hpp"
#include "tests/support/test_support.hpp"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarvik;

TEST(PathSplitting, TableOfCases) {
    struct Case {
        std::string in;
        std::optional<std::string> strip, dir, file;
        std::string directory_of;
    };
    const std::vector<Case> cases = {
        {"/my.dir/voice", "/my", "/my.dir", "voice", "/my.dir"}, // last '.' of the whole text
        {"/voice.wav", "/voice", "", "voice.wav", "/"}, // not the empty text: that means "here"
        {"", std::nullopt, std::nullopt, std::nullopt, "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strip_extension(c.in), c.strip) << c.in;
        EXPECT_EQ(dir_part(c.in), c.dir) << c.in;
        EXPECT_EQ(file_part(c.in), c.file) << c.in;
        EXPECT_EQ(directory_of(c.in), c.directory_of) << c.in;
    }
    EXPECT_EQ(dir_part("/out/voice.wav", true), "/out/");
}

// A typed name that is missing is resolved to a stored one differing in case (the single-file
// and playback tests meet the simple cases); patterns have no sets.
TEST(FileNames, CaseResolutionExistenceAndPatterns) {
    test::TempDir t;
    for (const char* name : {"Voice.WAV", "VOICE.wav"})
        ASSERT_TRUE(test::write_file(t / name, "x"));
    EXPECT_EQ(resolve_name_case(t / "voice.wav"), t / "VOICE.wav"); // first in byte order
    EXPECT_FALSE(file_exists(t / "voice.wav"));                     // real names are exact
    EXPECT_FALSE(platform::wildcard_match("*.wav", "a.wave"));
    EXPECT_TRUE(platform::wildcard_match("[?].WAV", "[a].wav")); // no sets: '[' is itself
    EXPECT_FALSE(platform::wildcard_match("?.wav", ".wav"));
}

// The mix rule on one frame: 16-bit sums in 32 bits, averages truncated towards zero (7/2 -> 3,
// -7/2 -> -3, 61/3 -> 20, (10+31)/2 -> 20, -131071/4 -> -32767, 13/3 -> 4, 21/6 -> 3). Floats
// to 16 bits: half-way values (0.5, 1.5 steps) to the even one; full scale (32768) clips.
TEST(Samples, MixRuleAndFloatConversion) {
    // clang-format off
    const std::vector<std::tuple<std::vector<int16_t>, int, std::vector<int16_t>>> cases = {
        {{-7}, 1, {-7}}, {{-7}, 2, {-7, -7}}, {{3, 4}, 1, {3}}, {{-3, -4}, 1, {-3}},
        {{3, 4}, 2, {3, 4}}, {{10, 20, 31}, 1, {20}}, {{10, 20, 31}, 2, {20, 20}},
        {{32767, 32767, 32767}, 1, {32767}}, {{-32768, -32768, -32768, -32767}, 1, {-32767}},
        {{1, 2, 3, 4}, 2, {2, 3}}, {{1, 2, 3, 4, 5, 7}, 2, {3, 4}}, {{1, 2, 3, 4, 5, 6}, 1, {3}}};
    // clang-format on
    for (const auto& [in, out_ch, want] : cases) {
        std::vector<int16_t> got(want.size());
        mix_channels(in.data(), static_cast<int>(in.size()), got.data(), out_ch, 1);
        EXPECT_EQ(got, want) << in.size() << " to " << out_ch;
    }
    const std::vector<float> in = {0.5f, -1.0f, 1.0f / 65536, 3.0f / 65536, 1.0f, 2.5f, -3.0f, NAN};
    std::vector<int16_t> got(in.size());
    float_to_pcm16(in.data(), in.size(), got.data()); // not-a-number is silence
    EXPECT_EQ(got, (std::vector<int16_t>{16384, -32768, 0, 2, 32767, 32767, -32768, 0}));
}
