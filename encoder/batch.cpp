#include "encoder/batch.hpp"

#include "common/files.hpp"
#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/command_line.hpp"
#include "encoder/encoding.hpp"
#include "encoder/input_file.hpp"
#include "encoder/lipsync_call.hpp"
#include "encoder/modes.hpp"
#include "encoder/output_dir.hpp"
#include "encoder/wav_inspect.hpp"
#include "platform/console.hpp"
#include "platform/dir_search.hpp"
#include "platform/signals.hpp"
#include "platform/temporaries.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace tarvik {

namespace {

const std::atomic<bool>& interrupted = platform::stop_flag();

std::string report_header() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return format_text(
        "; this file was generated on %02d/%02d/%02d @ %02d:%02d:%02d by tarvik 1.1b\n"
        "\n"
        "; here is the list of failed conversions\n"
        "\n"
        "; possible reasons are:\t- file could not be opened\n"
        ";\t\t\t- file size < 10kb\n"
        ";\t\t\t- file size is NULL\n"
        ";\t\t\t- file could not be scanned (for specs determination)\n"
        ";\t\t\t- file could not be encoded\n"
        "\n"
        "; if a VLP file failed to be created for a WAV file whereas it was successfully\n"
        "; encoded in MP3, its name will be prefixed by \"VLP:\"; in this case, make\n"
        "; sure the lipsync tool stands in the same directory as tarvik. Otherwise,\n"
        "; it would simply mean that Lipsync failed to process this particular WAV file\n"
        "\n",
        local.tm_mon + 1, local.tm_mday, local.tm_year % 100, local.tm_hour, local.tm_min,
        local.tm_sec);
}

std::string summary_text(size_t mp3_count, size_t vlp_count, size_t total, bool lips,
                         std::optional<size_t> deleted, const std::string& report_path,
                         bool report_failed, double elapsed) {
    std::string text = "\n---- Final stats ----\n";
    const int mp3s = static_cast<int>(mp3_count), vlps = static_cast<int>(vlp_count),
              all = static_cast<int>(total);
    if (mp3_count == 0)
        text += "| No file was encoded\n";
    else if (mp3_count == 1)
        text += format_text("| %d/%d MP3 file encoded\n", mp3s, all);
    else
        text += format_text("| %d/%d MP3 files encoded\n", mp3s, all);
    if (lips)
        text += vlp_count == 1 ? format_text("| %d/%d VLP file generated\n", vlps, all)
                               : format_text("| %d/%d VLP files generated\n", vlps, all);
    if (deleted)
        text += format_text(*deleted == 1 ? "| %d/%d WAV file deleted\n"
                                          : "| %d/%d WAV files deleted\n",
                            static_cast<int>(*deleted), all);
    if (report_failed)
        text += format_text(
            "\nThe list of the file(s) that didn't pass the process could not be written "
            "to:\n\n%s\n",
            escaped(report_path).c_str());
    else if (file_exists(report_path))
        text +=
            format_text("\nConsult the following file to get aware of the file(s) that didn't pass "
                        "the process:\n\n%s\n",
                        escaped(report_path).c_str());
    text += format_text("\nElapsed time: %s\n", format_duration(elapsed).c_str());
    return text;
}

// A name as a case-insensitive file system compares it: NFC, then full Unicode case
// folding (Ärger and ärger, café in NFC and in NFD, ÉTÉ and été are one name). A name that
// is not UTF-8 is folded in ASCII only.
std::string folded_name(std::string_view name) {
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t n = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
        static_cast<utf8proc_ssize_t>(name.size()), &folded,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
    if (n < 0) return to_lower_ascii(name);
    std::string text(reinterpret_cast<const char*>(folded), static_cast<size_t>(n));
    std::free(folded);
    return text;
}

} // namespace

std::optional<std::vector<std::string>> list_wav_files(const std::string& dir, size_t max_files) {
    const auto entries = platform::find_entries(join_path(dir, "*.wav"), max_files + 1);
    if (entries.empty()) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& e : entries)
        names.push_back(e.name);
    std::sort(names.begin(), names.end()); // byte order: runs are reproducible
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const auto& n : names)
        paths.push_back(join_path(dir, n));
    return paths;
}

