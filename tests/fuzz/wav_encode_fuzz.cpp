// Feeds arbitrary bytes to the single-file encode path as a WAV file: probe_wav,
// adjust_config (left out as batch mode does for some inputs), get_wav_specs, and encode_mp3
// with the real encoder library. The last input byte picks the run settings, so mutations of
// the sample data also vary the bit rate, channel mode, VBR and the encode options.
// Checked beyond the sanitizers: the record stays within the encoder's channel-mode codes,
// and an encode leaves either the complete MP3 or nothing at all in its directory.
#include "common/console_out.hpp"
#include "encoder/binding.hpp"
#include "encoder/encoding.hpp"
#include "encoder/wav_inspect.hpp"
#include "platform/box.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint16_t kBitRates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                  96, 112, 128, 144, 160, 192, 224, 256, 320};

std::string work_dir; // one per process, removed at exit
std::string wav_path;
std::string mp3_path;

void quiet_box(tarvik::platform::BoxIcon, const std::string&, const std::string&) {}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

void clear_work_dir() {
    for (const auto& name : entries(work_dir)) ::unlink((work_dir + "/" + name).c_str());
}

void remove_work_dir() {
    clear_work_dir();
    ::rmdir(work_dir.c_str());
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "wav_encode_fuzz: %s\n", what);
    std::abort();
}

bool write_input(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(wav_path.c_str(), "wb");
    if (!f) return false;
    const bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
    return std::fclose(f) == 0 && ok;
}

} // namespace

// Undefined behaviour ends the run like a crash, so that libFuzzer keeps the input.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarvik::platform::set_box_handler(quiet_box);
    // The encoder's console lines would drown libFuzzer's own (which go to standard error).
    if (const int fd = ::open("/dev/null", O_WRONLY); fd >= 0) {
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    if (!tarvik::load_lame()) fail("cannot load lame_enc.so");
    // A memory file system when there is one: every successful encode syncs its MP3.
    struct stat st{};
    std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "";
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string templ = base + "/wav_encode_fuzz.XXXXXX";
    if (!::mkdtemp(templ.data())) fail("cannot create a temporary directory");
    work_dir = templ;
    wav_path = work_dir + "/input.wav";
    mp3_path = work_dir + "/output.mp3";
    std::atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    clear_work_dir();
    if (!write_input(data, size)) fail("cannot write the input file");

    const uint8_t pick = size ? data[size - 1] : 0;
    tarvik::RunSettings settings;
    settings.bit_rate = kBitRates[pick % 18];
    settings.mode = static_cast<uint8_t>((pick >> 2) & 3);
    settings.vbr_quality = (pick & 0x40) ? pick % 10 : -1;
    const bool batch_order = pick & 0x08;

    BE_CONFIG config = tarvik::build_config(settings);
    if (tarvik::probe_wav(wav_path, config, settings, true)) {
        if (!batch_order) tarvik::adjust_config(config, settings);
        if (tarvik::get_wav_specs(wav_path, config, settings)) {
            const auto& l = config.format.LHV1;
            if (l.nMode < 0 || l.nMode > 3) fail("channel mode outside the encoder's codes");
            if (l.dwSampleRate != settings.sample_rate) fail("record and settings disagree on the rate");

            tarvik::EncodeOptions options;
            options.show_bar = pick & 0x10;
            options.no_click = pick & 0x20;
            options.progress = pick & 0x80;
            std::string text;
            tarvik::ConsoleOut out(&text);
            const bool ok = tarvik::encode_mp3(config, wav_path, mp3_path, options, out);

            // Complete or absent: the input, plus the MP3 only on success; no temporary file.
            const auto names = entries(work_dir);
            if (names.size() != (ok ? 2u : 1u)) fail("encode left an unexpected set of files");
            struct stat st{};
            if (ok != (::stat(mp3_path.c_str(), &st) == 0)) fail("MP3 presence does not match the result");
        }
    }
    clear_work_dir();
    return 0;
}
