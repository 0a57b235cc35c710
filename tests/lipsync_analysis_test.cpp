// The lip-sync analysis on sounds made here: vowels of known formants, rests in noise,
// awkward sample values and block sizes; and the cue builder's merging rules.
#include "lipsync/analyzer.hpp"
#include "lipsync/cues.hpp"
#include "lipsync/vlp.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace tarvik::lipsync {
namespace {

// A vowel by the source-filter model: a pulse train at 110 Hz, tilted like a glottal
// source, through resonators at the formants. Formants above 40% of the rate are left
// out, as a band-limited recording has none there.
std::vector<float> vowel(int rate, double seconds, double f1, double f2, double amplitude) {
    const size_t n = static_cast<size_t>(seconds * rate);
    std::vector<double> x(n, 0.0);
    const double period = rate / 110.0;
    for (double t = 0; t < n; t += period)
        x[static_cast<size_t>(t)] = 1.0;
    double tilt = 0;
    for (double& v : x)
        v = tilt = v + 0.9 * tilt;
    const double formants[][2] = {{f1, 60}, {f2, 90}, {2600, 150}, {3400, 200}};
    for (const auto& [frequency, bandwidth] : formants) {
        if (frequency > 0.4 * rate) continue;
        const double r = std::exp(-M_PI * bandwidth / rate);
        const double c = 2 * r * std::cos(2 * M_PI * frequency / rate);
        const double gain = 1 - c + r * r;
        double y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = gain * v + c * y1 - r * r * y2;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    double peak = 1e-9;
    for (double v : x)
        peak = std::max(peak, std::fabs(v));
    std::vector<float> out(n);
    const size_t fade = static_cast<size_t>(0.02 * rate);
    for (size_t i = 0; i < n; ++i) {
        const double edge = std::min({1.0, double(i) / fade, double(n - 1 - i) / fade});
        out[i] = static_cast<float>(amplitude * edge * x[i] / peak);
    }
    return out;
}

void append_silence(std::vector<float>& s, int rate, double seconds) {
    s.insert(s.end(), static_cast<size_t>(seconds * rate), 0.0f);
}

void add_noise(std::vector<float>& s, double rms, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(rms));
    for (float& v : s)
        v += noise(gen);
}

struct Analysis {
    std::vector<FrameResult> frames;
    std::vector<Cue> cues;
    uint32_t frame_count = 0;
};

Analysis analyse(const std::vector<float>& samples, int rate, size_t block = 4096) {
    Analysis a;
    Analyzer analyzer(rate);
    analyzer.set_observer([&a](const FrameResult& f) { a.frames.push_back(f); });
    for (size_t i = 0; i < samples.size(); i += block)
        analyzer.feed(samples.data() + i, std::min(block, samples.size() - i));
    a.cues = analyzer.finish();
    a.frame_count = analyzer.frame_count();
    return a;
}

Shape most_common(const std::vector<FrameResult>& frames, uint32_t from, uint32_t to) {
    std::map<Shape, int> count;
    for (const FrameResult& f : frames)
        if (f.index >= from && f.index < to) ++count[f.shape];
    Shape best = Shape::X;
    int most = -1;
    for (const auto& [shape, n] : count)
        if (n > most) best = shape, most = n;
    return best;
}

struct VowelCase {
    const char* name;
    double f1, f2;
    Shape shape;
};

// Averages of adult speakers for the vowels each shape stands for.
const VowelCase kVowels[] = {
    {"aa (father, male)", 730, 1090, Shape::D}, {"aa (female)", 850, 1220, Shape::D},
    {"ee (see, male)", 270, 2290, Shape::B},    {"ih (sit, female)", 430, 2480, Shape::B},
    {"eh (bed, male)", 530, 1840, Shape::C},    {"ae (cat, female)", 860, 2050, Shape::C},
    {"ao (law, male)", 570, 840, Shape::E},     {"er (bird, female)", 500, 1640, Shape::E},
    {"uw (two, male)", 300, 870, Shape::F},     {"uw (female)", 370, 950, Shape::F},
};

TEST(LipsyncAnalysis, VowelFormantsAreMeasuredAndMappedToTheirShapeAtEveryRate) {
    for (const int rate : {8000, 11025, 22050, 44100, 48000}) {
        for (const VowelCase& v : kVowels) {
            SCOPED_TRACE(std::string(v.name) + " at " + std::to_string(rate) + " Hz");
            std::vector<float> s;
            append_silence(s, rate, 0.3);
            const std::vector<float> sound = vowel(rate, 0.6, v.f1, v.f2, 0.5);
            s.insert(s.end(), sound.begin(), sound.end());
            append_silence(s, rate, 0.3);
            const Analysis a = analyse(s, rate);

            // The steady middle of the vowel: 0.4 s to 0.8 s.
            double f1 = 0, f2 = 0;
            int n = 0;
            for (const FrameResult& f : a.frames)
                if (f.index >= 40 && f.index < 80 && f.f1 > 0) f1 += f.f1, f2 += f.f2, ++n;
            ASSERT_GT(n, 30) << "formants found in too few frames";
            EXPECT_NEAR(f1 / n, v.f1, 0.12 * v.f1);
            EXPECT_NEAR(f2 / n, v.f2, 0.10 * v.f2);
            EXPECT_EQ(shape_letter(most_common(a.frames, 40, 80)), shape_letter(v.shape));
        }
    }
}

TEST(LipsyncAnalysis, PetersonBarneyVowelsOfMenAndWomenMapToTheirShapes) {
    // Formant averages (F1, F2 in Hz) of men and of women; the shape boundaries must sit
    // between the vowels for both.
    const VowelCase table[] = {
        {"iy m", 270, 2290, Shape::B}, {"iy w", 310, 2790, Shape::B}, {"ih m", 390, 1990, Shape::B},
        {"ih w", 430, 2480, Shape::B}, {"eh m", 530, 1840, Shape::C}, {"eh w", 610, 2330, Shape::C},
        {"ae m", 660, 1720, Shape::C}, {"ae w", 860, 2050, Shape::C}, {"ah m", 640, 1190, Shape::C},
        {"ah w", 760, 1400, Shape::C}, {"aa m", 730, 1090, Shape::D}, {"aa w", 850, 1220, Shape::D},
        {"ao m", 570, 840, Shape::E},  {"ao w", 590, 920, Shape::E},  {"uh m", 440, 1020, Shape::E},
        {"uh w", 470, 1160, Shape::E}, {"er m", 490, 1350, Shape::E}, {"er w", 500, 1640, Shape::E},
        {"uw m", 300, 870, Shape::F},  {"uw w", 370, 950, Shape::F},
    };
    for (const VowelCase& v : table)
        EXPECT_EQ(shape_letter(vowel_shape(v.f1, v.f2)), shape_letter(v.shape)) << v.name;
}

TEST(LipsyncAnalysis, RestsBetweenSoundsAreXWhateverTheBackgroundNoise) {
    const int rate = 16000;
    struct Case {
        const char* name;
        double noise_rms; // 0: digital silence
    } cases[] = {{"digital silence", 0},
                 {"noise at -70 dB", 3e-4},
                 {"noise at -45 dB", 5.6e-3},
                 {"noise at -35 dB", 1.8e-2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // rest 0.5 s, vowel 0.4 s, rest 0.6 s, vowel 0.4 s, rest 0.5 s
        std::vector<float> s;
        append_silence(s, rate, 0.5);
        for (int k = 0; k < 2; ++k) {
            const auto v = vowel(rate, 0.4, k ? 300 : 730, k ? 2290 : 1090, 0.3);
            s.insert(s.end(), v.begin(), v.end());
            append_silence(s, rate, k ? 0.5 : 0.6);
        }
        if (c.noise_rms > 0) add_noise(s, c.noise_rms, 7);
        const Analysis a = analyse(s, rate);
        ASSERT_EQ(a.frame_count, 240u);
        // Rests 5 frames (50 ms) away from their edges; vowels inside.
        const std::pair<int, int> rests[] = {{0, 45}, {95, 145}, {195, 240}};
        const std::pair<int, int> sounds[] = {{52, 88}, {152, 188}};
        for (const FrameResult& f : a.frames) {
            const int k = int(f.index);
            for (const auto& [from, to] : rests) {
                if (k >= from && k < to) {
                    EXPECT_EQ(shape_letter(f.shape), 'X') << "frame " << k;
                }
            }
            for (const auto& [from, to] : sounds) {
                if (k >= from && k < to) {
                    EXPECT_NE(shape_letter(f.shape), 'X') << "frame " << k;
                }
            }
        }
    }
}

TEST(LipsyncAnalysis, ASoundWithoutAnyPauseStillMovesTheLips) {
    // A held vowel cut tight, as a shout often is: no quiet frame tells where the noise
    // floor lies, yet a voiced sound near the top level is speech.
    for (const int rate : {16000, 44100}) {
        const Analysis a = analyse(vowel(rate, 1.5, 730, 1090, 0.5), rate);
        int moving = 0;
        for (const FrameResult& f : a.frames)
            moving += f.shape != Shape::X;
        EXPECT_GE(moving, 140) << rate << " Hz: of " << a.frames.size();
    }
}

TEST(LipsyncAnalysis, ShortSilenceInsideSpeechClosesTheMouthAndLongSilenceRests) {
    const int rate = 22050;
    struct Case {
        double gap;
        char shape;
    } cases[] = {{0.06, 'A'}, {0.12, 'A'}, {0.40, 'X'}};
    for (const Case& c : cases) {
        SCOPED_TRACE("gap of " + std::to_string(c.gap) + " s");
        std::vector<float> s;
        append_silence(s, rate, 0.5);
        auto v = vowel(rate, 0.3, 730, 1090, 0.4);
        s.insert(s.end(), v.begin(), v.end());
        append_silence(s, rate, c.gap);
        s.insert(s.end(), v.begin(), v.end());
        append_silence(s, rate, 0.5);
        const Analysis a = analyse(s, rate);
        const uint32_t middle = static_cast<uint32_t>((0.8 + c.gap / 2) * 100);
        EXPECT_EQ(shape_letter(a.frames.at(middle).shape), c.shape);
        EXPECT_LT(a.frames.at(middle).opening, 0.25f);
    }
}

TEST(LipsyncAnalysis, ResultDoesNotDependOnTheBlockSizeOfTheFeed) {
    const int rate = 44100;
    std::vector<float> s;
    append_silence(s, rate, 0.4);
    for (const auto& [f1, f2] : {std::pair{730.0, 1090.0}, {300.0, 870.0}, {530.0, 1840.0}}) {
        const auto v = vowel(rate, 0.25, f1, f2, 0.4);
        s.insert(s.end(), v.begin(), v.end());
        append_silence(s, rate, 0.08);
    }
    add_noise(s, 1e-3, 3);
    const Analysis whole = analyse(s, rate, s.size());
    ASSERT_GT(whole.cues.size(), 3u);
    for (const size_t block : {1, 7, 441, 4096}) {
        const Analysis parts = analyse(s, rate, block);
        EXPECT_EQ(parts.cues, whole.cues) << "block of " << block;
        EXPECT_EQ(parts.frame_count, whole.frame_count);
    }
}

TEST(LipsyncAnalysis, LengthIsRoundedToWholeFramesAndEveryFrameIsDecidedOnce) {
    struct Case {
        int rate;
        size_t samples;
        uint32_t frames;
    } cases[] = {
        {22050, 1, 1},                            // under half a frame still makes one
        {22050, 22050, 100},                      // one second
        {22050, 22160, 100},                      // 100.499 frames
        {22050, 22161, 101},                      // 100.503 frames
        {8000, 79, 1},         {8000, 121, 2},    // 1.51 frames
        {48000, 480 * 37, 37}, {1000, 1000, 100}, // the lowest rate taken
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.samples) + " samples at " + std::to_string(c.rate));
        std::vector<float> s(c.samples, 0.0f);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = 0.3f * std::sin(0.05f * i);
        const Analysis a = analyse(s, c.rate);
        EXPECT_EQ(a.frame_count, c.frames);
        ASSERT_EQ(a.frames.size(), c.frames);
        for (uint32_t i = 0; i < c.frames; ++i)
            EXPECT_EQ(a.frames[i].index, i);
        LipSyncTrack track{static_cast<uint32_t>(c.rate), c.samples, 100, a.frame_count, a.cues};
        EXPECT_TRUE(check_track(track)) << check_track(track).error;
    }
}

