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

} // namespace

std::vector<std::optional<Shape>> phone_shapes(const std::vector<PhoneSpan>& spans,
                                               uint32_t frames) {
    std::vector<std::optional<Shape>> out(frames);
    for (const PhoneSpan& s : spans) {
        const std::optional<Shape> shape = shape_for_phone(s.phone);
        for (uint32_t f = s.first; f <= s.last && f < frames; ++f)
            out[f] = shape;
    }
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
        if (!request.text) return;
        aligner = PhoneDecoder::open(PhoneDecoder::Search::Align, info.sample_rate, error);
        if (!aligner) {
            result.notes.push_back(error + "; the phones were recognised without the text");
            return;
        }
        if (!aligner->set_phones(phones_for_text(*request.text, *aligner))) {
            result.notes.push_back("the text holds no words to align; the phones were "
                                   "recognised without it");
            aligner.reset();
        }
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
    const uint32_t frames = track.frame_count;

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
        for (uint32_t f = 0; f < frames && f < signal.size();) {
            uint32_t end = f;
            bool silent = true;
            while (end < frames && end < signal.size() && signal[end].gap) {
                silent = silent && !shapes[end];
                ++end;
            }
            if (silent && end - f >= kMinSilentGapFrames)
                std::fill(pauses.begin() + f, pauses.begin() + end, true);
            f = std::max(end, f + 1);
        }
        // Where the text fits, its own quiet gaps between words rest instead.
        std::optional<std::vector<PhoneSpan>> aligned;
        if (aligner) {
            aligned = aligner->finish();
            if (!aligned)
                result.notes.push_back("the text does not fit the speech; the phones were "
                                       "recognised instead");
        }
        if (aligned) {
            // Where the text leaves much of a stretch of speech (between rests) to silence
            // or noise while recognition hears phones there, the words do not fit it (the
            // text lacks what is said there): that stretch keeps the recognised phones.
            const std::vector<std::optional<Shape>> by_text = phone_shapes(*aligned, frames);
            for (uint32_t start = 0; start < frames && start < signal.size();) {
                if (signal[start].shape == Shape::X) {
                    ++start;
                    continue;
                }
                uint32_t end = start;
                uint32_t unexplained = 0; // speech the text leaves to silence or noise
                while (end < frames && end < signal.size() && signal[end].shape != Shape::X) {
                    unexplained += shapes[end] && !by_text[end];
                    ++end;
                }
                const uint32_t length = end - start;
                if (unexplained <= kMaxUnexplainedShare * length)
                    for (uint32_t f = start; f < end; ++f) {
                        shapes[f] = by_text[f];
                        pauses[f] = !by_text[f] && signal[f].gap;
                    }
                else
                    result.notes.push_back("the text does not fit the speech from " +
                                           centiseconds_text(start) + " s to " +
                                           centiseconds_text(end) +
                                           " s; the phones there were recognised instead");
                start = end;
            }
        }
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
