// SPDX-License-Identifier: GPL-3.0-or-later
// Scores lipsync's mouth shapes against the truth, per 10 ms frame, for the quality
// benchmark (bench/lipsync_quality.sh builds the corpus and runs this).
// Input lines: CORPUS<TAB>SOUND<TAB>PHONEMES<TAB>TRANSCRIPT<TAB>LANGUAGE. PHONEMES is
// lipsync_corpus's timing file (synthetic speech: eSpeak NG's IPA phoneme names, "_" for
// pauses); when it is empty the truth is the forced alignment of the (English) transcript
// (recorded speech). LANGUAGE (an eSpeak NG voice name; "en-us" when absent) is the speech's,
// given to the analysis with the transcript as its text.
// Prints, per corpus, the share of frames with the right shape for --text, the default
// analysis, --fast and "B whenever loud", the share where rest and speech agree, and each
// analysis's speed in times real time (CPU time of this one thread); then whether each corpus
// meets the bars, what the --text analysis said (in how many lines its text was refused, or
// placed by eSpeak NG's timing, ...) and the phoneme names of the truth that have no shape
// (their time is not scored).
//
// Usage: lipsync_score LIST [--confusion [N]]
#include "lipsync/phones.hpp"
#include "lipsync/sound_file.hpp"
#include "lipsync/speech.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace tarvik::lipsync;

namespace {

// The bars each corpus is held to: the exact shape with the text, rest and speech where they
// are, and the speed with the text.
constexpr double kMinTextExact = 0.75;
constexpr double kMinRestAgreement = 0.95;
constexpr double kMinTextSpeed = 20; // times real time

using Frames = std::vector<std::optional<Shape>>; // nullopt: not scored

// Time (ms) and count of the truth's phoneme names that give no shape, per name.
struct Unscored {
    double ms = 0;
    int count = 0;
};
using UnscoredNames = std::map<std::string, Unscored>;

Frames truth_from_phonemes(const std::string& path, uint32_t frames, UnscoredNames& unscored) {
    Frames out(frames);
    std::ifstream in(path);
    std::vector<std::pair<double, std::string>> events;
    double ms;
    std::string name;
    while (in >> ms >> name)
        events.emplace_back(ms, name);
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        const double start = events[i].first, end = events[i + 1].first;
        const std::string& n = events[i].second;
        // "(en)": eSpeak NG switching to another language's voice for a word, not a sound.
        const std::vector<Shape> parts = n == "_"           ? std::vector{Shape::X}
                                         : n.front() == '(' ? std::vector<Shape>{}
                                                            : shapes_for_ipa(n);
        if (parts.empty()) {
            unscored[n].ms += end - start;
            ++unscored[n].count;
            continue;
        }
        for (uint32_t f = 0; f < frames; ++f) {
            const double centre = f * 10 + 5;
            if (centre < start || centre >= end) continue;
            out[f] = parts[std::min(
                parts.size() - 1,
                static_cast<size_t>((centre - start) / (end - start) * parts.size()))];
        }
    }
    // H is the tongue raised for a long L (70 ms or more, as lipsync shows it); a short one
    // is B.
    for (uint32_t f = 0; f < frames;) {
        uint32_t end = f;
        while (end < frames && out[end] == Shape::H)
            ++end;
        if (end - f > 0 && end - f < 7) std::fill(out.begin() + f, out.begin() + end, Shape::B);
        f = std::max(end, f + 1);
    }
    // A rest inside speech shorter than the shortest cue (50 ms: the gaps eSpeak NG leaves
    // between syllables, the closure before a stop) is a moment no mouth shows: not scored.
    for (uint32_t f = 0; f < frames;) {
        uint32_t end = f;
        while (end < frames && out[end] == Shape::X)
            ++end;
        if (end > f && f > 0 && end < frames && end - f < 5 && out[f - 1] && out[end])
            std::fill(out.begin() + f, out.begin() + end, std::nullopt);
        f = std::max(end, f + 1);
    }
    return out;
}

