// tarvik -batch end to end on generated folders: the per-file blocks, the failure report,
// the summary box, the files produced and the exit status.
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

RunResult tarvik_in(const std::string& cwd, const std::vector<std::string>& args,
                    const std::string& program = bin("tarvik")) {
    RunOptions o;
    o.cwd = cwd;
    return run(program, args, o);
}

void make_wav(const std::string& path, int rate, int channels, double seconds) {
    WavSpec tone;
    tone.sample_rate = rate;
    tone.channels = channels;
    tone.seconds = seconds;
    ASSERT_TRUE(write_wav(path, tone)) << path;
}

// A WAV of exactly `bytes` bytes: 44-byte header, then 16-bit mono samples.
void make_wav_of_size(const std::string& path, int64_t bytes) {
    make_wav(path, 44100, 1, static_cast<double>((bytes - 44) / 2) / 44100);
    ASSERT_EQ(file_size(path), bytes);
}

const std::string kReportHeaderRest =
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
    "; sure Ritual's Lipsync tool stands in the same directory as tarvik. Otherwise,\n"
    "; it would simply mean that Lipsync failed to process this particular WAV file\n"
    "\n";

// Checks the report's 15-line header and returns the failure lines after it.
std::vector<std::string> report_lines(const std::string& path) {
    const std::string text = read_file(path);
    // "; this file was generated on MM/DD/YY @ hh:mm:ss by tarvik 1.1b"
    const std::string first = text.substr(0, text.find('\n') + 1);
    const std::string shape = "; this file was generated on 99/99/99 @ 99:99:99 by tarvik 1.1b\n";
    bool same_shape = first.size() == shape.size();
    for (size_t i = 0; same_shape && i < shape.size(); ++i)
        same_shape = shape[i] == '9' ? (first[i] >= '0' && first[i] <= '9') : first[i] == shape[i];
    EXPECT_TRUE(same_shape) << text;
    const size_t rest = first.size();
    EXPECT_EQ(text.compare(rest, kReportHeaderRest.size(), kReportHeaderRest), 0) << text;
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = rest + kReportHeaderRest.size(); i < text.size(); ++i) {
        if (text[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += text[i];
        }
    }
    EXPECT_TRUE(line.empty()) << "last line without a line end";
    return lines;
}

std::string summary_box(const std::string& counts, const std::string& consult = "") {
    std::string s = "tarvik 1.1b\n\n---- Final stats ----\n" + counts;
    if (!consult.empty())
        s += "\nConsult the following file to get aware of the file(s) that didn't pass the process:\n\n" + consult + "\n";
    return s + "\nElapsed time: ";
}

} // namespace

