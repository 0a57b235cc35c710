// The VLP format (bytes as documented in docs/vlp-format.md, round trips, later versions,
// damaged files), writing it to disk, the VLP file name, and the text forms.
#include "lipsync/exporters.hpp"
#include "lipsync/tool.hpp"
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace tarvik::lipsync {
namespace {

using test::TempDir;

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

LipSyncTrack example() {
    // 2 s at 44100 Hz: rest, "aa" from 0.37 s, rest from 1.50 s.
    return LipSyncTrack{
        44100, 88200, 100, 200, {{0, Shape::X, 0}, {37, Shape::D, 200}, {150, Shape::X, 0}}};
}

// The example of docs/vlp-format.md, byte for byte.
const std::string kExampleBytes = bytes({
    'T',  'V',  'L',  'P',                   // magic
    0x01, 0x00,                              // version 1
    0x20, 0x00,                              // header size 32
    0x44, 0xAC, 0x00, 0x00,                  // sample rate 44100
    0x88, 0x58, 0x01, 0x00, 0,   0,    0, 0, // 88200 sample frames
    0x64, 0x00,                              // 100 frames per second
    0x08, 0x00,                              // cue size 8
    0xC8, 0x00, 0x00, 0x00,                  // length 200 x 10 ms
    0x03, 0x00, 0x00, 0x00,                  // 3 cues
    0x00, 0x00, 0x00, 0x00, 'X', 0x00, 0, 0, // 0.00 s X, opening 0
    0x25, 0x00, 0x00, 0x00, 'D', 0xC8, 0, 0, // 0.37 s D, opening 200/255
    0x96, 0x00, 0x00, 0x00, 'X', 0x00, 0, 0, // 1.50 s X
});

TEST(VlpFormat, EncodesTheDocumentedBytes) {
    EXPECT_EQ(encode_vlp(example()), kExampleBytes);
    const VlpReadResult read = decode_vlp(kExampleBytes);
    ASSERT_TRUE(read.track) << read.error;
    EXPECT_EQ(*read.track, example());
}

TEST(VlpFormat, RoundTripsTracks) {
    std::vector<LipSyncTrack> tracks = {
        {8000, 1, 100, 1, {{0, Shape::X, 0}}},
        {4294967295u,
         18446744073709551615ull,
         100,
         4294967295u,
         {{0, Shape::A, 255}, {4294967294u, Shape::H, 1}}},
    };
    LipSyncTrack all{48000, 480000, 100, 1000, {}};
    for (uint32_t i = 0; i < 900; ++i)
        all.cues.push_back(Cue{i, static_cast<Shape>(i % 9), static_cast<uint8_t>(i % 256)});
    tracks.push_back(all);
    for (const LipSyncTrack& t : tracks) {
        const std::string encoded = encode_vlp(t);
        EXPECT_EQ(encoded.size(), 32 + 8 * t.cues.size());
        const VlpReadResult read = decode_vlp(encoded);
        ASSERT_TRUE(read.track) << read.error;
        EXPECT_EQ(*read.track, t);
    }
}

TEST(VlpFormat, ReadsLaterVersionsBySkippingFieldsItDoesNotKnow) {
    // A version 2 file with 8 more header bytes and 4 more bytes per cue, and a section
    // after the cue list.
    std::string later = kExampleBytes.substr(0, 32);
    later[4] = 2;
    later[6] = 40;
    later[22] = 12;
    later += bytes({1, 2, 3, 4, 5, 6, 7, 8});
    for (size_t i = 0; i < 3; ++i)
        later += kExampleBytes.substr(32 + 8 * i, 8) + bytes({0xEE, 0xEE, 0xEE, 0xEE});
    later += "a later section";
    const VlpReadResult read = decode_vlp(later);
    ASSERT_TRUE(read.track) << read.error;
    EXPECT_EQ(*read.track, example());
}

TEST(VlpFormat, RejectsDamagedFiles) {
    auto with = [](size_t pos, std::initializer_list<int> values) {
        std::string s = kExampleBytes;
        for (int v : values)
            s[pos++] = static_cast<char>(v);
        return s;
    };
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "hello, this is not a lip-sync file at all"},
        {"a WAV header", "RIFF\x24\x00\x00\x00WAVEfmt "},
        {"magic only", "TVLP"},
        {"header cut short", kExampleBytes.substr(0, 31)},
        {"version 0", with(4, {0, 0})},
        {"header size below 32", with(6, {31, 0})},
        {"header size past the end", with(6, {0xFF, 0xFF})},
        {"cue size below 8", with(22, {7, 0})},
        {"cue list cut short", kExampleBytes.substr(0, kExampleBytes.size() - 1)},
        {"cue count far past the bytes", with(28, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"no cues", with(28, {0, 0, 0, 0})},
        {"sample rate 0", with(8, {0, 0, 0, 0})},
        {"frame rate 0", with(20, {0, 0})},
        {"unknown shape", with(44, {'Q'})},
        {"lower-case shape", with(44, {'d'})},
        {"first cue after 0", with(32, {1})},
        {"cues out of order", with(40, {0x97})},
        {"two cues at one time", with(48, {0x25})},
        {"a cue after the end", with(24, {0x96, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        const VlpReadResult read = decode_vlp(c.bytes);
        EXPECT_FALSE(read.track) << c.name;
        EXPECT_FALSE(read.error.empty()) << c.name;
    }
}

TEST(VlpFormat, EveryPrefixAndEveryByteChangeIsReadSafely) {
    // Prefixes are all invalid; changed bytes may or may not be, but a track that is read
    // always passes the checks and encodes to a file that reads back the same.
    const std::string good = encode_vlp(LipSyncTrack{
        22050, 50000, 100, 227, {{0, Shape::X, 0}, {20, Shape::B, 90}, {60, Shape::X, 0}}});
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(decode_vlp(good.substr(0, n)).track);
    for (size_t pos = 0; pos < good.size(); ++pos) {
        for (int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::string changed = good;
            changed[pos] = static_cast<char>(value);
            const VlpReadResult read = decode_vlp(changed);
            if (!read.track) continue;
            EXPECT_TRUE(check_track(*read.track));
            EXPECT_EQ(decode_vlp(encode_vlp(*read.track)).track, read.track);
        }
    }
}

TEST(VlpFormat, InvalidTracksAreNotEncoded) {
    LipSyncTrack t = example();
    t.cues[1].start = 0;
    EXPECT_EQ(encode_vlp(t), "");
    EXPECT_EQ(encode_vlp(LipSyncTrack{44100, 10, 100, 1, {}}), "");
}

TEST(VlpFile, WritesWholeFilesAndLeavesNothingElse) {
    TempDir dir;
    const std::string path = dir / "line.vlp";
    ASSERT_TRUE(test::write_file(path, "an older file"));
    const Status written = write_vlp_file(path, example());
    ASSERT_TRUE(written) << written.error;
    EXPECT_EQ(test::read_file(path), kExampleBytes);
    EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"line.vlp"});
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0044, 0044u) << "readable like any new file";

    const VlpReadResult read = read_vlp_file(path);
    ASSERT_TRUE(read.track) << read.error;
    EXPECT_EQ(*read.track, example());
}

TEST(VlpFile, FailuresLeaveNoFile) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "taken.vlp").c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing directory", dir / "missing/line.vlp"},
        {"a directory in the way", dir / "taken.vlp"},
    };
    for (const Case& c : cases) {
        const Status written = write_vlp_file(c.path, example());
        EXPECT_FALSE(written) << c.name;
        EXPECT_FALSE(written.error.empty()) << c.name;
        EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"taken.vlp"}) << c.name;
        EXPECT_TRUE(test::list_dir(dir / "taken.vlp").empty()) << c.name;
    }
    LipSyncTrack invalid = example();
    invalid.cues.clear();
    EXPECT_FALSE(write_vlp_file(dir / "invalid.vlp", invalid));
    EXPECT_FALSE(test::exists(dir / "invalid.vlp"));
}

