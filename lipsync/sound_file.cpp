// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/sound_file.hpp"

#include "lipsync/exporters.hpp"
#include "lipsync/phones.hpp"
#include "lipsync/speech.hpp"

#include "common/audio_source.hpp"
#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>

namespace tarvik::lipsync {

namespace {

// Share of a stretch of speech that an alignment which fits leaves to silence while
// recognition hears phones there: up to about a quarter (short pauses the words do not
// show); a text that lacks or misplaces the stretch's words leaves a third and more.
constexpr double kMaxUnexplainedShare = 0.27;

// Shortest quiet gap inside speech that is a pause rather than the closure of a stop, when
// recognition hears no phone in it: eSpeak NG pauses 60-150 ms between phrases, and stop
// closures that recognition leaves silent are mostly shorter.
constexpr uint32_t kMinSilentGapFrames = 6;

// The least agreement between the shapes of the text and those recognised with which the
// text is taken for the line's. A text that is not the line's (another line, another
// language) mostly cannot be aligned at all; as eSpeak NG says it, it agrees in 0.2-0.45 of
// the frames on its voices in twelve languages, the line's own text in 0.45-0.7. Where a
// wrong text does align, it agrees in 0.14-0.6, the right one in 0.43-0.85.
constexpr double kMinAlignedAgreement = 0.35;
constexpr double kMinRenderedAgreement = 0.55;

// More text than this per second of sound is not one line's words (speech says some 15-20
// bytes of text a second).
constexpr size_t kMaxTextBytesPerSecond = 100;

// Frames [first, end) show `shapes` in turn, each over an equal share (none: not speech).
void paint(std::vector<std::optional<Shape>>& frames, uint32_t first, uint32_t end,
           const std::vector<Shape>& shapes) {
    end = std::min<uint32_t>(end, static_cast<uint32_t>(frames.size()));
    for (uint32_t f = first; f < end; ++f)
        frames[f] = shapes.empty()
                        ? std::nullopt
                        : std::optional(shapes[(f - first) * shapes.size() / (end - first)]);
}

struct SignalFrame {
    Shape shape;
    float opening;
    bool gap;
};

// The track's cues: rests from the signal and at `pauses`, shapes from the phones where a
// speech phone covers the frame, else the signal's shape.
std::vector<Cue> combine(const std::vector<SignalFrame>& signal,
                         const std::vector<std::optional<Shape>>& phones,
                         const std::vector<bool>& pauses, const AnalysisSettings& settings) {
    CueBuilder cues(cue_settings_for(settings));
    for (size_t i = 0; i < signal.size(); ++i) {
        Shape shape = signal[i].shape;
        if (shape != Shape::X && i < phones.size() && phones[i]) shape = *phones[i];
        if (i < pauses.size() && pauses[i]) shape = Shape::X;
        cues.add(shape, shape == Shape::A || shape == Shape::X ? 0.0f : signal[i].opening);
    }
    return cues.finish();
}

bool is_english(const std::string& language) {
    return language == "en" || language.starts_with("en-");
}

// The shapes of the text's phones where the aligner placed them (frames it leaves to silence
// are nullopt); nullopt when its spans do not follow the text's phones.
std::optional<std::vector<std::optional<Shape>>>
aligned_shapes(const std::vector<PhoneSpan>& spans, const TextPlan& plan, uint32_t frames) {
    std::vector<std::optional<Shape>> out(frames);
    size_t next = 0;
    for (const PhoneSpan& s : spans) {
        if (shapes_for_phone(s.phone).empty()) continue; // silence and fillers
        if (next >= plan.phones.size() || plan.phones[next].phone != s.phone) return std::nullopt;
        paint(out, s.first, s.last + 1, plan.phones[next++].shapes);
    }
    if (next != plan.phones.size()) return std::nullopt;
    return out;
}

// The shapes of eSpeak NG's rendering of the text, stretched over the line's speech (the
// frames the signal analysis does not rest in) between its pauses: the rendering's spoken
// time, its own pauses left out, maps in order and evenly onto the line's.
std::vector<std::optional<Shape>>
rendered_shapes(const TextPlan& plan, const std::vector<SignalFrame>& signal, uint32_t frames) {
    std::vector<std::optional<Shape>> out(frames);
    double spoken = 0; // ms of the rendering that phones cover
    for (const TextPhone& p : plan.phones)
        spoken += p.end_ms - p.start_ms;
    uint32_t speech = 0;
    for (uint32_t f = 0; f < frames; ++f)
        speech += signal[f].shape != Shape::X;
    if (spoken <= 0 || speech == 0) return out;
    size_t k = 0;
    double before = 0; // spoken time of the phones before phone k
    uint32_t q = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        if (signal[f].shape == Shape::X) continue;
        const double t = (q++ + 0.5) / speech * spoken;
        while (k + 1 < plan.phones.size() &&
               before + plan.phones[k].end_ms - plan.phones[k].start_ms <= t) {
            before += plan.phones[k].end_ms - plan.phones[k].start_ms;
            ++k;
        }
        const TextPhone& p = plan.phones[k];
        const double share = (t - before) / std::max(1u, p.end_ms - p.start_ms);
        if (!p.shapes.empty())
            out[f] = p.shapes[std::min(p.shapes.size() - 1,
                                       static_cast<size_t>(share * p.shapes.size()))];
    }
    return out;
}

// The share of frames that both give a shape in which they give the same.
double agreement(const std::vector<std::optional<Shape>>& a,
                 const std::vector<std::optional<Shape>>& b) {
    double both = 0, same = 0;
    for (size_t f = 0; f < a.size() && f < b.size(); ++f)
        if (a[f] && b[f]) ++both, same += *a[f] == *b[f];
    return both > 0 ? same / both : 0;
}

// The stretches of speech between the signal analysis's rests: [first, end) frames.
std::vector<std::pair<uint32_t, uint32_t>> speech_stretches(const std::vector<SignalFrame>& signal,
                                                            uint32_t frames) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t start = 0; start < frames;) {
        if (signal[start].shape == Shape::X) {
            ++start;
            continue;
        }
        uint32_t end = start;
        while (end < frames && signal[end].shape != Shape::X)
            ++end;
        out.emplace_back(start, end);
        start = end;
    }
    return out;
}