TEST(LipsyncAnalysis, NonFiniteAndHugeSamplesGiveAValidTrack) {
    const int rate = 16000;
    std::vector<float> s = vowel(rate, 1.0, 730, 1090, 0.5);
    const float inf = std::numeric_limits<float>::infinity();
    for (size_t i = 1000; i + 3 < s.size(); i += 997) {
        s[i] = std::numeric_limits<float>::quiet_NaN();
        s[i + 1] = inf;
        s[i + 2] = -inf;
        s[i + 3] = 1e30f;
    }
    const Analysis a = analyse(s, rate);
    EXPECT_EQ(a.frame_count, 100u);
    LipSyncTrack track{16000, s.size(), 100, a.frame_count, a.cues};
    EXPECT_TRUE(check_track(track)) << check_track(track).error;
    for (const FrameResult& f : a.frames) {
        EXPECT_TRUE(std::isfinite(f.level_db) && std::isfinite(f.opening));
        EXPECT_GE(f.opening, 0.0f);
        EXPECT_LE(f.opening, 1.0f);
    }
}

TEST(LipsyncAnalysis, SilenceIsOneRestCue) {
    const Analysis a = analyse(std::vector<float>(3 * 11025, 0.0f), 11025);
    ASSERT_EQ(a.cues.size(), 1u);
    EXPECT_EQ(a.cues[0], (Cue{0, Shape::X, 0}));
    EXPECT_EQ(a.frame_count, 300u);
}