Frames truth_from_alignment(const std::string& sound, const std::string& transcript,
                            uint32_t frames) {
    Frames out(frames, Shape::X);
    std::unique_ptr<PhoneDecoder> aligner;
    std::optional<TextPlan> plan;
    std::string error;
    SoundInfo info;
    std::vector<double> energy(frames); // per 10 ms frame
    uint64_t at = 0;
    int rate = 1;
    std::optional<ModelAudio> model_audio;
    std::vector<int16_t> heard;
    const auto failed = read_sound(
        sound,
        [&](const SoundInfo& i) {
            rate = i.sample_rate;
            model_audio.emplace(i.sample_rate);
            aligner = PhoneDecoder::open(PhoneDecoder::Search::Align, error);
            if (aligner) plan = plan_text(transcript, "en-us", true, error);
        },
        [&](const float* s, size_t n) {
            if (aligner) {
                heard.clear();
                model_audio->push(s, n, heard);
                aligner->feed(heard.data(), heard.size());
            }
            for (size_t k = 0; k < n; ++k, ++at) {
                const uint64_t f = at * 100 / static_cast<uint64_t>(rate);
                if (f < frames) energy[f] += double(s[k]) * s[k];
            }
        },
        info);
    if (!failed && aligner) {
        heard.clear();
        model_audio->finish(heard);
        aligner->feed(heard.data(), heard.size());
    }
    const auto shapes = !failed && plan ? align_plan(*aligner, *plan, frames) : std::nullopt;
    if (!shapes) {
        std::cerr << "lipsync_score: no truth for " << sound << " ("
                  << (failed           ? *failed
                      : !error.empty() ? error
                                       : "the alignment failed")
                  << "); it is not scored\n";
        return Frames(frames);
    }
    for (uint32_t f = 0; f < frames; ++f)
        if ((*shapes)[f]) out[f] = (*shapes)[f];
    // The aligner stretches the first and last phones over the quiet before and after the
    // speech (it has no better place for them): before the first and after the last frame
    // within 50 dB of the loudest, the truth is rest.
    const double loudest = *std::max_element(energy.begin(), energy.end());
    const auto audible = [&](double e) { return e > loudest * 1e-5; };
    const auto first = std::find_if(energy.begin(), energy.end(), audible) - energy.begin();
    const auto last = std::find_if(energy.rbegin(), energy.rend(), audible) - energy.rbegin();
    std::fill(out.begin(), out.begin() + first, Shape::X);
    std::fill(out.end() - last, out.end(), Shape::X);
    return out;
}

Frames shapes_of(const LipSyncTrack& t) {
    Frames out(t.frame_count);
    for (size_t i = 0; i < t.cues.size(); ++i)
        for (uint32_t f = t.cues[i].start; f < t.cue_end(i); ++f)
            out[f] = t.cues[i].shape;
    return out;
}

struct Score {
    double right = 0, scored = 0, rest_agree = 0, cpu = 0;
    double confusion[9][9] = {}; // [truth][got]
    void add(const Frames& truth, const Frames& got, double seconds) {
        cpu += seconds;
        for (size_t f = 0; f < truth.size() && f < got.size(); ++f) {
            if (!truth[f] || !got[f]) continue;
            ++scored;
            right += *truth[f] == *got[f];
            rest_agree += (*truth[f] == Shape::X) == (*got[f] == Shape::X);
            ++confusion[static_cast<int>(*truth[f])][static_cast<int>(*got[f])];
        }
    }
    double exact() const { return right / std::max(1.0, scored); }
    double rest() const { return rest_agree / std::max(1.0, scored); }
};

// The analyses, in the order of the scores and of --confusion's N.
enum Analysis { Default, Fast, Text, Loud, kAnalyses };

struct Corpus {
    std::string language;
    Score score[kAnalyses];
    double audio = 0;
    int clips = 0;
    UnscoredNames unscored;
    int noted = 0;                    // lines whose --text analysis said something
    std::map<std::string, int> notes; // what it said, in how many lines
    double speed(int m) const { return audio / std::max(1e-6, score[m].cpu); }
};

double cpu_now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

const char* verdict(bool pass) {
    return pass ? "PASS" : "FAIL";
}

} // namespace

