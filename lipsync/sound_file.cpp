// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/sound_file.hpp"

#include "lipsync/exporters.hpp"
#include "lipsync/phones.hpp"
#include "lipsync/speech.hpp"

#include "common/audio_source.hpp"
#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>

namespace tarvik::lipsync {

namespace {

// Share of a stretch of speech (outside its quiet gaps) that an alignment which fits leaves
// to silence: up to about a quarter; a text that lacks or misplaces the stretch's words
// leaves a third and more.
constexpr double kMaxUnexplainedShare = 0.4;

// Shortest quiet gap inside speech that is a pause rather than the closure of a stop, when
// recognition hears no phone in it: eSpeak NG pauses 60-150 ms between phrases, and stop
// closures that recognition leaves silent are mostly shorter.
constexpr uint32_t kMinSilentGapFrames = 6;

// When a text is taken for the line's: how well its shapes agree with what is heard (the
// share of the speech frames that both give a shape in which they give the same). At
// kAcceptAgreement or more with the signal analysis's shapes the text is taken; below, its
// agreement with the recognised phones is added, and the sum must reach kMinSummedAgreement.
// A text the aligner cannot place at all (mostly another one) is used, as eSpeak NG times
// it, when it agrees with the recognised phones in kMinRenderedAgreement of the frames.
// Chosen on eSpeak NG's voices in twelve languages at two speeds, each line with its own
// text, another language's, and another text read in its language, and on lines of two
// sentences: every own text of 28 is taken, 36 of 48 others refused. The measures are
// coarse (on recorded telephone prompts, 3 of 20 own texts fall below): a stricter sum
// refuses more own texts than it catches others.
constexpr double kAcceptAgreement = 0.5;
constexpr double kMinSummedAgreement = 0.75;
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

// Shapes and rests for the frames of a line, from one source.
struct Layer {
    std::vector<std::optional<Shape>> shapes; // nullopt: no phone there
    std::vector<bool> pauses;                 // quiet gaps inside speech that are rests
};

// The layer of recognised phones. Quiet gaps inside speech (closures to the signal analysis)
// in which recognition hears no phone throughout are pauses between words when they last at
// least kMinSilentGapFrames: the mouth rests there. Shorter ones stay closures.
Layer recognition_layer(const std::vector<PhoneSpan>& spans, const std::vector<SignalFrame>& signal,
                        uint32_t frames) {
    Layer layer{phone_shapes(spans, frames), std::vector<bool>(frames)};
    for (uint32_t f = 0; f < frames;) {
        uint32_t end = f;
        bool silent = true;
        while (end < frames && signal[end].gap) {
            silent = silent && !layer.shapes[end];
            ++end;
        }
        if (silent && end - f >= kMinSilentGapFrames)
            std::fill(layer.pauses.begin() + f, layer.pauses.begin() + end, true);
        f = std::max(end, f + 1);
    }
    return layer;
}

// The text's layer and the frames it decides (the others are recognised).
struct TextLayer {
    Layer layer;
    std::vector<bool> used;
};

// Recognition of the line when it is needed: nullptr when it cannot be had.
using Recognition = std::function<const Layer*()>;

// Brings the line's text in: its phones are aligned to the speech and, where they fit, give
// the shapes and rests. Whether the text is the line's at all is judged by how well its
// shapes agree with the signal analysis's and, where that leaves doubt, with the recognised
// phones'. Where the aligner cannot place a fitting text, eSpeak NG's timing of it,
// stretched between the line's pauses, gives them; where the words do not fit a stretch of
// speech, that stretch is recognised. nullopt when the text is not used.
std::optional<TextLayer> apply_text(const std::string& text, const std::string& language,
                                    PhoneDecoder& aligner, const std::vector<SignalFrame>& signal,
                                    uint32_t frames, const Recognition& recognition,
                                    std::vector<std::string>& notes) {
    const std::string not_fitting =
        "the text does not fit the speech; the phones were recognised instead";
    // Far more text than speech (a whole script given for one line) cannot fit, and
    // rendering it would take long.
    if (text.size() > kMaxTextBytesPerSecond * frames / kFramesPerSecond + 200) {
        notes.push_back(not_fitting);
        return std::nullopt;
    }
    std::string error;
    const std::optional<TextPlan> plan = plan_text(text, language, is_english(language), error);
    if (!plan) {
        notes.push_back(error + "; the phones were recognised without the text");
        return std::nullopt;
    }
    if (plan->phones.empty()) {
        notes.push_back("the text holds no words to align; the phones were recognised without it");
        return std::nullopt;
    }
    const std::optional<std::vector<std::optional<Shape>>> by_text =
        align_plan(aligner, *plan, frames);
    // Frames outside the stretches of speech rest whatever the text says.
    TextLayer out{{std::vector<std::optional<Shape>>(frames), std::vector<bool>(frames)},
                  std::vector<bool>(frames, true)};
    const auto stretches = speech_stretches(signal, frames);
    if (!by_text) {
        // The aligner could not place the text: as eSpeak NG says it, it must agree with
        // the recognised phones clearly better than another text would.
        const auto rendered = rendered_shapes(*plan, signal, frames);
        const Layer* recognised = recognition();
        if (!recognised || agreement(rendered, recognised->shapes) < kMinRenderedAgreement) {
            notes.push_back(not_fitting);
            return std::nullopt;
        }
        for (const auto& [start, end] : stretches) {
            for (uint32_t f = start; f < end; ++f)
                out.layer.shapes[f] = rendered[f];
            notes.push_back("the text could not be aligned from " + centiseconds_text(start) +
                            " s to " + centiseconds_text(end) +
                            " s; eSpeak NG's timing of it was used there");
        }
        return out;
    }
    // Where the text leaves much of a stretch of speech to silence or noise, the words do
    // not fit it (the text lacks what is said there): that stretch is recognised.
    std::vector<std::string> misfits;
    for (const auto& [start, end] : stretches) {
        uint32_t unexplained = 0; // speech the text leaves to silence or noise
        for (uint32_t f = start; f < end; ++f)
            unexplained += !signal[f].gap && !(*by_text)[f];
        if (unexplained <= kMaxUnexplainedShare * (end - start)) {
            for (uint32_t f = start; f < end; ++f) {
                out.layer.shapes[f] = (*by_text)[f];
                out.layer.pauses[f] = !(*by_text)[f] && signal[f].gap;
            }
            continue;
        }
        std::fill(out.used.begin() + start, out.used.begin() + end, false);
        misfits.push_back("the text does not fit the speech from " + centiseconds_text(start) +
                          " s to " + centiseconds_text(end) +
                          " s; the phones there were recognised instead");
    }
    // A text that is not the line's agrees poorly with what is heard where it was placed:
    // with the signal analysis's shapes and, where that leaves doubt, with the recognised
    // phones.
    std::vector<std::optional<Shape>> heard(frames); // the signal analysis's shapes of speech
    for (uint32_t f = 0; f < frames; ++f)
        if (signal[f].shape != Shape::X) heard[f] = signal[f].shape;
    const double by_signal = agreement(out.layer.shapes, heard);
    const Layer* recognised = by_signal < kAcceptAgreement ? recognition() : nullptr;
    if (misfits.size() == stretches.size() ||
        (by_signal < kAcceptAgreement &&
         (!recognised ||
          by_signal + agreement(out.layer.shapes, recognised->shapes) < kMinSummedAgreement))) {
        notes.push_back(not_fitting);
        return std::nullopt;
    }
    notes.insert(notes.end(), misfits.begin(), misfits.end());
    return out;
}

} // namespace

std::vector<std::optional<Shape>> phone_shapes(const std::vector<PhoneSpan>& spans,
                                               uint32_t frames) {
    std::vector<std::optional<Shape>> out(frames);
    for (const PhoneSpan& s : spans)
        paint(out, s.first, s.last + 1, shapes_for_phone(s.phone));
    return out;
}

std::optional<std::vector<std::optional<Shape>>> align_plan(PhoneDecoder& aligner,
                                                            const TextPlan& plan, uint32_t frames) {
    std::vector<std::string> phones;
    for (const TextPhone& p : plan.phones) {
        if (p.pause_before) phones.push_back(kPause);
        phones.push_back(p.phone);
    }
    if (!aligner.set_phones(phones)) return std::nullopt;
    const std::optional<std::vector<PhoneSpan>> spans = aligner.finish();
    if (!spans) return std::nullopt;
    std::vector<std::optional<Shape>> out(frames);
    size_t next = 0;
    for (const PhoneSpan& s : *spans) {
        if (shapes_for_phone(s.phone).empty()) continue; // silence and noise
        if (next >= plan.phones.size() || plan.phones[next].phone != s.phone) return std::nullopt;
        paint(out, s.first, s.last + 1, plan.phones[next++].shapes);
    }
    if (next != plan.phones.size()) return std::nullopt;
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
    // The phones are recognised, or aligned to the line's text when there is one; then
    // they are recognised only where the text does not decide, from the sound kept as the
    // model hears it (the same samples recognition alone would have been fed).
    std::optional<ModelAudio> model_audio;
    std::unique_ptr<PhoneDecoder> recogniser, aligner;
    std::vector<int16_t> model_sound, chunk; // with a text: the sound as the model hears it
    const bool english = is_english(request.language);
    const auto opened = [&](const SoundInfo& info) {
        analyzer.emplace(info.sample_rate, request.settings);
        analyzer->set_observer([&](const FrameResult& f) {
            if (request.observer) request.observer(f);
            signal.push_back({f.shape, f.opening, f.gap});
        });
        if (request.method != Method::Recognition) return;
        std::string error;
        model_audio.emplace(info.sample_rate);
        if (request.text) {
            aligner = PhoneDecoder::open(PhoneDecoder::Search::Align, error);
            if (aligner && model_audio->ok()) return;
            aligner.reset();
            result.notes.push_back(error + "; the phones were recognised without the text");
        }
        recogniser = PhoneDecoder::open(PhoneDecoder::Search::Recognise, error);
        if (!recogniser || !model_audio->ok()) {
            recogniser.reset();
            result.notes.push_back(error + "; the signal analysis was used alone");
            return;
        }
        if (!request.text && !english)
            result.notes.push_back("the phones were recognised with the English model; "
                                   "the line's text (--text) would give better shapes");
    };
    const auto hear = [&](bool end, const float* samples, size_t count) {
        chunk.clear();
        end ? model_audio->finish(chunk) : model_audio->push(samples, count, chunk);
        if (recogniser) recogniser->feed(chunk.data(), chunk.size());
        if (aligner) model_sound.insert(model_sound.end(), chunk.begin(), chunk.end());
    };
    const auto block = [&](const float* samples, size_t count) {
        analyzer->feed(samples, count);
        if (recogniser || aligner) hear(false, samples, count);
    };
    SoundInfo info;
    if (std::optional<std::string> error = read_sound(path, opened, block, info)) {
        result.error = std::move(*error);
        return result;
    }
    if (recogniser || aligner) hear(true, nullptr, 0);
    if (aligner) aligner->feed(model_sound.data(), model_sound.size());

    LipSyncTrack track;
    track.sample_rate = static_cast<uint32_t>(info.sample_rate);
    track.sample_frames = info.frames;
    track.frame_rate = kFramesPerSecond;
    track.cues = analyzer->finish();
    track.frame_count = analyzer->frame_count();
    const uint32_t frames =
        std::min<uint32_t>(track.frame_count, static_cast<uint32_t>(signal.size()));

    // The recognised phones, decoded once when first asked for.
    std::optional<Layer> recognised;
    bool recognition_tried = false;
    const Recognition recognition = [&]() -> const Layer* {
        if (!recognition_tried && !recogniser && aligner) {
            std::string error;
            recogniser = PhoneDecoder::open(PhoneDecoder::Search::Recognise, error);
            if (recogniser)
                recogniser->feed(model_sound.data(), model_sound.size());
            else
                result.notes.push_back(error + "; the signal analysis was used alone");
        }
        if (!recognition_tried && recogniser) {
            recognition_tried = true;
            if (const auto spans = recogniser->finish())
                recognised = recognition_layer(*spans, signal, frames);
            else
                result.notes.push_back(
                    "no phones were recognised; the signal analysis was used alone");
        }
        return recognised ? &*recognised : nullptr;
    };

    if (request.method == Method::Recognition) {
        const std::optional<TextLayer> by_text =
            aligner ? apply_text(*request.text, request.language, *aligner, signal, frames,
                                 recognition, result.notes)
                    : std::nullopt;
        const bool all_text = by_text && std::all_of(by_text->used.begin(), by_text->used.end(),
                                                     [](bool u) { return u; });
        const Layer* recognised_layer = all_text ? nullptr : recognition();
        if (by_text || recognised_layer) {
            Layer layer = recognised_layer ? *recognised_layer
                                           : Layer{std::vector<std::optional<Shape>>(frames),
                                                   std::vector<bool>(frames)};
            for (uint32_t f = 0; by_text && f < frames; ++f)
                if (by_text->used[f]) {
                    layer.shapes[f] = by_text->layer.shapes[f];
                    layer.pauses[f] = by_text->layer.pauses[f];
                }
            // A pause shorter than the shortest cue would be a flicker of the lips.
            const uint32_t min_pause =
                static_cast<uint32_t>(cue_settings_for(request.settings).min_hold_frames);
            for (uint32_t f = 0; f < frames;) {
                uint32_t end = f;
                while (end < frames && layer.pauses[end])
                    ++end;
                if (end - f < min_pause)
                    std::fill(layer.pauses.begin() + f, layer.pauses.begin() + end, false);
                f = std::max(end, f + 1);
            }
            track.cues = combine(signal, layer.shapes, layer.pauses, request.settings);
        }
    }
    result.track = std::move(track);
    return result;
}

} // namespace tarvik::lipsync
