#include "frontend/settings.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/dir_search.hpp"
#include "platform/system.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::gui {

namespace {
const char* yes_no(bool b) {
    return b ? "yes" : "no";
}

const char* quality_word(const GuiSettings& s) {
    if (s.qualityLow) return "low";
    if (s.qualityDefault) return "default";
    if (s.qualityHigh) return "high";
    if (s.qualityCustom) return "custom";
    return "default";
}

// A folder that cannot be read back as written is stored as "none".
std::string storable_or_empty(const std::string& folder) {
    return FolderStorable(folder) ? folder : std::string();
}

// The final target of a chain of symbolic links (the path itself when it is none); a
// dangling link gives the file it names, which the write then creates.
std::string link_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) break;
        target.resize(static_cast<size_t>(n));
        path = target.front() == '/' ? target : join_path(directory_of(path), target);
    }
    return path;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

void SetDefaultSettings(GuiSettings& s) {
    s = GuiSettings{};
}

bool IsValidBitrate(int32_t kbps) {
    static constexpr std::array<int32_t, 18> valid = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                                      96, 112, 128, 144, 160, 192, 224, 256, 320};
    for (const int32_t v : valid)
        if (v == kbps) return true;
    return false;
}

std::string SettingsPathFor(const std::string& exeDir) {
    if (platform::directory_writable(exeDir)) return join_path(exeDir, kSettingsFileName);
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = join_path(home, ".config");
    } else {
        return join_path(exeDir, kSettingsFileName);
    }
    return join_path(join_path(config, "tarvik"), kSettingsFileName);
}

bool MakeSettingsPath(AppPaths& paths) {
    return MakeSettingsPath(paths, dir_part(platform::executable_path()).value_or("."));
}

bool MakeSettingsPath(AppPaths& paths, const std::string& exeDir) {
    paths.settingsPath = SettingsPathFor(exeDir);
    return file_exists(paths.settingsPath);
}

std::string EncoderPathIn(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder + kEncoderFileName;
    return folder + "/" + kEncoderFileName;
}

EncoderCheck CheckEncoder(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return EncoderCheck::Missing;
    if (S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) return EncoderCheck::Found;
    return EncoderCheck::NotExecutable;
}

bool IsEncoderAt(const std::string& path) {
    return CheckEncoder(path) == EncoderCheck::Found;
}

std::optional<std::string> FindProgram(const std::string& name, const char* searchPath) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos)
        return IsEncoderAt(name) ? std::optional(name) : std::nullopt;
    const std::string path = searchPath ? searchPath : "";
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(':', start), path.size());
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty() && IsEncoderAt(join_path(dir, name))) return join_path(dir, name);
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> FindEncoderNear(const std::string& exeDir, const char* searchPath) {
    if (!exeDir.empty() && IsEncoderAt(EncoderPathIn(exeDir))) return EncoderPathIn(exeDir);
    return FindProgram(kEncoderFileName, searchPath);
}

bool LocateEncoder(AppPaths& paths) {
    TokenParser parser;
    parser.Load(paths.settingsPath);
    if (!parser.FindToken("$tarvik folder:")) return false;
    std::string folder;
    parser.ReadString(folder);
    parser.Rewind();
    paths.encoderPath = EncoderPathIn(folder);
    return IsEncoderAt(paths.encoderPath);
}

bool FolderHasWavs(const std::string& folder) {
    return !folder.empty() && !platform::find_entries(join_path(folder, "*.wav"), 1).empty();
}

bool FolderExists(const std::string& folder) {
    // The Windows search for "*.*" finds the "." entry of every existing folder, so the
    // test asks only that the folder still be there (empty or not).
    if (folder.empty()) return false;
    const auto found = platform::find_entries(folder, 1);
    return !found.empty() && found.front().is_directory;
}

bool FolderStorable(const std::string& folder) {
    if (folder.size() > TokenParser::kMaxValue) return false;
    if (folder.find_first_of(std::string(";\n\r\0", 4)) != std::string::npos) return false;
    if (folder.find("#eof") != std::string::npos || folder.find("#Eof") != std::string::npos)
        return false;
    if (!folder.empty()) {
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        if (blank(folder.front()) || blank(folder.back())) return false;
    }
    return true;
}

