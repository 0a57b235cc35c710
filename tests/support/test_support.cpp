// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/test_support.hpp"
#include "common/version.hpp"

#include "platform/files.hpp"
#include "platform/process.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sndfile.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace tarvik::test {

std::string bin_dir() {
    return TARVIK_BIN_DIR;
}
std::string bin(const std::string& name) {
    return bin_dir() + "/" + name;
}

std::string error_box_head(int line) {
    return std::string("tarvik ") + tarvik::kVersion + " - [called from \"tarvik\", line " +
           std::to_string(line) + "]\n************ ERROR ************\n";
}

std::string error_box(int line, const std::string& message) {
    return error_box_head(line) + message + "\n";
}

RunResult tarvik_in(const std::string& cwd, const std::vector<std::string>& args,
                    const std::string& program) {
    return run(program, args, {.cwd = cwd});
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
    std::vector<std::string> env_changes;
    for (const auto& [k, v] : options.env)
        env_changes.push_back(v.empty() ? k : k + "=" + v);
    const platform::CapturedRun run = platform::run_captured(
        program, args, options.stdin_text, options.cwd, env_changes, options.timeout_seconds);
    RunResult result;
    result.out = run.out;
    result.err = run.error.empty() ? run.err : "spawn failed: " + run.error;
    result.timed_out = run.result.timed_out;
    if (!result.timed_out && run.result.exited) result.exit_status = run.result.exit_status;
    return result;
}

std::string run_in_terminal(const std::string& program, const std::vector<std::string>& args) {
    int terminal = -1, slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&terminal, &slave, nullptr, &raw, nullptr) != 0) return {};
    const int pid = start_program(program, args, ttyname(slave));
    close(slave);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n)); // EIO once the program is gone
    close(terminal);
    wait_program(pid);
    return out;
}

TempDir::TempDir() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/tarvik-test-XXXXXX";
    if (mkdtemp(templ.data())) path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

bool write_wav(const std::string& path, const WavSpec& tone) {
    const auto sine = [&](int64_t frame, int channel) {
        const double f0 = tone.frequency * (1.0 + 0.25 * channel);
        return tone.amplitude * std::sin(2 * M_PI * f0 * double(frame) / tone.sample_rate);
    };
    return write_wav_with(path, tone.sample_rate, tone.channels,
                          std::llround(tone.seconds * tone.sample_rate), sine, tone.format);
}

std::vector<float> decode(const std::string& path, AudioInfo* out_info) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> samples;
    if (!f) return samples;
    std::vector<float> block(4096 * static_cast<size_t>(info.channels));
    sf_count_t n;
    while ((n = sf_readf_float(f, block.data(), 4096)) > 0)
        samples.insert(samples.end(), block.begin(), block.begin() + n * info.channels);
    sf_close(f);
    if (out_info) *out_info = AudioInfo{info.samplerate, info.channels, info.frames};
    return samples;
}

std::optional<Mp3Facts> mp3_facts(const std::string& path) {
    const std::string data = read_file(path);
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    size_t pos = 0; // tarvik writes no ID3 tag: the first frame starts the file
    static const int kRates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    static const int kBitsV1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
    static const int kBitsV2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                    64, 80, 96, 112, 128, 144, 160, 0};
    Mp3Facts facts;
    while (pos + 4 <= data.size()) {
        if (b[pos] != 0xFF || (b[pos + 1] & 0xE0) != 0xE0) break;
        const int ver_bits = (b[pos + 1] >> 3) & 3, layer = (b[pos + 1] >> 1) & 3;
        const int br_index = b[pos + 2] >> 4, sr_index = (b[pos + 2] >> 2) & 3;
        const int padding = (b[pos + 2] >> 1) & 1, mode = b[pos + 3] >> 6;
        if (ver_bits == 1 || layer != 1 || sr_index == 3 || br_index == 0 || br_index == 15) break;
        const int version = ver_bits == 3 ? 1 : ver_bits == 2 ? 2 : 25;
        const int row = version == 1 ? 0 : version == 2 ? 1 : 2;
        const int rate = kRates[row][sr_index];
        const int kbps = version == 1 ? kBitsV1[br_index] : kBitsV2[br_index];
        const size_t length =
            static_cast<size_t>((version == 1 ? 144000 : 72000) * kbps / rate + padding);
        if (facts.frames == 0) {
            facts.mpeg_version = version;
            facts.sample_rate = rate;
            facts.channel_mode = mode;
            const std::string first = data.substr(pos, std::min(length, data.size() - pos));
            if (first.find("Xing") != std::string::npos) facts.tag = "Xing";
            if (first.find("Info") != std::string::npos) facts.tag = "Info";
        }
        facts.bit_rates.push_back(kbps);
        ++facts.frames;
        pos += length;
    }
    if (facts.frames == 0) return std::nullopt;
    return facts;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    return static_cast<bool>(out);
}

bool exists(const std::string& path) {
    return platform::name_exists(path);
}