// Cues from a string of shape letters, one per frame, all with opening 0.
std::string build(const std::string& frames, const CueSettings& settings = {}) {
    CueBuilder builder(settings);
    for (char c : frames)
        builder.add(*shape_from_letter(c), 0);
    std::string out;
    for (const Cue& cue : builder.finish())
        out += std::to_string(cue.start) + shape_letter(cue.shape) + " ";
    return out;
}

TEST(LipsyncCues, ShortRunsMergeIntoTheirNeighbours) {
    struct Case {
        const char* frames;
        const char* cues;
        const char* why;
    } cases[] = {
        {"XXXXXCCCCCCCXXXX", "0X 5C 12X ", "plain runs"},
        {"XXXXXBBCCCCCCCXXXX", "0X 5C 14X ", "a short run after a rest joins the next"},
        {"XXXCCCCCCCBBXXXX", "0X 3C 12X ", "a short run before a rest joins the last"},
        {"CCCCCCCCDDEEEEEE", "0C 10E ", "between two, the longer neighbour takes it"},
        {"CCCCCCAACCCCCC", "0C 6A 8C ", "a two-frame closure stays"},
        {"CCCCCCACCCCCC", "0C ", "a one-frame closure is a flicker"},
        {"XXXXXBBXXXX", "0X 5B 7X ", "a short word between rests keeps its shape"},
        {"XXXXAXXXX", "0X 4A 5X ", "and so does a lone closure"},
        {"CCCCCCDDCCCCCC", "0C ", "both neighbours alike become one cue"},
        {"BBCCCCCC", "0C ", "a short first run"},
        {"CCCCCCBB", "0C ", "a short last run"},
        {"XXHHHHXX", "0X 2B 6X ", "a short L shows no tongue"},
        {"XXHHHHHHHXX", "0X 2H 9X ", "a long one does"},
        {"CCCCCCDEDEDECCCCCC", "0C ", "alternating flicker"},
        {"X", "0X ", "one frame"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(build(c.frames), c.cues) << c.why << ": " << c.frames;
}

TEST(LipsyncCues, OpeningIsTheMeanOverTheCue) {
    CueBuilder builder;
    for (float o : {0.0f, 0.0f})
        builder.add(Shape::X, o);
    for (float o : {0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 1.0f})
        builder.add(Shape::D, o);
    const std::vector<Cue> cues = builder.finish();
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[1].opening, 170); // mean 0.6667 of 255
}

} // namespace
} // namespace tarvik::lipsync
