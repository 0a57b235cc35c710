// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/batch.hpp"

#include "common/files.hpp"
#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/command_line.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/input_file.hpp"
#include "encoder/modes.hpp"
#include "encoder/outcome_view.hpp"
#include "encoder/output_dir.hpp"
#include "encoder/results.hpp"
#include "platform/console.hpp"
#include "platform/dir_search.hpp"
#include "platform/files.hpp"
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
#include <unordered_map>

namespace tarvik {

namespace {

const std::atomic<bool>& interrupted = platform::stop_flag();

std::string report_header() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return format_text(
        "; this file was generated on %02d/%02d/%02d @ %02d:%02d:%02d by tarvik " TARVIK_VERSION
        "\n"
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
    text += format_text("\nElapsed time: %s\n", format_clock(elapsed).c_str());
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

bool log_failure(const std::string& report_path, const std::string& line) {
    // Appended a line at a time, so a killed batch leaves an accurate report; a line that
    // cannot be written whole (a full disk) is not written at all, and a report that could
    // not even take its header is not left behind.
    const bool existed = platform::exists(report_path);
    std::string text = existed ? std::string() : report_header();
    text += escaped(line);
    text += '\n';
    return platform::append_whole(report_path, text) == 0;
}

BatchFileOutcome convert_batch_file(const BatchFileParams& p, const std::string& wav_path, size_t n,
                                    size_t total, ConsoleOut& out,
                                    const std::string& clashes_with) {
    out.print("\n------------------------------\n| Proceeding with file "
              "%d/%d\n------------------------------\n",
              static_cast<int>(n), static_cast<int>(total));
    const std::string name = file_part(wav_path).value_or(wav_path);
    const JobFiles files{wav_path,
                         join_path(p.output_dir, strip_extension(name).value_or(name) + ".mp3")};
    InputWav input;
    const bool opened = input.open(wav_path);
    ConvertResult result;
    if (const auto refusal = size_refusal(opened ? std::optional(input.size()) : std::nullopt)) {
        result.outcome = *refusal;
    } else {
        out.print("Input file = \"%s\"\n", escaped(wav_path).c_str());
        out.print("Output file = \"%s\"\n", escaped(files.mp3).c_str());
        Job job;
        job.requested = p.settings;
        job.input = &input;
        job.wav_path = wav_path;
        job.mp3_path = files.mp3;
        job.program_dir = p.program_dir;
        job.lips = p.lips;
        job.delete_wav = p.delete_wav;
        job.cancel = p.cancel;
        job.produced = p.produced;
        job.clashes_with = clashes_with;
        ConsoleSink sink(out, p.settings.show_bar);
        result = convert(job, sink);
    }
    BatchFileOutcome outcome;
    outcome.mp3_done = result.mp3_made;
    outcome.vlp_done = result.vlp_made;
    outcome.cancelled = result.outcome == Outcome::Cancelled; // abandoned: nothing to report
    outcome.deleted = result.outcome == Outcome::Deleted;
    outcome.delete_failed = result.outcome == Outcome::NotDeleted;
    outcome.report_line = show_batch_outcome(result, files, out);
    record_result(result, files, p.settings, p.lips, audio_facts(input));
    outcome.loudness = std::move(result.loudness);
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
    std::vector<LineLoudness> loudness; // in list order
};

void account(BatchTotals& totals, const BatchFileOutcome& o, Report& report) {
    if (o.report_line) report.add(*o.report_line);
    totals.mp3_count += o.mp3_done;
    totals.vlp_count += o.vlp_done;
    totals.deleted += o.deleted;
    totals.delete_failed = totals.delete_failed || o.delete_failed;
    totals.cancelled = totals.cancelled || o.cancelled;
    if (!o.cancelled) ++totals.finished;
    if (o.loudness) totals.loudness.push_back(*o.loudness);
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
BatchTotals run_in_parallel(const BatchFileParams& params, const std::vector<std::string>& files,
                            const std::vector<std::string>& clashes, Report& report, int jobs,
                            std::time_t start) {
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
    if (workers.empty()) return run_one_at_a_time(params, files, clashes, report);

    const bool show_progress = platform::stdout_is_terminal();
    BatchTotals totals;
    size_t printed = 0;
    auto progress_line = [&] {
        if (!show_progress) return;
        const size_t pct = files.empty() ? 100 : printed * 100 / files.size();
        std::printf("Progress: %d/%d files (%d%%) - Elapsed time: %s\r", static_cast<int>(printed),
                    static_cast<int>(files.size()), static_cast<int>(pct),
                    format_clock(static_cast<double>(std::time(nullptr) - start)).c_str());
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
        show_error_box<ErrorBox::TooManyBatchFiles>(escaped(input_dir),
                                                    std::to_string(kMaxBatchFiles));
        return kExitFailure;
    }
    std::printf("OK (%d WAV files detected)\n", static_cast<int>(files->size()));
    record_batch_files(files->size());
    std::printf("Output directory = \"%s\"\n", escaped(output_dir).c_str());
    Report report{join_path(output_dir, kReportName)};
    platform::remove_file(report.path);
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
                           report.path, report.failed, static_cast<double>(end - start)) +
              loudness_summary(totals.loudness, ctx.settings.loudness));
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
    if (positionals.size() > 1 &&
        !show_output_dir(Run::Batch, {output_dir_acceptable(positionals[1])}, positionals[1]))
        return kExitFailure;
    const auto files = list_wav_files(input_dir);
    const bool runs = files && files->size() <= kMaxBatchFiles;
    std::string output_dir = input_dir;
    if (positionals.size() > 1) {
        // Any output directory, relative ones included, is used and created as given.
        output_dir = positionals[1];
        if (runs && !show_output_dir(Run::Batch, prepare_output_dir(output_dir), output_dir))
            return kExitFailure;
    }
    return run_batch(ctx, input_dir, output_dir, files);
}

} // namespace tarvik
