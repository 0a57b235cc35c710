// SPDX-License-Identifier: GPL-3.0-or-later
// Faults that must never cost a recording or report failure as success: full disks, signals,
// lip-sync tools that crash, hang or lie, WAVs changed while converted, outputs that are the
// input, no threads, long audio.
#include "tests/support/test_support.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

std::string stem(int i) {
    return "v" + std::to_string(10 + i);
}

// n WAVs v10.wav, v11.wav... (the first `long_seconds` long if set), alternately 22050 Hz
// mono and 44100 Hz stereo.
void make_voices(const std::string& dir, int n, double seconds, double long_seconds = 0) {
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(
            write_wav(dir + "/" + stem(i) + ".wav",
                      {i % 2 ? 44100 : 22050, i % 2 ? 2 : 1,
                       i == 0 && long_seconds > 0 ? long_seconds : seconds, 0, 200.0 + 20 * i}));
}

// Every MP3 under its final name decodes and (when `deleted`) its WAV is gone (-rem); every
// other WAV is still there; no hidden temporary file is left.
void expect_nothing_lost(const std::string& in, const std::string& out, int n,
                         bool deleted = true) {
    for (int i = 0; i < n; ++i) {
        const std::string mp3 = out + "/" + stem(i) + ".mp3", wav = in + "/" + stem(i) + ".wav";
        if (exists(mp3)) {
            EXPECT_FALSE(decode(mp3).empty()) << mp3;
            if (deleted) EXPECT_FALSE(exists(wav)) << wav;
        } else {
            EXPECT_TRUE(exists(wav)) << wav << " was lost";
        }
    }
    EXPECT_EQ(hidden_names(out), std::vector<std::string>{}) << "temporary files left";
}

int count_mp3s(const std::string& dir) {
    return int(std::ranges::count_if(list_dir(dir), [](auto& n) { return n.ends_with(".mp3"); }));
}

} // namespace

