// SPDX-License-Identifier: GPL-3.0-or-later
// Scores lipsync's mouth shapes against the truth, per 10 ms frame, for the quality
// benchmark (bench/lipsync_quality.sh builds the corpus and runs this).
// Input lines: CORPUS<TAB>SOUND<TAB>PHONEMES<TAB>TRANSCRIPT. PHONEMES is lipsync_corpus's
// timing file (synthetic speech); when it is empty the truth is the forced alignment of
// the transcript (recorded speech). Prints, per corpus, the share of frames with the right
// shape for the default analysis, --fast, --text and "B whenever loud", the share where
// rest and speech agree, and each analysis's speed in times real time (CPU time of this
// one thread).
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
#include <sstream>

using namespace tarvik::lipsync;

namespace {

using Frames = std::vector<std::optional<Shape>>; // nullopt: not scored

Frames truth_from_phonemes(const std::string& path, uint32_t frames) {
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
        std::vector<std::optional<Shape>> parts;
        if (n[0] == '_') {
            parts.push_back(Shape::X);
        } else {
            for (const std::string& p : phones_for_espeak(n))
                parts.push_back(shape_for_phone(p));
        }
        if (parts.empty()) continue;
        for (uint32_t f = 0; f < frames; ++f) {
            const double centre = f * 10 + 5;
            if (centre < start || centre >= end) continue;
            out[f] = parts[std::min(
                parts.size() - 1,
                static_cast<size_t>((centre - start) / (end - start) * parts.size()))];
        }
    }
    return out;
}

Frames truth_from_alignment(const std::string& sound, const std::string& transcript,
                            uint32_t frames) {
    Frames out(frames, Shape::X);
    std::unique_ptr<PhoneDecoder> aligner;
    std::string error;
    SoundInfo info;
    std::vector<double> energy(frames); // per 10 ms frame
    uint64_t at = 0;
    int rate = 1;
    const auto failed = read_sound(
        sound,
        [&](const SoundInfo& i) {
            rate = i.sample_rate;
            aligner = PhoneDecoder::open(PhoneDecoder::Search::Align, i.sample_rate, error);
            if (aligner) aligner->set_phones(phones_for_text(transcript, *aligner));
        },
        [&](const float* s, size_t n) {
            if (aligner) aligner->feed(s, n);
            for (size_t k = 0; k < n; ++k, ++at) {
                const uint64_t f = at * 100 / static_cast<uint64_t>(rate);
                if (f < frames) energy[f] += double(s[k]) * s[k];
            }
        },
        info);
    if (failed || !aligner) return Frames(frames);
    const auto spans = aligner->finish();
    if (!spans) return Frames(frames);
    const Frames shapes = phone_shapes(*spans, frames);
    for (uint32_t f = 0; f < frames; ++f)
        if (shapes[f]) out[f] = shapes[f];
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
};

struct Corpus {
    Score score[4];
    double audio = 0;
    int clips = 0;
};

double cpu_now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    std::ifstream list(argc > 1 ? argv[1] : "/dev/stdin");
    std::map<std::string, Corpus> corpora;
    std::vector<std::string> order;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string corpus, sound, phonemes, transcript;
        std::getline(fields, corpus, '\t');
        std::getline(fields, sound, '\t');
        std::getline(fields, phonemes, '\t');
        std::getline(fields, transcript);
        if (sound.empty()) continue;
        if (!corpora.count(corpus)) order.push_back(corpus);
        Corpus& c = corpora[corpus];

        std::optional<LipSyncTrack> tracks[3];
        double cpu[3] = {};
        for (int m = 0; m < 3; ++m) {
            AnalysisRequest request;
            request.method = m == 1 ? Method::Signal : Method::Recognition;
            if (m == 2) request.text = transcript;
            const double start = cpu_now();
            tracks[m] = analyse_sound_file(sound, request).track;
            cpu[m] = cpu_now() - start;
        }
        if (!tracks[0] || !tracks[1] || !tracks[2]) {
            std::cerr << "lipsync_score: cannot analyse " << sound << "\n";
            return 1;
        }
        const uint32_t frames = tracks[0]->frame_count;
        const Frames truth = phonemes.empty() ? truth_from_alignment(sound, transcript, frames)
                                              : truth_from_phonemes(phonemes, frames);
        Frames loud = shapes_of(*tracks[1]);
        for (auto& s : loud)
            if (s && *s != Shape::X) s = Shape::B;
        for (int m = 0; m < 3; ++m)
            c.score[m].add(truth, shapes_of(*tracks[m]), cpu[m]);
        c.score[3].add(truth, loud, cpu[1]);
        c.audio += tracks[0]->seconds();
        ++c.clips;
    }

    std::printf(
        "| corpus | clips | seconds | default | --fast | --text | B when loud | rest/speech "
        "agreement (default) | speed default | speed --fast | speed --text |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const std::string& name : order) {
        const Corpus& c = corpora[name];
        const auto acc = [&](int m) { return c.score[m].right / std::max(1.0, c.score[m].scored); };
        const auto speed = [&](int m) { return c.audio / std::max(1e-6, c.score[m].cpu); };
        std::printf(
            "| %s | %d | %.1f | %.3f | %.3f | %.3f | %.3f | %.3f | %.0fx | %.0fx | %.0fx |\n",
            name.c_str(), c.clips, c.audio, acc(0), acc(1), acc(2), acc(3),
            c.score[0].rest_agree / std::max(1.0, c.score[0].scored), speed(0), speed(1), speed(2));
    }
    // With --confusion [N]: where each true shape went (rows: truth, columns: the shapes of
    // method N, 0 default, 1 --fast, 2 --text, 3 B when loud).
    if (argc > 2 && std::string(argv[2]) == "--confusion") {
        const int method = argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 3) : 0;
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
