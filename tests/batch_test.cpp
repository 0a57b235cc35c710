// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -batch and -lips end to end on generated folders: the per-file blocks, the failure
// report, the summary box, the files produced, the exit status, the same results whatever
// the number of jobs, and a VLP accepted only when this run's tool made it.
#include "common/version.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

void make_wav(const std::string& path, int rate, int channels, double seconds,
              double frequency = 440) {
    ASSERT_TRUE(write_wav(path, WavSpec{rate, channels, seconds, 0, frequency})) << path;
}

// The report's failure lines, after its 15-line header (whose first line is dated); every
// line ends with a line end.
std::vector<std::string> report_lines(const std::string& path) {
    const std::string text = read_file(path);
    const std::vector<std::string> lines = lines_of(text);
    EXPECT_TRUE(text.ends_with('\n')) << "last line without a line end";
    if (lines.size() < 15) return {"(no header)"};
    EXPECT_TRUE(lines[0].starts_with("; this file was generated on ")) << lines[0];
    return {lines.begin() + 15, lines.end()};
}

std::string summary_box(const std::string& counts, const std::string& consult = "") {
    std::string s =
        std::string("tarvik ") + tarvik::kVersion + "\n\n---- Final stats ----\n" + counts;
    if (!consult.empty())
        s += "\nConsult the following file to get aware of the file(s) that didn't pass the "
             "process:\n\n" +
             consult + "\n";
    return s + "\nElapsed time: ";
}

} // namespace

// Blocks in name order, a warning and a report line for each kind of failure (a name with
// control characters on one escaped line), the summary; a batch of one says it in the
// singular, leaves no report and puts the MP3 beside the WAV.
TEST(Batch, MixedFolderWithEveryKindOfFailure) {
    TempDir t;
    const std::string in = t / "voices";
    fs::create_directories(in + "/x.wav"); // a directory named like a WAV
    make_wav(in + "/a.b.wav", 22050, 1, 1.0);
    make_wav(in + "/50% done \"take\".wav", 44100, 2, 1.0);
    make_wav(in + "/LOUD.WAV", 44100, 1, 1.0);
    make_wav(in + "/edge10000.wav", 44100, 1, 4978.0 / 44100); // exactly 10000 bytes
    make_wav(in + "/edge9999.wav", 44100, 1, 4977.0 / 44100);  // below
    ASSERT_EQ(file_size(in + "/edge10000.wav"), 10000);
    ASSERT_TRUE(write_file(in + "/empty.wav", ""));
    ASSERT_TRUE(write_file(in + "/text.wav", std::string(20000, 't'))); // not audio
    ASSERT_TRUE(write_file(in + "/notes.txt", "not listed"));
    ASSERT_TRUE(write_file(in + "/odd\nname\\x\r\t\x01\x7f.wav", "not audio, and short"));
    const std::string odd = "voices/odd\\nname\\\\x\\r\\t\\x01\\x7f.wav";

    const RunResult r = tarvik_in(t.path(), {"-batch", "voices/", t / "out"});
    EXPECT_EQ(r.exit_status, 1) << r.out << r.err; // ran, with failed files
    EXPECT_TRUE(contains(
        r.out, "Reading directory \"voices\"... OK (9 WAV files detected)\nOutput directory = \"" +
                   t.path() + "/out\"\n"));
    const std::vector<std::string> order = {// byte order
                                            "50% done \"take\".wav", "LOUD.WAV",     "a.b.wav",
                                            "edge10000.wav",         "edge9999.wav", "empty.wav",
                                            odd.substr(7),           "text.wav",     "x.wav"};
    size_t pos = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        pos = r.out.find("| Proceeding with file " + std::to_string(i + 1) + "/9\n", pos);
        ASSERT_NE(pos, std::string::npos);
        EXPECT_EQ(r.out.substr(r.out.find("\"voices/", pos) + 8, order[i].size()), order[i]);
    }
    for (const std::string& w : std::vector<std::string>{
             "\"voices/edge9999.wav\" is below 10kb in size",
             "\"" + odd + "\" is below 10kb in size",
             "Null file size detected for \"voices/empty.wav\"", "Cannot open \"voices/text.wav\"",
             "Cannot open \"voices/x.wav\""})
        EXPECT_TRUE(contains(r.out, "WARNING! " + w + "\nSkipping it...\n"));
    EXPECT_EQ(report_lines(t / "out/failed conversions.txt"),
              (std::vector<std::string>{"voices/edge9999.wav", "voices/empty.wav", odd,
                                        "voices/text.wav", "voices/x.wav"}));
    EXPECT_TRUE(contains(
        r.out, summary_box("| 4/9 MP3 files encoded\n", t.path() + "/out/failed conversions.txt")));
    EXPECT_EQ(list_dir(t / "out"),
              (std::vector<std::string>{"50% done \"take\".mp3", "LOUD.mp3", "a.b.mp3",
                                        "edge10000.mp3", "failed conversions.txt"}));

    fs::create_directories(t / "one");
    make_wav(t / "one/only.wav", 16000, 1, 1.0);
    const RunResult one = tarvik_in(t.path(), {"-batch", "one"});
    EXPECT_EQ(one.exit_status, 0);
    EXPECT_TRUE(contains(one.out, summary_box("| 1/1 MP3 file encoded\n")));
    // A run under a second took 00:00:00, not "n/a".
    EXPECT_TRUE(contains(one.out, "\nElapsed time: 00:00:0")) << one.out;
    EXPECT_EQ(list_dir(t / "one"), (std::vector<std::string>{"only.mp3", "only.wav"}));
}

