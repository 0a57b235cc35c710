// lipsync on speech made here with espeak-ng: two phrases with a pause between them. Each
// analysis rests in the pause, moves in the phrases and shows the shapes of their sounds;
// the line's text aligns (a word outside the dictionary included) or, where it does not fit,
// gives way to recognition; and the picture holds what an animator needs.
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace tarvik::lipsync {
namespace {

using namespace tarvik::test;

// "Zorblax" is in no dictionary.
constexpr const char* kFirst = "Bob might buy my Zorblax map.";
constexpr const char* kSecond = "Five fine violins, of value.";
constexpr double kPause = 0.6;

// The two phrases with a pause of low noise between them, written once for all tests.
class LipsyncQuality : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const std::string d = dir_->path();
        const auto sox = [](const std::vector<std::string>& args) {
            ASSERT_EQ(run("/usr/bin/sox", args).exit_status, 0);
        };
        // Each phrase without espeak-ng's silence around it, so that the pause is known.
        for (const auto& [text, name] : {std::pair{kFirst, "/a.wav"}, {kSecond, "/b.wav"}}) {
            ASSERT_EQ(run("/usr/bin/espeak-ng", {"-w", d + "/raw.wav", text}).exit_status, 0);
            sox({d + "/raw.wav", d + name, "silence", "1", "0.02", "1%", "reverse", "silence", "1",
                 "0.02", "1%", "reverse"});
        }
        sox({"-n", "-r", "22050", "-c", "1", "-b", "16", d + "/gap.wav", "synth",
             std::to_string(kPause), "whitenoise", "vol", "0.003"});
        sox({d + "/a.wav", d + "/gap.wav", d + "/b.wav", line()});
        first_end_ = audio_info(d + "/a.wav")->frames * 100 / 22050;
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string line() { return dir_->path() + "/line.wav"; }

    // The shape letter of every frame from lipsync's cues for the line.
    static std::string shapes(const std::vector<std::string>& options, std::string* err = nullptr,
                              const std::string& sound = line()) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-o", dir_->path() + "/line.vlp", sound});
        const RunResult r = run(bin("lipsync"), args);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        if (err) *err = r.err;
        const auto track = read_vlp_file(dir_->path() + "/line.vlp").track;
        std::string frames;
        for (size_t i = 0; track && i < track->cues.size(); ++i)
            frames.append(track->cue_end(i) - track->cues[i].start,
                          shape_letter(track->cues[i].shape));
        return frames;
    }

    // Rest in the pause (50 ms from its edges), speech in the phrases, and the closed lips
    // of "Bob ... my map" and (where asked) the teeth on the lip of "five fine violins".
    static void expect_speech_shapes(const std::string& frames, bool teeth_on_lip) {
        ASSERT_GT(frames.size(), first_end_ + 100);
        const std::string first = frames.substr(5, first_end_ - 10);
        const std::string pause = frames.substr(first_end_ + 5, size_t(kPause * 100) - 10);
        const std::string second = frames.substr(first_end_ + size_t(kPause * 100) + 5);
        EXPECT_GE(std::count(pause.begin(), pause.end(), 'X'), long(pause.size() * 9 / 10))
            << pause;
        EXPECT_LE(std::count(first.begin(), first.end(), 'X'), long(first.size() / 10)) << first;
        EXPECT_GE(std::count(first.begin(), first.end(), 'A'), 8) << first;
        EXPECT_GE(std::count(second.begin(), second.end(), 'G'), teeth_on_lip ? 4 : 0) << second;
        EXPECT_GE(std::count_if(frames.begin(), frames.end(),
                                [](char c) { return c >= 'C' && c <= 'F'; }),
                  40)
            << frames;
    }

    static TempDir* dir_;
    static size_t first_end_; // frames of the first phrase
};
TempDir* LipsyncQuality::dir_ = nullptr;
size_t LipsyncQuality::first_end_ = 0;

TEST_F(LipsyncQuality, RecognitionAndTheSignalAnalysisFollowTheSpeech) {
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--fast"}}) {
        SCOPED_TRACE(::testing::PrintToString(options));
        expect_speech_shapes(shapes(options), !options.empty());
    }
}