// A disk that fills up: MP3s that do not fit fail alone and their WAVs stay (-rem); a report
// line that does not fit is not left cut, and the console and the summary say the report
// could not be written; a silence that would not fit is not begun.
TEST(Faults, FullDisk) {
    TempDir t;
    std::string why_not;
    const auto small = mount_tmpfs(t / "small", "size=160k", why_not);
    if (!small) GTEST_SKIP() << why_not;
    make_voices(t / "in", 8, 3.0); // about 48 KB of MP3 per stereo file: the disk fills up
    const RunResult r =
        run(bin("tarvik"), {"-batch", "-rem", "-jobs", "2", t / "in", t / "small/out"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "WARNING! Cannot encode"));
    expect_nothing_lost(t / "in", t / "small/out", 8);

    // Only the report takes space: 60 failing files of 150-byte names fill two 4 KiB pages
    // after its 15-line header, so that one line meets the end of the disk halfway.
    const auto full = mount_tmpfs(t / "full", "size=8k", why_not);
    ASSERT_TRUE(full) << why_not;
    fs::create_directories(t / "bad");
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(write_file(
            t / ("bad/" + std::to_string(100 + i) + std::string(150, 'x') + ".wav"), ""));
    const RunResult f = run(bin("tarvik"), {"-batch", t / "bad", t / "full"});
    EXPECT_EQ(f.exit_status, 1);
    const std::string report = t / "full/failed conversions.txt";
    EXPECT_TRUE(contains(f.out, "WARNING! Cannot write the failure report \"" + report + "\"\n"));
    EXPECT_TRUE(contains(f.out, "could not be written to:\n\n" + report + "\n"));
    EXPECT_FALSE(contains(f.out, "Consult the following file"));
    const std::string text = read_file(report);
    EXPECT_TRUE(text.ends_with(".wav\n")) << "a cut line: ..." << text.substr(text.size() - 40);
    const auto lines = lines_of(text);
    for (size_t i = 15; i < lines.size(); ++i)
        EXPECT_TRUE(exists(lines[i])) << "line " << i << ": " << lines[i];

    // A silence whose temporary WAV (2 bytes a frame in mono, 4 in stereo, beside the
    // program) would not fit is refused before anything is written; one that fits is made.
    // The program and its library (large in a sanitizer build) and 4 MiB for the silence.
    const auto room = fs::file_size(bin("tarvik")) + fs::file_size(bin("lame_enc.so")) + (4 << 20);
    const auto disk = mount_tmpfs(t / "prog", "size=" + std::to_string(room), why_not);
    ASSERT_TRUE(disk) << why_not;
    const std::string program = make_program_dir(t / "prog", "");
    const std::string seconds = std::to_string(fs::space(t / "prog").available / (44100 * 3));
    EXPECT_EQ(run(program, {seconds, t / "mono"}).exit_status, 0);
    const RunResult s = run(program, {"-mode", "stereo", seconds, t / "stereo"});
    EXPECT_EQ(s.exit_status, 255);
    EXPECT_TRUE(contains(s.err, "Cannot make " + seconds + " seconds of silence"));
    EXPECT_FALSE(exists(t / "stereo"));
    EXPECT_EQ(list_dir(t / "prog"), (std::vector<std::string>{"lame_enc.so", "tarvik"}));
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
            for (const auto& name : hidden_names(t / "out")) // a killed run may leave its own
                fs::remove(t / ("out/" + name));
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
            const std::string log = read_file(t / "log");
            const int on_disk = count_mp3s(t / "out");
            EXPECT_TRUE(contains(log, ", " + std::to_string(on_disk) + " MP3 files encoded."));
            EXPECT_EQ(count_occurrences(log, "Input file deleted"), on_disk);
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
    const std::vector<std::tuple<std::vector<std::string>, std::function<bool()>>> cases = {
        {{"-wav", t / "long.wav", t / "out"}, [&] { return !hidden_names(t / "out").empty(); }},
        {{"2000", t / "out"}, [&] { return list_dir(t / "prog").size() > 3; }},
        {{"-wav", "-lips", t / "short.wav", t / "out"},
         [&] { return exists(t / "prog/lipsync.scratch"); }},
    };
    for (const auto& [args, under_way] : cases)
        for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
            SCOPED_TRACE(args[1] + " " + strsignal(sig));
            fs::remove_all(t / "out");
            const int pid = start_program(program, args);
            ASSERT_TRUE(wait_until(under_way, 30));
            kill(pid, sig);
            const int status = wait_program(pid);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
            EXPECT_EQ(hidden_names(t / "out"), std::vector<std::string>{});
            EXPECT_EQ(list_dir(t / "prog"),
                      (std::vector<std::string>{"lame_enc.so", "lipsync", "tarvik"}));
        }
}