// Two WAVs that would make one MP3: the first in list order is converted, the other skipped
// and reported, and -rem never deletes the one whose recording would be lost.
TEST(Batch, NameClashesKeepEveryRecording) {
    TempDir t;
    fs::create_directories(t / "in");
    make_wav(t / "in/line1.wav", 22050, 1, 1.0, 500);
    make_wav(t / "in/line1.WAV", 22050, 1, 1.0, 700);
    for (const std::string jobs : {"1", "3"}) {
        fs::remove_all(t / "out");
        make_wav(t / "in/Line1.wav", 22050, 1, 1.0, 300);
        make_wav(t / "in/other.wav", 22050, 1, 1.0);
        const RunResult r = tarvik_in(t.path(), {"-batch", "-rem", "-jobs", jobs, "in", "out"});
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_TRUE(contains(r.out, "WARNING! \"in/Line1.wav\" and \"in/line1.WAV\" would both "
                                    "become \"out/line1.mp3\"\nSkipping it...\n"));
        EXPECT_EQ(report_lines(t / "out/failed conversions.txt"),
                  (std::vector<std::string>{"in/line1.WAV", "in/line1.wav"}));
        EXPECT_EQ(list_dir(t / "out"),
                  (std::vector<std::string>{"Line1.mp3", "failed conversions.txt", "other.mp3"}));
        EXPECT_EQ(list_dir(t / "in"), (std::vector<std::string>{"line1.WAV", "line1.wav"}));
    }
}

TEST(Batch, OutputDirectoryForms) {
    TempDir t;
    fs::create_directories(t / "in");
    make_wav(t / "in/v.wav", 22050, 1, 0.5);
    ASSERT_TRUE(write_file(t / "afile", "x"));
    fs::create_directory_symlink(t / "loop", t / "loop");
    const std::vector<std::pair<std::string, std::string>> cases = {
        // folder, MP3 made ("": 255)
        {t / "abs/deep", "abs/deep/v.mp3"},
        {"rel/deeper", "rel/deeper/v.mp3"}, // relative: taken as given, created
        {"", ""},                           // never the working directory instead
        {"afile", ""},                      // refused at the start, not tried for every file
        {"/dev/null", ""},
        {"loop", ""},
    };
    for (const auto& [out, mp3] : cases) {
        SCOPED_TRACE(out);
        const RunResult r = tarvik_in(t.path(), {"-batch", "in", out});
        EXPECT_EQ(r.exit_status, mp3.empty() ? 255 : 0) << r.out << r.err;
        if (!mp3.empty()) EXPECT_TRUE(exists(t / mp3));
        if (mp3.empty()) EXPECT_FALSE(contains(r.out, "Proceeding"));
    }
    EXPECT_FALSE(exists(t / "v.mp3"));
    // A refused batch touches nothing, not even the output folder it names.
    EXPECT_EQ(tarvik_in(t.path(), {"-batch", "nosuchdir", "new/a/b"}).exit_status, 255);
    EXPECT_FALSE(exists(t / "new"));
}