TEST(VlpFile, ReadingReportsMissingFilesAndDirectories) {
    TempDir dir;
    EXPECT_FALSE(read_vlp_file(dir / "none.vlp").track);
    EXPECT_EQ(read_vlp_file(dir.path()).error, "is a directory");
}

TEST(VlpPath, CutsAtTheLastDotOfTheFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"take.wav", "take.vlp"},
        {"take.01.wav", "take.01.vlp"},
        {"/voice/lines/take.WAV", "/voice/lines/take.vlp"},
        {"/voice/v1.2/take", "/voice/v1.2/take.vlp"},
        {"voice.d/take", "voice.d/take.vlp"},
        {"noext", "noext.vlp"},
        {"take.", "take.vlp"},
        {"./take.wav", "./take.vlp"},
        {"a b/c d.wav", "a b/c d.vlp"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(vlp_path_for(in), out) << in;
}

TEST(VlpText, TsvAndJsonUseSecondsWithTwoDecimals) {
    EXPECT_EQ(format_tsv(example()), "0.00\tX\n0.37\tD\n1.50\tX\n");
    LipSyncTrack speaking = example();
    speaking.cues.pop_back();
    EXPECT_EQ(format_tsv(speaking), "0.00\tX\n0.37\tD\n2.00\tX\n")
        << "a track that ends in speech gets its end as a final rest";

    EXPECT_EQ(format_json(example(), "lines/take 1.wav"),
              "{\n"
              "  \"metadata\": {\n"
              "    \"soundFile\": \"lines/take 1.wav\",\n"
              "    \"duration\": 2.00\n"
              "  },\n"
              "  \"mouthCues\": [\n"
              "    { \"start\": 0.00, \"end\": 0.37, \"value\": \"X\" },\n"
              "    { \"start\": 0.37, \"end\": 1.50, \"value\": \"D\" },\n"
              "    { \"start\": 1.50, \"end\": 2.00, \"value\": \"X\" }\n"
              "  ]\n"
              "}\n");
}