int64_t file_size(const std::string& path) {
    const auto status = platform::file_status(path);
    return status ? status->identity.size : -1;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> hidden_names(const std::string& dir) {
    std::vector<std::string> names = list_dir(dir);
    std::erase_if(names, [](const std::string& n) { return n[0] != '.'; });
    return names;
}

CasefoldMount::~CasefoldMount() {
    if (pid < 0) return;
    // It serves until unmounted; a busy mount is detached lazily.
    if (run("/bin/fusermount3", {"-u", mountpoint}).exit_status != 0)
        run("/bin/umount", {"-l", mountpoint});
    if (!wait_until([&] { return platform::child_ended(pid); }, 10)) {
        platform::send_signal(pid, SIGKILL);
        wait_program(pid);
    }
}

std::unique_ptr<CasefoldMount> mount_casefold(const std::string& backing,
                                              const std::string& mountpoint, bool nfkc,
                                              std::string& why_not) {
    const auto device = [&] {
        const auto status = platform::file_status(mountpoint);
        return status ? status->identity.device : 0;
    };
    const uint64_t before = device();
    std::vector<std::string> args{backing, mountpoint};
    if (nfkc) args.insert(args.begin(), "--nfkc");
    const std::string log = mountpoint + ".log";
    std::unique_ptr<CasefoldMount> mount(new CasefoldMount{
        mountpoint, start_program(std::string(TARVIK_TEST_BIN_DIR) + "/casefold_fs", args, log)});
    bool mounted = false;
    wait_until(
        [&] {
            if (mount->pid > 0 && platform::child_ended(mount->pid)) mount->pid = -1;
            mounted = mount->pid > 0 && device() != 0 && device() != before;
            return mounted || mount->pid < 0;
        },
        10);
    if (mounted) return mount;
    why_not = "cannot mount the case-folding file system: " + read_file(log);
    return nullptr;
}

::testing::AssertionResult contains(const std::string& text, const std::string& piece) {
    const bool found = text.find(piece) != std::string::npos;
    return (found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "\"" << piece << (found ? "\" in:\n" : "\" not in:\n") << text;
}

int count_occurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t pos = text.find(needle); !needle.empty() && pos != std::string::npos;
         pos = text.find(needle, pos + needle.size()))
        ++count;
    return count;
}

std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string riff_wav(uint16_t tag, int channels, uint32_t rate, int bits,
                     const std::string& payload, std::optional<uint32_t> data_size) {
    const auto le16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    const std::string fmt = le16(tag) + le16(static_cast<uint32_t>(channels)) + le32(rate) +
                            le32(rate * align) + le16(align) + le16(static_cast<uint32_t>(bits));
    const std::string body = "WAVEfmt " + le32(16) + fmt + "data" +
                             le32(data_size.value_or(static_cast<uint32_t>(payload.size()))) +
                             payload;
    return "RIFF" + le32(static_cast<uint32_t>(body.size())) + body;
}

std::string make_program_dir(const std::string& dir, const std::string& tool) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    fs::copy_file(bin("tarvik"), dir + "/tarvik", fs::copy_options::overwrite_existing);
    fs::copy_file(bin("lame_enc.so"), dir + "/lame_enc.so", fs::copy_options::overwrite_existing);
    if (tool == "real")
        fs::copy_file(bin("lipsync"), dir + "/lipsync", fs::copy_options::overwrite_existing);
    else if (!tool.empty() && write_file(dir + "/lipsync", tool))
        fs::permissions(dir + "/lipsync", fs::perms(0755));
    return dir + "/tarvik";
}

int start_program(const std::string& program, const std::vector<std::string>& args,
                  const std::string& out_file) {
    return platform::spawn_with_output_file(program, args, out_file);
}

int wait_program(int pid) {
    return platform::wait_for_child(pid);
}

bool wait_until(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool write_wav_with(const std::string& path, int rate, int channels, int64_t frames,
                    const std::function<double(int64_t, int)>& sample, int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    // Full scale must reach the file as full scale, not be clipped one step short.
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<double> block(4096 * static_cast<size_t>(channels));
    bool ok = true;
    for (int64_t done = 0; done < frames && ok;) {
        const int64_t n = std::min<int64_t>(4096, frames - done);
        for (int64_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                block[static_cast<size_t>(i * channels + c)] = sample(done + i, c);
        ok = sf_writef_double(f, block.data(), n) == n;
        done += n;
    }
    return sf_close(f) == 0 && ok;
}

double channel_rms(const std::vector<float>& samples, int channels, int channel) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = static_cast<size_t>(channel); i < samples.size();
         i += static_cast<size_t>(channels), ++n)
        sum += double(samples[i]) * samples[i];
    return n ? std::sqrt(sum / double(n)) : 0;
}

TmpfsMount::~TmpfsMount() {
    run("/bin/umount", {dir});
}

std::unique_ptr<TmpfsMount> mount_tmpfs(const std::string& dir, const std::string& options,
                                        std::string& why_not) {
    std::filesystem::create_directories(dir);
    const RunResult m = run("/bin/mount", {"-t", "tmpfs", "-o", options, "tmpfs", dir});
    if (m.exit_status == 0) return std::unique_ptr<TmpfsMount>(new TmpfsMount{dir});
    why_not = "cannot mount a tmpfs here (needs root): " + m.err;
    return nullptr;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    if (pos < text.size()) lines.push_back(text.substr(pos));
    return lines;
}

} // namespace tarvik::test