// The count is checked before anything is converted or touched; empty files are enough.
TEST(Batch, FileCountLimit) {
    TempDir t;
    fs::create_directories(t / "many");
    for (int i = 0; i < 16384; ++i)
        ASSERT_TRUE(write_file(t / ("many/f" + std::to_string(i) + ".wav"), ""));
    const RunResult ok = tarvik_in(t.path(), {"-batch", "many", "out"});
    EXPECT_EQ(ok.exit_status, 1);
    EXPECT_EQ(report_lines(t / "out/failed conversions.txt").size(), 16384u);

    ASSERT_TRUE(write_file(t / "many/one-more.wav", ""));
    const RunResult too_many = tarvik_in(t.path(), {"-batch", "many", "out"});
    EXPECT_EQ(too_many.exit_status, 255);
    EXPECT_EQ(too_many.err, error_box(1853, "Too many WAV files detected in \"many\"!\nI can only "
                                            "handle up to 16384 files."));
    EXPECT_FALSE(contains(too_many.out, "Proceeding"));
}

TEST(Batch, SameResultsWhateverTheNumberOfJobs) {
    TempDir t;
    const std::string program = make_program_dir(t / "prog", "real");
    auto run_with = [&](const std::string& jobs) {
        const std::string work = t / ("j" + jobs);
        fs::create_directories(work + "/in/sub.wav");
        const int rates[] = {22050, 44100, 16000, 48000};
        for (int i = 0; i < 7; ++i)
            make_wav(work + "/in/line" + std::to_string(i) + ".wav", rates[i % 4], 1 + i % 2,
                     0.6 + 0.2 * i, 200 + 40 * i);
        EXPECT_TRUE(write_file(work + "/in/small.wav", std::string(5000, 's')));
        EXPECT_TRUE(write_file(work + "/in/text.wav", std::string(15000, 't')));
        const RunResult r =
            tarvik_in(work, {"-batch", "-lips", "-rem", "-jobs", jobs, "in", "out"}, program);
        std::map<std::string, std::string> files;
        for (const auto& name : list_dir(work + "/out"))
            files[name] = read_file(work + "/out/" + name);
        const std::string report = files["failed conversions.txt"];
        files["failed conversions.txt"] = report.substr(report.find('\n')); // the date aside
        // The blocks, in list order, without the per-file progress and the elapsed time.
        std::string blocks;
        for (const auto& line : lines_of(r.out))
            if (line.rfind("Encoding: ", 0) && line.rfind("Parallel jobs", 0) &&
                line.rfind("Elapsed", 0) && line.rfind("Wrote ", 0))
                blocks += line + "\n";
        return std::tuple{r.exit_status, files, list_dir(work + "/in"), blocks};
    };
    const auto one = run_with("1");
    EXPECT_EQ(std::get<0>(one), 1);
    EXPECT_EQ(std::get<1>(one).size(), 15u); // 7 MP3s, 7 VLPs and the report
    for (const std::string jobs : {"3", "0"}) {
        SCOPED_TRACE("-jobs " + jobs);
        const auto many = run_with(jobs);
        EXPECT_EQ(std::get<0>(many), std::get<0>(one));
        EXPECT_TRUE(std::get<1>(many) == std::get<1>(one)) << "the files differ";
        EXPECT_EQ(std::get<2>(many), std::get<2>(one));
        EXPECT_EQ(std::get<3>(many), std::get<3>(one));
    }
}