TEST(VlpText, DumpShowsHeaderAndEveryCue) {
    const std::string dump = format_dump(example());
    for (const char* line : {"sample rate: 44100 Hz\n", "duration: 2.000 s (88200 sample frames)\n",
                             "frame rate: 100 per second\n", "cues: 3\n", "0.00\t0.37\tX\t0.00\n",
                             "0.37\t1.50\tD\t0.78\n", "1.50\t2.00\tX\t0.00\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << "in\n" << dump;
}

TEST(VlpText, JsonStringsAreEscapedAndValidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain.wav", "\"plain.wav\""},
        {"say \"hi\".wav", "\"say \\\"hi\\\".wav\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"tab\tnew\nline", "\"tab\\tnew\\nline\""},
        {std::string("bell\x07", 5), "\"bell\\u0007\""},
        {"caf\xC3\xA9.wav", "\"caf\xC3\xA9.wav\""},
        {"\xF0\x9F\x8E\xA4", "\"\xF0\x9F\x8E\xA4\""},
        {"latin1 \xE9t\xE9", "\"latin1 \\ufffdt\\ufffd\""},
        {"cut \xE2\x82", "\"cut \\ufffd\\ufffd\""},
        {"overlong \xC0\xAF", "\"overlong \\ufffd\\ufffd\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \\ufffd\\ufffd\\ufffd\""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(json_string(in), out) << in;
}

TEST(VlpText, CentisecondsAreExact) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0.00"}, {5, "0.05"}, {37, "0.37"}, {100, "1.00"}, {4294967295u, "42949672.95"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(centiseconds_text(in), out);
}

} // namespace
} // namespace tarvik::lipsync
