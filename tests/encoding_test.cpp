// The silence and single-file runs end to end: the MP3s are decoded and their rate, channels,
// length and bit rate checked; the console lines, boxes and exit status too.
#include "tests/support/test_support.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

RunResult tarvik_in(const std::string& cwd, const std::vector<std::string>& args) {
    RunOptions o;
    o.cwd = cwd;
    return run(bin("tarvik"), args, o);
}

std::string error_box(int line, const std::string& message) {
    return "tarvik 1.1b - [called from \"tarvik\", line " + std::to_string(line) +
           "]\n************ ERROR ************\n" + message + "\n";
}

double rms(const std::vector<float>& v) {
    double sum = 0;
    for (float x : v) sum += static_cast<double>(x) * x;
    return v.empty() ? 0 : std::sqrt(sum / static_cast<double>(v.size()));
}

// A WAV of `bytes` bytes in all: the 44-byte header and (bytes - 44) / 2 mono samples.
void write_wav_of_size(const std::string& path, int64_t bytes) {
    WavSpec tone;
    tone.seconds = static_cast<double>((bytes - 44) / 2) / tone.sample_rate;
    ASSERT_TRUE(write_wav(path, tone));
    ASSERT_EQ(file_size(path), bytes);
}

std::string final_settings(int rate, const std::string& mode, int kbps) {
    return "Final settings: | Sample rate = " + std::to_string(rate) + "Hz\n                | Mode        = " +
           mode + "\n                | Bitrate     = " + std::to_string(kbps) + "kbps\n";
}

} // namespace

// How the settings are fitted to each WAV, seen in "Final settings" and in the MP3 itself.
TEST(Encoding, SettingsAreFittedToTheWav) {
    struct Case {
        std::vector<std::string> switches;
        int rate, channels;
        std::string settings;  // the expected "Final settings" block
        int mp3_rate, mp3_channels, mpeg, kbps; // kbps 0: not checked (VBR)
    };
    const std::vector<Case> cases = {
        {{}, 44100, 1, final_settings(44100, "mono", 64), 44100, 1, 1, 64},
        {{"-mode", "stereo", "-brate", "128"}, 44100, 2, final_settings(44100, "joint stereo", 128), 44100, 2, 1, 128},
        {{"-mode", "stereo", "-brate", "256"}, 44100, 2, final_settings(44100, "independent stereo", 256), 44100, 2, 1, 256},
        {{"-srate", "22050", "-brate", "144", "-mode", "stereo"}, 22050, 2, final_settings(22050, "independent stereo", 144), 22050, 2, 2, 144},
        // Two channels at 22050 Hz and no switches: 64 doubled to 128, MPEG-2, joint stereo.
        {{}, 22050, 2, final_settings(22050, "joint stereo", 128), 22050, 2, 2, 128},
        // 256 is not an MPEG-2 rate: the rate change makes it 160.
        {{"-brate", "256"}, 22050, 2, final_settings(22050, "joint stereo", 160), 22050, 2, 2, 160},
        {{"-mode", "dual"}, 44100, 1, final_settings(44100, "mono", 64), 44100, 1, 1, 64},
        {{"-mode", "dual"}, 44100, 2, final_settings(44100, "dual channel", 128), 44100, 2, 1, 128},
        // A rate outside MPEG's: no clamp, and the encoder picks its own output rate.
        {{}, 96000, 1, final_settings(96000, "mono", 64), 48000, 1, 1, 64},
        {{"-vbr", "4"}, 16000, 1, final_settings(16000, "mono", 64), 16000, 1, 2, 0},
    };
    for (const auto& c : cases) {
        std::string label = std::to_string(c.rate) + "Hz/" + std::to_string(c.channels) + "ch";
        for (const auto& s : c.switches) label += " " + s;
        SCOPED_TRACE(label);
        TempDir t;
        WavSpec tone;
        tone.sample_rate = c.rate;
        tone.channels = c.channels;
        tone.seconds = 1.5;
        ASSERT_TRUE(write_wav(t / "in.wav", tone));
        std::vector<std::string> args{"-wav"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        args.push_back("in.wav");
        const RunResult r = tarvik_in(t.path(), args);
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(c.settings), std::string::npos) << r.out;
        AudioInfo info;
        decode(t / "in.mp3", &info);
        EXPECT_EQ(info.sample_rate, c.mp3_rate);
        EXPECT_EQ(info.channels, c.mp3_channels);
        // The tag frame gives decoders the exact length of the source.
        EXPECT_EQ(info.frames, static_cast<int64_t>(1.5 * c.mp3_rate));
        const auto facts = mp3_facts(t / "in.mp3");
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->mpeg_version, c.mpeg);
        EXPECT_EQ(facts->tag, c.kbps ? "Info" : "Xing");
        if (c.kbps) {
            for (int kbps : facts->bit_rates) ASSERT_EQ(kbps, c.kbps);
        }
    }
}

