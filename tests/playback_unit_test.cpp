// The parts of playback that need no device: the status line and the search for the file.
#include "encoder/playback.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(PlaybackStatus, Line) { // level: left | right << 16
    const struct {
        double seconds;
        int volume;
        bool paused;
        uint32_t level;
        const char* text;
    } cases[] = {
        {0.0, 100, false, 0, "n/a - Volume: 100% - L [........... ...........]"},
        {0.4, 0, false, 10 | 10 << 16, "00:00:00 - Volume: 000% - L [......||||| |||||......]"},
        {3725.9, 7, false, 92 | 2 << 16, "01:02:05 - Volume: 007% - L [.|||||||||| ||.........]"},
        {61, 55, true, 128 | 128 << 16, "00:01:01 - Volume: 055% - L [......P.A.U.S.E.D......]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(status_line(c.seconds, c.volume, c.paused, c.level),
                  "Time elapsed: " + std::string(c.text) + " R\r");
}

TEST(PlaybackFile, ExtensionSearch) {
    test::TempDir dir;
    const std::string d = dir.path();
    std::filesystem::create_directories(d + "/dir.mp3");
    for (const char* name :
         {"both.mp3", "both.wav", "solo.wav", "dotted.d/voice.mp2", "mp3/line.wav", "ogg.txt"}) {
        std::filesystem::create_directories(std::filesystem::path(d + "/" + name).parent_path());
        ASSERT_TRUE(test::write_file(d + "/" + name, "x"));
    }
    const struct {
        std::string name;
        std::optional<std::string> found;
    } cases[] = {
        {d + "/both", d + "/both.mp3"},     // .mp3 comes before .wav
        {d + "/Both.Wav", d + "/both.wav"}, // has its extension: as it is, case aside
        {d + "/solo.txt", d + "/solo.wav"},
        {d + "/dotted.d/voice", d + "/dotted.d/voice.mp2"},
        {d + "/dir", std::nullopt},
        // Only the file name's extension counts, not a folder's name or the name's middle.
        {d + "/mp3/line", d + "/mp3/line.wav"},
        {d + "/ogg", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find_sound_file(c.name), c.found) << c.name;
}

} // namespace
} // namespace tarvik