// An installed program (in another user's folder: a system folder) writes nothing beside
// itself: a silence's WAV is hidden in the output folder, gone once the run ends or stops.
TEST(Faults, SilenceWritesNothingBesideAnInstalledProgram) {
    TempDir t;
    const std::string program = make_program_dir(t / "prog", "");
    if (::chown((t / "prog").c_str(), 65534, 65534) != 0) GTEST_SKIP() << "chown needs root";
    const RunResult r = run(program, {"-mode", "stereo", "3", t / "out"});
    EXPECT_TRUE(contains(r.out, "Temporary WAV file = \"" + t.path() + "/out/.tarvik-")) << r.err;
    const auto pcm = decode(t / "out/3_sec.mp3"); // three seconds of stereo digital silence
    EXPECT_TRUE(pcm.size() >= 6 * 44100 && pcm == decltype(pcm)(pcm.size()));
    const int pid = start_program(program, {"2000", t / "stopped"});
    ASSERT_TRUE(wait_until([&] { return !hidden_names(t / "stopped").empty(); }, 30));
    EXPECT_TRUE(kill(pid, SIGTERM) == 0 && wait_program(pid) == 143 << 8);
    EXPECT_EQ(hidden_names(t / "out").size() + list_dir(t / "stopped").size(), 0u);
    EXPECT_EQ(list_dir(t / "prog"), (std::vector<std::string>{"lame_enc.so", "tarvik"}));
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

// A tool that crashes, hangs (even deaf to SIGTERM, or with a child holding its output) or
// prints without end: stopped after its time limit, SIGTERM first and SIGKILL when that is
// not enough; only the last 64 KiB of what it printed are shown; no VLP counts; the WAVs stay.
TEST(Faults, LipsyncToolCrashesHangsOrChatters) {
    const std::string hung = "The lip-sync tool did not finish within 1 s and was stopped.\n";
    const std::vector<std::array<std::string, 4>> cases = {
        // name, script, -jobs, cause
        {"crash", "kill -SEGV $$\n", "1", "The lip-sync tool failed (ended by signal 11).\n"},
        {"hang", "sleep 600\n", "1", hung},
        {"hang, a child holding the output", "sleep 600 &\nsleep 600\n", "2", hung},
        {"hang, deaf to SIGTERM", "trap '' TERM\nsleep 600\n", "3", hung},
        {"hang, cleans up on SIGTERM",
         "trap 'echo > \"$0.term\"; exit 143' TERM\nsleep 600 & wait\n", "3", hung},
        {"chatter", "yes chatter | head -c 100000000\necho last words\nexit 1\n", "2",
         "The lip-sync tool failed (exit status 1).\n"},
        {"some chatter", "seq 25000\nexit 1\n", "2", "The lip-sync tool failed (exit status 1).\n"},
    };
    for (const auto& [name, script, jobs, said] : cases) {
        SCOPED_TRACE(name);
        TempDir t;
        const std::string program = make_program_dir(t / "prog", "#!/bin/sh\n" + script);
        make_voices(t / "in", 3, 1.0);
        const RunOptions o{.env = {{"TARVIK_LIPSYNC_TIME_LIMIT", "1"}}, .timeout_seconds = 60};
        const RunResult r = run(
            "/usr/bin/time",
            {"-f", "%M", program, "-batch", "-lips", "-rem", "-jobs", jobs, t / "in", t / "out"},
            o);
        EXPECT_EQ(r.exit_status, 1) << r.out.substr(0, 4000); // -1: timed out
        EXPECT_TRUE(contains(r.out, "| 3/3 MP3 files encoded\n| 0/3 VLP files generated\n"));
        EXPECT_EQ(count_occurrences(read_file(t / "out/failed conversions.txt"), "VLP: "), 3);
        EXPECT_EQ(list_dir(t / "in").size(), 3u); // kept: their lip-sync can be made again
        EXPECT_EQ(count_occurrences(r.out, said), 3);
        if (name.ends_with("SIGTERM")) EXPECT_EQ(exists(t / "prog/lipsync.term"), name[6] == 'c');
        if (name == "chatter") { // each block holds the tail of 100 MB, its last line included
            EXPECT_EQ(count_occurrences(r.out, "[...]\n"), 3);
            EXPECT_EQ(count_occurrences(r.out, "chatter\nlast words\n"), 3);
            EXPECT_LT(r.out.size(), 3u * (64 * 1024 + 2048));
            EXPECT_LT(std::stol(lines_of(r.err).back()), 64 * 1024) << "KiB at the peak";
        }
        // 138,894 bytes, past the 128 KiB at which the capture is first cut: its last 64 KiB
        // start at byte 73,358, in line 14,078, so line 20,000 is kept.
        if (name == "some chatter") EXPECT_EQ(count_occurrences(r.out, "\n20000\n"), 3);
        if (jobs != "1") continue;
        // -wav: the box names the cause, not the tool's place.
        const RunResult w = run(program, {"-wav", "-lips", t / "in/v10.wav", t / "out"}, o);
        EXPECT_TRUE(contains(w.err, "Cannot generate a VLP file for \"" + t.path() +
                                        "/out/v10.mp3\"\n" + said));
    }
}

// -rem deletes only the very file that was encoded: a take replaced while its lip-sync ran
// stays, and so does one rewritten in place at the same size with its time put back (as on
// a file system whose times are too coarse to show it). A parent that ignores SIGCHLD does
// not turn the tool's failure into success.
TEST(Faults, RemoveKeepsReplacedTakesAndToolStatusesCount) {
    TempDir t;
    const std::string real = "exec " + bin("lipsync") + " \"$@\"\n";
    const auto tool = [&](const std::string& name, const std::string& body) {
        return make_program_dir(t / name, "#!/bin/sh\nfor a; do sound=$a; done\n" + body);
    };
    const std::string replacing =
        tool("replacing", "cp \"$sound\" \"$sound.new\" && mv \"$sound.new\" \"$sound\"\n" + real);
    const std::string rewriting = tool( // its last bytes, past the last whole 8-byte word
        "rewriting", "cp -p \"$sound\" \"$sound.was\"\nsize=$(stat -c %s \"$sound\")\n"
                     "printf 'retake' | dd of=\"$sound\" bs=1 seek=$((size - 6)) conv=notrunc\n"
                     "touch -r \"$sound.was\" \"$sound\" && rm \"$sound.was\"\n" +
                         real);
    const std::string failing = tool("failing", bin("lipsync") + " \"$@\"\nexit 3\n");
    fs::create_directories(t / "in");
    const std::string take = t / "in/take.wav";
    ASSERT_TRUE(write_wav(take, WavSpec{22050, 1, 22051.0 / 22050}));

    const RunResult w = run(replacing, {"-wav", "-lips", "-rem", take, t / "out"});
    EXPECT_EQ(w.exit_status, 1);
    EXPECT_TRUE(contains(w.err, "Cannot delete \"" + take + "\""));
    const RunResult b = run(replacing, {"-batch", "-lips", "-rem", t / "in", t / "out"});
    EXPECT_EQ(b.exit_status, 1);
    EXPECT_TRUE(contains(b.out, "WARNING! \"" + take + "\" was not deleted"));
    EXPECT_TRUE(contains(read_file(t / "out/failed conversions.txt"), "\nREM: " + take + "\n"));
    EXPECT_TRUE(contains(b.out, "| 0/1 WAV files deleted\n"));
    EXPECT_TRUE(exists(take));
    const RunResult same = run(rewriting, {"-wav", "-lips", "-rem", take, t / "out"});
    EXPECT_EQ(same.exit_status, 1);
    EXPECT_TRUE(contains(same.err, "(it changed since it was encoded)"));
    EXPECT_TRUE(exists(take));

    const RunResult f = run("/bin/bash", {"-c", "trap '' CHLD; exec \"$0\" \"$@\"", failing, "-wav",
                                          "-lips", "-rem", take, t / "out2"});
    EXPECT_EQ(f.exit_status, 1) << f.out << f.err;
    EXPECT_FALSE(exists(t / "out2/take.vlp"));
    EXPECT_TRUE(exists(take));
}

// An output that would be the input, by its name, through a linked folder or as a hard
// link of it, is refused before anything is written.
TEST(Faults, OutputThatIsTheInputIsRefused) {
    TempDir t;
    fs::create_directories(t / "in");
    fs::create_directories(t / "out");
    ASSERT_TRUE(write_wav(t / "in/take.wav.mp3", WavSpec{22050, 1, 1.0})); // its MP3: itself
    ASSERT_TRUE(write_wav(t / "in/voice.wav", WavSpec{22050, 1, 1.0}));
    fs::create_directory_symlink(t / "in", t / "link");
    fs::create_hard_link(t / "in/voice.wav", t / "out/voice.mp3");
    const std::string take = read_file(t / "in/take.wav.mp3"),
                      voice = read_file(t / "in/voice.wav");
    for (const auto& [args, shown] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-wav", "-rem", "in/take.wav.mp3"}, t / "in/take.wav.mp3"},
             {{"-wav", "-rem", "in/take.wav.mp3", "link"}, "link/take.wav.mp3"},
             {{"-wav", "-rem", "in/voice", "out"}, "out/voice.mp3"}}) {
        SCOPED_TRACE(shown);
        const RunResult r = tarvik_in(t.path(), args);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_TRUE(contains(r.err, "The output file \"" + shown + "\" is the input file itself!"));
        EXPECT_EQ(read_file(t / "in/take.wav.mp3"), take);
        EXPECT_EQ(read_file(t / "in/voice.wav"), voice);
        EXPECT_EQ(list_dir(t / "in"), (std::vector<std::string>{"take.wav.mp3", "voice.wav"}));
        EXPECT_EQ(list_dir(t / "out"), std::vector<std::string>{"voice.mp3"});
    }
}

