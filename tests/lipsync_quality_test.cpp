// How well lipsync tells speech from pauses: speech synthesised with espeak-ng, pauses of
// known length put between the phrases with sox, optionally noise over everything and
// another rate and channel count. At least 95% of the frames inside a pause (50 ms away
// from its edges) must be at rest (X), and at least 90% of the frames inside the phrases
// must not be. And spoken words show the shapes of their sounds.
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarvik::lipsync {
namespace {

using namespace tarvik::test;

std::string program(const std::string& name) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
        if (access((dir + name).c_str(), X_OK) == 0) return dir + name;
    return name;
}

bool sox(const std::vector<std::string>& args) {
    return run(program("sox"), args).exit_status == 0;
}

const char* const kPhrases[] = {
    "The quick brown fox jumps over the lazy dog",  "She sells sea shells by the sea shore",
    "Peter Piper picked a peck of pickled peppers", "Hold the line until the reinforcements arrive",
    "We found five very valuable violins",          "Move along now there is nothing to see here",
};
const int kPausesMs[] = {300, 500, 800, 400, 650};

struct Span {
    double from, to; // seconds
};

struct Condition {
    const char* id;
    const char* name;
    const char* voice;
    int rate;
    int channels;
    int bits;
    std::optional<int> noise_db; // pink noise over the whole recording
};

struct Figures {
    int pause_frames = 0, pause_rest = 0;
    int word_frames = 0, word_sound = 0;
    std::set<char> word_shapes;
};

// First and last sample above 1% of full scale: where espeak's phrase really starts and ends.
std::optional<Span> sounding_span(const std::string& wav, double& seconds) {
    AudioInfo info;
    const std::vector<float> s = decode(wav, &info);
    if (s.empty() || info.channels != 1) return std::nullopt;
    seconds = double(info.frames) / info.sample_rate;
    size_t first = 0, last = s.size();
    while (first < s.size() && std::fabs(s[first]) < 0.01f)
        ++first;
    while (last > first && std::fabs(s[last - 1]) < 0.01f)
        --last;
    if (first >= last) return std::nullopt;
    return Span{double(first) / info.sample_rate, double(last) / info.sample_rate};
}

class LipsyncQuality : public ::testing::TestWithParam<Condition> {};

TEST_P(LipsyncQuality, PausesRestAndWordsMove) {
    const Condition& c = GetParam();
    TempDir dir;
    std::vector<std::string> parts;
    std::vector<Span> words, pauses;
    double t = 0;
    for (size_t i = 0; i < std::size(kPhrases); ++i) {
        const std::string phrase = dir / ("phrase" + std::to_string(i) + ".wav");
        ASSERT_EQ(run(program("espeak-ng"), {"-v", c.voice, "-w", phrase, kPhrases[i]}).exit_status,
                  0);
        double seconds = 0;
        const auto span = sounding_span(phrase, seconds);
        ASSERT_TRUE(span) << phrase;
        words.push_back({t + span->from, t + span->to});
        parts.push_back(phrase);
        t += seconds;
        if (i < std::size(kPausesMs)) {
            // The pause has the phrases' format, so that sox joins them as they are.
            const double pause = kPausesMs[i] / 1000.0;
            const std::string silence = dir / ("pause" + std::to_string(i) + ".wav");
            ASSERT_TRUE(sox({"-n", "-r", "22050", "-c", "1", "-b", "16", silence, "trim", "0",
                             std::to_string(pause)}));
            parts.push_back(silence);
            pauses.push_back({t, t + pause});
            t += pause;
        }
    }
    std::string joined = dir / "joined.wav";
    std::vector<std::string> join_args = parts;
    join_args.push_back(joined);
    ASSERT_TRUE(sox(join_args));
    if (c.noise_db) {
        const std::string noise = dir / "noise.wav";
        ASSERT_TRUE(
            sox({"-n", "-r", "22050", "-c", "1", "-b", "16", noise, "synth", std::to_string(t),
                 "pinknoise", "vol", std::to_string(*c.noise_db), "dB"}));
        const std::string mixed = dir / "mixed.wav";
        ASSERT_TRUE(sox({"-m", joined, noise, mixed}));
        joined = mixed;
    }
    const std::string take = dir / "take.wav";
    ASSERT_TRUE(sox({joined, "-r", std::to_string(c.rate), "-c", std::to_string(c.channels), "-b",
                     std::to_string(c.bits), take}));

    const RunResult r = run(bin("lipsync"), {"-q", take});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const VlpReadResult read = read_vlp_file(dir / "take.vlp");
    ASSERT_TRUE(read.track) << read.error;
    const LipSyncTrack& track = *read.track;
    std::vector<char> frames(track.frame_count, '?');
    for (size_t i = 0; i < track.cues.size(); ++i)
        for (uint32_t k = track.cues[i].start; k < track.cue_end(i); ++k)
            frames[k] = shape_letter(track.cues[i].shape);

    // Frame k covers [k, k+1) x 10 ms; count those wholly inside a span.
    auto each_frame = [&frames](Span span, auto&& visit) {
        for (size_t k = static_cast<size_t>(std::ceil(span.from * 100 - 1e-9));
             k < frames.size() && (k + 1) / 100.0 <= span.to + 1e-9; ++k)
            visit(frames[k]);
    };
    Figures f;
    for (const Span& p : pauses)
        each_frame({p.from + 0.05, p.to - 0.05}, [&f](char shape) {
            ++f.pause_frames;
            f.pause_rest += shape == 'X';
        });
    for (const Span& w : words)
        each_frame(w, [&f](char shape) {
            ++f.word_frames;
            f.word_sound += shape != 'X';
            f.word_shapes.insert(shape);
        });

    ASSERT_GT(f.pause_frames, 200);
    ASSERT_GT(f.word_frames, 600);
    const double rest = 100.0 * f.pause_rest / f.pause_frames;
    const double sound = 100.0 * f.word_sound / f.word_frames;
    std::printf(
        "[ figures  ] %s: pause frames at rest %.1f%% (%d), word frames moving %.1f%% (%d)\n",
        c.name, rest, f.pause_frames, sound, f.word_frames);
    RecordProperty("pause_rest_percent", std::to_string(rest));
    RecordProperty("word_moving_percent", std::to_string(sound));
    EXPECT_GE(rest, 95.0);
    EXPECT_GE(sound, 90.0);
    // Speech shows many mouth shapes, closures among them.
    EXPECT_GE(f.word_shapes.size(), 5u);
    EXPECT_TRUE(f.word_shapes.count('A'));
}

TEST(LipsyncWords, SpokenWordsShowTheShapesOfTheirSounds) {
    // One voice, words whose sounds each shape stands for.
    const std::pair<const char*, const char*> cases[] = {
        {"see", "B"},   {"bed", "C"},   {"father", "GD"}, {"law", "E"},          {"two", "F"},
        {"mama", "AD"}, {"five", "GD"}, {"moon", "AF"},   {"Peter Piper", "AB"},
    };
    TempDir dir;
    const std::string wav = dir / "word.wav";
    for (const auto& [word, shapes] : cases) {
        ASSERT_EQ(run(program("espeak-ng"), {"-v", "en", "-w", wav, word}).exit_status, 0);
        const RunResult r = run(bin("lipsync"), {"--format", "tsv", wav});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        std::string seen; // the shapes of the cues, in order
        for (size_t tab = r.out.find('\t'); tab != std::string::npos;
             tab = r.out.find('\t', tab + 1))
            seen += r.out[tab + 1];
        for (const char* s = shapes; *s; ++s)
            EXPECT_NE(seen.find(*s), std::string::npos) << word << ": " << *s << " not in " << seen;
        EXPECT_EQ(seen.back(), 'X') << word << " ends at rest";
    }
}

const Condition kConditions[] = {
    {"MaleClean", "male voice, 22050 Hz mono", "en", 22050, 1, 16, std::nullopt},
    {"FemaleStereoNoisy", "female voice, 44100 Hz stereo 24-bit, noise at -45 dB", "en+f3", 44100,
     2, 24, -45},
    {"UsNarrowbandNoisy", "US voice, 8000 Hz, noise at -35 dB", "en-us", 8000, 1, 16, -35},
    {"MaleLoudNoise", "male voice, 48000 Hz, noise at -25 dB", "en", 48000, 1, 16, -25},
};

void PrintTo(const Condition& c, std::ostream* os) {
    *os << c.name;
}

std::string condition_name(const ::testing::TestParamInfo<Condition>& info) {
    return info.param.id;
}

INSTANTIATE_TEST_SUITE_P(Speech, LipsyncQuality, ::testing::ValuesIn(kConditions), condition_name);

} // namespace
} // namespace tarvik::lipsync
