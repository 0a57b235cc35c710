// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/convert.hpp"

#include "common/files.hpp"
#include "common/text.hpp"
#include "encoder/encoding.hpp"
#include "encoder/lipsync_call.hpp"
#include "encoder/plan.hpp"
#include "encoder/silence_wave.hpp"

#include <cerrno>
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

// Encode, lip-sync and -rem of an input that passed its checks.
ConvertResult encode_and_finish(const Job& job, InputWav& input, const std::string& wav_path,
                                const Plan& plan, double seconds, Sink& sink) {
    ConvertResult r;
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

    sink.write(final_settings_text(plan));
    const EncodeResult encoded =
        encode_mp3(plan, input, job.mp3_path, {job.requested.no_click, job.cancel, place}, sink);
    if (!encoded.ok) {
        if (cancelled(job)) return ended(Outcome::Cancelled);
        if (!clash_with.empty()) return clash(clash_with, job.mp3_path);
        return ended(Outcome::EncodeFailed, encoded.reason);
    }
    if (encoded.space_saved) sink.write(format_text("Space saved: %d%%\n", *encoded.space_saved));
    r.mp3_made = true;
    if (!encoded.read.changed) r.input_hash = encoded.read.hash;

    if (job.lips) {
        const VlpRequest request{job.program_dir,      wav_path, job.mp3_path,
                                 job.input == nullptr, seconds,  sink.collected(),
                                 job.cancel,           place};
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
