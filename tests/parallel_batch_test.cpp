// tarvik -batch -jobs N gives the same files, report, summary and exit status as one file at
// a time, and prints each file's block whole and in list order.
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

// Good files of several rates and channel counts, and failing files of every kind.
void make_folder(const std::string& dir) {
    fs::create_directories(dir + "/sub.wav");
    const int rates[] = {22050, 44100, 16000, 48000};
    for (int i = 0; i < 9; ++i) {
        WavSpec tone;
        tone.sample_rate = rates[i % 4];
        tone.channels = 1 + i % 2;
        tone.seconds = 0.6 + 0.2 * i;
        tone.frequency = 200 + 40 * i;
        ASSERT_TRUE(write_wav(dir + "/line" + std::to_string(i) + ".wav", tone));
    }
    ASSERT_TRUE(write_file(dir + "/empty.wav", ""));
    ASSERT_TRUE(write_file(dir + "/small.wav", std::string(5000, 's')));
    ASSERT_TRUE(write_file(dir + "/text.wav", std::string(15000, 't')));
}

struct BatchRun {
    RunResult result;
    std::map<std::string, std::string> outputs; // file name -> contents
    std::vector<std::string> inputs_left;
};

BatchRun run_batch(const std::string& work, const std::string& program, const std::string& jobs,
                   const std::vector<std::string>& extra) {
    fs::create_directories(work);
    make_folder(work + "/in");
    std::vector<std::string> args{"-batch", "-jobs", jobs};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("in");
    args.push_back("out");
    RunOptions o;
    o.cwd = work;
    BatchRun r;
    r.result = run(program, args, o);
    for (const auto& name : list_dir(work + "/out")) r.outputs[name] = read_file(work + "/out/" + name);
    r.inputs_left = list_dir(work + "/in");
    return r;
}

// What must not depend on the number of jobs: the report (its dated first line aside), the
// summary (its elapsed time aside), the order of the blocks and the lines in them apart from
// the per-file progress, which one overall line replaces.
std::string comparable(const std::string& out) {
    std::string s;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        if (line.rfind("Encoding: ", 0) != 0 && line.rfind("Parallel jobs", 0) != 0 &&
            line.rfind("Elapsed time", 0) != 0 && line.rfind("Wrote ", 0) != 0)
            s += line + "\n";
        pos = end + 1;
    }
    return s;
}

} // namespace

TEST(ParallelBatch, SameResultsWhateverTheNumberOfJobs) {
    struct Variant {
        std::string name;
        std::vector<std::string> switches;
        bool real_tool;
    };
    const std::vector<Variant> variants = {
        {"lips with the real tool and -rem", {"-lips", "-rem"}, true},
        {"lips with no tool", {"-lips"}, false},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        TempDir t;
        fs::create_directories(t / "prog");
        fs::copy_file(bin("tarvik"), t / "prog/tarvik");
        fs::copy_file(bin("lame_enc.so"), t / "prog/lame_enc.so");
        if (v.real_tool) fs::copy_file(bin("lipsync"), t / "prog/lipsync");

        const BatchRun one = run_batch(t / "j1", t / "prog/tarvik", "1", v.switches);
        EXPECT_EQ(one.result.exit_status, 1) << one.result.out;
        EXPECT_EQ(one.outputs.size(), v.real_tool ? 19u : 10u); // 9 MP3s (+ 9 VLPs) and the report
        for (const std::string jobs : {"3", "0"}) {
            SCOPED_TRACE("-jobs " + jobs);
            const BatchRun many = run_batch(t / ("j" + jobs), t / "prog/tarvik", jobs, v.switches);
            EXPECT_EQ(many.result.exit_status, one.result.exit_status);
            EXPECT_EQ(many.inputs_left, one.inputs_left);
            ASSERT_EQ(many.outputs.size(), one.outputs.size());
            for (const auto& [name, content] : one.outputs) {
                const std::string& other = many.outputs.at(name);
                if (name == "failed conversions.txt")
                    EXPECT_EQ(other.substr(other.find('\n')), content.substr(content.find('\n')));
                else
                    EXPECT_TRUE(other == content) << name << " differs";
            }
            std::string expected = comparable(one.result.out), actual = comparable(many.result.out);
            for (auto* s : {&expected, &actual}) // the folders differ by name only
                for (size_t p; (p = s->find("/j1/")) != std::string::npos || (p = s->find("/j" + jobs + "/")) != std::string::npos;)
                    s->replace(p, s->find('/', p + 1) - p + 1, "/J/");
            EXPECT_EQ(actual, expected);
        }
    }
}

TEST(ParallelBatch, JobsSwitch) {
    TempDir t;
    RunOptions o;
    o.cwd = t.path();
    const RunResult missing = run(bin("tarvik"), {"-batch", "-jobs"}, o);
    EXPECT_EQ(missing.exit_status, 255);
    EXPECT_NE(missing.err.find("Missing argument after '-jobs'"), std::string::npos);
    const RunResult wrong = run(bin("tarvik"), {"-batch", "-jobs", "65", "in"}, o);
    EXPECT_EQ(wrong.exit_status, 255);
    EXPECT_NE(wrong.err.find("Wrong argument after '-jobs'. It must be a value comprised between 0 and 64."),
              std::string::npos);
    const RunResult four = run(bin("tarvik"), {"-batch", "-JOBS", "4", "in"}, o);
    EXPECT_NE(four.out.find("Batch process enabled\nParallel jobs = 4\n"), std::string::npos);
}
