// Faults that must never cost a recording or report failure as success: full disks, signals,
// lip-sync tools that crash, hang or lie, WAVs changed while converted, no threads.
#include "platform/process.hpp"
#include "tests/support/test_support.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

// n WAVs (the first `long_seconds` long if set), alternately 22050 Hz mono and 44100 Hz stereo.
void make_voices(const std::string& dir, int n, double seconds, double long_seconds = 0) {
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        const WavSpec tone{i % 2 ? 44100 : 22050, i % 2 ? 2 : 1,
                           i == 0 && long_seconds > 0 ? long_seconds : seconds, 0, 200.0 + 20 * i};
        char name[32];
        std::snprintf(name, sizeof name, "/v%02d.wav", i);
        ASSERT_TRUE(write_wav(dir + name, tone));
    }
}

// Every MP3 under its final name is complete and (when `deleted`) its WAV gone (-rem); every
// other WAV is still there; no hidden temporary file is left.
void expect_nothing_lost(const std::string& in, const std::string& out, int n,
                         bool deleted = true) {
    for (int i = 0; i < n; ++i) {
        char stem[16];
        std::snprintf(stem, sizeof stem, "v%02d", i);
        const std::string mp3 = out + "/" + stem + ".mp3", wav = in + "/" + stem + ".wav";
        if (exists(mp3)) {
            AudioInfo info;
            EXPECT_FALSE(decode(mp3, &info).empty()) << mp3;
            if (deleted) EXPECT_FALSE(exists(wav)) << wav;
        } else {
            EXPECT_TRUE(exists(wav)) << wav << " was lost";
        }
    }
    EXPECT_EQ(hidden_names(out), std::vector<std::string>{}) << "temporary files left";
}

int count_mp3s(const std::string& dir) {
    int n = 0;
    if (fs::exists(dir))
        for (const auto& name : list_dir(dir))
            n += name.size() > 4 && name.substr(name.size() - 4) == ".mp3";
    return n;
}

} // namespace

TEST(Faults, FullDisk) {
    TempDir t;
    fs::create_directories(t / "small");
    const RunResult m = run("/bin/mount", {"-t", "tmpfs", "-o", "size=160k", "tmpfs", t / "small"});
    if (m.exit_status != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << m.err;
    make_voices(t / "in", 8, 3.0); // about 48 KB of MP3 per stereo file: the disk fills up
    const RunResult r =
        run(bin("tarvik"), {"-batch", "-rem", "-jobs", "2", t / "in", t / "small/out"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "WARNING! Cannot encode"));
    expect_nothing_lost(t / "in", t / "small/out", 8);
    run("/bin/umount", {t / "small"});
}

// Killed outright, nothing under an MP3's name is partial; interrupted by a signal that can
// be handled, the totals printed, the files on disk and the WAVs left agree, whatever the
// number of jobs, and no temporary file survives.
TEST(Faults, BatchKilledOrInterrupted) {
    for (const auto& [sig, jobs] : std::vector<std::pair<int, std::string>>{
             {SIGKILL, "1"}, {SIGINT, "2"}, {SIGHUP, "2"}, {SIGTERM, "1"}, {SIGPIPE, "3"}}) {
        SCOPED_TRACE(std::string(strsignal(sig)) + ", -jobs " + jobs);
        TempDir t;
        const int n = 24;
        make_voices(t / "in", n, 1.5, 40.0); // the first file outlasts the others
        const int pid = start_program(
            bin("tarvik"), {"-batch", "-rem", "-jobs", jobs, t / "in", t / "out"}, t / "log");
        ASSERT_GT(pid, 0);
        wait_until([&] { return count_mp3s(t / "out") >= 4; }, 60);
        kill(pid, sig);
        const int status = wait_program(pid);
        if (sig == SIGKILL) {
            ASSERT_TRUE(WIFSIGNALED(status));
            for (const auto& name : list_dir(t / "out")) // a killed run may leave its hidden file
                if (name[0] == '.') fs::remove(t / ("out/" + name));
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
            const std::string log = read_file(t / "log");
            const size_t at = log.find("Interrupted: ");
            ASSERT_NE(at, std::string::npos) << log;
            EXPECT_NE(
                log.find(", " + std::to_string(count_mp3s(t / "out")) + " MP3 files encoded.", at),
                std::string::npos)
                << log.substr(at) << " vs " << count_mp3s(t / "out") << " on disk";
            EXPECT_EQ(count_occurrences(log, "Input file deleted"), count_mp3s(t / "out"));
        }
        expect_nothing_lost(t / "in", t / "out", n, sig != SIGKILL); // killed before -rem
        EXPECT_LT(count_mp3s(t / "out"), n) << "interrupted halfway, not at the end";
    }
}

// -wav and silence runs stopped by a signal leave no temporary MP3 or WAV, stop the lip-sync
// tool with SIGTERM (so it can clean up) and exit with 128 + the signal.
TEST(Faults, SingleRunsStoppedBySignals) {
    TempDir t;
    // The tool removes its own scratch file on SIGTERM, as lipsync does.
    const std::string program =
        make_program_dir(t / "prog", "#!/bin/sh\ntrap 'rm -f \"$0.scratch\"; exit 143' TERM\n: > "
                                     "\"$0.scratch\"\nsleep 60 & wait\n");
    ASSERT_TRUE(write_wav(t / "long.wav", WavSpec{44100, 2, 120.0}));
    ASSERT_TRUE(write_wav(t / "short.wav", WavSpec{22050, 1, 1.0}));
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::function<bool()> under_way;
    };
    const std::vector<Case> cases = {
        {"-wav",
         {"-wav", t / "long.wav", t / "out"},
         [&] { return !hidden_names(t / "out").empty(); }},
        {"silence", {"2000", t / "out"}, [&] { return list_dir(t / "prog").size() > 3; }},
        {"-wav -lips",
         {"-wav", "-lips", t / "short.wav", t / "out"},
         [&] { return exists(t / "prog/lipsync.scratch"); }},
    };
    for (const auto& c : cases)
        for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
            SCOPED_TRACE(c.name + " " + strsignal(sig));
            fs::remove_all(t / "out");
            const int pid = start_program(program, c.args);
            ASSERT_TRUE(wait_until(c.under_way, 30));
            kill(pid, sig);
            const int status = wait_program(pid);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
            EXPECT_EQ(hidden_names(t / "out"), std::vector<std::string>{});
            EXPECT_EQ(list_dir(t / "prog"),
                      (std::vector<std::string>{"lame_enc.so", "lipsync", "tarvik"}));
        }
}