// -lips: the VLP counts only when this run's tool exited with 0 and wrote a VLP covering the
// audio (the tool gets the line's text when NAME.txt stands beside the WAV); a VLP that
// stood beside the WAV is never taken nor destroyed; a failed VLP keeps the WAV under -rem
// (batch and -wav), so that its lip-sync can be made again.
TEST(Batch, VlpAcceptedOnlyFromThisRun) {
    TempDir t;
    make_wav(t / "other.wav", 22050, 1, 3.0);
    // Stand-ins, called as: lipsync [--text FILE] -q -o OUT SOUND.
    const std::string header = "#!/bin/sh\necho \"$@\" >> \"$0.calls\"\nfor a; do last=$a; done\n"
                               "while [ $# -gt 0 ] && [ \"$1\" != -o ]; do shift; done\n";
    const std::string real = t.path() + "/prog/lipsync --fast";
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"no tool", "", false},
        {"writes nothing", header, false},
        {"writes empty", header + ": > \"$2\"\n", false},
        {"garbage", header + "head -c 4000 /dev/urandom > \"$2\"\n", false},
        {"a VLP, exit 3", header + real + " -o \"$2\" \"$last\"\nexit 3\n", false},
        {"a VLP of another take", header + real + " -o \"$2\" " + t.path() + "/other.wav\n", false},
        {"real tool", header + "exec " + real + " \"$@\"\n", true},
    };
    make_program_dir(t / "prog", "real");
    for (const auto& [name, tool, made] : cases) {
        SCOPED_TRACE(name);
        const std::string dir = t / name;
        const std::string program = make_program_dir(dir + "/prog", tool);
        fs::create_directories(dir + "/in");
        fs::create_directories(dir + "/out");
        make_wav(dir + "/in/a.wav", 22050, 1, 1.0);
        for (const char* file : {"/in/a.vlp", "/out/a.vlp"})
            ASSERT_TRUE(write_file(dir + file, "old take's lip-sync"));
        ASSERT_TRUE(write_file(dir + "/in/a.txt", "Halt! Who goes there?"));
        const RunResult b = tarvik_in(dir, {"-batch", "-lips", "-rem", "in", "out"}, program);
        EXPECT_EQ(b.exit_status, made ? 0 : 1) << b.out;
        EXPECT_EQ(read_file(dir + "/in/a.vlp"), "old take's lip-sync");
        EXPECT_EQ(read_file(dir + "/out/a.vlp") == "old take's lip-sync", !made);
        EXPECT_EQ(exists(dir + "/in/a.wav"), !made);
        if (!tool.empty())
            EXPECT_TRUE(read_file(dir + "/prog/lipsync.calls")
                            .starts_with("--text in/a.txt -q -o out/.tarvik-"));
        if (!made) {
            EXPECT_EQ(report_lines(dir + "/out/failed conversions.txt"),
                      std::vector<std::string>{"VLP: in/a.wav"});
            // -wav: the box names the cause (the tool's place only when it is missing), exit
            // 1, the WAV kept.
            const RunResult w = tarvik_in(dir, {"-wav", "-lips", "-rem", "in/a", "out"}, program);
            EXPECT_EQ(w.exit_status, 1);
            EXPECT_TRUE(contains(w.err, "Cannot generate a VLP file for \"out/a.mp3\"\n"));
            EXPECT_EQ(contains(w.err, "Make sure the lipsync tool stands in the same directory"),
                      tool.empty());
            EXPECT_TRUE(exists(dir + "/in/a.wav"));
        }
        EXPECT_EQ(hidden_names(dir + "/out"), std::vector<std::string>{}) << "temporary files left";
    }
}