// 24-bit, float, six channels, and a chunk after the audio: only audio reaches the encoder.
TEST(Encoding, EveryPcmLayoutIsReadAsAudio) {
    TempDir t;
    WavSpec plain;
    plain.seconds = 2;
    plain.amplitude = 0.5;
    ASSERT_TRUE(write_wav(t / "plain.wav", plain));
    WavSpec deep = plain;
    deep.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    ASSERT_TRUE(write_wav(t / "deep.wav", deep));
    WavSpec flt = plain;
    flt.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    ASSERT_TRUE(write_wav(t / "float.wav", flt));
    WavSpec six = plain;
    six.channels = 6;
    ASSERT_TRUE(write_wav(t / "six.wav", six));

    // The plain WAV with a LIST chunk after its data, as recording tools write them.
    std::string bytes = read_file(t / "plain.wav");
    std::string info = "INFOICMT";
    const std::string comment(4000, 'z');
    const auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    info += le32(static_cast<uint32_t>(comment.size())) + comment;
    bytes += "LIST" + le32(static_cast<uint32_t>(info.size())) + info;
    bytes.replace(4, 4, le32(static_cast<uint32_t>(bytes.size() - 8)));
    ASSERT_TRUE(write_file(t / "listed.wav", bytes));

    for (const std::string name : {"plain", "deep", "float", "six", "listed"}) {
        const RunResult r = tarvik_in(t.path(), {"-wav", name + ".wav"});
        EXPECT_EQ(r.exit_status, 0) << name << r.err;
    }
    AudioInfo base_info;
    const auto base = decode(t / "plain.mp3", &base_info);
    ASSERT_EQ(base_info.frames, 88200);
    EXPECT_NEAR(rms(base), 0.5 / std::sqrt(2.0), 0.02);
    for (const std::string name : {"deep", "float", "six"}) {
        AudioInfo info;
        const auto pcm = decode(t / (name + ".mp3"), &info);
        EXPECT_EQ(info.frames, 88200) << name;
        EXPECT_EQ(info.channels, 1) << name;
        // Real audio at its own level: not silence, not full-scale garbage. (The six channels
        // carry sines of different pitches, so their mix is quieter.)
        EXPECT_GT(rms(pcm), name == "six" ? 0.1 : 0.33) << name;
        EXPECT_LT(rms(pcm), 0.4) << name;
    }
    // Same audio, same MP3 audio: the LIST chunk is not encoded as a click at the end.
    AudioInfo listed_info;
    const auto listed = decode(t / "listed.mp3", &listed_info);
    ASSERT_EQ(listed_info.frames, base_info.frames);
    EXPECT_EQ(listed, base);
}