TEST_F(LipsyncQuality, ALongSoundIsRecognisedInStretchesThatLineUp) {
    // After 41 s of quiet the line lies in the sound's last stretch, decoded on its own.
    const std::string late = dir_->path() + "/late.wav";
    ASSERT_EQ(run("/usr/bin/sox", {line(), late, "pad", "41", "0"}).exit_status, 0);
    const std::string alone = shapes({}), after = shapes({}, nullptr, late).substr(4100);
    ASSERT_EQ(after.size(), alone.size());
    long same = 0;
    for (size_t i = 0; i < alone.size(); ++i)
        same += alone[i] == after[i];
    EXPECT_GE(same, long(alone.size() * 8 / 10)) << alone << "\n" << after;
}

TEST_F(LipsyncQuality, TheTextAlignsIncludingWordsOutsideTheDictionary) {
    // eSpeak NG says how "Zorblax" sounds; without it the words would not fit.
    ASSERT_TRUE(write_file(dir_->path() + "/line.txt", std::string(kFirst) + "\n" + kSecond));
    std::string err;
    const std::string by_file = shapes({"--text", dir_->path() + "/line.txt"}, &err);
    EXPECT_EQ(err, "");
    expect_speech_shapes(by_file, true);
    EXPECT_EQ(shapes({"--text-string", std::string(kFirst) + " " + kSecond}), by_file);
}

TEST_F(LipsyncQuality, WhereTheTextDoesNotFitRecognitionTakesOver) {
    std::string err;
    const std::string recognised = shapes({});
    // The text lacks the first phrase: that stretch falls back, the second is aligned.
    const std::string part = shapes({"--text-string", kSecond}, &err);
    EXPECT_NE(err.find("the text does not fit the speech from 0.00 s"), std::string::npos) << err;
    EXPECT_EQ(part.substr(0, first_end_), recognised.substr(0, first_end_));
    EXPECT_NE(part, recognised);
    // Words of another line: all of it.
    const std::string none =
        shapes({"--text-string", "Nothing of the sort, said the walrus."}, &err);
    EXPECT_NE(err.find("does not fit the speech"), std::string::npos) << err;
    EXPECT_EQ(none.substr(0, first_end_), recognised.substr(0, first_end_));
    EXPECT_NE(shapes({"--text-string", "..."}, &err), "");
    EXPECT_NE(err.find("the text holds no words"), std::string::npos) << err;
    // A text far longer than the speech (a whole script, 1 MiB) is not aligned: building
    // its grammar took gigabytes.
    std::string script;
    while (script.size() < 1000000)
        script += "Nothing of the sort, said the walrus. ";
    ASSERT_TRUE(write_file(dir_->path() + "/script.txt", script));
    EXPECT_EQ(shapes({"--text", dir_->path() + "/script.txt"}, &err), recognised);
    EXPECT_NE(err.find("does not fit the speech"), std::string::npos) << err;
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 1 << 20) << "KiB at most, for the largest lipsync run";
}

TEST_F(LipsyncQuality, ThePictureShowsWaveformLanesAndEveryCue) {
    shapes({});
    const auto track = read_vlp_file(dir_->path() + "/line.vlp").track;
    ASSERT_TRUE(track);
    for (const std::string& input : {line(), dir_->path() + "/line.vlp"}) {
        const RunResult r = run(bin("lipsync"), {"--format", "svg", input});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        // One second per 200 px after the lane letters.
        EXPECT_NE(r.out.find("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                             std::to_string(28 + 2 * track->frame_count + 8) + "\""),
                  std::string::npos);
        EXPECT_EQ(count_occurrences(r.out, "<rect class=\"cue\""), int(track->cues.size()));
        EXPECT_EQ(count_occurrences(r.out, "<text class=\"lane\""), 9);
        EXPECT_EQ(count_occurrences(r.out, "<rect"), count_occurrences(r.out, "</rect>") + 1);
        EXPECT_EQ(r.out.find("M", r.out.find("class=\"wave\"")) <
                      r.out.find("/>", r.out.find("class=\"wave\"")),
                  input == line())
            << "the waveform only from a sound";
        EXPECT_EQ(r.out.substr(r.out.size() - 7), "</svg>\n");
    }
}

} // namespace
} // namespace tarvik::lipsync
