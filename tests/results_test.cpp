// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -json end to end: the lines of real runs checked against the schema's required
// fields and types (python3's json module) and against the files on disk and the decoded
// MP3s; -json - keeps standard output for JSON alone; a reader sees lines while a run goes on.
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace tarvik::test;

namespace {

// Checks each line of a results file against docs/results.schema.json (required fields, types,
// enums, constants) and prints some of its fields, tab-separated; a name as its exact bytes.
constexpr const char* kCheck = R"(
import json, sys
defs = json.load(open(sys.argv[1]))["$defs"]
kinds = dict(string=str, integer=int, number=(int, float), boolean=bool, null=type(None),
             object=dict)
for line in open(sys.argv[2], encoding="utf-8"):
    o = json.loads(line)
    d = defs[o["type"]]
    assert set(d["required"]) <= set(o), (set(d["required"]) - set(o), line)
    for k, p in ((k, p) for k, p in d["properties"].items() if k in o):
        t, v = p.get("type", []), o[k]
        ok = lambda x: isinstance(v, kinds[x]) and (x == "boolean" or type(v) is not bool)
        assert not t or any(map(ok, [t] if type(t) is str else t)), (k, line)
        assert v in p.get("enum", [v]) and v == p.get("const", v), (k, line)
    raw = lambda k: (bytes.fromhex(o[k + "_hex"]) if k + "_hex" in o else
                     b"" if o.get(k) is None else str(o[k]).encode())
    keys = "type status input input_deleted mp3 vlp seconds sample_rate channels bit_rate"
    sys.stdout.buffer.write(b"\t".join(raw(k) for k in keys.split()) + b"\n")
)";

// The records of a results file, each as its fields in kCheck's order; empty on a failed check.
std::vector<std::vector<std::string>> records(const std::string& path) {
    const RunResult r = run("/usr/bin/python3",
                            {"-c", kCheck, TARVIK_SOURCE_DIR "/docs/results.schema.json", path});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    std::vector<std::vector<std::string>> out;
    for (const std::string& line : lines_of(r.out)) {
        out.emplace_back();
        for (size_t from = 0, tab = 0; tab != std::string::npos; from = tab + 1)
            out.back().push_back(line.substr(from, (tab = line.find('\t', from)) - from));
    }
    return out;
}

} // namespace

// -batch -lips -rem -jobs: each record tells what is on disk, its seconds, rate, channels and
// bit rate are the decoded MP3's; a name that is not UTF-8 still gives JSON, with its bytes.
TEST(Results, BatchRecordsMatchTheFilesOnDisk) {
    TempDir t;
    const std::string in = t / "in", out = t / "out", odd = in + "/odd\xff\x01.wav";
    std::filesystem::create_directories(in);
    ASSERT_TRUE(write_wav(in + "/good.wav", {22050, 2, 1.5}) && write_wav(odd, {8000, 1, 1.0}));
    ASSERT_TRUE(write_file(in + "/small.wav", "RIFF"));
    const RunResult r = tarvik_in(
        t.path(), {"-json", t / "r.jsonl", "-batch", "-lips", "-rem", "-jobs", "2", in, out});
    ASSERT_EQ(r.exit_status, 1) << r.out;
    const auto lines = records(t / "r.jsonl");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.front()[0] + lines.back()[0], "startsummary");
    std::map<std::string, std::string> statuses;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const auto& f = lines[i]; // type status input deleted mp3 vlp seconds rate channels kbps
        statuses[f[2]] = f[1];
        EXPECT_EQ(exists(f[2]), f[3] == "False") << f[2];
        EXPECT_EQ(f[5].empty(), f[4].empty()) << f[2]; // -lips: a VLP with each MP3
        for (const std::string& made : {f[4], f[5]})
            EXPECT_TRUE(made.empty() || exists(made)) << made;
        AudioInfo info;
        if (f[4].empty() || decode(f[4], &info).empty()) continue; // no MP3: checked below
        EXPECT_NEAR(std::stod(f[6]), double(info.frames) / info.sample_rate, 0.06) << f[4];
        EXPECT_EQ(f[7] + "/" + f[8],
                  std::to_string(info.sample_rate) + "/" + std::to_string(info.channels));
        EXPECT_EQ(f[9], std::to_string(mp3_facts(f[4])->bit_rates.back()));
    }
    const std::map<std::string, std::string> expected{
        {in + "/good.wav", "converted"}, {odd, "converted"}, {in + "/small.wav", "failed"}};
    EXPECT_TRUE(statuses == expected && !exists(out + "/small.mp3"));
}

// -json -: standard output holds the lines alone, the console goes to standard error; the
// silence and -wav runs write a start, one file and a summary.
TEST(Results, StandardOutputCarriesOnlyJson) {
    TempDir t;
    ASSERT_TRUE(write_wav(t / "a.wav", {44100, 1, 0.5}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-JSON", "-", "1"}, {"-vbr", "4", "-json", "-", "-wav", "a"}}) {
        const RunResult r = tarvik_in(t.path(), args);
        ASSERT_TRUE(write_file(t / "out.jsonl", r.out));
        const auto lines = records(t / "out.jsonl");
        EXPECT_TRUE(lines.size() == 3 && lines[1][1] == "converted" &&
                    contains(r.err, "Write the results as JSON Lines to standard output\n"));
    }
}

// The lines come as each file finishes: a reader sees the first one while the run still goes
// (each file waits a second for a lip-sync stand-in that fails).
TEST(Results, LinesAppearWhileTheRunGoesOn) {
    TempDir t;
    std::filesystem::create_directories(t / "in");
    for (const char* name : {"/in/a.wav", "/in/b.wav", "/in/c.wav"})
        ASSERT_TRUE(write_wav(t.path() + name, {22050, 1, 0.5}));
    const std::string program = make_program_dir(t / "prog", "#!/bin/sh\nsleep 1\nexit 3\n");
    const int pid = start_program(program, {"-json", t / "r.jsonl", "-batch", "-lips", t / "in"});
    ASSERT_TRUE(wait_until(
        [&] { return read_file(t / "r.jsonl").find("\"file\"") != std::string::npos; }, 30));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0); // still running
    EXPECT_EQ(WEXITSTATUS(wait_program(pid)), 1);
    const auto lines = records(t / "r.jsonl");
    EXPECT_TRUE(lines.size() == 5 && lines[3][1] == "incomplete" && !lines[3][4].empty());
}
