// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -batch -recurse and -update end to end: trees mirrored, lines skipped while up to date,
// a record that stays true through kills and damage, two runs at once.
#include "tests/support/test_support.hpp"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <signal.h>
#include <thread>

using namespace tarvik::test;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

static void make_wav(const std::string& path, double frequency = 440, double seconds = 1.0) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(write_wav(path, WavSpec{22050, 1, seconds, 0, frequency})) << path;
}

// The WAVs a run's blocks name after `prefix`, in order: those it made, or those it skipped.
const std::string kSkipped = "Skipping \"";
static Names made(const RunResult& r, const std::string& prefix = "Input file = \"") {
    Names names;
    for (const std::string& line : lines_of(r.out))
        if (line.starts_with(prefix))
            names.push_back(line.substr(prefix.size(), line.rfind('"') - prefix.size()));
    return names;
}

// Every WAV of the tree lands at its relative path below out/ (or beside it), in a stable order,
// links to folders not followed; a clash is judged per folder; names are relative to in/.
TEST(Tree, MirroredBelowTheOutputFolder) {
    TempDir t;
    for (const char* name :
         {"b.wav", "a/x.wav", "a/Y.WAV", "a/b/x.wav", "c/line.wav", "c/LINE.wav"})
        make_wav(t / "in/" + name);
    fs::create_directory_symlink(t / "in/a", t / "in/c/link");
    for (const std::string jobs : {"1", "2"}) {
        fs::remove_all(t / "out");
        const RunResult r = tarvik_in(t.path(), {"-batch", "-recurse", "-jobs", jobs, "in", "out"});
        EXPECT_TRUE(r.exit_status == 1 &&
                    contains(r.out, "\"in\"... OK (6 WAV files detected in 4 folders)\n"));
        EXPECT_EQ(made(r),
                  (Names{"b.wav", "a/Y.WAV", "a/x.wav", "a/b/x.wav", "c/LINE.wav", "c/line.wav"}));
        EXPECT_TRUE(contains(r.out, "WARNING! \"c/LINE.wav\" and \"c/line.wav\" would both become "
                                    "\"out/c/line.mp3\"\nSkipping it...\n"));
        EXPECT_EQ(lines_of(read_file(t / "out/failed conversions.txt")).back(), "c/line.wav");
        Names files;
        for (const auto& e : fs::recursive_directory_iterator(t / "out"))
            if (e.is_regular_file()) files.push_back(fs::relative(e.path(), t / "out"));
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (Names{"a/Y.mp3", "a/b/x.mp3", "a/x.mp3", "b.mp3", "c/LINE.mp3",
                                "failed conversions.txt"}));
    }
    EXPECT_EQ(tarvik_in(t.path(), {"-batch", "-recurse", "in"}).exit_status, 1);
    EXPECT_TRUE(exists(t / "in/a/b/x.mp3") && exists(t / "in/c/LINE.mp3"));
}

// A line is made again when its audio, its text, the settings or its MP3 (deleted, or changed
// at the same size and time) changed, and only then.
TEST(Update, RemakesExactlyTheChangedLines) {
    TempDir t;
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        make_wav(t / "in/s/" + name + ".wav", 300 + 40 * (name[0] - 'a'));
    ASSERT_TRUE(write_file(t / "in/s/b.txt", "Halt! Who goes there?"));
    auto update = [&](std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"-batch", "-recurse", "-update", "-lips"});
        extra.insert(extra.end(), {"in", "out"});
        return tarvik_in(t.path(), extra);
    };
    EXPECT_EQ(made(update()).size(), 6u);
    const RunResult again = update();
    EXPECT_TRUE(contains(again.out, "\nSkipping \"s/a.wav\": up to date\n\n") &&
                contains(again.out, "| No file was encoded\n| 0/6 VLP files generated\n"
                                    "| 6/6 WAV files up to date\n"));
    make_wav(t / "in/s/a.wav", 900);
    ASSERT_TRUE(write_file(t / "in/s/b.txt", "Who goes there?"));
    fs::remove(t / "out/s/c.mp3");
    const std::string d = t / "out/s/d.mp3";
    const auto when = fs::last_write_time(d);
    std::string bytes = read_file(d);
    bytes[bytes.size() / 2] ^= 1;
    ASSERT_TRUE(write_file(d, bytes));
    fs::last_write_time(d, when);
    const RunResult changed = update();
    EXPECT_EQ(made(changed), (Names{"s/a.wav", "s/b.wav", "s/c.wav", "s/d.wav"}));
    EXPECT_EQ(made(changed, kSkipped), (Names{"s/e.wav", "s/f.wav"}));
    EXPECT_EQ(changed.exit_status, 0);
    EXPECT_EQ(made(update({"-noclick"})).size(), 6u);
    // -lang joins the settings once given (the default language too), as the tool's list names it.
    EXPECT_EQ(made(update({"-noclick", "-lang", "en-us"})).size(), 6u);
    EXPECT_EQ(made(update({"-noclick", "-lang", "EN-US"})).size(), 0u);
}