// A killed tarvik takes its lip-sync tool with it; the next run in the same output folder
// removes the temporaries of dead runs but not those of a live run nor other hidden files.
TEST(Faults, KilledRunTakesItsToolAndItsTemporariesGoNextRun) {
    TempDir t;
    const std::string program = make_program_dir( // says its pid, writes its output 2 s later
        t / "prog", "#!/bin/sh\necho $$ > \"$0.pid\"\nsleep 2\n"
                    "while [ \"$1\" != -o ]; do shift; done\necho vlp > \"$2\"\n");
    ASSERT_TRUE(write_wav(t / "in.wav", WavSpec{22050, 1, 0.5}));
    ::prctl(PR_SET_CHILD_SUBREAPER, 1); // an orphaned tool becomes ours, to be waited for
    const auto start_with_tool = [&](const std::string& out) {
        fs::remove(t / "prog/lipsync.pid");
        const int pid = start_program(program, {"-wav", "-lips", t / "in.wav", out});
        EXPECT_TRUE(wait_until([&] { return file_size(t / "prog/lipsync.pid") > 0; }, 30));
        return pid;
    };
    const int killed = start_with_tool(t / "out");
    kill(killed, SIGKILL);
    wait_program(killed);
    const int tool = std::stoi(read_file(t / "prog/lipsync.pid"));
    EXPECT_TRUE(wait_until([&] { return waitpid(tool, nullptr, WNOHANG) == tool; }, 1));
    usleep(2'500'000); // past the moment the tool would have written its output
    const auto left = hidden_names(t / "out");
    ASSERT_EQ(left.size(), 1u); // the VLP's temporary, which the tool did not fill
    EXPECT_EQ(file_size(t / "out/" + left[0]), 0);

    const int live = start_with_tool(t / "out2");
    const std::string live_temp = ".tarvik-" + std::to_string(live) + "-abcdef";
    for (const std::string& name :
         {live_temp, std::string(".tarvik-notes"), ".lipsync-" + std::to_string(tool) + "-Ab12Cd"})
        ASSERT_TRUE(write_file(t / "out/" + name, ""));
    EXPECT_EQ(run(program, {"-wav", t / "in.wav", t / "out"}).exit_status, 0);
    EXPECT_EQ(hidden_names(t / "out"), (std::vector<std::string>{live_temp, ".tarvik-notes"}));
    wait_program(live);
}