// A process that may start no thread converts one file at a time instead of aborting.
TEST(Faults, NoWorkerThreads) {
    TempDir t;
    make_voices(t / "in", 3, 0.5);
    const RunOptions o{
        .env = {{"LD_PRELOAD", NO_THREADS_LIBRARY}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}}};
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
            if (std::FILE* f = std::fopen(wav.c_str(), "ab")) {
                std::fwrite(block.data(), 1, block.size(), f);
                std::fclose(f);
            }
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
// folder) fails alone, with its cause; the batch goes on. Into a pipe each progress bar is
// printed once, as a terminal shows it when it ends, without control characters: finished,
// or cut short where its file failed, in both forms; the blocks of parallel jobs show none.
TEST(Faults, FilesThatCannotBeWrittenFailAlone) {
    TempDir t;
    make_voices(t / "in", 3, 0.5, 8.0);
    const std::string in = t / "in/", out = t / "out/";
    const std::tuple<std::vector<std::string>, int, std::string, std::string> forms[] = {
        {{}, 3, "Encoding: [>>>>>>>>>>] Done!\n", "]"},
        {{"-numbar"}, 3, "Encoding: 100.00%\n", "%"},
        {{"-jobs", "2"}, 0, "", "kbps"}};
    for (auto [args, bars, finished, cut] : forms) {
        fs::remove_all(t / "out");
        fs::create_directories(t / "out/v11.mp3");
        args.insert(args.begin(), {"--fsize=40000", bin("tarvik"), "-batch"});
        args.insert(args.end(), {t / "in", t / "out"});
        const RunResult r = run("/usr/bin/prlimit", args);
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, cut + "\nWARNING! Cannot encode \"" + in +
                                        "v10.wav\": cannot write \"" + out +
                                        "v10.mp3\": file too large\n"));
        EXPECT_TRUE(contains(r.out, "WARNING! Cannot encode \"" + in +
                                        "v11.wav\": cannot rename \"" + out + ".tarvik-"));
        EXPECT_TRUE(contains(r.out, "/out/v11.mp3\": Is a directory\n"));
        EXPECT_TRUE(contains(r.out, "| 1/3 MP3 file encoded") && exists(out + "v12.mp3"));
        EXPECT_EQ(count_occurrences(read_file(out + "failed conversions.txt"), in), 2);
        EXPECT_EQ(hidden_names(t / "out"), std::vector<std::string>{});
        EXPECT_TRUE(std::none_of(r.out.begin(), r.out.end(), [](char c) {
            return static_cast<unsigned char>(c) < ' ' && c != '\n' && c != '\t';
        })) << "a control character";
        EXPECT_EQ(count_occurrences(r.out, "Encoding: "), bars);
        EXPECT_EQ(count_occurrences(r.out, finished + "Space saved: "), 1);
    }
}

// Peak memory of -wav (the child's maximum resident size, in KiB, from /usr/bin/time) does
// not grow with the audio: 10 minutes of 22050 Hz mono are 26 MB of samples and 4.7 MB of
// MP3 at 64 kbps, so a run that held either would need megabytes more than a 10-second run;
// 2 MiB is left for the allocator. (Freed memory is not quarantined under the sanitizer.)
TEST(Faults, MemoryDoesNotGrowWithTheAudio) {
    TempDir t;
    const RunOptions o{.env = {{"ASAN_OPTIONS", "detect_leaks=1:quarantine_size_mb=0"}}};
    std::map<int, long> peak_kib;
    for (const int seconds : {10, 600}) {
        ASSERT_TRUE(write_wav(t / "v.wav", {22050, 1, double(seconds), 0, 300}));
        const RunResult r =
            run("/usr/bin/time", {"-f", "%M", bin("tarvik"), "-wav", t / "v.wav"}, o);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        peak_kib[seconds] = std::stol(lines_of(r.err).back());
    }
    EXPECT_LT(peak_kib[600], peak_kib[10] + 2048) << peak_kib[10] << " KiB for 10 s";
}
