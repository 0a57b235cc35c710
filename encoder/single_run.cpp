// The single-shot runs: an MP3 of N seconds of silence, or one WAV file to MP3.
#include "encoder/command_line.hpp"
#include "encoder/encoding.hpp"
#include "encoder/input_file.hpp"
#include "encoder/lipsync_call.hpp"
#include "encoder/modes.hpp"
#include "encoder/output_dir.hpp"
#include "encoder/wav_inspect.hpp"

#include "common/files.hpp"
#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/signals.hpp"
#include "platform/system.hpp"
#include "platform/temporaries.hpp"

#include <cstdio>
#include <unistd.h>

namespace tarvik {

namespace {

std::string vlp_failure(const std::string& mp3_path, const VlpResult& vlp) {
    return format_text("Cannot generate a VLP file for \"%s\"\n%s", escaped(mp3_path).c_str(),
                       vlp.reason.c_str());
}

std::string encode_failure(const std::string& path, const EncodeResult& result) {
    return format_text("There was a problem for encoding \"%s\" (%s)", escaped(path).c_str(),
                       result.reason.c_str());
}

// The output directory step shared by both runs: the quote check, the directories made,
// and the MP3's full path. nullopt when the run must end.
std::optional<std::string> output_path(const std::vector<std::string>& positionals,
                                       const std::string& default_dir, const std::string& name) {
    if (positionals.size() < 2) return join_path(default_dir, name);
    std::string dir = positionals[1];
    if (!prepare_output_dir(dir, 693)) return std::nullopt;
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
    make_parent_dir(mp3_path);
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
    if (access(replaced.c_str(), F_OK) == 0) return replaced;
    const std::string appended = resolve_name_case(dir + typed + ".wav");
    return access(appended.c_str(), F_OK) == 0 ? appended : replaced;
}

// Encode options for a run that a stop signal ends cleanly.
EncodeOptions stoppable_options(const RunSettings& s) {
    EncodeOptions options = encode_options_for(s);
    options.cancel = &platform::stop_flag();
    return options;
}

} // namespace

int run_silence(Context& ctx, const std::vector<std::string>& positionals) {
    const long long parsed = parse_leading_int(positionals[0]);
    if (parsed <= 0) {
        show_error(kUnit, 590, "Silence time is null!");
        return kExitFailure;
    }
    const long long seconds = parsed;
    RunSettings& s = ctx.settings;
    BE_CONFIG config = build_config(s);
    probe_wav({}, config, s, false);
    adjust_config(config, s);
    // The temporary WAV goes beside the program, or to the temporary directory when the
    // program's directory is not writable (an installed program). A silence it cannot hold is
    // refused before anything is written.
    const std::string temp_dir = platform::directory_writable(ctx.program_dir)
                                     ? ctx.program_dir
                                     : platform::temp_directory();
    if (!silence_fits(config, seconds, temp_dir)) return kExitFailure;
    const auto mp3_path =
        output_path(positionals, ctx.current_dir, format_text("%lld_sec.mp3", seconds));
    if (!mp3_path) return kExitFailure;
    platform::remove_stale_temporaries(directory_of(*mp3_path)); // left by killed runs
    print_start(ctx, *mp3_path, seconds);

    ConsoleOut out;
    const auto wav_path = generate_wave(config, seconds, temp_dir, out, &platform::stop_flag());
    if (!wav_path) return platform::stop_requested() ? platform::stop_exit_status() : kExitFailure;

    int status = kExitSuccess;
    if (const EncodeResult encoded =
            encode_mp3(config, *wav_path, *mp3_path, stoppable_options(s), out);
        !encoded.ok) {
        if (platform::stop_requested()) {
            status = platform::stop_exit_status();
        } else {
            show_error(kUnit, 788, encode_failure(*mp3_path, encoded));
            status = kExitFailure;
        }
    } else if (ctx.flags.lips) {
        const VlpRequest request{
            ctx.program_dir,        *wav_path, *mp3_path, true, static_cast<double>(seconds), false,
            &platform::stop_flag(), {}};
        if (const VlpResult vlp = generate_vlp(request, out); !vlp.ok) {
            if (platform::stop_requested()) {
                status = platform::stop_exit_status();
            } else {
                show_error(kUnit, 761, vlp_failure(*mp3_path, vlp));
                status = kExitPartial;
            }
        }
    }
    ::unlink(wav_path->c_str());
    return status;
}

int run_single_file(Context& ctx, const std::vector<std::string>& positionals) {
    const std::string wav_path = input_wav_path(ctx, positionals[0]);
    const auto size = readable_file_size(wav_path);
    if (!size) {
        show_error(kUnit, 661,
                   format_text("main() failed on fopen(). Cannot open \"%s\".",
                               escaped(wav_path).c_str()));
        return kExitFailure;
    }
    if (*size == 0) {
        show_error(kUnit, 675, "Input file size is null!");
        return kExitFailure;
    }
    if (*size < 10000) {
        show_error(
            kUnit, 680,
            "Input file size < 10kb. Increase its sampling frequency if you can, so its size "
            "will increase as well.");
        return kExitFailure;
    }
    const std::string name = file_part(wav_path).value_or(wav_path);
    const std::string stem = strip_extension(name).value_or(name);
    const auto mp3_path = output_path(positionals, directory_of(wav_path), stem + ".mp3");
    if (!mp3_path) return kExitFailure;
    if (*mp3_path == wav_path || same_file(*mp3_path, wav_path)) {
        show_error(
            kUnit, 693,
            format_text("The output file \"%s\" is the input file itself!\nRename the input file "
                        "or choose another output directory.",
                        escaped(*mp3_path).c_str()));
        return kExitFailure;
    }
    // What -rem may delete later: this very file, as it is before it is read.
    const auto identity = identity_of(wav_path);
    const WavCheck check = inspect_wav_content(wav_path);
    if (check.content == WavContent::Empty) {
        show_error(kUnit, 675,
                   format_text("No audio in \"%s\": its header says it holds none.",
                               escaped(wav_path).c_str()));
        return kExitFailure;
    } else if (check.content == WavContent::Truncated) {
        show_error(
            kUnit, 675,
            format_text("\"%s\" holds less audio than its header says (still being written?)",
                        escaped(wav_path).c_str()));
        return kExitFailure;
    }
    platform::remove_stale_temporaries(directory_of(*mp3_path)); // left by killed runs
    print_start(ctx, *mp3_path, 0);
    std::fputs(length_warning(check, wav_path).c_str(), stdout);

    RunSettings& s = ctx.settings;
    BE_CONFIG config = build_config(s);
    if (!probe_wav(wav_path, config, s, true))
        show_error(kUnit, 747, format_text("Cannot open \"%s\"", escaped(wav_path).c_str()));
    adjust_config(config, s);
    if (!get_wav_specs(wav_path, config, s)) {
        show_error(kUnit, 790,
                   format_text("There was a problem for retrieving some specs about \"%s\"",
                               escaped(wav_path).c_str()));
        return kExitFailure;
    }
    ConsoleOut out;
    const EncodeResult encoded = encode_mp3(config, wav_path, *mp3_path, stoppable_options(s), out);
    if (!encoded.ok) {
        if (platform::stop_requested()) return platform::stop_exit_status();
        show_error(kUnit, 788, encode_failure(wav_path, encoded));
        return kExitFailure;
    }
    int status = kExitSuccess;
    if (ctx.flags.lips) {
        const VlpRequest request{
            ctx.program_dir,        wav_path, *mp3_path, false, audio_seconds(wav_path), false,
            &platform::stop_flag(), {}};
        if (const VlpResult vlp = generate_vlp(request, out); !vlp.ok) {
            if (platform::stop_requested()) return platform::stop_exit_status();
            show_error(kUnit, 777, vlp_failure(*mp3_path, vlp));
            // The WAV stays, so that its lip-sync can be made again.
            return kExitPartial;
        }
    }
    if (ctx.flags.delete_wav) {
        // Only the file that was encoded, unchanged, and never the MP3 itself.
        const std::string kept =
            same_file(wav_path, *mp3_path)
                ? "it is the output itself"
                : delete_encoded_input(wav_path, check, identity, encoded.read);
        if (!kept.empty()) {
            show_error(
                kUnit, 784,
                format_text("Cannot delete \"%s\" (%s)", escaped(wav_path).c_str(), kept.c_str()));
            status = kExitPartial;
        } else {
            std::printf("Input file deleted: \"%s\"\n", escaped(wav_path).c_str());
        }
    }
    return status;
}

} // namespace tarvik
