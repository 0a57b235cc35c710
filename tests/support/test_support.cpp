#include "tests/support/test_support.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sndfile.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvik::test {

std::string bin_dir() {
    return TARVIK_BIN_DIR;
}
std::string bin(const std::string& name) {
    return bin_dir() + "/" + name;
}

namespace {
// The null-terminated pointer array that exec takes, over strings that outlive it.
std::vector<char*> exec_array(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}
} // namespace

std::string error_box_head(int line) {
    return "tarvik 1.1b - [called from \"tarvik\", line " + std::to_string(line) +
           "]\n************ ERROR ************\n";
}

std::string error_box(int line, const std::string& message) {
    return error_box_head(line) + message + "\n";
}

RunResult tarvik_in(const std::string& cwd, const std::vector<std::string>& args,
                    const std::string& program) {
    RunOptions o;
    o.cwd = cwd;
    return run(program, args, o);
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
    RunResult result;
    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (!options.env.count(key)) env_store.push_back(entry);
    }
    for (const auto& [k, v] : options.env)
        if (!v.empty()) env_store.push_back(k + "=" + v);
    std::vector<char*> envp = exec_array(env_store);
    std::vector<std::string> argv_store{program};
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv = exec_array(argv_store);

    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(err_pipe[0]);
        result.err = "spawn failed: " + std::string(strerror(rc));
        return result;
    }
    signal(SIGPIPE, SIG_IGN);
    if (!options.stdin_text.empty())
        (void)!write(in_pipe[1], options.stdin_text.data(), options.stdin_text.size());
    close(in_pipe[1]);

    const auto start = std::chrono::steady_clock::now();
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        poll(fds, 2, 100);
        char buf[65536];
        for (int i = 0; i < 2; ++i) {
            bool& open = i == 0 ? out_open : err_open;
            if (!open || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            else
                open = false;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > options.timeout_seconds) {
            kill(-pid, SIGKILL);
            result.timed_out = true;
            break;
        }
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!result.timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}

TempDir::TempDir() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/tarvik-test-XXXXXX";
    if (mkdtemp(templ.data())) path_ = templ;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Restore permissions a test may have taken away, so that everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) chmod(it->path().c_str(), 0755);
    }
    chmod(path_.c_str(), 0755);
    std::filesystem::remove_all(path_, ec);
}

bool write_wav(const std::string& path, const WavSpec& tone) {
    SF_INFO info{};
    info.samplerate = tone.sample_rate;
    info.channels = tone.channels;
    info.format = tone.format ? tone.format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const int64_t frames = static_cast<int64_t>(std::llround(tone.seconds * tone.sample_rate));
    std::vector<float> block(4096 * static_cast<size_t>(tone.channels));
    int64_t done = 0;
    bool ok = true;
    while (done < frames && ok) {
        const int64_t n = std::min<int64_t>(4096, frames - done);
        for (int64_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / tone.sample_rate;
            for (int c = 0; c < tone.channels; ++c) {
                const double f0 = tone.frequency * (1.0 + 0.25 * c);
                block[static_cast<size_t>(i * tone.channels + c)] =
                    static_cast<float>(tone.amplitude * std::sin(2 * M_PI * f0 * t));
            }
        }
        ok = sf_writef_float(f, block.data(), n) == n;
        done += n;
    }
    return sf_close(f) == 0 && ok;
}

std::optional<AudioInfo> audio_info(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return std::nullopt;
    sf_close(f);
    return AudioInfo{info.samplerate, info.channels, info.frames};
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
    size_t pos = 0;
    if (data.size() >= 10 && data.compare(0, 3, "ID3") == 0)
        pos = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
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
            facts.channel_mode = mode == 3 ? 3 : mode == 2 ? 2 : mode == 1 ? 1 : 0;
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
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int64_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
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
    if (!wait_until([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 10)) {
        kill(pid, SIGKILL);
        wait_program(pid);
    }
}

std::unique_ptr<CasefoldMount> mount_casefold(const std::string& backing,
                                              const std::string& mountpoint, bool nfkc,
                                              std::string& why_not) {
    const auto device = [&] {
        struct stat st {};
        return ::stat(mountpoint.c_str(), &st) == 0 ? st.st_dev : 0;
    };
    const dev_t before = device();
    std::vector<std::string> args{backing, mountpoint};
    if (nfkc) args.insert(args.begin(), "--nfkc");
    const std::string log = mountpoint + ".log";
    std::unique_ptr<CasefoldMount> mount(new CasefoldMount{
        mountpoint, start_program(std::string(TARVIK_TEST_BIN_DIR) + "/casefold_fs", args, log)});
    bool mounted = false;
    wait_until(
        [&] {
            if (mount->pid > 0 && waitpid(mount->pid, nullptr, WNOHANG) == mount->pid)
                mount->pid = -1;
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
    if (needle.empty()) return 0;
    for (size_t pos = text.find(needle); pos != std::string::npos;
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
        ::chmod((dir + "/lipsync").c_str(), 0755);
    return dir + "/tarvik";
}

int start_program(const std::string& program, const std::vector<std::string>& args,
                  const std::string& out_file) {
    std::vector<std::string> store{program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv = exec_array(store);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int wait_program(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool wait_until(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        usleep(2000);
    }
    return true;
}

// ---- End-to-end helpers shared by the fault, batch and encoding tests ----

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
