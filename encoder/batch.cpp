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
#include "encoder/lipsync_call.hpp"
#include "encoder/modes.hpp"
#include "encoder/outcome_view.hpp"
#include "encoder/output_dir.hpp"
#include "encoder/results.hpp"
#include "encoder/update_record.hpp"
#include "platform/console.hpp"
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

std::string summary_text(size_t mp3_count, size_t vlp_count, size_t skipped, size_t total,
                         bool lips, std::optional<size_t> deleted, const std::string& report_path,
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
    if (skipped > 0)
        text += format_text(skipped == 1 ? "| %d/%d WAV file up to date\n"
                                         : "| %d/%d WAV files up to date\n",
                            static_cast<int>(skipped), all);
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

namespace {

// A line's files as its record names them.
LineFiles line_files(const BatchFileParams& p, const BatchFile& f) {
    LineFiles line;
    line.wav = f.wav;
    line.mp3 = f.mp3;
    if (p.lips) {
        line.text = line_text_for(f.wav);
        line.vlp = vlp_path_for(f.mp3);
    }
    return line;
}

// Records a line whose outputs are all in place, with what they were made from. A line whose
// WAV or text changed while it was made is not recorded: the next run makes it again. False
// only when the record could not be written.
bool record_line(const BatchFileParams& p, const BatchFile& f, const LineFiles& line,
                 const ConvertResult& result, const std::optional<FileFacts>& text_before) {
    if (!result.mp3_made || (p.lips && !result.vlp_made) || !result.input_hash) return true;
    LineRecord record;
    record.wav_hash = *result.input_hash;
    record.settings = p.settings_key;
    record.version = kVersion;
    if (!line.text.empty()) {
        const auto text_after = file_facts(line.text);
        if (!text_before || !text_after || text_after->hash != text_before->hash) return true;
        record.text_hash = text_after->hash;
    }
    // The VLP was renamed into place after the MP3's folder was synced.
    if (p.lips) platform::sync_directory(directory_of(line.vlp));
    const auto mp3 = file_facts(line.mp3);
    if (!mp3) return true;
    record.mp3 = *mp3;
    if (p.lips) {
        record.vlp = file_facts(line.vlp);
        if (!record.vlp) return true;
    }
    return p.record->store(f.key, record);
}

} // namespace

BatchFileOutcome convert_batch_file(const BatchFileParams& p, const BatchFile& f, size_t n,
                                    size_t total, ConsoleOut& out) {
    out.print("\n------------------------------\n| Proceeding with file "
              "%d/%d\n------------------------------\n",
              static_cast<int>(n), static_cast<int>(total));
    BatchFileOutcome outcome;
    const LineFiles line = p.record ? line_files(p, f) : LineFiles{};
    if (p.record && f.clashes_with.empty() &&
        line_up_to_date(p.record->find(f.key), line, p.settings_key)) {
        out.print("Skipping \"%s\": up to date\n", escaped(f.shown).c_str());
        outcome.skipped = true;
        record_file(up_to_date_result(JobFiles{f.shown, f.mp3}, p.lips));
        return outcome;
    }
    const std::optional<FileFacts> text_before =
        p.record && !line.text.empty() ? file_facts(line.text) : std::nullopt;
    const JobFiles files{f.shown, f.mp3};
    InputWav input;
    const bool opened = input.open(f.wav);
    ConvertResult result;
    if (const auto refusal = size_refusal(opened ? std::optional(input.size()) : std::nullopt)) {
        result.outcome = *refusal;
    } else {
        out.print("Input file = \"%s\"\n", escaped(f.shown).c_str());
        out.print("Output file = \"%s\"\n", escaped(f.mp3).c_str());
        Job job;
        job.requested = p.settings;
        job.input = &input;
        job.wav_path = f.wav;
        if (f.shown != f.wav) job.shown_wav = f.shown;
        job.mp3_path = f.mp3;
        job.program_dir = p.program_dir;
        job.lips = p.lips;
        job.lips_language = p.lips_language;
        job.delete_wav = p.delete_wav;
        job.cancel = p.cancel;
        job.produced = p.produced;
        job.clashes_with = f.clashes_with;
        ConsoleSink sink(out, p.settings.show_bar);
        result = convert(job, sink);
    }
    const bool recorded = !p.record || record_line(p, f, line, result, text_before);
    outcome.mp3_done = result.mp3_made;
    outcome.vlp_done = result.vlp_made;
    outcome.cancelled = result.outcome == Outcome::Cancelled; // abandoned: nothing to report
    outcome.deleted = result.outcome == Outcome::Deleted;
    outcome.delete_failed = result.outcome == Outcome::NotDeleted;
    outcome.report_line = show_batch_outcome(result, files, out);
    record_result(result, files, p.lips, audio_facts(input));
    outcome.loudness = std::move(result.loudness);
    if (!recorded)
        out.print("WARNING! \"%s\" could not be recorded as done: the next -update run makes it "
                  "again\n",
                  escaped(f.shown).c_str());
    return outcome;
}

std::vector<size_t> find_name_clashes(const WavList& list) {
    std::vector<size_t> clashes(list.size(), kNoClash);
    std::unordered_map<std::string, size_t> first_of; // of one folder
    const std::string* folder = nullptr;
    for (size_t i = 0; i < list.size(); ++i) {
        if (&list.folder(i) != folder) {
            first_of.clear();
            folder = &list.folder(i);
        }
        const std::string name(list.name(i));
        const auto [it, inserted] =
            first_of.emplace(folded_name(strip_extension(name).value_or(name)), i);
        if (!inserted) clashes[i] = it->second;
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

// The files of a run, each named when its turn comes: the list keeps each folder once.
struct BatchFiles {
    const WavList& list;
    std::vector<size_t> clashes;
    std::string input_dir;
    std::string output_dir;
    bool tree = false;

    size_t size() const { return list.size(); }
    // The output folder of a folder of the list.
    std::string output_folder(const std::string& folder) const {
        return folder.empty() ? output_dir : join_path(output_dir, folder);
    }
    std::string shown(size_t i) const {
        return tree ? list.relative(i) : join_path(input_dir, list.relative(i));
    }
    BatchFile operator[](size_t i) const {
        BatchFile f;
        f.key = list.relative(i);
        f.wav = join_path(input_dir, f.key);
        f.shown = tree ? f.key : f.wav;
        const std::string name(list.name(i));
        f.mp3 =
            join_path(output_folder(list.folder(i)), strip_extension(name).value_or(name) + ".mp3");
        if (clashes[i] != kNoClash) f.clashes_with = shown(clashes[i]);
        return f;
    }
};

struct BatchTotals {
    size_t mp3_count = 0;
    size_t vlp_count = 0;
    size_t skipped = 0;
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
    totals.skipped += o.skipped;
    totals.deleted += o.deleted;
    totals.delete_failed = totals.delete_failed || o.delete_failed;
    totals.cancelled = totals.cancelled || o.cancelled;
    if (!o.cancelled) ++totals.finished;
    if (o.loudness) totals.loudness.push_back(*o.loudness);
}

BatchTotals run_one_at_a_time(const BatchFileParams& params, const BatchFiles& files,
                              Report& report) {
    BatchTotals totals;
    ConsoleOut out;
    for (size_t i = 0; i < files.size() && !totals.cancelled; ++i) {
        const BatchFileOutcome o = convert_batch_file(params, files[i], i + 1, files.size(), out);
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
BatchTotals run_in_parallel(const BatchFileParams& params, const BatchFiles& files, Report& report,
                            int jobs, std::time_t start) {
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
            BatchFileOutcome o = convert_batch_file(params, files[i], i + 1, files.size(), out);
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
    if (workers.empty()) return run_one_at_a_time(params, files, report);

    const bool show_progress = platform::stdout_is_terminal();
    BatchTotals totals;
    size_t printed = 0;
    auto progress_line = [&] {
        if (!show_progress) return;
        const size_t pct = files.size() == 0 ? 100 : printed * 100 / files.size();
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

// What the run prints when its record of finished lines cannot be used: the run ends.
constexpr const char* kRecordBusy =
    "\nCannot use \"%s\": another run of tarvik is using it. Try again once it has ended.\n";
constexpr const char* kRecordFailed = "\nCannot use \"%s\": %s\n";
// ... and when it was set aside and made anew: the run goes on.
constexpr const char* kRecordRebuilt = "WARNING! \"%s\" was damaged or not a record of tarvik: "
                                       "it is set aside as \"%s\" and every line is made again\n";

// Opens the record of finished lines and says what became of it; null when the run must end.
std::unique_ptr<UpdateRecord> open_record(const std::string& dir) {
    UpdateRecord::Opened opened = UpdateRecord::open(dir);
    const std::string path = escaped(opened.path);
    switch (opened.state) {
    case UpdateRecord::State::Ready:
        break;
    case UpdateRecord::State::Rebuilt:
        std::printf(kRecordRebuilt, path.c_str(), escaped(opened.aside).c_str());
        break;
    case UpdateRecord::State::Busy:
        std::printf(kRecordBusy, path.c_str());
        break;
    case UpdateRecord::State::Failed:
        std::printf(kRecordFailed, path.c_str(), opened.reason.c_str());
        break;
    }
    return std::move(opened.record);
}

} // namespace

int run_batch(Context& ctx, const BatchSource& source, const std::string& output_dir) {
    const auto& files = source.files;
    std::printf("\n[---> starting process <---]\n");
    std::printf("Reading directory \"%s\"... ", escaped(source.input_dir).c_str());
    if (!files) {
        std::printf("Failed (no WAV file detected)\n");
        return kExitFailure;
    }
    if (!source.tree && files->size() > kMaxBatchFiles) {
        std::printf("\n");
        show_error_box<ErrorBox::TooManyBatchFiles>(escaped(source.input_dir),
                                                    std::to_string(kMaxBatchFiles));
        return kExitFailure;
    }
    if (source.tree)
        std::printf("OK (%d WAV files detected in %d folders)\n", static_cast<int>(files->size()),
                    static_cast<int>(files->folder_count()));
    else
        std::printf("OK (%d WAV files detected)\n", static_cast<int>(files->size()));
    for (const std::string& folder : source.unreadable)
        std::printf("WARNING! Cannot read the folder \"%s\": its WAV files are left out\n",
                    escaped(folder).c_str());
    record_batch_files(files->size());
    std::printf("Output directory = \"%s\"\n", escaped(output_dir).c_str());
    // Taken before anything in the folder is touched: a run that finds another one at work
    // there leaves its report and its temporaries alone.
    std::unique_ptr<UpdateRecord> record;
    if (ctx.flags.update && !(record = open_record(output_dir))) return kExitFailure;
    Report report{join_path(output_dir, kReportName)};
    platform::remove_file(report.path);

    BatchFiles batch{*files, find_name_clashes(*files), source.input_dir, output_dir, source.tree};
    // Each output folder of a tree is made before the run (the top one is made already), and
    // what killed runs left in it removed.
    for (const std::string& folder :
         source.tree ? files->folders() : std::vector<std::string>{""}) {
        std::string dir = batch.output_folder(folder);
        if (!folder.empty() && output_dir != source.input_dir) make_dir_path(dir, true);
        platform::remove_stale_temporaries(dir);
    }

    BatchFileParams params;
    params.settings = ctx.settings;
    params.program_dir = ctx.program_dir;
    params.lips = ctx.flags.lips;
    params.lips_language = ctx.lips_language;
    params.delete_wav = ctx.flags.delete_wav;
    params.cancel = &interrupted;
    ProducedFiles produced;
    params.produced = &produced;
    params.record = record.get();
    params.settings_key = output_settings_key(ctx.settings, ctx.flags.lips, ctx.lips_language);

    const std::time_t start = std::time(nullptr);
    const int jobs = std::max(1, ctx.settings.jobs);
    const BatchTotals totals = jobs == 1 ? run_one_at_a_time(params, batch, report)
                                         : run_in_parallel(params, batch, report, jobs, start);
    const std::time_t end = std::time(nullptr);
    const size_t total = files->size();
    if (totals.cancelled) {
        std::printf("\nInterrupted: %d of %d files done, %d MP3 files encoded.\n",
                    static_cast<int>(totals.finished), static_cast<int>(total),
                    static_cast<int>(totals.mp3_count));
        if (report.failed)
            std::printf("The failure report could not be written: \"%s\"\n",
                        escaped(report.path).c_str());
        return platform::stop_exit_status();
    }
    show_info(summary_text(totals.mp3_count, totals.vlp_count, totals.skipped, total, params.lips,
                           params.delete_wav ? std::optional(totals.deleted) : std::nullopt,
                           report.path, report.failed, static_cast<double>(end - start)) +
              loudness_summary(totals.loudness, ctx.settings.loudness));
    const bool all_done = totals.mp3_count + totals.skipped == total && !totals.delete_failed &&
                          (!params.lips || totals.vlp_count + totals.skipped == total) &&
                          source.unreadable.empty();
    return all_done ? kExitSuccess : kExitPartial;
}

int run_batch_command(Context& ctx, const std::vector<std::string>& positionals) {
    BatchSource source;
    source.input_dir = positionals[0];
    std::string& input_dir = source.input_dir;
    if (input_dir.size() > 1 && input_dir.back() == '/') input_dir.pop_back();
    std::printf("Input directory = \"%s\"\n", escaped(input_dir).c_str());
    print_defaults(ctx);

    // The WAVs are listed before the output directory is made: a batch that is refused
    // touches nothing, and creates no output directory.
    if (positionals.size() > 1 &&
        !show_output_dir(Run::Batch, {output_dir_acceptable(positionals[1])}, positionals[1]))
        return kExitFailure;
    source.tree = ctx.flags.recurse;
    if (source.tree) {
        if (auto tree = list_wav_tree(input_dir)) {
            source.files = std::move(tree->list);
            source.unreadable = std::move(tree->unreadable);
        }
    } else {
        source.files = list_wav_folder(input_dir, kMaxBatchFiles);
    }
    const bool runs = source.files && (source.tree || source.files->size() <= kMaxBatchFiles);
    std::string output_dir = input_dir;
    if (positionals.size() > 1) {
        // Any output directory, relative ones included, is used and created as given.
        output_dir = positionals[1];
        if (runs && !show_output_dir(Run::Batch, prepare_output_dir(output_dir), output_dir))
            return kExitFailure;
    }
    return run_batch(ctx, source, output_dir);
}

} // namespace tarvik
