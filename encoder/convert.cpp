// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/convert.hpp"

#include "common/files.hpp"
#include "common/text.hpp"
#include "encoder/encoding.hpp"
#include "encoder/lipsync_call.hpp"
#include "encoder/outcome_view.hpp"
#include "encoder/plan.hpp"
#include "encoder/silence_wave.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace tarvik {

bool ProducedFiles::place(const std::string& temp, const std::string& destination,
                          const std::string& wav, std::string* clash_with) {
    std::lock_guard lock(mutex_);
    if (const auto there = platform::file_status(destination)) {
        const auto made = made_.find({there->identity.device, there->identity.inode});
        if (made != made_.end()) {
            *clash_with = made->second;
            errno = 0;
            return false;
        }
    }
    if (std::rename(temp.c_str(), destination.c_str()) != 0) return false;
    if (const auto placed = platform::file_status(destination))
        made_[{placed->identity.device, placed->identity.inode}] = wav;
    return true;
}

std::optional<Outcome> size_refusal(std::optional<long long> size) {
    if (!size) return Outcome::CannotOpen;
    if (*size == 0) return Outcome::EmptyFile;
    if (*size < kMinInputBytes) return Outcome::TooSmall;
    return std::nullopt;
}

namespace {

bool cancelled(const Job& job) {
    return job.cancel && job.cancel->load();
}

// -loudness: reads the audio as the encoder will be fed it, measures it, and goes back to its
// first frame. nullopt when it cannot be read (or twice) or the job is cancelled.
std::optional<LineLoudness> measure_line(const Job& job, InputWav& input,
                                         const std::string& wav_path, const Plan& plan) {
    AudioSource* audio = input.audio();
    if (!audio) return std::nullopt;
    const auto measured =
        measure_loudness(*audio, plan.input_rate, plan.output_channels(), job.cancel);
    if (!measured || !input.rewind()) return std::nullopt;
    LineLoudness line{wav_path, *measured, std::nullopt};
    if (job.requested.loudness.target)
        line.gain = loudness_gain(*measured, *job.requested.loudness.target);
    return line;
}

// Shows nothing: the progress of the encodes made before a block shows its gain.
class QuietSink : public Sink {
  public:
    void write(std::string_view) override {}
    bool collected() const override { return false; }
};

// With a loudness target, a gain that was not lowered: the line encoded, not yet in place, at
// the gain that brings its MP3 nearest the target. The encoder takes some loudness away, so
// each MP3 is measured and, while it misses the target, the input is encoded again at a
// corrected gain, up to kMaxLoudnessEncodes times; the MP3 nearest the target is kept, and
// its gain becomes the line's. An MP3 that cannot be measured is kept as it is. Empty when an
// encode or a rewind failed (with a reason) or the job is cancelled.
UnplacedMp3 encode_to_target(const Job& job, InputWav& input, Plan plan, LineLoudness& line,
                             const EncodeOptions& options) {
    QuietSink quiet;
    const double target = *job.requested.loudness.target, first = line.gain->db;
    LoudnessGain gain = *line.gain;
    UnplacedMp3 best; // the other MP3s are removed as they are dropped
    for (int encodes = 1;; ++encodes) {
        plan.gain_db = gain.db;
        gain.correction = gain.db - first;
        UnplacedMp3 mp3 = encode_unplaced(plan, input, job.mp3_path, options, quiet);
        if (!mp3) return mp3;
        gain.mp3_lufs =
            integrated_loudness_of(mp3.file->temp_path(), plan.output_channels(), job.cancel);
        if (!gain.mp3_lufs) {
            if (cancelled(job)) return {};
            line.gain = gain;
            return mp3;
        }
        // line.gain is the kept MP3's.
        if (!best || std::abs(target - *gain.mp3_lufs) < std::abs(target - *line.gain->mp3_lufs)) {
            best = std::move(mp3);
            line.gain = gain;
        }
        const auto next = next_gain(line.measured, gain.db, *gain.mp3_lufs, target);
        if (!next || next->db == gain.db || encodes == kMaxLoudnessEncodes) return best;
        gain = *next;
        if (!input.rewind()) return {{}, "cannot read its audio"};
    }
}

// Measure (with -loudness), encode, lip-sync and -rem of an input that passed its checks.
ConvertResult encode_and_finish(const Job& job, InputWav& input, const std::string& wav_path,
                                const Plan& planned, double seconds, Sink& sink) {
    ConvertResult r;
    r.plan = planned;
    auto ended = [&](Outcome outcome, std::string reason = {}) {
        r.outcome = outcome;
        r.reason = std::move(reason);
        return r;
    };
    auto clash = [&](const std::string& with, const std::string& output) {
        r.clash_with = with;
        r.clash_output = output;
        return ended(Outcome::NameClash);
    };
    // The MP3 and the VLP of a batch go into place through its record of what it made.
    std::string clash_with;
    AtomicFile::Place place;
    if (job.produced)
        place = [&](const std::string& temp, const std::string& destination) {
            return job.produced->place(
                temp, destination, job.shown_wav.empty() ? wav_path : job.shown_wav, &clash_with);
        };

    Plan plan = planned;
    const EncodeOptions options{job.requested.no_click, job.cancel, place};
    std::optional<LineLoudness> loudness;
    UnplacedMp3 normalised;
    if (job.requested.loudness.measure && input.audio()) {
        loudness = measure_line(job, input, wav_path, plan);
        if (!loudness && cancelled(job)) return ended(Outcome::Cancelled);
        if (!loudness) return ended(Outcome::EncodeFailed, "cannot read its audio");
        if (loudness->gain && !loudness->gain->limited) {
            normalised = encode_to_target(job, input, plan, *loudness, options);
            if (!normalised && cancelled(job)) return ended(Outcome::Cancelled);
        }
        if (loudness->gain) plan.gain_db = loudness->gain->db;
        sink.write(loudness_lines(*loudness, job.requested.loudness));
    }
    sink.write(final_settings_text(plan));
    EncodeResult encoded;
    if (normalised) {
        // Encoded before its block's lines, whose gain it settled: its bar is shown as it ended.
        sink.progress_begin();
        sink.progress(100);
        sink.progress_end(ProgressEnd::Finished);
        encoded = place_mp3(normalised, input, options);
    } else if (!normalised.reason.empty()) {
        encoded.reason = normalised.reason;
    } else {
        encoded = encode_mp3(plan, input, job.mp3_path, options, sink);
    }
    if (!encoded.ok) {
        if (cancelled(job)) return ended(Outcome::Cancelled);
        if (!clash_with.empty()) return clash(clash_with, job.mp3_path);
        return ended(Outcome::EncodeFailed, encoded.reason);
    }
    if (encoded.space_saved) sink.write(format_text("Space saved: %d%%\n", *encoded.space_saved));
    r.mp3_made = true;
    r.loudness = std::move(loudness);
    if (!encoded.read.changed) r.input_hash = encoded.read.hash;

    if (job.lips) {
        const VlpRequest request{job.program_dir,      wav_path, job.mp3_path,
                                 job.input == nullptr, seconds,  sink.collected(),
                                 job.cancel,           place,    job.lips_language};
        const VlpResult vlp = generate_vlp(request, sink);
        r.vlp_made = vlp.ok;
        // Stopped by the interruption, not a fault of the file: its WAV stays for the next run.
        if (!vlp.ok && cancelled(job)) return ended(Outcome::Cancelled);
        if (!clash_with.empty()) return clash(clash_with, vlp_path_for(job.mp3_path));
        // The WAV stays, so that its lip-sync can be made again.
        if (!vlp.ok) return ended(Outcome::VlpFailed, vlp.reason);
    }
    if (job.delete_wav && job.input) {
        // Only the file that was encoded, unchanged, and never the MP3 itself.
        std::string kept = same_file(wav_path, job.mp3_path)
                               ? "it is the output itself"
                               : delete_encoded_input(wav_path, input.check(), encoded.read);
        return kept.empty() ? ended(Outcome::Deleted) : ended(Outcome::NotDeleted, std::move(kept));
    }
    return ended(Outcome::Converted);
}

ConvertResult convert_silence(const Job& job, Sink& sink) {
    const Plan& p = job.silence_plan;
    sink.starting();
    const SilenceWave wave = generate_wave(p, job.silence_seconds, job.silence_place, job.cancel);
    if (!wave.path.empty())
        sink.write(format_text("Temporary WAV file = \"%s\"  (%dHz/16bits/%s/%lldsec)\n",
                               escaped(wave.path).c_str(), static_cast<int>(p.input_rate),
                               p.output_channels() == 1 ? "mono" : "stereo", job.silence_seconds));
    // A stop that lands while the temporary WAV is made may make it fail instead of
    // stopping it.
    auto failed = [&](Outcome outcome) {
        ConvertResult r = refused(outcome);
        r.stopped = cancelled(job);
        return r;
    };
    switch (wave.result) {
    case SilenceWave::Written:
        break;
    case SilenceWave::NotCreated:
        return failed(Outcome::SilenceNotCreated);
    case SilenceWave::NotWritten:
    case SilenceWave::NotClosed:
        return failed(Outcome::SilenceNotWritten);
    case SilenceWave::Stopped:
        return refused(Outcome::Cancelled);
    }
    ConvertResult r;
    {
        InputWav input;
        input.open(wave.path); // a failure to read it is the encoder's to report
        r = encode_and_finish(job, input, wave.path, p, static_cast<double>(job.silence_seconds),
                              sink);
    }
    std::remove(wave.path.c_str());
    return r;
}

} // namespace

ConvertResult convert(const Job& job, Sink& sink) {
    if (!job.input) return convert_silence(job, sink);
    InputWav& input = *job.input;
    if (!job.clashes_with.empty()) {
        ConvertResult r = refused(Outcome::NameClash);
        r.clash_with = job.clashes_with;
        r.clash_output = job.mp3_path;
        return r;
    }
    switch (input.check().content) {
    case WavContent::Empty:
        return refused(Outcome::NoAudio);
    case WavContent::Truncated:
        return refused(Outcome::Truncated);
    case WavContent::Audio:
    case WavContent::Unreadable:
        break;
    }
    sink.starting();
    // An unreadable file is refused once the run has started: the single-file run shows its
    // start lines before it says so.
    if (input.check().content == WavContent::Unreadable) return refused(Outcome::Unreadable);
    sink.write(length_warning(input.check(), job.shown_wav.empty() ? job.wav_path : job.shown_wav));
    return encode_and_finish(job, input, job.wav_path, plan(job.requested, input.facts()),
                             input.facts().seconds(), sink);
}

} // namespace tarvik
