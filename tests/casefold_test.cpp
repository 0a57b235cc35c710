// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -batch -rem with its output folder on a case-insensitive file system (a case-folding
// FUSE mount made for the test): WAVs whose MP3 names are one entry there are never lost.
#include "tests/support/test_support.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

std::string stem(const std::string& wav) {
    return wav.substr(0, wav.size() - 4);
}

} // namespace

TEST(Casefold, UnicodeNameClashesKeepEveryRecording) {
    TempDir t;
    // One batch into a folder folded like a casefold file system; the first WAV of each pair (first
    // in byte order) is converted and deleted, the second skipped with the clash warning, kept
    // and reported.
    auto check = [&](const std::string& name, bool nfkc,
                     const std::vector<std::pair<std::string, std::string>>& pairs) {
        SCOPED_TRACE(name);
        const std::string dir = t / name;
        for (const char* sub : {"/in", "/disk", "/out"})
            fs::create_directories(dir + sub);
        std::string why_not;
        const auto mount = mount_casefold(dir + "/disk", dir + "/out", nfkc, why_not);
        if (!mount) GTEST_SKIP() << why_not;
        std::map<std::string, int64_t> frames; // a different length for every WAV
        std::map<std::string, std::string> bytes;
        for (const auto& [first, second] : pairs) {
            // The mount itself: the second name reaches what the first made.
            ASSERT_TRUE(write_file(dir + "/out/" + stem(first), "probe"));
            ASSERT_EQ(read_file(dir + "/out/" + stem(second)), "probe");
            fs::remove(dir + "/out/" + stem(second));
            for (const auto& wav : {first, second}) {
                const int64_t length = 11025 + 1000 * static_cast<int64_t>(frames.size());
                frames[wav] = length;
                const double seconds = static_cast<double>(length) / 22050;
                ASSERT_TRUE(write_wav(dir + "/in/" + wav, WavSpec{22050, 1, seconds, 0, 300}));
                bytes[wav] = read_file(dir + "/in/" + wav);
            }
        }
        ASSERT_EQ(list_dir(dir + "/out"), std::vector<std::string>{});

        const RunResult r = tarvik_in(dir, {"-batch", "-rem", "in", "out"});
        EXPECT_EQ(r.exit_status, 1) << r.out << r.err;
        const std::string report = read_file(dir + "/out/failed conversions.txt");
        std::vector<std::string> mp3s{"failed conversions.txt"};
        for (const auto& [first, second] : pairs) {
            SCOPED_TRACE(second);
            EXPECT_TRUE(contains(r.out, "WARNING! \"in/" + first + "\" and \"in/" + second +
                                            "\" would both become \"out/" + stem(second) +
                                            ".mp3\"\nSkipping it...\n"));
            EXPECT_FALSE(exists(dir + "/in/" + first));
            EXPECT_TRUE(read_file(dir + "/in/" + second) == bytes[second]) << "lost or changed";
            EXPECT_TRUE(contains(report, "\nin/" + second + "\n"));
            AudioInfo info;
            decode(dir + "/out/" + stem(first) + ".mp3", &info);
            EXPECT_EQ(info.frames, frames[first]); // the first one's MP3, not replaced
            mp3s.push_back(stem(first) + ".mp3");
        }
        std::sort(mp3s.begin(), mp3s.end());
        EXPECT_EQ(list_dir(dir + "/out"), mp3s); // no hidden temporary file either
    };

    // The folding rule: NFC and full case folding, as ext4 casefold compares names.
    check("rule", false,
          {{"\xc3\x84rger.wav", "\xc3\xa4rger.wav"},             // Ärger, ärger
           {"cafe\xcc\x81.wav", "caf\xc3\xa9.wav"},              // café in NFD, in NFC
           {"\xc3\x89T\xc3\x89.wav", "\xc3\xa9t\xc3\xa9.wav"}}); // ÉTÉ, été
    // A folding no rule predicts (fullwidth letters): caught because the second MP3 would
    // replace the file this run itself produced.
    check("inode", true, {{"ab.wav", "\xef\xbc\xa1\xef\xbc\xa2.wav"}}); // ab, ＡＢ
}