// SIGKILL at random moments: every line recorded as done has its whole MP3 (decoding as a fresh
// encode does), and the next run makes the rest.
TEST(Update, KilledRunsLeaveATrueRecord) {
    TempDir t;
    const int n = 12;
    for (int i = 0; i < n; ++i)
        make_wav(t / "in/" + std::to_string(i) + ".wav", 200 + 50 * i, 8.0);
    ASSERT_EQ(tarvik_in(t.path(), {"-batch", "in", "ref"}).exit_status, 0);
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 4; ++round) {
        const int pid =
            start_program(bin("tarvik"), {"-batch", "-update", "-jobs", "2", t / "in", t / "out"});
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 800));
        kill(pid, SIGKILL);
        wait_program(pid);
        const RunResult rest = tarvik_in(t.path(), {"-batch", "-update", "in", "out"});
        EXPECT_EQ(rest.exit_status, 0) << rest.out;
        EXPECT_EQ(made(rest).size() + made(rest, kSkipped).size(), size_t{n});
        for (const std::string& mp3 : list_dir(t / "ref"))
            EXPECT_EQ(decode(t / "out/" + mp3), decode(t / "ref/" + mp3)) << mp3;
        fs::remove_all(t / "out");
    }
}

// Garbage in place of the record: one warning, set aside, made anew. A second run while one
// holds the record waits 2 s, then says so and ends with 255, touching nothing.
TEST(Update, DamagedRecordAndTwoRunsAtOnce) {
    TempDir t;
    make_wav(t / "in/a.wav");
    const std::string garbage(5000, '\x5a');
    ASSERT_TRUE(fs::create_directories(t / "out") && write_file(t / "out/.tarvik.db", garbage));
    const RunResult r = tarvik_in(t.path(), {"-batch", "-update", "in", "out"});
    EXPECT_TRUE(r.exit_status == 0 && count_occurrences(r.out, "WARNING!") == 1);
    EXPECT_TRUE(contains(r.out, "WARNING! \"out/.tarvik.db\" was damaged or not a record of "
                                "tarvik: it is set aside as \"out/.tarvik.db.damaged\" and every "
                                "line is made again\n"));
    EXPECT_EQ(read_file(t / "out/.tarvik.db.damaged"), garbage);
    EXPECT_EQ(made(tarvik_in(t.path(), {"-batch", "-update", "in", "out"}), kSkipped),
              Names{"in/a.wav"});

    const int first =
        start_program(make_program_dir(t / "prog", "#!/bin/sh\ntouch \"$0.started\"\nsleep 60\n"),
                      {"-batch", "-update", "-lips", t / "in", t / "out"});
    ASSERT_TRUE(wait_until([&] { return exists(t / "prog/lipsync.started"); }, 30));
    const Names hidden = hidden_names(t / "out");
    const auto start = std::chrono::steady_clock::now();
    const RunResult second = tarvik_in(t.path(), {"-batch", "-update", "in", "out"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_EQ(second.exit_status, 255);
    EXPECT_TRUE(contains(second.out, "\nCannot use \"out/.tarvik.db\": another run of tarvik is "
                                     "using it. Try again once it has ended.\n"));
    EXPECT_TRUE(made(second).empty() && hidden_names(t / "out") == hidden);
    kill(first, SIGTERM);
    EXPECT_EQ(wait_program(first), 143 << 8);
}