TEST(Encoding, SilenceRunsDecodeToDigitalSilence) {
    TempDir t;
    const RunResult one = tarvik_in(t.path(), {"1"});
    ASSERT_EQ(one.exit_status, 0) << one.err;
    EXPECT_NE(one.out.find("Silence time = 1 second\n"), std::string::npos);
    EXPECT_NE(one.out.find("(44100Hz/16bits/mono/1sec)\n"), std::string::npos);
    AudioInfo info;
    auto pcm = decode(t / "1_sec.mp3", &info);
    EXPECT_EQ(info.frames, 44100);
    EXPECT_EQ(info.channels, 1);
    for (float x : pcm) ASSERT_EQ(x, 0.0f);

    const RunResult stereo = tarvik_in(t.path(), {"-mode", "stereo", "-srate", "22050", "3", "out/sil"});
    ASSERT_EQ(stereo.exit_status, 0) << stereo.err;
    EXPECT_NE(stereo.out.find("Silence time = 3 seconds\nOutput file = \"out/sil/3_sec.mp3\"\n"), std::string::npos);
    EXPECT_NE(stereo.out.find(final_settings(22050, "joint stereo", 128)), std::string::npos);
    pcm = decode(t / "out/sil/3_sec.mp3", &info);
    EXPECT_EQ(info.frames, 3 * 22050);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sample_rate, 22050);

    // 8 kbps makes a stereo setting mono, and the temporary WAV follows.
    const RunResult low = tarvik_in(t.path(), {"-srate", "22050", "-mode", "stereo", "-bitrate", "8", "2", "low"});
    ASSERT_EQ(low.exit_status, 0);
    EXPECT_NE(low.out.find("(22050Hz/16bits/mono/2sec)"), std::string::npos);
    EXPECT_NE(low.out.find("Directory created: \"low\"\n"), std::string::npos); // one level: made for the file
    decode(t / "low/2_sec.mp3", &info);
    EXPECT_EQ(info.channels, 1);

    for (const std::string bad : {"0", "abc"}) {
        const RunResult r = tarvik_in(t.path(), {bad});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.err, error_box(590, "Silence time is null!"));
    }
}

TEST(Encoding, SizeLimitsAndInputNames) {
    TempDir t;
    ASSERT_EQ(mkdir((t / "my.dir").c_str(), 0755), 0);
    write_wav_of_size(t / "small.wav", 9999 + 1); // even sample count: 10000 bytes
    write_wav_of_size(t / "voice.wav", 20044);
    write_wav_of_size(t / "my.dir/voice.wav", 20044);
    write_wav_of_size(t / "Upper.WAV", 20044);
    ASSERT_TRUE(write_file(t / "tiny.wav", std::string(9999, 'x')));
    ASSERT_TRUE(write_file(t / "empty.wav", ""));

    struct Case {
        std::vector<std::string> args;
        int exit_status;
        std::string created; // "" for none
        std::string box;
    };
    const std::vector<Case> cases = {
        {{"-wav", "small.wav"}, 0, "small.mp3", ""},
        {{"-wav", "tiny"}, 255, "", error_box(680, "Input file size < 10kb. Increase its sampling frequency if you can, so its size will increase as well.")},
        {{"-wav", "empty"}, 255, "", error_box(675, "Input file size is null!")},
        {{"-wav", "missing"}, 255, "", error_box(661, "main() failed on fopen(). Cannot open \"" + t.path() + "/missing.wav\".")},
        {{"-wav", "voice.mp3"}, 0, "voice.mp3", ""}, // the input is voice.wav
        {{"-wav", "my.dir/voice"}, 0, "my.dir/voice.mp3", ""},
        {{"-wav", "./upper", "outdir"}, 0, "outdir/Upper.mp3", ""}, // the name found without regard to case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const RunResult r = tarvik_in(t.path(), c.args);
        EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
        EXPECT_EQ(r.err, c.box);
        if (!c.created.empty()) {
            EXPECT_TRUE(exists(t / c.created));
        }
    }
    EXPECT_FALSE(exists(t / "tiny.mp3"));
    EXPECT_FALSE(exists(t / "my.mp3"));
}

TEST(Encoding, ProgressFormsAndSpaceSaved) {
    TempDir t;
    write_wav_of_size(t / "short.wav", 10000); // about four chunks: steps must catch up
    const RunResult bar = tarvik_in(t.path(), {"-wav", "short"});
    ASSERT_EQ(bar.exit_status, 0);
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "\b>]";
    EXPECT_NE(bar.out.find("Encoding: [ " + ten + " Done!\nSpace saved: "), std::string::npos) << bar.out;

    const RunResult numbers = tarvik_in(t.path(), {"-wav", "-numbar", "short"});
    ASSERT_EQ(numbers.exit_status, 0);
    EXPECT_NE(numbers.out.find("Encoding: 100.00%\r\nSpace saved: "), std::string::npos) << numbers.out;
    EXPECT_EQ(numbers.out.find("Done!"), std::string::npos);
}