// -lang (after -lips): the tool's list is asked for once, at the start; an unknown language is
// refused before anything is written; a known one reaches every call as the list names it.
// Without -lang no call names a language; without a list each call gets the language as typed.
TEST(Batch, LanguageCheckedOnceAndPassedToEveryCall) {
    TempDir t;
    make_program_dir(t / "real", "real");
    const std::string program = make_program_dir(
        t / "prog", "#!/bin/sh\necho \"$@\" >> \"$0.calls\"\n[ \"$*\" = \"--language list\" ] && "
                    "[ -e \"$0.nolist\" ] && exit 1\nexec " +
                        t / "real/lipsync" + " --fast \"$@\"\n");
    fs::create_directories(t / "in");
    for (const char* name : {"a", "b"})
        make_wav(t / "in" + "/" + name + ".wav", 22050, 1, 1.0);
    const std::string list = "--language list", call = "-q -o out/.tarvik-";
    const std::vector<std::tuple<std::vector<std::string>, bool, int, std::vector<std::string>>>
        cases = {
            {{"-batch", "-lips", "in", "out"}, true, 0, {call, call}},
            {{"-batch", "-lips", "-lang", "PT-BR", "in", "out"},
             true,
             0,
             {list, "--language pt-br " + call, "--language pt-br " + call}},
            {{"-lips", "-lang", "German", "1", "out"}, true, 0, {list, "--language de " + call}},
            {{"-batch", "-lips", "-lang", "xx", "in", "out"}, true, 255, {list}},
            {{"-wav", "-lips", "-lang", "German", "in/a", "out"},
             false,
             0,
             {list, "--language German "}},
        };
    for (const auto& [args, listed, status, calls] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        fs::remove_all(t / "out"), fs::remove(t / "prog/lipsync.calls");
        fs::remove(t / "prog/lipsync.nolist");
        if (!listed) ASSERT_TRUE(write_file(t / "prog/lipsync.nolist", ""));
        const RunResult r = tarvik_in(t.path(), args, program);
        EXPECT_EQ(r.exit_status, status) << r.out << r.err;
        const std::vector<std::string> got = lines_of(read_file(t / "prog/lipsync.calls"));
        ASSERT_EQ(got.size(), calls.size()) << read_file(t / "prog/lipsync.calls");
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_TRUE(got[i].starts_with(calls[i])) << got[i];
        EXPECT_EQ(exists(t / "out"), status != 255);
        if (status == 255)
            EXPECT_EQ(r.err, error_box(564, "Wrong argument after '-lang'. Unknown language \"xx\" "
                                            "(lipsync --language list shows them)."));
    }
}

// The silence run's VLP takes the MP3's name; nothing temporary stays beside the program.
// From a read-only folder of WAVs the VLPs go to the output folder.
TEST(Batch, SilenceAndReadOnlyWavFolderWithTheRealTool) {
    TempDir t;
    const std::string program = make_program_dir(t / "prog", "real");
    fs::create_directories(t / "work");
    const RunResult s = tarvik_in(t / "work", {"-lips", "2", t / "sounds"}, program);
    EXPECT_EQ(s.exit_status, 0) << s.out << s.err;
    EXPECT_EQ(list_dir(t / "sounds"), (std::vector<std::string>{"2_sec.mp3", "2_sec.vlp"}));
    EXPECT_EQ(list_dir(t / "prog"), (std::vector<std::string>{"lame_enc.so", "lipsync", "tarvik"}));

    std::string why_not; // a read-only mount: permissions do not stop root
    const auto ro = mount_tmpfs(t / "ro", "size=1m", why_not);
    if (!ro) GTEST_SKIP() << why_not;
    make_wav(t / "ro/take.01.wav", 44100, 2, 1.2);
    ASSERT_EQ(run("/bin/mount", {"-o", "remount,ro", t / "ro"}).exit_status, 0);
    const RunResult w = tarvik_in(t.path(), {"-wav", "-lips", "ro/take.01", "out"}, program);
    EXPECT_EQ(w.exit_status, 0) << w.out << w.err;
    EXPECT_EQ(list_dir(t / "out"), (std::vector<std::string>{"take.01.mp3", "take.01.vlp"}));
    EXPECT_EQ(list_dir(t / "ro"), std::vector<std::string>{"take.01.wav"});
}