// Brings the line's text in: its phones are aligned to the speech and, where they fit, give
// the shapes and pauses. Where the aligner cannot place them at all, eSpeak NG's timing of the
// text, stretched between the line's pauses, does; where the words do not fit the speech, the
// recognised phones stay.
void apply_text(const std::string& text, const std::string& language, PhoneDecoder& aligner,
                const std::vector<SignalFrame>& signal, std::vector<std::optional<Shape>>& shapes,
                std::vector<bool>& pauses, std::vector<std::string>& notes) {
    const uint32_t frames = static_cast<uint32_t>(shapes.size());
    const std::string not_fitting =
        "the text does not fit the speech; the phones were recognised instead";
    // Far more text than speech (a whole script given for one line) cannot fit, and
    // rendering it would take long.
    if (text.size() > kMaxTextBytesPerSecond * frames / kFramesPerSecond + 200) {
        notes.push_back(not_fitting);
        return;
    }
    std::string error;
    const std::optional<TextPlan> plan =
        plan_text(text, language, is_english(language) ? &aligner : nullptr, error);
    if (!plan) {
        notes.push_back(error + "; the phones were recognised without the text");
        return;
    }
    if (plan->phones.empty()) {
        notes.push_back("the text holds no words to align; the phones were recognised without it");
        return;
    }
    std::vector<std::string> phones;
    for (const TextPhone& p : plan->phones) {
        if (p.word_start && !phones.empty()) phones.push_back(kPause);
        phones.push_back(p.phone);
    }
    std::optional<std::vector<std::optional<Shape>>> by_text;
    if (aligner.set_phones(phones))
        if (const auto aligned = aligner.finish())
            by_text = aligned_shapes(*aligned, *plan, frames);
    const auto stretches = speech_stretches(signal, frames);
    // A text that is not the line's (another line, another language) agrees with what is
    // heard no better than chance: too few of the speech frames that recognition gives a
    // shape get the same one from the text, as aligned or, where the aligner could not place
    // it, as eSpeak NG says it.
    const auto rendered = rendered_shapes(*plan, signal, frames);
    if (by_text ? agreement(*by_text, shapes) < kMinAlignedAgreement
                : agreement(rendered, shapes) < kMinRenderedAgreement) {
        notes.push_back(not_fitting);
        return;
    }
    if (!by_text) {
        for (const auto& [start, end] : stretches) {
            for (uint32_t f = start; f < end; ++f) {
                shapes[f] = rendered[f];
                pauses[f] = false;
            }
            notes.push_back("the text could not be aligned from " + centiseconds_text(start) +
                            " s to " + centiseconds_text(end) +
                            " s; eSpeak NG's timing of it was used there");
        }
        return;
    }
    // Where the text leaves much of a stretch of speech to silence or noise while
    // recognition hears phones there, the words do not fit it (the text lacks what is said
    // there): that stretch keeps the recognised phones.
    for (const auto& [start, end] : stretches) {
        uint32_t unexplained = 0; // speech the text leaves to silence or noise
        for (uint32_t f = start; f < end; ++f)
            unexplained += shapes[f] && !(*by_text)[f];
        if (unexplained <= kMaxUnexplainedShare * (end - start))
            for (uint32_t f = start; f < end; ++f) {
                shapes[f] = (*by_text)[f];
                pauses[f] = !(*by_text)[f] && signal[f].gap;
            }
        else
            notes.push_back("the text does not fit the speech from " + centiseconds_text(start) +
                            " s to " + centiseconds_text(end) +
                            " s; the phones there were recognised instead");
    }
}

} // namespace