// Dropping the flushed frames leaves exactly the data of the last encode call: the file is
// the normal one cut short by whole frames (the tag frame at the start aside).
TEST(Encoding, NoClickDropsOnlyTheFlushedFrames) {
    TempDir t;
    WavSpec tone;
    tone.seconds = 1.3;
    ASSERT_TRUE(write_wav(t / "a.wav", tone));
    ASSERT_TRUE(write_wav(t / "b.wav", tone));
    ASSERT_EQ(tarvik_in(t.path(), {"-wav", "a"}).exit_status, 0);
    ASSERT_EQ(tarvik_in(t.path(), {"-wav", "-noclick", "b"}).exit_status, 0);
    const std::string full = read_file(t / "a.mp3"), cut = read_file(t / "b.mp3");
    const auto full_facts = mp3_facts(t / "a.mp3"), cut_facts = mp3_facts(t / "b.mp3");
    ASSERT_TRUE(full_facts && cut_facts);
    EXPECT_LT(cut.size(), full.size());
    EXPECT_LT(cut_facts->frames, full_facts->frames);
    const size_t tag_frame = 209; // 64 kbps at 44100 Hz: 144 * 64000 / 44100 = 208 bytes + padding
    EXPECT_EQ(full.compare(tag_frame, cut.size() - tag_frame, cut, tag_frame, cut.size() - tag_frame), 0);
}

// Failures end with a box and status 255, and leave neither a partial MP3 nor a temporary WAV.
TEST(Encoding, FailuresLeaveNothingBehindAndKeepTheWav) {
    TempDir t;
    // A private copy of the program, so its directory holds only what this test makes.
    fs::create_directory(t / "prog");
    fs::copy_file(bin("tarvik"), t / "prog/tarvik");
    fs::copy_file(bin("lame_enc.so"), t / "prog/lame_enc.so");
    write_wav_of_size(t / "voice.wav", 30044);
    ASSERT_TRUE(write_file(t / "blocker", "a file where a directory should be"));

    RunOptions o;
    o.cwd = t.path();
    const RunResult single = run(t / "prog/tarvik", {"-wav", "-rem", "voice", "blocker/out"}, o);
    EXPECT_EQ(single.exit_status, 255);
    const std::string refused = "Cannot use \"blocker/out\" as the output directory: it is not a directory that can be written to.";
    EXPECT_EQ(single.err, error_box(693, refused));
    EXPECT_TRUE(exists(t / "voice.wav")); // -rem never deletes a WAV whose MP3 failed

    const RunResult silence = run(t / "prog/tarvik", {"5", "blocker/out"}, o);
    EXPECT_EQ(silence.exit_status, 255);
    EXPECT_EQ(silence.err, error_box(693, refused));
    EXPECT_EQ(list_dir(t / "prog"), (std::vector<std::string>{"lame_enc.so", "tarvik"}));
    EXPECT_EQ(list_dir(t.path()), (std::vector<std::string>{"blocker", "prog", "voice.wav"}));

    const RunResult quoted = run(t / "prog/tarvik", {"5", "out\""}, o);
    EXPECT_EQ(quoted.exit_status, 255);
    EXPECT_NE(quoted.err.find("line 693]"), std::string::npos);
}

TEST(Encoding, RemoveDeletesTheWavOnlyAfterASuccessfulEncode) {
    TempDir t;
    fs::create_directories(t / "takes");
    WavSpec tone;
    tone.seconds = 1;
    ASSERT_TRUE(write_wav(t / "takes/line01.wav", tone));
    const RunResult r = tarvik_in(t.path(), {"-wav", "-vbr", "4", "-rem", "takes/line01", "mp3/"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("\nDirectory created: \"mp3\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Input file deleted: \"" + t.path() + "/takes/line01.wav\"\n"), std::string::npos);
    EXPECT_FALSE(exists(t / "takes/line01.wav"));
    AudioInfo info;
    decode(t / "mp3/line01.mp3", &info);
    EXPECT_EQ(info.frames, 44100);
    EXPECT_EQ(list_dir(t / "mp3"), std::vector<std::string>{"line01.mp3"});
}