bool ProducedFiles::place(const std::string& temp, const std::string& destination,
                          const std::string& wav, std::string* clash_with) {
    std::lock_guard lock(mutex_);
    if (const auto there = identity_of(destination)) {
        const auto made = made_.find({there->device, there->inode});
        if (made != made_.end()) {
            *clash_with = made->second;
            errno = 0;
            return false;
        }
    }
    if (std::rename(temp.c_str(), destination.c_str()) != 0) return false;
    if (const auto placed = identity_of(destination)) made_[{placed->device, placed->inode}] = wav;
    return true;
}

bool log_failure(const std::string& report_path, const std::string& line) {
    const bool existed = ::access(report_path.c_str(), F_OK) == 0;
    std::FILE* f = std::fopen(report_path.c_str(), existed ? "ab" : "wb");
    if (!f) return false;
    std::string text = existed ? std::string() : report_header();
    text += escaped(line);
    text += '\n';
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    // Closed after every line: a killed batch leaves an accurate report.
    const bool ok = std::fclose(f) == 0 && written;
    // A report that could not even take its header is not left behind empty.
    if (!ok && !existed) ::unlink(report_path.c_str());
    return ok;
}

BatchFileOutcome convert_batch_file(const BatchFileParams& p, const std::string& wav_path, size_t n,
                                    size_t total, ConsoleOut& out,
                                    const std::string& clashes_with) {
    BatchFileOutcome outcome;
    RunSettings settings = p.settings;
    BE_CONFIG config = build_config(settings);
    out.print("\n------------------------------\n| Proceeding with file "
              "%d/%d\n------------------------------\n",
              static_cast<int>(n), static_cast<int>(total));
    const std::string shown = escaped(wav_path);
    auto skip = [&](const char* fmt) {
        out.print(fmt, shown.c_str());
        outcome.report_line = wav_path;
        return outcome;
    };
    auto clash = [&](const std::string& first, const std::string& output) {
        out.print("WARNING! \"%s\" and \"%s\" would both become \"%s\"\nSkipping it...\n",
                  escaped(first).c_str(), shown.c_str(), escaped(output).c_str());
        outcome.report_line = wav_path;
        return outcome;
    };

    const auto size = readable_file_size(wav_path);
    if (!size) return skip("WARNING! Cannot open \"%s\"\nSkipping it...\n");
    if (*size == 0) return skip("WARNING! Null file size detected for \"%s\"\nSkipping it...\n");
    if (*size < 10000) return skip("WARNING! \"%s\" is below 10kb in size\nSkipping it...\n");
    out.print("Input file = \"%s\"\n", shown.c_str());

    const std::string name = file_part(wav_path).value_or(wav_path);
    const std::string mp3_path =
        join_path(p.output_dir, strip_extension(name).value_or(name) + ".mp3");
    out.print("Output file = \"%s\"\n", escaped(mp3_path).c_str());
    // Another WAV of the list already makes this MP3 (names equal once folded).
    if (!clashes_with.empty()) return clash(clashes_with, mp3_path);

    // What -rem may delete later: this very file, as it is before it is read.
    const auto identity = identity_of(wav_path);
    const WavCheck check = inspect_wav_content(wav_path);
    switch (check.content) {
    case WavContent::Audio:
        break;
    case WavContent::Empty:
        return skip(
            "WARNING! No audio in \"%s\" (its header says it holds none)\nSkipping it...\n");
    case WavContent::Truncated:
        return skip("WARNING! \"%s\" holds less audio than its header says (still being "
                    "written?)\nSkipping it...\n");
    case WavContent::Unreadable:
        return skip("WARNING! Cannot open \"%s\"\nSkipping it...\n");
    }
    if (!probe_wav(wav_path, config, settings, true))
        return skip("WARNING! Cannot open \"%s\"\nSkipping it...\n");
    if (!get_wav_specs(wav_path, config, settings))
        return skip("WARNING! Cannot retrieve WAV specs for \"%s\"\nSkipping it...\n");
    out.write(length_warning(check, wav_path));
    // The MP3 and the VLP go into place through the batch's record of what it made.
    std::string clash_with;
    AtomicFile::Place place;
    if (p.produced)
        place = [&](const std::string& temp, const std::string& destination) {
            return p.produced->place(temp, destination, wav_path, &clash_with);
        };
    EncodeOptions options = encode_options_for(settings);
    options.progress = !p.collected;
    options.cancel = p.cancel;
    options.place = place;
    const EncodeResult encoded = encode_mp3(config, wav_path, mp3_path, options, out);
    if (!encoded.ok) {
        if (p.cancel && p.cancel->load()) {
            outcome.cancelled = true; // abandoned, not failed: nothing to report
            return outcome;
        }
        if (!clash_with.empty()) return clash(clash_with, mp3_path);
        out.print("WARNING! Cannot encode \"%s\": %s\nSkipping it...\n", shown.c_str(),
                  encoded.reason.c_str());
        outcome.report_line = wav_path;
        return outcome;
    }
    outcome.mp3_done = true;
    if (p.lips) {
        const VlpRequest request{p.program_dir,           wav_path,    mp3_path, false,
                                 audio_seconds(wav_path), p.collected, p.cancel, place};
        const VlpResult vlp = generate_vlp(request, out);
        outcome.vlp_done = vlp.ok;
        if (!vlp.ok && p.cancel && p.cancel->load()) {
            // Stopped by the interruption, not a fault of the file: keep its WAV for the next run.
            outcome.cancelled = true;
            return outcome;
        }
        if (!clash_with.empty()) return clash(clash_with, vlp_path_for(mp3_path));
        if (!vlp.ok) {
            out.print("WARNING! Cannot generate VLP for \"%s\"\nSkipping it...\n",
                      escaped(mp3_path).c_str());
            outcome.report_line = "VLP: " + wav_path;
            return outcome; // the WAV stays, so that its lip-sync can be made again
        }
    }
    if (p.delete_wav) {
        const std::string kept =
            same_file(wav_path, mp3_path)
                ? "it is the output itself"
                : delete_encoded_input(wav_path, check, identity, encoded.read);
        if (kept.empty()) {
            out.print("Input file deleted: \"%s\"\n", shown.c_str());
            outcome.deleted = true;
        } else {
            out.print("WARNING! \"%s\" was not deleted (%s)\n", shown.c_str(), kept.c_str());
            outcome.delete_failed = true;
            outcome.report_line = "REM: " + wav_path;
        }
    }
    return outcome;
}

