// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for tests: running the built programs, temporary folders, generated audio and
// decoding what the programs produced.
#pragma once

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::test {

// Directory of the built programs (tarvik, lame_enc.so, lipsync, tarvik-gui).
std::string bin_dir();
std::string bin(const std::string& name);

struct RunResult {
    int exit_status = -1; // -1 when killed by a signal or the time limit
    std::string out;      // standard output
    std::string err;      // standard error
    bool timed_out = false;
};

struct RunOptions {
    std::string cwd;                        // working directory ("" = unchanged)
    std::map<std::string, std::string> env; // variables set (empty value: unset)
    std::string stdin_text;                 // fed to standard input
    double timeout_seconds = 120;
};

// tarvik's console form of an error box: the caption line and the ERROR line, then the text.
std::string error_box_head(int line);
std::string error_box(int line, const std::string& message);

// Runs a program with an argument vector (no shell) and collects its output.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});
// The bytes a program sends to a pseudo-terminal in raw mode (no line-end translation).
std::string run_in_terminal(const std::string& program, const std::vector<std::string>& args);
// tarvik (or another program) run in the folder `cwd`.
RunResult tarvik_in(const std::string& cwd, const std::vector<std::string>& args,
                    const std::string& program = bin("tarvik"));

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

struct WavSpec {
    int sample_rate = 44100;
    int channels = 1;
    double seconds = 1.0;
    int format = 0;         // libsndfile format; 0 = WAV 16-bit PCM
    double frequency = 440; // sine frequency (0: silence)
    double amplitude = 0.5;
};

// A RIFF WAV built byte by byte: one format chunk (tag 1 PCM, 3 float) and one data chunk
// holding `payload`, whose size field says `data_size` (by default the payload's size).
std::string riff_wav(uint16_t tag, int channels, uint32_t rate, int bits,
                     const std::string& payload, std::optional<uint32_t> data_size = {});
std::string le32(uint32_t v); // little-endian bytes

// Writes a sine WAV with libsndfile (channel c at 1 + c/4 times the frequency); false on
// failure.
bool write_wav(const std::string& path, const WavSpec& tone);
// A WAV whose sample of each frame and channel (full scale 1.0) comes from `sample`.
bool write_wav_with(const std::string& path, int rate, int channels, int64_t frames,
                    const std::function<double(int64_t frame, int channel)>& sample,
                    int format = 0);

struct AudioInfo {
    int sample_rate = 0;
    int channels = 0;
    int64_t frames = 0;
};

// Decodes any file libsndfile reads (WAV, MP3, Ogg) to interleaved floats.
std::vector<float> decode(const std::string& path, AudioInfo* info = nullptr);
// Root mean square of one channel of interleaved samples.
double channel_rms(const std::vector<float>& samples, int channels, int channel);

struct Mp3Facts {
    int frames = 0;       // MPEG audio frames
    int mpeg_version = 0; // 1, 2 or 25 (for 2.5)
    int sample_rate = 0;
    int channel_mode = -1;      // 0 stereo, 1 joint, 2 dual, 3 mono
    std::vector<int> bit_rates; // kbps of every frame (the tag frame included)
    std::string tag;            // "Xing", "Info" or "" from the first frame
};

// Walks the MPEG frame headers of an MP3 file.
std::optional<Mp3Facts> mp3_facts(const std::string& path);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& content);
bool exists(const std::string& path);
int64_t file_size(const std::string& path);
// Names in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);
// The hidden names (temporary files) in a directory; none when it does not exist.
std::vector<std::string> hidden_names(const std::string& dir);
// A private program folder: tarvik and the encoder library, with a lip-sync tool that is
// the real one (tool "real"), none (""), or a stand-in shell script (any other text).
// Returns the path of its tarvik.
std::string make_program_dir(const std::string& dir, const std::string& tool);

// Starts a program in the background with its output sent to out_file (or /dev/null), for
// tests that signal it. Returns its pid, or -1.
int start_program(const std::string& program, const std::vector<std::string>& args,
                  const std::string& out_file = "/dev/null");
// Waits for it; the raw wait status.
int wait_program(int pid);
// Waits until the predicate holds (checked every 2 ms) or the seconds pass; its last value.
bool wait_until(const std::function<bool()>& done, double seconds);

// casefold_fs (tests/support/casefold_fs.c) serving `backing` at the empty folder `mountpoint`
// until the object goes.
struct CasefoldMount {
    std::string mountpoint;
    int pid;
    ~CasefoldMount();
};
// Null, with the reason in `why_not`, when FUSE cannot be used here.
std::unique_ptr<CasefoldMount> mount_casefold(const std::string& backing,
                                              const std::string& mountpoint, bool nfkc,
                                              std::string& why_not);

// Whether `text` holds `piece`, with both in the message.
::testing::AssertionResult contains(const std::string& text, const std::string& piece);
// Number of times `needle` (not empty) occurs in `text`, without overlaps.
int count_occurrences(const std::string& text, const std::string& needle);
// The lines of a text, each without its line end; a last line without one is kept as is.
std::vector<std::string> lines_of(const std::string& text);

// A tmpfs of `options` (as mount -o takes them) at the existing folder `dir`, unmounted with
// the object; null, with the reason in `why_not`, where mounting is not allowed (not root).
struct TmpfsMount {
    std::string dir;
    ~TmpfsMount();
};
std::unique_ptr<TmpfsMount> mount_tmpfs(const std::string& dir, const std::string& options,
                                        std::string& why_not);

} // namespace tarvik::test
