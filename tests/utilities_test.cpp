// Shared text and path utilities.
#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/dir_search.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvik;
using tarvik::test::TempDir;

namespace {
bool is_dir(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

TEST(PathSplitting, TableOfCases) {
    struct Case {
        std::string in;
        std::optional<std::string> strip, dir, file;
    };
    const std::vector<Case> cases = {
        {"/my.dir/voice", "/my", "/my.dir", "voice"}, // last '.' of the whole text
        {"voice", "voice", std::nullopt, "voice"},
        {"voice.wav", "voice", std::nullopt, "voice.wav"},
        {"/out/", "/out/", "/out", ""},
        {"a/take.01.wav", "a/take.01", "a", "take.01.wav"},
        {"", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strip_extension(c.in), c.strip) << c.in;
        EXPECT_EQ(dir_part(c.in), c.dir) << c.in;
        EXPECT_EQ(file_part(c.in), c.file) << c.in;
    }
    EXPECT_EQ(dir_part("/out/voice.wav", true), "/out/");
}

TEST(PathSplitting, DirectoryOf) {
    EXPECT_EQ(directory_of("/voice.wav"), "/"); // not the empty text: that would mean "here"
    EXPECT_EQ(directory_of("voice.wav"), ".");
    EXPECT_EQ(directory_of("a/b/voice.wav"), "a/b");
    EXPECT_EQ(directory_of(""), ".");
}

TEST(ResolveNameCase, FindsTheStoredNameOnlyWhenTheTypedOneIsMissing) {
    TempDir t;
    ASSERT_TRUE(test::write_file(t / "Voice.WAV", "x"));
    ASSERT_TRUE(test::write_file(t / "VOICE.wav", "x"));
    ASSERT_TRUE(test::write_file(t / "exact.wav", "x"));
    EXPECT_EQ(resolve_name_case(t / "exact.wav"), t / "exact.wav");
    EXPECT_EQ(resolve_name_case(t / "voice.wav"), t / "VOICE.wav"); // first in byte order
    EXPECT_EQ(resolve_name_case(t / "Voice.WAV"), t / "Voice.WAV");
    EXPECT_EQ(resolve_name_case(t / "other.wav"), t / "other.wav");
}

TEST(PathSplitting, LongPathsAreNeverCut) {
    const std::string dir(5000, 'd');
    const std::string path = "/" + dir + "/" + std::string(3000, 'f') + ".wav";
    const auto stripped = strip_extension(path);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->size(), path.size() - 4);
    EXPECT_EQ(dir_part(path)->size(), dir.size() + 1);
    EXPECT_EQ(*stripped, path.substr(0, path.size() - 4)); // unaffected by the other calls
}

TEST(FormatText, LongTextsAndPercentSignsSurvive) {
    const std::string user = std::string(3000, 'x') + "%s%n%d";
    const std::string out = format_text("Cannot delete \"%s\"", user.c_str());
    EXPECT_EQ(out, "Cannot delete \"" + user + "\"");
}

TEST(FormatDuration, Table) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "n/a"},           {0.4, "00:00:00"},   {60, "00:01:00"}, {61, "00:01:01"},
        {83.5, "00:01:23"},   {3600, "01:00:00"},  {360000, "100:00:00"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(format_duration(seconds), text) << seconds;
}

TEST(ParseLeadingInt, CRuntimeRules) {
    const std::vector<std::pair<std::string, long long>> cases = {
        {"22050", 22050}, {"  128", 128}, {"+9", 9}, {"-1", -1}, {"12abc", 12},
        {"abc", 0},       {"", 0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(parse_leading_int(text), value) << text;
    EXPECT_GT(parse_leading_int("99999999999999999999999"), 0); // saturates, no overflow
}

TEST(FileExists, FilesDirectoriesAndPatterns) {
    TempDir t;
    ASSERT_TRUE(test::write_file(t / "Voice.WAV", "x"));
    ASSERT_EQ(mkdir((t / "sub").c_str(), 0755), 0);
    EXPECT_TRUE(file_exists(t / "Voice.WAV"));
    EXPECT_TRUE(file_exists(t / "sub"));             // a directory counts
    EXPECT_TRUE(file_exists(t / "*.wav"));           // pattern without regard to case
    EXPECT_FALSE(file_exists(t / "*.mp3"));
    EXPECT_FALSE(file_exists(t / "voice.wav"));      // real names are case-sensitive
    EXPECT_FALSE(file_exists(t / "missing/*.wav"));
    EXPECT_FALSE(file_exists(""));
}

TEST(WildcardMatch, Table) {
    EXPECT_TRUE(platform::wildcard_match("*.wav", "a.b.WAV"));
    EXPECT_TRUE(platform::wildcard_match("*.*", "x.y"));
    EXPECT_FALSE(platform::wildcard_match("*.wav", "a.wave"));
    EXPECT_TRUE(platform::wildcard_match("?.wav", "a.wav"));
    EXPECT_FALSE(platform::wildcard_match("?.wav", ".wav"));
}

TEST(MakeDirPath, CreatesEveryMissingLevelAndCountsThem) {
    TempDir t;
    std::string abs = t / "a/b/c";
    EXPECT_EQ(make_dir_path(abs, true), 3);
    EXPECT_TRUE(is_dir(t / "a/b/c"));
    EXPECT_EQ(make_dir_path(abs, true), 0); // again: nothing new

    std::string file = t / "x/y/file.mp3";
    EXPECT_EQ(make_dir_path(file, false), 2);
    EXPECT_TRUE(is_dir(t / "x/y"));
    EXPECT_FALSE(test::exists(t / "x/y/file.mp3"));

    std::string trailing = t / "out/";
    EXPECT_EQ(make_dir_path(trailing, true), 1);
    EXPECT_EQ(trailing, t / "out"); // one trailing separator removed from the caller's text

    std::string root = "/";
    EXPECT_EQ(make_dir_path(root, true), 0);
    EXPECT_EQ(root, "/");
    std::string bare = "file.mp3";
    EXPECT_EQ(make_dir_path(bare, false), 0);
}

TEST(MakeDirPath, RelativePathsGetTheirFirstLevelToo) {
    TempDir t;
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    std::string nested = "out/sub";
    EXPECT_EQ(make_dir_path(nested, true), 2);
    EXPECT_TRUE(is_dir(t / "out/sub"));
    std::string dotted = "./dot/deeper/";
    EXPECT_EQ(make_dir_path(dotted, true), 2);
    EXPECT_TRUE(is_dir(t / "dot/deeper"));
    std::string one = "single";
    EXPECT_EQ(make_dir_path(one, true), 1);
    EXPECT_TRUE(is_dir(t / "single"));
}

TEST(MakeParentDir, CreatesOneLevelAndSaysSo) {
    TempDir t;
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    testing::internal::CaptureStdout();
    make_parent_dir("out/5_sec.mp3");
    make_parent_dir("out/6_sec.mp3");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Directory created: \"out\"\n");
    EXPECT_TRUE(is_dir(t / "out"));
}