TEST(Batch, MixedFolderWithEveryKindOfFailure) {
    TempDir t;
    const std::string in = t / "voices";
    fs::create_directories(in + "/x.wav");                 // a directory named like a WAV
    make_wav(in + "/a.b.wav", 22050, 1, 1.0);
    make_wav(in + "/50% done \"take\".wav", 44100, 2, 1.0);
    make_wav(in + "/LOUD.WAV", 44100, 1, 1.0);
    make_wav_of_size(in + "/edge10000.wav", 10000);
    make_wav_of_size(in + "/edge9999.wav", 9998 + 1 - 1); // below 10000 bytes
    ASSERT_TRUE(write_file(in + "/empty.wav", ""));
    ASSERT_TRUE(write_file(in + "/text.wav", std::string(20000, 't'))); // not audio
    ASSERT_TRUE(write_file(in + "/notes.txt", "not listed"));

    const RunResult r = tarvik_in(t.path(), {"-batch", "voices/", t / "out"});
    EXPECT_EQ(r.exit_status, 1) << r.out << r.err; // ran, with failed files
    EXPECT_NE(r.out.find("Input directory = \"voices\"\n"), std::string::npos);
    EXPECT_NE(r.out.find("Reading directory \"voices\"... OK (8 WAV files detected)\nOutput directory = \"" + t.path() + "/out\"\n"),
              std::string::npos) << r.out;
    // Sorted by name (byte order), one block each.
    const std::vector<std::string> order = {"50% done \"take\".wav", "LOUD.WAV", "a.b.wav", "edge10000.wav",
                                            "edge9999.wav", "empty.wav", "text.wav", "x.wav"};
    size_t pos = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const std::string header = "\n------------------------------\n| Proceeding with file " + std::to_string(i + 1) +
                                   "/8\n------------------------------\n";
        pos = r.out.find(header, pos);
        ASSERT_NE(pos, std::string::npos) << header;
        const size_t named = r.out.find("\"voices/", pos);
        EXPECT_EQ(r.out.substr(named + 8, order[i].size()), order[i]) << "block " << i + 1 << " names its file";
    }
    for (const std::string& w : std::vector<std::string>{"WARNING! \"voices/edge9999.wav\" is below 10kb in size\nSkipping it...\n",
                                "WARNING! Null file size detected for \"voices/empty.wav\"\nSkipping it...\n",
                                "WARNING! Cannot open \"voices/text.wav\"\nSkipping it...\n",
                                "WARNING! Cannot open \"voices/x.wav\"\nSkipping it...\n",
                                "Output file = \"" + t.path() + "/out/a.b.mp3\"\n"})
        EXPECT_NE(r.out.find(w), std::string::npos) << w;

    EXPECT_EQ(report_lines(t / "out/failed conversions.txt"),
              (std::vector<std::string>{"voices/edge9999.wav", "voices/empty.wav", "voices/text.wav", "voices/x.wav"}));
    EXPECT_NE(r.out.find(summary_box("| 4/8 MP3 files encoded\n", t.path() + "/out/failed conversions.txt")),
              std::string::npos) << r.out;
    EXPECT_EQ(list_dir(t / "out"), (std::vector<std::string>{"50% done \"take\".mp3", "LOUD.mp3", "a.b.mp3",
                                                             "edge10000.mp3", "failed conversions.txt"}));
    AudioInfo info;
    decode(t / "out/50% done \"take\".mp3", &info);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, 44100);
    decode(t / "out/a.b.mp3", &info);
    EXPECT_EQ(info.sample_rate, 22050);
    EXPECT_EQ(info.frames, 22050);
}

TEST(Batch, SummaryWordingAndExitStatus) {
    TempDir t;
    fs::create_directories(t / "one");
    make_wav(t / "one/only.wav", 16000, 1, 1.0);
    const RunResult one = tarvik_in(t.path(), {"-batch", "one"});
    EXPECT_EQ(one.exit_status, 0);
    EXPECT_NE(one.out.find(summary_box("| 1/1 MP3 file encoded\n")), std::string::npos) << one.out;
    EXPECT_TRUE(exists(t / "one/only.mp3")); // beside the WAV without an output directory
    EXPECT_FALSE(exists(t / "one/failed conversions.txt"));

    fs::create_directories(t / "none");
    make_wav_of_size(t / "none/tiny.wav", 5000);
    const RunResult none = tarvik_in(t.path(), {"-batch", "none"});
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_NE(none.out.find(summary_box("| No file was encoded\n", "none/failed conversions.txt")), std::string::npos);

    // A missing tool: every file gets a "VLP: " line, the MP3s still count, -rem still deletes.
    fs::create_directories(t / "lips");
    make_wav(t / "lips/a.wav", 22050, 1, 1.0);
    make_wav(t / "lips/b.wav", 22050, 1, 1.0);
    fs::create_directories(t / "prog");
    fs::copy_file(bin("tarvik"), t / "prog/tarvik");
    fs::copy_file(bin("lame_enc.so"), t / "prog/lame_enc.so");
    const RunResult lips = tarvik_in(t.path(), {"-batch", "-lips", "-rem", "lips", "./mp3"}, t / "prog/tarvik");
    EXPECT_EQ(lips.exit_status, 1);
    EXPECT_NE(lips.out.find("WARNING! Cannot generate VLP for \"./mp3/a.mp3\"\nSkipping it...\nInput file deleted: \"lips/a.wav\"\n"),
              std::string::npos) << lips.out;
    EXPECT_NE(lips.out.find(summary_box("| 2/2 MP3 files encoded\n| 0/2 VLP files generated\n", "./mp3/failed conversions.txt")),
              std::string::npos) << lips.out;
    EXPECT_EQ(report_lines(t / "mp3/failed conversions.txt"), (std::vector<std::string>{"VLP: lips/a.wav", "VLP: lips/b.wav"}));
    EXPECT_TRUE(list_dir(t / "lips").empty());
}