void ReadFolderSettings(TokenParser& p, GuiSettings& s) {
    s.inputFolder.clear();
    s.outputFolder.clear();
    std::string value;
    p.Rewind();
    if (p.FindToken("$last input folder:")) {
        p.ReadString(value);
        if (FolderHasWavs(value)) s.inputFolder = value;
    }
    p.Rewind();
    if (p.FindToken("$last output folder:")) {
        p.ReadString(value);
        if (FolderExists(value)) s.outputFolder = value;
    }
}

void ReadQualitySettings(TokenParser& p, GuiSettings& s) {
    s.qualityLow = s.qualityHigh = s.qualityCustom = false;
    s.qualityDefault = true;
    s.customBitrate = -1;
    p.Rewind();
    if (p.FindToken("$custom bitrate:")) {
        p.ReadInteger(s.customBitrate);
        if (!IsValidBitrate(s.customBitrate)) s.customBitrate = -1;
    }
    p.Rewind();
    if (p.FindToken("$last quality:")) {
        std::string word;
        p.ReadString(word);
        word = to_lower_ascii(word);
        if (word == "low" || word == "high" || word == "custom") {
            s.qualityDefault = false;
            s.qualityLow = word == "low";
            s.qualityHigh = word == "high";
            s.qualityCustom = word == "custom";
        }
    }
    const GuiSettings start;
    struct Preset {
        const char* key;
        int32_t GuiSettings::*field;
    };
    for (const Preset preset : {Preset{"$low bitrate:", &GuiSettings::lowBitrate},
                                Preset{"$default bitrate:", &GuiSettings::defaultBitrate},
                                Preset{"$high bitrate:", &GuiSettings::highBitrate}}) {
        p.Rewind();
        if (p.FindToken(preset.key))
            p.ReadInteger(s.*preset.field);
        else
            s.*preset.field = start.*preset.field;
        if (!IsValidBitrate(s.*preset.field)) s.*preset.field = start.*preset.field;
    }
}

void ReadOptionSettings(TokenParser& p, GuiSettings& s) {
    s.generateVlp = s.deleteWavs = s.useVbr = false;
    s.vbrValue = -1;
    p.Rewind();
    if (p.FindToken("$last option vlp:")) p.ReadBoolean(s.generateVlp);
    p.Rewind();
    if (p.FindToken("$last option delete:")) p.ReadBoolean(s.deleteWavs);
    p.Rewind();
    if (p.FindToken("$last option vbr:")) p.ReadBoolean(s.useVbr);
    if (s.useVbr) {
        p.Rewind();
        if (p.FindToken("$last vbr value:")) {
            p.ReadInteger(s.vbrValue);
            if (s.vbrValue < 0 || s.vbrValue > 9) {
                s.vbrValue = -1;
                s.useVbr = false;
            }
        }
    }
}

void ReadSilentMode(TokenParser& p, GuiSettings& s) {
    s.silentMode = false;
    p.Rewind();
    if (p.FindToken("$silent mode:")) p.ReadBoolean(s.silentMode);
}

void ReadNoClick(TokenParser& p, GuiSettings& s) {
    s.noClick = false;
    p.Rewind();
    if (p.FindToken("$no click:")) p.ReadBoolean(s.noClick);
}

void ReadAllSettings(TokenParser& p, GuiSettings& s) {
    ReadFolderSettings(p, s);
    ReadQualitySettings(p, s);
    ReadOptionSettings(p, s);
    ReadSilentMode(p, s);
    ReadNoClick(p, s);
    s.resetOnExit = false;
    p.Rewind();
}