TEST(Faults, LipsyncToolCrashesHangsOrChatters) {
    struct Case {
        std::string name, script, jobs, said;
    };
    const std::string hung = "The lip-sync tool did not finish within 1 s and was stopped.\n";
    const std::vector<Case> cases = {
        {"crash", "#!/bin/sh\nkill -SEGV $$\n", "1",
         "The lip-sync tool failed (ended by signal 11).\n"},
        {"hang", "#!/bin/sh\nsleep 600\n", "1", hung},
        {"hang with a child holding the output", "#!/bin/sh\nsleep 600 &\nsleep 600\n", "2", hung},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        const std::string program = make_program_dir(t / "prog", c.script);
        make_voices(t / "in", 3, 1.0);
        RunOptions o;
        o.env["TARVIK_LIPSYNC_TIME_LIMIT"] = "1";
        o.timeout_seconds = 60;
        const RunResult r =
            run(program, {"-batch", "-lips", "-rem", "-jobs", c.jobs, t / "in", t / "out"}, o);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "| 3/3 MP3 files encoded\n| 0/3 VLP files generated\n"));
        EXPECT_EQ(count_occurrences(read_file(t / "out/failed conversions.txt"), "VLP: "), 3);
        EXPECT_EQ(list_dir(t / "in").size(), 3u); // kept: their lip-sync can be made again
        EXPECT_EQ(count_occurrences(r.out, c.said), 3) << r.out;
        if (c.jobs == "2") continue;
        // -wav: the box names the cause, not the tool's place.
        const RunResult w = run(program, {"-wav", "-lips", t / "in/v00.wav", t / "out"}, o);
        EXPECT_TRUE(contains(w.err, "Cannot generate a VLP file for \"" + t.path() +
                                        "/out/v00.mp3\"\n" + c.said));
    }
    // A tool that prints without end: only a bounded tail of it is kept.
    std::string captured;
    const auto r = tarvik::platform::run_and_wait(
        "/bin/sh", {"-c", "yes chatter | head -c 50000000"}, 60, &captured);
    EXPECT_TRUE(r.exited);
    EXPECT_LE(captured.size(), tarvik::platform::kCapturedTail + 16);
    EXPECT_TRUE(contains(captured, "chatter\n"));
}

// -rem deletes only the very file that was encoded: a take replaced while its lip-sync ran
// stays. A parent that ignores SIGCHLD does not turn the tool's failure into success.
TEST(Faults, RemoveKeepsReplacedTakesAndToolStatusesCount) {
    TempDir t;
    fs::create_directories(t / "real");
    fs::copy_file(bin("lipsync"), t / "real/lipsync");
    const std::string header = "#!/bin/sh\nfor a; do sound=$a; done\n";
    const std::string replacing = make_program_dir(
        t / "replacing", header +
                             "cp \"$sound\" \"$sound.new\" && mv \"$sound.new\" \"$sound\"\nexec " +
                             t.path() + "/real/lipsync \"$@\"\n");
    const std::string failing =
        make_program_dir(t / "failing", header + t.path() + "/real/lipsync \"$@\"\nexit 3\n");
    // A take rewritten in place at the same size, its time put back (as on a file system
    // whose times are too coarse to show it): only its bytes tell.
    const std::string rewriting = make_program_dir(
        t / "rewriting", header +
                             "cp -p \"$sound\" \"$sound.was\"\n"
                             "printf 'retake' | dd of=\"$sound\" bs=1 seek=5000 conv=notrunc\n"
                             "touch -r \"$sound.was\" \"$sound\" && rm \"$sound.was\"\nexec " +
                             t.path() + "/real/lipsync \"$@\"\n");
    fs::create_directories(t / "in");
    ASSERT_TRUE(write_wav(t / "in/take.wav", WavSpec{22050, 1, 1.0}));

    const RunResult w = run(replacing, {"-wav", "-lips", "-rem", t / "in/take.wav", t / "out"});
    EXPECT_EQ(w.exit_status, 1);
    EXPECT_TRUE(contains(w.err, "Cannot delete \"" + t.path() + "/in/take.wav\""));
    const RunResult b = run(replacing, {"-batch", "-lips", "-rem", t / "in", t / "out"});
    EXPECT_EQ(b.exit_status, 1);
    EXPECT_TRUE(contains(b.out, "WARNING! \"" + t.path() + "/in/take.wav\" was not deleted"));
    EXPECT_TRUE(exists(t / "in/take.wav"));
    const RunResult same = run(rewriting, {"-wav", "-lips", "-rem", t / "in/take.wav", t / "out"});
    EXPECT_EQ(same.exit_status, 1);
    EXPECT_TRUE(contains(same.err, "(it changed since it was encoded)"));
    EXPECT_TRUE(exists(t / "in/take.wav"));

    const RunResult f = run("/bin/bash", {"-c", "trap '' CHLD; exec \"$0\" \"$@\"", failing, "-wav",
                                          "-lips", "-rem", t / "in/take.wav", t / "out2"});
    EXPECT_EQ(f.exit_status, 1) << f.out << f.err;
    EXPECT_FALSE(exists(t / "out2/take.vlp"));
    EXPECT_TRUE(exists(t / "in/take.wav"));
}