std::vector<std::string> find_name_clashes(const std::vector<std::string>& wav_paths) {
    std::vector<std::string> clashes(wav_paths.size());
    std::unordered_map<std::string, size_t> first_of;
    for (size_t i = 0; i < wav_paths.size(); ++i) {
        const std::string name = file_part(wav_paths[i]).value_or(wav_paths[i]);
        const auto [it, inserted] =
            first_of.emplace(folded_name(strip_extension(name).value_or(name)), i);
        if (!inserted) clashes[i] = wav_paths[it->second];
    }
    return clashes;
}

namespace {

// The failure report as the batch writes it: its path, and whether a line failed to reach it.
struct Report {
    std::string path;
    bool failed = false;

    void add(const std::string& line) {
        if (log_failure(path, line) || failed) return;
        failed = true;
        std::printf("WARNING! Cannot write the failure report \"%s\"\n", escaped(path).c_str());
    }
};

struct BatchTotals {
    size_t mp3_count = 0;
    size_t vlp_count = 0;
    size_t finished = 0; // files whose outcome is known
    size_t deleted = 0;
    bool delete_failed = false;
    bool cancelled = false;
};

void account(BatchTotals& totals, const BatchFileOutcome& o, Report& report) {
    if (o.report_line) report.add(*o.report_line);
    totals.mp3_count += o.mp3_done;
    totals.vlp_count += o.vlp_done;
    totals.deleted += o.deleted;
    totals.delete_failed = totals.delete_failed || o.delete_failed;
    totals.cancelled = totals.cancelled || o.cancelled;
    if (!o.cancelled) ++totals.finished;
}

BatchTotals run_one_at_a_time(const BatchFileParams& params, const std::vector<std::string>& files,
                              const std::vector<std::string>& clashes, Report& report) {
    BatchTotals totals;
    ConsoleOut out;
    for (size_t i = 0; i < files.size() && !totals.cancelled; ++i) {
        const BatchFileOutcome o =
            convert_batch_file(params, files[i], i + 1, files.size(), out, clashes[i]);
        out.flush();
        account(totals, o, report);
        totals.cancelled = totals.cancelled || interrupted.load();
    }
    return totals;
}

// Several files at once: workers take the next file of the list, each with its own encoder
// stream and output buffer; this thread prints the finished blocks in list order, writes the
// report in that order and shows one overall progress line on a terminal. After an
// interruption every file a worker took is still accounted for, finished or abandoned.
BatchTotals run_in_parallel(const BatchFileParams& one_at_a_time,
                            const std::vector<std::string>& files,
                            const std::vector<std::string>& clashes, Report& report, int jobs,
                            std::time_t start) {
    BatchFileParams params = one_at_a_time;
    params.collected = true;
    struct Slot {
        std::string text;
        BatchFileOutcome outcome;
        bool ready = false;
    };
    std::vector<Slot> slots(files.size());
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<size_t> next{0};

    auto worker = [&] {
        for (;;) {
            if (interrupted.load()) return;
            const size_t i = next.fetch_add(1);
            if (i >= files.size()) return;
            std::string text;
            ConsoleOut out(&text);
            BatchFileOutcome o =
                convert_batch_file(params, files[i], i + 1, files.size(), out, clashes[i]);
            {
                std::lock_guard lock(mutex);
                slots[i].text = std::move(text);
                slots[i].outcome = std::move(o);
                slots[i].ready = true;
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> workers;
    const size_t count = std::min(files.size(), static_cast<size_t>(jobs));
    for (size_t w = 0; w < count; ++w) {
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // the process or memory limits allow no more threads
        }
    }
    if (workers.size() < count)
        std::printf("WARNING! Only %d of %d workers could be started\n",
                    static_cast<int>(workers.size()), static_cast<int>(count));
    if (workers.empty()) return run_one_at_a_time(one_at_a_time, files, clashes, report);

    const bool show_progress = platform::stdout_is_terminal();
    BatchTotals totals;
    size_t printed = 0;
    auto progress_line = [&] {
        if (!show_progress) return;
        const size_t pct = files.empty() ? 100 : printed * 100 / files.size();
        std::printf("Progress: %d/%d files (%d%%) - Elapsed time: %s\r", static_cast<int>(printed),
                    static_cast<int>(files.size()), static_cast<int>(pct),
                    format_duration(static_cast<double>(std::time(nullptr) - start)).c_str());
        std::fflush(stdout);
    };
    auto clear_progress = [&] {
        if (show_progress) std::printf("\r%*s\r", 72, "");
    };
    // Prints and accounts for the finished blocks in list order; returns at the first block
    // that is not ready, or at the end of the list.
    auto print_ready = [&](std::unique_lock<std::mutex>& lock) {
        while (printed < files.size() && slots[printed].ready) {
            Slot slot = std::move(slots[printed]);
            lock.unlock();
            if (!slot.outcome.cancelled) {
                clear_progress();
                std::fwrite(slot.text.data(), 1, slot.text.size(), stdout);
                std::fflush(stdout);
            }
            account(totals, slot.outcome, report);
            ++printed;
            lock.lock();
        }
    };
    std::unique_lock lock(mutex);
    while (printed < files.size() && !interrupted.load()) {
        print_ready(lock);
        if (printed >= files.size()) break;
        lock.unlock();
        progress_line();
        lock.lock();
        ready.wait_for(lock, std::chrono::milliseconds(250));
    }
    lock.unlock();
    // Interrupted: the workers abandon what they hold and stop; then every file they took
    // (a prefix of the list) is ready.
    for (auto& w : workers)
        w.join();
    lock.lock();
    print_ready(lock);
    lock.unlock();
    clear_progress();
    if (interrupted.load()) totals.cancelled = true;
    return totals;
}

} // namespace

int run_batch(Context& ctx, const std::string& input_dir, const std::string& output_dir,
              const std::optional<std::vector<std::string>>& files) {
    std::printf("\n[---> starting process <---]\n");
    std::printf("Reading directory \"%s\"... ", escaped(input_dir).c_str());
    if (!files) {
        std::printf("Failed (no WAV file detected)\n");
        return kExitFailure;
    }
    if (files->size() > kMaxBatchFiles) {
        std::printf("\n");
        show_error(
            kUnit, 1853,
            format_text(
                "Too many WAV files detected in \"%s\"!\nI can only handle up to 16384 files.",
                escaped(input_dir).c_str()));
        return kExitFailure;
    }
    std::printf("OK (%d WAV files detected)\n", static_cast<int>(files->size()));
    std::printf("Output directory = \"%s\"\n", escaped(output_dir).c_str());
    Report report{join_path(output_dir, kReportName)};
    ::unlink(report.path.c_str());
    platform::remove_stale_temporaries(output_dir); // left by killed runs

    BatchFileParams params;
    params.settings = ctx.settings;
    params.output_dir = output_dir;
    params.program_dir = ctx.program_dir;
    params.lips = ctx.flags.lips;
    params.delete_wav = ctx.flags.delete_wav;
    params.cancel = &interrupted;
    ProducedFiles produced;
    params.produced = &produced;
    const std::vector<std::string> clashes = find_name_clashes(*files);

    const std::time_t start = std::time(nullptr);
    const int jobs = std::max(1, ctx.settings.jobs);
    const BatchTotals totals = jobs == 1
                                   ? run_one_at_a_time(params, *files, clashes, report)
                                   : run_in_parallel(params, *files, clashes, report, jobs, start);
    const std::time_t end = std::time(nullptr);
    if (totals.cancelled) {
        std::printf("\nInterrupted: %d of %d files done, %d MP3 files encoded.\n",
                    static_cast<int>(totals.finished), static_cast<int>(files->size()),
                    static_cast<int>(totals.mp3_count));
        if (report.failed)
            std::printf("The failure report could not be written: \"%s\"\n",
                        escaped(report.path).c_str());
        return platform::stop_exit_status();
    }
    show_info(summary_text(totals.mp3_count, totals.vlp_count, files->size(), params.lips,
                           params.delete_wav ? std::optional(totals.deleted) : std::nullopt,
                           report.path, report.failed, static_cast<double>(end - start)));
    const bool all_done = totals.mp3_count == files->size() && !totals.delete_failed &&
                          (!params.lips || totals.vlp_count == files->size());
    return all_done ? kExitSuccess : kExitPartial;
}

int run_batch_command(Context& ctx, const std::vector<std::string>& positionals) {
    std::string input_dir = positionals[0];
    if (input_dir.size() > 1 && input_dir.back() == '/') input_dir.pop_back();
    std::printf("Input directory = \"%s\"\n", escaped(input_dir).c_str());
    print_defaults(ctx);

    // The WAVs are listed before the output directory is made: a batch that is refused
    // touches nothing, and creates no output directory.
    if (positionals.size() > 1 && !output_dir_acceptable(positionals[1], 621)) return kExitFailure;
    const auto files = list_wav_files(input_dir);
    const bool runs = files && files->size() <= kMaxBatchFiles;
    std::string output_dir = input_dir;
    if (positionals.size() > 1) {
        // Any output directory, relative ones included, is used and created as given.
        output_dir = positionals[1];
        if (runs && !prepare_output_dir(output_dir, 621)) return kExitFailure;
    }
    return run_batch(ctx, input_dir, output_dir, files);
}

} // namespace tarvik