std::vector<std::optional<Shape>> phone_shapes(const std::vector<PhoneSpan>& spans,
                                               uint32_t frames) {
    std::vector<std::optional<Shape>> out(frames);
    for (const PhoneSpan& s : spans)
        paint(out, s.first, s.last + 1, shapes_for_phone(s.phone));
    return out;
}

std::optional<std::string> read_sound(const std::string& path,
                                      const std::function<void(const SoundInfo&)>& opened,
                                      const std::function<void(const float*, size_t)>& block,
                                      SoundInfo& result) {
    // Opening the file ourselves tells a missing file from a forbidden one and from a
    // directory, which libsndfile would all call an unknown format.
    const platform::RegularFile file = platform::open_regular_file(path);
    if (!file) {
        if (file.error != 0) return file.error == ENOENT ? "no such file" : file.error_text();
        return file.directory ? "is a directory, not a sound file" : "is not a regular file";
    }
    // Declared after the file, so closed before its descriptor.
    AudioSource source = AudioSource::from_descriptor(file.fd.get());
    if (!source.ok()) return "not a sound file that libsndfile reads (" + source.error() + ")";
    const AudioFacts& facts = source.facts();
    if (facts.sample_rate < kMinSampleRate)
        return "sample rate of " + std::to_string(facts.sample_rate) + " Hz is too low (at least " +
               std::to_string(kMinSampleRate) + " Hz)";
    result = SoundInfo{facts.sample_rate, 0};
    opened(result);

    const size_t frames_per_block = std::max(1, 65536 / facts.channels);
    std::vector<float> mono(frames_per_block);
    // The track counts 10 ms units in 32 bits.
    const uint64_t max_frames = uint64_t{0xffffffff} / kFramesPerSecond * facts.sample_rate;
    while (const size_t frames = source.read(mono.data(), frames_per_block, 1)) {
        block(mono.data(), frames);
        result.frames += frames;
        if (result.frames > max_frames) return "too long for a lip-sync track";
    }
    if (source.read_failed()) return "read error (" + source.error() + ")";
    if (result.frames == 0) return "contains no audio";
    return std::nullopt;
}

