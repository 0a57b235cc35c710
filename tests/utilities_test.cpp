// Shared text and path utilities.
#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/dir_search.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik;
using tarvik::test::TempDir;

TEST(PathSplitting, TableOfCases) {
    struct Case {
        std::string in;
        std::optional<std::string> strip, dir, file;
        std::string directory_of;
    };
    const std::vector<Case> cases = {
        {"/my.dir/voice", "/my", "/my.dir", "voice", "/my.dir"}, // last '.' of the whole text
        {"voice.wav", "voice", std::nullopt, "voice.wav", "."},
        {"/voice.wav", "/voice", "", "voice.wav", "/"}, // not the empty text: that means "here"
        {"/out/", "/out/", "/out", "", "/out"},
        {"a/take.01.wav", "a/take.01", "a", "take.01.wav", "a"},
        {"", std::nullopt, std::nullopt, std::nullopt, "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strip_extension(c.in), c.strip) << c.in;
        EXPECT_EQ(dir_part(c.in), c.dir) << c.in;
        EXPECT_EQ(file_part(c.in), c.file) << c.in;
        EXPECT_EQ(directory_of(c.in), c.directory_of) << c.in;
    }
    EXPECT_EQ(dir_part("/out/voice.wav", true), "/out/");
    // Nothing is cut, whatever the length.
    const std::string dir(5000, 'd'), path = "/" + dir + "/" + std::string(3000, 'f') + ".wav";
    EXPECT_EQ(strip_extension(path), path.substr(0, path.size() - 4));
    EXPECT_EQ(dir_part(path)->size(), dir.size() + 1);
}

TEST(TextUtilities, FormatsDurationsAndNumbers) {
    const std::string user = std::string(3000, 'x') + "%s%n%d"; // long, and never a format
    EXPECT_EQ(format_text("Cannot delete \"%s\"", user.c_str()), "Cannot delete \"" + user + "\"");
    for (const auto& [seconds, text] :
         {std::pair{0.0, "n/a"}, {83.5, "00:01:23"}, {360000, "100:00:00"}})
        EXPECT_EQ(format_duration(seconds), text) << seconds;
    const std::vector<std::pair<std::string, long long>> numbers = {
        {"22050", 22050}, {"  128", 128}, {"+9", 9}, {"-1", -1},
        {"12abc", 12},    {"abc", 0},     {"", 0}};
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(parse_leading_int(text), value) << text;
    EXPECT_GT(parse_leading_int("99999999999999999999999"), 0); // saturates, no overflow
}

// A typed name that is missing is resolved to a stored one differing in case; file_exists
// matches real names exactly and patterns without regard to case.
TEST(FileNames, CaseResolutionExistenceAndPatterns) {
    TempDir t;
    for (const char* name : {"Voice.WAV", "VOICE.wav", "exact.wav"})
        ASSERT_TRUE(test::write_file(t / name, "x"));
    ASSERT_TRUE(std::filesystem::create_directory(t / "sub"));
    EXPECT_EQ(resolve_name_case(t / "exact.wav"), t / "exact.wav");
    EXPECT_EQ(resolve_name_case(t / "voice.wav"), t / "VOICE.wav"); // first in byte order
    EXPECT_EQ(resolve_name_case(t / "Voice.WAV"), t / "Voice.WAV");
    EXPECT_EQ(resolve_name_case(t / "other.wav"), t / "other.wav");
    EXPECT_TRUE(file_exists(t / "Voice.WAV"));
    EXPECT_TRUE(file_exists(t / "sub"));   // a directory counts
    EXPECT_TRUE(file_exists(t / "*.wav")); // pattern without regard to case
    EXPECT_FALSE(file_exists(t / "*.mp3"));
    EXPECT_FALSE(file_exists(t / "voice.wav")); // real names are case-sensitive
    EXPECT_FALSE(file_exists(t / "missing/*.wav"));
    EXPECT_FALSE(file_exists(""));
    EXPECT_FALSE(platform::wildcard_match("*.wav", "a.wave"));
    EXPECT_TRUE(platform::wildcard_match("[?].WAV", "[a].wav")); // no sets: '[' is itself
    EXPECT_FALSE(platform::wildcard_match("?.wav", ".wav"));
}

TEST(MakeDirPath, CreatesEveryMissingLevelAndCountsThem) {
    TempDir t;
    std::filesystem::current_path(t.path());
    // The path, whether it names a folder, the levels made, the caller's text afterwards.
    const std::vector<std::tuple<std::string, bool, int, std::string>> cases = {
        {t / "a/b/c", true, 3, t / "a/b/c"},
        {t / "a/b/c", true, 0, t / "a/b/c"},
        {t / "x/y/file.mp3", false, 2, t / "x/y/file.mp3"}, // the file is not created
        {t / "out/", true, 1, t / "out"},                   // one trailing separator removed
        {"rel/sub", true, 2, "rel/sub"},
        {"./dot/deeper/", true, 2, "./dot/deeper"},
        {"/", true, 0, "/"},
        {"file.mp3", false, 0, "file.mp3"},
    };
    for (auto [path, is_directory, made, after] : cases) {
        EXPECT_EQ(make_dir_path(path, is_directory), made) << after;
        EXPECT_EQ(path, after);
    }
    for (const std::string made : {"a/b/c", "x/y", "rel/sub", "dot/deeper"})
        EXPECT_TRUE(std::filesystem::is_directory(t / made)) << made;
    EXPECT_FALSE(test::exists(t / "x/y/file.mp3"));
    testing::internal::CaptureStdout();
    make_parent_dir("made/5_sec.mp3");
    make_parent_dir("made/6_sec.mp3");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Directory created: \"made\"\n");
}