int main(int argc, char** argv) {
    std::ifstream list(argc > 1 ? argv[1] : "/dev/stdin");
    std::map<std::string, Corpus> corpora;
    std::vector<std::string> order;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string corpus, sound, phonemes, transcript, language;
        std::getline(fields, corpus, '\t');
        std::getline(fields, sound, '\t');
        std::getline(fields, phonemes, '\t');
        std::getline(fields, transcript, '\t');
        std::getline(fields, language);
        if (sound.empty()) continue;
        if (language.empty()) language = "en-us";
        if (!corpora.count(corpus)) order.push_back(corpus);
        Corpus& c = corpora[corpus];
        if (c.language.empty()) c.language = language;
        if (c.language != language) c.language = "mixed";

        std::optional<LipSyncTrack> tracks[3];
        double cpu[3] = {};
        for (int m : {Default, Fast, Text}) {
            AnalysisRequest request;
            request.method = m == Fast ? Method::Signal : Method::Recognition;
            request.language = language;
            if (m == Text) request.text = transcript;
            const double start = cpu_now();
            SoundResult result = analyse_sound_file(sound, request);
            cpu[m] = cpu_now() - start;
            tracks[m] = std::move(result.track);
            if (m != Text) continue;
            c.noted += !result.notes.empty();
            std::set<std::string> kinds; // each note once, its times left out
            for (const std::string& note : result.notes)
                kinds.insert(std::regex_replace(note, std::regex("[0-9]+\\.[0-9]+ s"), "T s"));
            for (const std::string& kind : kinds)
                ++c.notes[kind];
        }
        if (!tracks[Default] || !tracks[Fast] || !tracks[Text]) {
            std::cerr << "lipsync_score: cannot analyse " << sound << "\n";
            return 1;
        }
        const uint32_t frames = tracks[Default]->frame_count;
        const Frames truth = phonemes.empty() ? truth_from_alignment(sound, transcript, frames)
                                              : truth_from_phonemes(phonemes, frames, c.unscored);
        Frames loud = shapes_of(*tracks[Fast]);
        for (auto& s : loud)
            if (s && *s != Shape::X) s = Shape::B;
        for (int m : {Default, Fast, Text})
            c.score[m].add(truth, shapes_of(*tracks[m]), cpu[m]);
        c.score[Loud].add(truth, loud, cpu[Fast]);
        c.audio += tracks[Default]->seconds();
        ++c.clips;
    }

    std::printf("| corpus | language | clips | seconds | default | --fast | --text | B when loud "
                "| rest/speech agreement (default) | rest/speech agreement (--text) | speed "
                "default | speed --fast | speed --text | --text notes |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const std::string& name : order) {
        const Corpus& c = corpora[name];
        std::printf("| %s | %s | %d | %.1f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.0fx | "
                    "%.0fx | %.0fx | %d |\n",
                    name.c_str(), c.language.c_str(), c.clips, c.audio, c.score[Default].exact(),
                    c.score[Fast].exact(), c.score[Text].exact(), c.score[Loud].exact(),
                    c.score[Default].rest(), c.score[Text].rest(), c.speed(Default), c.speed(Fast),
                    c.speed(Text), c.noted);
    }

    std::printf("\nBars: --text exact >= %.2f, rest/speech agreement >= %.2f (with and without "
                "the text), speed --text >= %.0fx real time\n\n",
                kMinTextExact, kMinRestAgreement, kMinTextSpeed);
    std::printf("| corpus | --text exact | rest/speech (--text) | rest/speech (default) | speed "
                "--text |\n|---|---|---|---|---|\n");
    int passed = 0, bars = 0;
    for (const std::string& name : order) {
        const Corpus& c = corpora[name];
        const bool pass[] = {
            c.score[Text].exact() >= kMinTextExact, c.score[Text].rest() >= kMinRestAgreement,
            c.score[Default].rest() >= kMinRestAgreement, c.speed(Text) >= kMinTextSpeed};
        for (const bool p : pass)
            passed += p, ++bars;
        std::printf("| %s | %s %.3f | %s %.3f | %s %.3f | %s %.0fx |\n", name.c_str(),
                    verdict(pass[0]), c.score[Text].exact(), verdict(pass[1]), c.score[Text].rest(),
                    verdict(pass[2]), c.score[Default].rest(), verdict(pass[3]), c.speed(Text));
    }
    std::printf("\n%d of %d bars met\n", passed, bars);

    bool header = false;
    for (const std::string& name : order) {
        const Corpus& c = corpora[name];
        if (c.notes.empty()) continue;
        if (!header) std::printf("\nWhat the --text analysis said, in how many lines\n");
        header = true;
        for (const auto& [note, lines] : c.notes)
            std::printf("%s: %d x %s\n", name.c_str(), lines, note.c_str());
    }
    header = false;
    for (const std::string& name : order) {
        const Corpus& c = corpora[name];
        if (c.unscored.empty()) continue;
        if (!header)
            std::printf("\nPhoneme names of the truth with no shape (not scored): name x count "
                        "(ms)\n");
        header = true;
        std::printf("%s:", name.c_str());
        for (const auto& [n, u] : c.unscored)
            std::printf(" %s x%d (%.0f)", n.c_str(), u.count, u.ms);
        std::printf("\n");
    }

    // With --confusion [N]: where each true shape went (rows: truth, columns: the shapes of
    // analysis N, 0 default, 1 --fast, 2 --text, 3 B when loud).
    if (argc > 2 && std::string(argv[2]) == "--confusion") {
        const int method = argc > 3 ? std::clamp(std::atoi(argv[3]), 0, kAnalyses - 1) : 0;
        for (const std::string& name : order) {
            std::printf("\n%s (method %d): truth -> shape, %% of the row\n     ", name.c_str(),
                        method);
            for (int g = 0; g < 9; ++g)
                std::printf("%5c", shape_letter(static_cast<Shape>(g)));
            std::printf("\n");
            for (int t = 0; t < 9; ++t) {
                double row = 0;
                for (int g = 0; g < 9; ++g)
                    row += corpora[name].score[method].confusion[t][g];
                std::printf("%c %5.0f", shape_letter(static_cast<Shape>(t)), row);
                for (int g = 0; g < 9; ++g)
                    std::printf("%5.0f", 100 * corpora[name].score[method].confusion[t][g] /
                                             std::max(1.0, row));
                std::printf("\n");
            }
        }
    }
    return 0;
}
