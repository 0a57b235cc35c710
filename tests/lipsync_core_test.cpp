// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of lipsync that need no sound file: the VLP format and file, its text forms,
// the cue rules, the phone tables, and the analysers on hostile samples.
#include "lipsync/analyzer.hpp"
#include "lipsync/exporters.hpp"
#include "lipsync/phones.hpp"
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace tarvik::lipsync {
namespace {

// 2 s at 44100 Hz: rest, "aa" from 0.37 s, rest from 1.50 s.
const LipSyncTrack kExample{
    44100, 88200, 100, 200, {{0, Shape::X, 0}, {37, Shape::D, 200}, {150, Shape::X, 0}}};

// The example of docs/vlp-format.md, byte for byte.
const std::string kExampleBytes = std::string("TVLP\x01\x00\x20\x00\x44\xAC\x00\x00", 12) +
                                  std::string("\x88\x58\x01\x00\x00\x00\x00\x00\x64\x00", 10) +
                                  std::string("\x08\x00\xC8\x00\x00\x00\x03\x00\x00\x00", 10) +
                                  std::string("\x00\x00\x00\x00X\x00\x00\x00", 8) +
                                  std::string("\x25\x00\x00\x00\x44\xC8\x00\x00", 8) +
                                  std::string("\x96\x00\x00\x00X\x00\x00\x00", 8);

TEST(VlpFormat, DocumentedBytesRoundTripsAndLaterVersions) {
    EXPECT_EQ(encode_vlp(kExample), kExampleBytes);
    EXPECT_EQ(decode_vlp(kExampleBytes).track, kExample);
    // Version 2: 8 more header bytes, 4 more per cue, a section after the cues.
    std::string later = kExampleBytes.substr(0, 32) + "12345678";
    later[4] = 2, later[6] = 40, later[22] = 12;
    for (size_t i = 0; i < 3; ++i)
        later += kExampleBytes.substr(32 + 8 * i, 8) + "\xEE\xEE\xEE\xEE";
    EXPECT_EQ(decode_vlp(later + "a later section").track, kExample);
    EXPECT_EQ(encode_vlp(LipSyncTrack{44100, 10, 100, 1, {}}), "") << "an invalid track";
}

TEST(VlpFormat, RejectsDamagedFiles) {
    const auto with = [](size_t pos, std::string values) {
        return kExampleBytes.substr(0, pos) + values + kExampleBytes.substr(pos + values.size());
    };
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"a WAV header", "RIFF\x24\x00\x00\x00WAVEfmt "},
        {"header cut short", kExampleBytes.substr(0, 31)},
        {"version 0", with(4, std::string(2, '\0'))},
        {"header size below 32", with(6, std::string("\x1f\x00", 2))},
        {"header size past the end", with(6, "\xFF\xFF")},
        {"cue size below 8", with(22, std::string("\x07\x00", 2))},
        {"cue list cut short", kExampleBytes.substr(0, kExampleBytes.size() - 1)},
        {"cue count past the bytes", with(28, "\xFF\xFF\xFF\xFF")},
        {"no cues", with(28, std::string(4, '\0'))},
        {"sample rate 0", with(8, std::string(4, '\0'))},
        {"frame rate 0", with(20, std::string(2, '\0'))},
        {"unknown shape", with(44, "Q")},
        {"first cue after 0", with(32, "\x01")},
        {"two cues at one time", with(48, "\x25")},
        {"a cue after the end", with(24, std::string("\x96\x00\x00\x00", 4))},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_FALSE(decode_vlp(bytes).track) << name; // the fuzz target checks that it says why
}

TEST(VlpText, TsvJsonAndEscaping) {
    EXPECT_EQ(format_tsv(kExample), "0.00\tX\n0.37\tD\n1.50\tX\n");
    LipSyncTrack speaking = kExample;
    speaking.cues.pop_back();
    EXPECT_EQ(format_tsv(speaking), "0.00\tX\n0.37\tD\n2.00\tX\n") << "ends with a rest line";
    EXPECT_EQ(format_json(kExample, "take 1.wav"),
              "{\n  \"metadata\": {\n    \"soundFile\": \"take 1.wav\",\n    \"duration\": 2.00\n"
              "  },\n  \"mouthCues\": [\n"
              "    { \"start\": 0.00, \"end\": 0.37, \"value\": \"X\" },\n"
              "    { \"start\": 0.37, \"end\": 1.50, \"value\": \"D\" },\n"
              "    { \"start\": 1.50, \"end\": 2.00, \"value\": \"X\" }\n  ]\n}\n");
    const std::pair<std::string, std::string> strings[] = {
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {std::string("t\tn\nb\x07", 6), "\"t\\tn\\nb\\u0007\""},
        {"caf\xC3\xA9 \xF0\x9F\x8E\xA4", "\"caf\xC3\xA9 \xF0\x9F\x8E\xA4\""},
        {"latin1 \xE9 cut \xE2\x82", "\"latin1 \\ufffd cut \\ufffd\\ufffd\""},
        {"overlong \xC0\xAF surrogate \xED\xA0\x80",
         "\"overlong \\ufffd\\ufffd surrogate \\ufffd\\ufffd\\ufffd\""},
    };
    for (const auto& [in, out] : strings)
        EXPECT_EQ(json_string(in), out) << in;
    EXPECT_EQ(centiseconds_text(4294967295u), "42949672.95");
}

// Cues from one shape letter per frame, as "start+letter " text.
std::string build(const std::string& frames) {
    CueBuilder builder;
    for (char c : frames)
        builder.add(*shape_from_letter(c), 0);
    std::string out;
    for (const Cue& cue : builder.finish())
        out += std::to_string(cue.start) + shape_letter(cue.shape) + " ";
    return out;
}

TEST(LipsyncCues, ShortRunsMergeIntoTheirNeighbours) {
    const std::pair<const char*, const char*> cases[] = {
        {"XXXXXBBCCCCCCCXXXX", "0X 5C 14X "}, // a short run after a rest joins the next
        {"XXXCCCCCCCBBXXXX", "0X 3C 12X "},   // ... before a rest, the last
        {"CCCCCCCCDDEEEEEE", "0C 10E "},      // between two, the longer takes it
        {"CCCCCCAACCCCCC", "0C 6A 8C "},      // a two-frame closure stays
        {"CCCCCCACCCCCC", "0C "},             // a one-frame closure is a flicker
        {"XXXXXBBXXXX", "0X 5B 7X "},         // a short word between rests keeps its shape
        {"XXHHHHXX", "0X 2B 6X "},            // a short L shows no tongue
        {"XXHHHHHHHXX", "0X 2H 9X "},         // a long one does
        {"CCCCCCDEDEDECCCCCC", "0C "},        // alternating flicker
    };
    for (const auto& [frames, cues] : cases)
        EXPECT_EQ(build(frames), cues) << frames;
}

// Shapes and nearest English phones follow from how a sound is made, in any language; the
// English model's phones keep the shapes documented for them.
TEST(LipsyncPhones, ArticulationGivesShapesAndNearestModelPhones) {
    const std::pair<const char*, const char*> shapes[] = {
        {"M", "A"}, {"V", "G"},  {"UW", "F"}, {"ER", "E"},  {"AW", "DF"}, {"AH", "C"},
        {"L", "H"}, {"IY", "B"}, {"HH", "B"}, {"AY", "DB"}, {"SIL", ""},
    };
    const auto letters = [](const std::vector<Shape>& v) {
        std::string out;
        for (const Shape s : v)
            out += shape_letter(s);
        return out;
    };
    for (const auto& [phone, expected] : shapes)
        EXPECT_EQ(letters(shapes_for_phone(phone)), expected) << phone;
    // eSpeak NG's IPA names: stress, length, tones and marks carry no sound; "aa" is one
    // sound, "th" an aspirated t, the "ɜ" after a vowel a tone; a name cut inside a UTF-8
    // sequence keeps what decodes.
    const std::pair<std::string_view, const char*> ipa[] = {
        {"ˈaɪ", "DB"}, {"yː", "F"},  {"ø", "F"},   {"ɔ", "E"},   {"ɐ", "C"},  {"β", "A"},
        {"ɱ", "G"},    {"ɥ", "F"},   {"ɭʲ", "H"},  {"aa2", "D"}, {"th", "B"}, {"iɜ", "B"},
        {"ä", "D"},    {"tʃ", "BB"}, {"\xC9", ""}, {"_", ""},
    };
    for (const auto& [name, expected] : ipa)
        EXPECT_EQ(letters(shapes_for_ipa(name)), expected) << name;
    const std::pair<std::string_view, const char*> nearest[] = {
        {"aɪ", "AY"}, {"t͡ʃ", "CH"},  {"y", "IY"}, {"o", "OW"}, {"x", "K"},
        {"ɾ", "D"},   {"ts", "T S"}, {"ʔ", ""},   {"ə", "AH"},
    };
    for (const auto& [name, expected] : nearest) {
        std::string got;
        for (const PhoneFor& p : model_phones_for_ipa(name))
            got += (got.empty() ? "" : " ") + p.phone;
        EXPECT_EQ(got, expected) << name;
    }
}

// Speech followed by digital silence, as trimmed voice lines are padded, is analysed as fast
// as speech followed by quiet noise: the filters' decay into silence must not go subnormal.
TEST(LipsyncAnalysis, DigitalSilenceIsAsFastAsQuietNoise) {
    const auto cpu_seconds = [](float quiet) {
        std::vector<float> s(44100 * 20, 0.0f);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = i < 8820 ? 0.5f * static_cast<float>(std::sin(i * 0.05))
                            : quiet * static_cast<float>((i * 7919) % 13) / 13;
        const std::clock_t start = std::clock(); // the process's CPU time: one thread here
        Analyzer analyzer(44100);
        analyzer.feed(s.data(), s.size());
        analyzer.finish();
        return double(std::clock() - start) / CLOCKS_PER_SEC;
    };
    const double noise = cpu_seconds(1e-4f), silence = cpu_seconds(0.0f);
    EXPECT_LT(silence, 2 * noise) << silence << " s against " << noise << " s";
}

} // namespace
} // namespace tarvik::lipsync