// An output path that names the input file is refused before anything is written.
TEST(Faults, OutputThatIsTheInputIsRefused) {
    TempDir t;
    ASSERT_TRUE(write_wav(t / "take.wav.mp3", WavSpec{22050, 1, 1.0}));
    const std::string before = read_file(t / "take.wav.mp3");
    const RunResult r = run(bin("tarvik"), {"-wav", "-rem", t / "take.wav.mp3"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_TRUE(contains(r.err, "The output file \"" + t.path() +
                                    "/take.wav.mp3\" is the input file itself!"));
    EXPECT_EQ(read_file(t / "take.wav.mp3"), before);
    EXPECT_EQ(list_dir(t.path()), std::vector<std::string>{"take.wav.mp3"});
}

// A process that may start no thread converts one file at a time instead of aborting.
TEST(Faults, NoWorkerThreads) {
    TempDir t;
    make_voices(t / "in", 3, 0.5);
    RunOptions o;
    o.env["LD_PRELOAD"] = NO_THREADS_LIBRARY;
    o.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    const RunResult r = run(bin("tarvik"), {"-batch", "-jobs", "4", t / "in", t / "out"}, o);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "WARNING! Only 0 of 3 workers could be started\n"));
    EXPECT_EQ(count_mp3s(t / "out"), 3);
}

// A recording still being written behind the placeholder sizes ffmpeg puts in its header:
// encoded as far as it has got, never deleted while the recorder goes on.
TEST(Faults, RecordingStillBeingWrittenIsKept) {
    TempDir t;
    const std::string wav = t / "take.wav";
    const std::string block(8820, '\x20');
    ASSERT_TRUE(write_file(wav, riff_wav(1, 1, 22050, 16, block + block, 0xFFFFFFFF)));
    std::atomic<bool> done{false};
    std::thread recorder([&] { // in bursts, as a recorder's buffer fills
        for (int i = 0; i < 100 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            std::FILE* f = std::fopen(wav.c_str(), "ab");
            if (!f) continue;
            std::fwrite(block.data(), 1, block.size(), f);
            std::fclose(f);
        }
    });
    const RunResult r = run(bin("tarvik"), {"-wav", "-rem", wav, t / "out"});
    done = true;
    recorder.join();
    EXPECT_EQ(r.exit_status, 1) << r.out << r.err;
    EXPECT_TRUE(exists(wav));
    EXPECT_TRUE(contains(r.out, "does not state its length (still being recorded?)"));
    EXPECT_TRUE(
        contains(r.err, "Cannot delete \"" + wav + "\" (its header does not state its length"));
    EXPECT_TRUE(exists(t / "out/take.mp3"));
}

// A file that cannot be written (too large for the size limit, or its name taken by a
// folder) fails alone, with its cause; the batch goes on.
TEST(Faults, FilesThatCannotBeWrittenFailAlone) {
    TempDir t;
    fs::create_directories(t / "in");
    fs::create_directories(t / "out/b.mp3");
    ASSERT_TRUE(write_wav(t / "in/a.wav", WavSpec{44100, 1, 8.0}));
    ASSERT_TRUE(write_wav(t / "in/b.wav", WavSpec{22050, 1, 0.5}));
    ASSERT_TRUE(write_wav(t / "in/c.wav", WavSpec{22050, 1, 0.5}));
    const RunResult r =
        run("/usr/bin/prlimit", {"--fsize=40000", bin("tarvik"), "-batch", t / "in", t / "out"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "\nWARNING! Cannot encode \"" + t.path() +
                                    "/in/a.wav\": cannot write \"" + t.path() +
                                    "/out/a.mp3\": file too large\n"));
    EXPECT_TRUE(contains(r.out, "WARNING! Cannot encode \"" + t.path() +
                                    "/in/b.wav\": cannot rename \"" + t.path() + "/out/.tarvik-"));
    EXPECT_TRUE(contains(r.out, "/out/b.mp3\": Is a directory\n"));
    EXPECT_TRUE(contains(r.out, "| 1/3 MP3 file encoded"));
    EXPECT_TRUE(exists(t / "out/c.mp3"));
    EXPECT_EQ(count_occurrences(read_file(t / "out/failed conversions.txt"), t.path() + "/in/"), 2);
    EXPECT_EQ(hidden_names(t / "out"), std::vector<std::string>{});
}