SoundResult analyse_sound_file(const std::string& path, const AnalysisRequest& request) {
    SoundResult result;
    std::optional<Analyzer> analyzer;
    std::vector<SignalFrame> signal;
    std::unique_ptr<PhoneDecoder> recogniser, aligner;
    const bool english = is_english(request.language);
    const auto opened = [&](const SoundInfo& info) {
        analyzer.emplace(info.sample_rate, request.settings);
        analyzer->set_observer([&](const FrameResult& f) {
            if (request.observer) request.observer(f);
            signal.push_back({f.shape, f.opening, f.gap});
        });
        if (request.method != Method::Recognition) return;
        std::string error;
        recogniser = PhoneDecoder::open(PhoneDecoder::Search::Recognise, info.sample_rate, error);
        if (!recogniser) {
            result.notes.push_back(error + "; the signal analysis was used alone");
            return;
        }
        if (!request.text) {
            if (!english)
                result.notes.push_back("the phones were recognised with the English model; "
                                       "the line's text (--text) would give better shapes");
            return;
        }
        aligner = PhoneDecoder::open(PhoneDecoder::Search::Align, info.sample_rate, error, english);
        if (!aligner)
            result.notes.push_back(error + "; the phones were recognised without the text");
    };
    const auto block = [&](const float* samples, size_t count) {
        analyzer->feed(samples, count);
        if (recogniser) recogniser->feed(samples, count);
        if (aligner) aligner->feed(samples, count);
    };
    SoundInfo info;
    if (std::optional<std::string> error = read_sound(path, opened, block, info)) {
        result.error = std::move(*error);
        return result;
    }

    LipSyncTrack track;
    track.sample_rate = static_cast<uint32_t>(info.sample_rate);
    track.sample_frames = info.frames;
    track.frame_rate = kFramesPerSecond;
    track.cues = analyzer->finish();
    track.frame_count = analyzer->frame_count();
    const uint32_t frames =
        std::min<uint32_t>(track.frame_count, static_cast<uint32_t>(signal.size()));

    std::optional<std::vector<PhoneSpan>> recognised;
    if (recogniser) recognised = recogniser->finish();
    if (recogniser && !recognised)
        result.notes.push_back("no phones were recognised; the signal analysis was used alone");
    if (recognised) {
        std::vector<std::optional<Shape>> shapes = phone_shapes(*recognised, frames);
        // Quiet gaps inside speech (closures to the signal analysis) in which recognition
        // hears no phone throughout are pauses between words when they last at least
        // kMinSilentGapFrames: the mouth rests there. Shorter ones stay closures.
        std::vector<bool> pauses(frames);
        for (uint32_t f = 0; f < frames;) {
            uint32_t end = f;
            bool silent = true;
            while (end < frames && signal[end].gap) {
                silent = silent && !shapes[end];
                ++end;
            }
            if (silent && end - f >= kMinSilentGapFrames)
                std::fill(pauses.begin() + f, pauses.begin() + end, true);
            f = std::max(end, f + 1);
        }
        if (aligner)
            apply_text(*request.text, request.language, *aligner, signal, shapes, pauses,
                       result.notes);
        // A pause shorter than the shortest cue would be a flicker of the lips.
        const uint32_t min_pause =
            static_cast<uint32_t>(cue_settings_for(request.settings).min_hold_frames);
        for (uint32_t f = 0; f < frames;) {
            uint32_t end = f;
            while (end < frames && pauses[end])
                ++end;
            if (end - f < min_pause) std::fill(pauses.begin() + f, pauses.begin() + end, false);
            f = std::max(end, f + 1);
        }
        track.cues = combine(signal, shapes, pauses, request.settings);
    }
    result.track = std::move(track);
    return result;
}

} // namespace tarvik::lipsync
