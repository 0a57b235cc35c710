// SPDX-License-Identifier: GPL-3.0-or-later
// The single-shot runs: an MP3 of N seconds of silence, or one WAV file to MP3. Both drive
// the conversion core with one job and show its outcome.
#include "encoder/command_line.hpp"
#include "encoder/convert.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/modes.hpp"
#include "encoder/outcome_view.hpp"
#include "encoder/output_dir.hpp"
#include "encoder/plan.hpp"
#include "encoder/results.hpp"
#include "encoder/silence_wave.hpp"

#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "platform/temporaries.hpp"

#include <cstdio>
#include <functional>

namespace tarvik {

namespace {

// The console, and the run's start lines once the job passed its checks.
class RunSink : public ConsoleSink {
  public:
    RunSink(ConsoleOut& out, bool show_bar, std::function<void()> start)
        : ConsoleSink(out, show_bar), start_(std::move(start)) {}
    void starting() override { start_(); }

  private:
    std::function<void()> start_;
};

// Records the outcome for other programs (-json), then shows it; the run's exit status.
int finish(Run run, const ConvertResult& result, const JobFiles& files, const Context& ctx,
           std::optional<InputFacts> audio) {
    record_result(result, files, ctx.flags.lips, audio);
    return show_outcome(run, result, files);
}

// The output directory step shared by both runs: the quote check, the directories made,
// and the MP3's full path. nullopt when the run must end.
std::optional<std::string> output_path(const std::vector<std::string>& positionals,
                                       const std::string& default_dir, const std::string& name) {
    if (positionals.size() < 2) return join_path(default_dir, name);
    std::string dir = positionals[1];
    const PreparedDir prepared = prepare_output_dir(dir);
    if (!show_output_dir(Run::SingleFile, prepared, dir)) return std::nullopt;
    return join_path(dir, name);
}

void print_start(const Context& ctx, const std::string& mp3_path, long long silence_seconds) {
    print_defaults(ctx);
    std::printf("\n[---> starting process <---]\n");
    if (silence_seconds == 1)
        std::printf("Silence time = 1 second\n");
    else if (silence_seconds > 1)
        std::printf("Silence time = %lld seconds\n", silence_seconds);
    std::printf("Output file = \"%s\"\n", escaped(mp3_path).c_str());
    if (const auto made = make_parent_dir(mp3_path))
        std::printf("Directory created: \"%s\"\n", made->c_str());
}

// The input WAV's path from the argument: relative names are taken in the working directory,
// and a name without ".wav" gets it in place of its extension. When no file has exactly that
// name, one that differs only in letter case is taken.
std::string input_wav_path(const Context& ctx, const std::string& arg) {
    std::string path =
        (!arg.empty() && (arg[0] == '/' || arg[0] == '.')) ? arg : join_path(ctx.current_dir, arg);
    const std::string dir = dir_part(path, true).value_or("");
    const std::string typed = file_part(path).value_or("");
    if (to_lower_ascii(typed).find(".wav") != std::string::npos)
        return resolve_name_case(dir + typed);
    // "voice.mp3" means voice.wav; a dotted name such as "take.01" may also mean take.01.wav.
    const std::string replaced =
        resolve_name_case(dir + strip_extension(typed).value_or(typed) + ".wav");
    if (platform::exists(replaced)) return replaced;
    const std::string appended = resolve_name_case(dir + typed + ".wav");
    return platform::exists(appended) ? appended : replaced;
}

} // namespace

int run_silence(Context& ctx, const std::vector<std::string>& positionals) {
    const long long seconds = parse_leading_int(positionals[0]);
    if (seconds <= 0) {
        show_error_box<ErrorBox::SilenceTimeNull>();
        return kExitFailure;
    }
    // A silence its temporary WAV's folder cannot hold is refused before anything is written.
    const WavePlace place = silence_wave_place(
        ctx.program_dir, positionals.size() < 2 ? ctx.current_dir : positionals[1]);
    const InputFacts facts = silence_facts(ctx.settings, seconds);
    const Plan planned = plan(ctx.settings, facts); // the space check's, and the job's
    if (const SilenceSpace space = silence_space(planned, seconds, place.dir); !space.fits()) {
        show_error_box<ErrorBox::SilenceTooLong>(
            std::to_string(seconds),
            space.needed ? size_text(static_cast<long double>(*space.needed)) : "more than 8 EiB",
            escaped(place.dir), space.known ? size_text(space.free_bytes) : "an unknown amount");
        return kExitFailure;
    }
    const auto mp3_path =
        output_path(positionals, ctx.current_dir, format_text("%lld_sec.mp3", seconds));
    if (!mp3_path) return kExitFailure;

    Job job;
    job.requested = ctx.settings;
    job.silence_seconds = seconds;
    job.silence_plan = planned;
    job.silence_place = place;
    job.mp3_path = *mp3_path;
    job.program_dir = ctx.program_dir;
    job.lips = ctx.flags.lips;
    job.lips_language = ctx.lips_language;
    job.cancel = &platform::stop_flag();
    // The start lines show the settings as the silence asks for them: the default bit rate
    // doubled for two channels.
    Context shown = ctx;
    shown.settings.bit_rate = requested_bit_rate(ctx.settings, facts);
    ConsoleOut out;
    RunSink sink(out, ctx.settings.show_bar, [&] {
        platform::remove_stale_temporaries(directory_of(*mp3_path)); // left by killed runs
        print_start(shown, *mp3_path, seconds);
    });
    return finish(Run::Silence, convert(job, sink), {{}, *mp3_path}, ctx, facts);
}

int run_single_file(Context& ctx, const std::vector<std::string>& positionals) {
    const std::string wav_path = input_wav_path(ctx, positionals[0]);
    InputWav input;
    const bool opened = input.open(wav_path);
    const JobFiles files{wav_path, {}};
    if (const auto refusal = size_refusal(opened ? std::optional(input.size()) : std::nullopt))
        return finish(Run::SingleFile, refused(*refusal), files, ctx, audio_facts(input));
    const std::string name = file_part(wav_path).value_or(wav_path);
    const std::string stem = strip_extension(name).value_or(name);
    const auto mp3_path = output_path(positionals, directory_of(wav_path), stem + ".mp3");
    if (!mp3_path) return kExitFailure;
    const JobFiles named{wav_path, *mp3_path};
    if (*mp3_path == wav_path || same_file(*mp3_path, wav_path))
        return finish(Run::SingleFile, refused(Outcome::OutputIsInput), named, ctx,
                      audio_facts(input));

    Job job;
    job.requested = ctx.settings;
    job.input = &input;
    job.wav_path = wav_path;
    job.mp3_path = *mp3_path;
    job.program_dir = ctx.program_dir;
    job.lips = ctx.flags.lips;
    job.lips_language = ctx.lips_language;
    job.delete_wav = ctx.flags.delete_wav;
    job.cancel = &platform::stop_flag();
    ConsoleOut out;
    RunSink sink(out, ctx.settings.show_bar, [&] {
        platform::remove_stale_temporaries(directory_of(*mp3_path)); // left by killed runs
        print_start(ctx, *mp3_path, 0);
    });
    return finish(Run::SingleFile, convert(job, sink), named, ctx, audio_facts(input));
}

} // namespace tarvik