TEST(Batch, NothingToDo) {
    TempDir t;
    fs::create_directories(t / "empty");
    for (const std::string dir : {"empty", "missing"}) {
        const RunResult r = tarvik_in(t.path(), {"-batch", dir, "out"});
        EXPECT_EQ(r.exit_status, 255) << dir;
        EXPECT_NE(r.out.find("Reading directory \"" + dir + "\"... Failed (no WAV file detected)"), std::string::npos);
        EXPECT_EQ(r.out.find("Final stats"), std::string::npos);
    }
}

TEST(Batch, OutputDirectoryForms) {
    TempDir t;
    fs::create_directories(t / "in");
    make_wav(t / "in/v.wav", 22050, 1, 0.5);
    struct Case {
        std::vector<std::string> args;
        std::string mp3; // expected MP3, relative to the working directory ("" none)
        int exit_status;
    };
    const std::vector<Case> cases = {
        {{"-batch", "in"}, "in/v.mp3", 0},
        {{"-batch", "in", t / "abs/deep"}, "abs/deep/v.mp3", 0},
        {{"-batch", "in", "rel/deeper"}, "rel/deeper/v.mp3", 0}, // relative: taken as given, created
        {{"-batch", "in", "./dot"}, "dot/v.mp3", 0},
        {{"-batch", "in", "quo\"ted"}, "", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const RunResult r = tarvik_in(t.path(), c.args);
        EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
        if (!c.mp3.empty()) {
            EXPECT_TRUE(exists(t / c.mp3));
        }
    }
    EXPECT_FALSE(exists(t / "v.mp3")); // never the working directory instead
    EXPECT_FALSE(exists(t / "quo\"ted"));
}

// The count is checked before anything is converted or touched; empty files are enough.
TEST(Batch, FileCountLimit) {
    TempDir t;
    fs::create_directories(t / "many");
    for (int i = 0; i < 16384; ++i)
        ASSERT_TRUE(write_file(t / ("many/f" + std::to_string(i) + ".wav"), ""));
    const RunResult ok = tarvik_in(t.path(), {"-batch", "many", "out"});
    EXPECT_EQ(ok.exit_status, 1);
    EXPECT_NE(ok.out.find("OK (16384 WAV files detected)"), std::string::npos);
    EXPECT_EQ(report_lines(t / "out/failed conversions.txt").size(), 16384u);

    ASSERT_TRUE(write_file(t / "many/one-more.wav", ""));
    ASSERT_TRUE(write_file(t / "out/keep.txt", "x"));
    const RunResult too_many = tarvik_in(t.path(), {"-batch", "many", "out"});
    EXPECT_EQ(too_many.exit_status, 255);
    EXPECT_EQ(too_many.err, "tarvik 1.1b - [called from \"tarvik\", line 1853]\n************ ERROR ************\n"
                            "Too many WAV files detected in \"many\"!\nI can only handle up to 16384 files.\n");
    EXPECT_EQ(too_many.out.find("Proceeding"), std::string::npos);
    EXPECT_TRUE(exists(t / "out/failed conversions.txt")); // the old report is not touched
}