std::string SettingsText(const GuiSettings& s, const AppPaths& paths, const std::tm& now) {
    const std::string separator = ";" + std::string(75, '-');
    const std::string encoderFolder = storable_or_empty(dir_part(paths.encoderPath).value_or(""));
    std::string t = format_text("; this file was generated on %02d/%02d/%02d @ %02d:%02d:%02d\n\n",
                                now.tm_mon + 1, now.tm_mday, now.tm_year % 100, now.tm_hour,
                                now.tm_min, now.tm_sec);
    auto line = [&t](const std::string& text) {
        t += text;
        t += '\n';
    };
    line("; config file for tarvik-gui v1.0b");
    line("");
    line("; nb: the semi-column character denotes a line of comments");
    line("; --> do not use it as a punctuation sign!");
    line("");
    line("; specifies the location of tarvik's executable file");
    line(format_text("$tarvik folder: %s", encoderFolder.c_str()));
    line("; specifies whether tarvik should be allowed to show up its terminal window");
    line(format_text("$silent mode:\t\t%s", yes_no(s.silentMode)));
    line("");
    line(separator);
    line("; specifies the bitrate to use for the \"Low\" quality setting (see below)");
    line(format_text("$low bitrate:\t\t%d", s.lowBitrate));
    line("; specifies the bitrate to use for the \"Default\" quality setting (see below)");
    line(format_text("$default bitrate:\t%d", s.defaultBitrate));
    line("; specifies the bitrate to use for the \"High\" quality setting (see below)");
    line(format_text("$high bitrate:\t\t%d", s.highBitrate));
    line("");
    line("; Here is the list of usable bitrate:");
    line("; - For MPEG-1 (sampling frequencies of 32, 44.1 and 48 kHz):");
    line("; |-> 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320");
    line("");
    line("; - For MPEG-2 and MPEG-2.5 (sampling frequencies of 8, 11.025, 12, 16, 22.05 and 24 "
         "kHz):");
    line("; |-> 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160");
    line("");
    line("; tarvik will reprocess your value if necessary, so don't get stunned by those");
    line("; numbers ;) Just remember that the medium value for MPEG-1 is 128kps and for");
    line("; MPEG-2/MPEG-2.5 80kbps, which corresponds to a good CD quality");
    line("");
    line(separator);
    line("; specifies the directory containing the WAVs files to be encoded");
    line(format_text("$last input folder: %s", storable_or_empty(s.inputFolder).c_str()));
    line("; specifies the destination directory for the encoded files");
    line(format_text("$last output folder: %s", storable_or_empty(s.outputFolder).c_str()));
    line("");
    line(separator);
    line("; defines the acoustic quality of produced MP3s (low, default, high or");
    line("; custom). The latter lets you specify the encoding bit rate to reach");
    line(format_text("$last quality:\t\t%s", quality_word(s)));
    line("; specifies the bit rate typed for the \"Custom\" quality setting (-1: none)");
    line(format_text("$custom bitrate:\t%d", s.customBitrate));
    line("; specifies whether to generate VLPs files or not (yes or no)");
    line(format_text("$last option vlp:\t%s", yes_no(s.generateVlp)));
    line("; specifies whether to delete WAVs files after process or not (yes or no)");
    line(format_text("$last option delete:\t%s", yes_no(s.deleteWavs)));
    line("; specifies whether to use Variable Bit Rate encoding technique or not (yes or no)");
    line(format_text("$last option vbr:\t%s", yes_no(s.useVbr)));
    line("; specifies the ratio compression/quality when VBR technique is used (0 ... 9)");
    line(format_text("$last vbr value:\t%d", s.vbrValue));
    line("");
    line(separator);
    line("; specifies whether tarvik should try to fix the \"click\" sound that is");
    line("; sometimes produced at the end of monophonic MP3s. Notice that this artefact");
    line("; doesn't affect all encoding of mono WAVs, so use it only on a need basis");
    line(format_text("$no click:\t\t%s\t", yes_no(s.noClick)));
    line("");
    line("#eof");
    return t;
}

bool WriteSettings(const GuiSettings& s, const AppPaths& paths, std::string* why) {
    auto fail = [why](int error) {
        if (why) *why = std::strerror(error);
        return false;
    };
    if (paths.settingsPath.empty()) return fail(ENOENT);
    const std::string target = link_target(paths.settingsPath);
    if (std::string dir = dir_part(target).value_or(""); !dir.empty()) make_dir_path(dir, true);

    const std::time_t t = std::time(nullptr);
    std::tm now{};
    ::localtime_r(&t, &now);
    const std::string text = SettingsText(s, paths, now);

    // A unique name beside the target, so the rename stays within one file system.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp =
            format_text("%s.tmp-%ld-%u", target.c_str(), static_cast<long>(::getpid()), counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return fail(errno);
    }
    if (fd < 0) return fail(EEXIST);
    bool ok = write_all(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (ok) return true;
    const int error = errno;
    ::unlink(temp.c_str());
    return fail(error);
}

} // namespace tarvik::gui
