// Faults around a batch: a full disk, an output folder that cannot be written, a batch
// killed halfway, and a lip-sync tool that crashes or hangs. Nothing that looks complete may
// be truncated, and no WAV whose MP3 is not complete may be deleted.
#include "tests/support/test_support.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

// n WAVs of `seconds` each, alternating 22050 Hz mono and 44100 Hz stereo.
void make_voices(const std::string& dir, int n, double seconds) {
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        WavSpec tone;
        tone.sample_rate = i % 2 ? 44100 : 22050;
        tone.channels = i % 2 ? 2 : 1;
        tone.seconds = seconds;
        tone.frequency = 200 + 20 * i;
        char name[32];
        std::snprintf(name, sizeof name, "/v%02d.wav", i);
        ASSERT_TRUE(write_wav(dir + name, tone));
    }
}

// Every MP3 under its final name is complete, and every WAV without one is still there.
void expect_nothing_lost(const std::string& in, const std::string& out, int n, double seconds) {
    for (int i = 0; i < n; ++i) {
        char stem[16];
        std::snprintf(stem, sizeof stem, "v%02d", i);
        const std::string mp3 = out + "/" + stem + ".mp3", wav = in + "/" + stem + ".wav";
        if (exists(mp3)) {
            AudioInfo info;
            decode(mp3, &info);
            const int rate = i % 2 ? 44100 : 22050;
            EXPECT_EQ(info.frames, static_cast<int64_t>(seconds * rate)) << mp3 << " is truncated";
        } else {
            EXPECT_TRUE(exists(wav)) << wav << " was lost";
        }
    }
    if (fs::exists(out))
        for (const auto& name : list_dir(out)) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

void make_program_dir(const std::string& dir, const std::string& tool_script) {
    fs::create_directories(dir);
    fs::copy_file(bin("tarvik"), dir + "/tarvik");
    fs::copy_file(bin("lame_enc.so"), dir + "/lame_enc.so");
    ASSERT_TRUE(write_file(dir + "/lipsync", tool_script));
    chmod((dir + "/lipsync").c_str(), 0755);
}

} // namespace

TEST(Faults, FullDisk) {
    TempDir t;
    fs::create_directories(t / "small");
    const RunResult m = run("/bin/mount", {"-t", "tmpfs", "-o", "size=160k", "tmpfs", t / "small"});
    if (m.exit_status != 0) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << m.err;
    make_voices(t / "in", 8, 3.0); // about 48 KB of MP3 per stereo file: the disk fills up
    const RunResult r = run(bin("tarvik"), {"-batch", "-rem", "-jobs", "2", t / "in", t / "small/out"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_NE(r.out.find("WARNING! Cannot encode"), std::string::npos) << r.out;
    expect_nothing_lost(t / "in", t / "small/out", 8, 3.0);
    run("/bin/umount", {t / "small"});
}

TEST(Faults, OutputFolderCannotBeWritten) {
    TempDir t;
    make_voices(t / "in", 3, 1.0);
    ASSERT_TRUE(write_file(t / "blocker", "a file where the output folder should be"));
    const RunResult r = run(bin("tarvik"), {"-batch", "-rem", t / "in", t / "blocker/out"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(count_occurrences(r.out, "WARNING! Cannot encode"), 3);
    EXPECT_NE(r.out.find("| No file was encoded\n\nElapsed time: "), std::string::npos) << r.out;
    EXPECT_EQ(list_dir(t / "in").size(), 3u); // -rem deleted nothing
}

TEST(Faults, BatchKilledHalfway) {
    TempDir t;
    const int n = 40;
    make_voices(t / "in", n, 3.0);
    std::vector<std::string> args_store{bin("tarvik"), "-batch", "-rem", t / "in", t / "out"};
    std::vector<char*> argv;
    for (auto& a : args_store) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Kill it once a few files are done, while the next is being written.
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        if (fs::exists(t / "out") && list_dir(t / "out").size() >= 4) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the batch ended before it could be killed";
    // A file being written when the batch died may leave its hidden temporary file; it is
    // never under the MP3's name. Everything else must hold.
    for (const auto& name : list_dir(t / "out"))
        if (name.find(".tmp-") != std::string::npos) fs::remove(t / ("out/" + name));
    expect_nothing_lost(t / "in", t / "out", n, 3.0);
    EXPECT_LT(list_dir(t / "out").size(), static_cast<size_t>(n)) << "killed halfway, not at the end";
}

TEST(Faults, LipsyncToolCrashesOrHangs) {
    struct Case {
        std::string name, script, jobs;
    };
    const std::vector<Case> cases = {
        {"crash", "#!/bin/sh\nkill -SEGV $$\n", "1"},
        {"hang", "#!/bin/sh\nsleep 600\n", "1"},
        {"hang with a child holding the output", "#!/bin/sh\nsleep 600 &\nsleep 600\n", "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        make_program_dir(t / "prog", c.script);
        make_voices(t / "in", 3, 1.0);
        RunOptions o;
        o.env["TARVIK_LIPSYNC_TIME_LIMIT"] = "1";
        o.timeout_seconds = 60;
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = run(t / "prog/tarvik", {"-batch", "-lips", "-rem", "-jobs", c.jobs, t / "in", t / "out"}, o);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(r.timed_out);
        EXPECT_LT(took, 30);
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_NE(r.out.find("| 3/3 MP3 files encoded\n| 0/3 VLP files generated\n"), std::string::npos) << r.out;
        EXPECT_EQ(count_occurrences(read_file(t / "out/failed conversions.txt"), "VLP: "), 3);
        if (c.name != "crash")
            EXPECT_NE(r.out.find("The lip-sync tool ran longer than 1 seconds and was stopped.\n"), std::string::npos);
        EXPECT_TRUE(list_dir(t / "in").empty()); // the MP3s are safe: -rem went on
    }
}
