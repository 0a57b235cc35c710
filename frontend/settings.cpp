// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/settings.hpp"

#include "common/mpeg.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/output_dir.hpp"
#include "platform/atomic_file.hpp"
#include "platform/dir_search.hpp"
#include "platform/files.hpp"
#include "platform/system.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvik::gui {

namespace {
// A folder that cannot be read back as written is stored as "none".
std::string storable_or_empty(const std::string& folder) {
    return FolderStorable(folder) ? folder : std::string();
}
} // namespace

bool IsValidBitrate(int32_t kbps) {
    const auto in = [kbps](const auto& list) { return std::ranges::count(list, kbps) > 0; };
    return in(kMpeg1Kbps) || in(kMpeg2Kbps);
}

std::string KbpsList(bool mpeg1) {
    std::string list;
    for (const uint16_t kbps : mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)
        list += (list.empty() ? "" : ", ") + std::to_string(kbps);
    return list;
}

std::string KhzList(bool mpeg1, std::string_view lastJoin) {
    std::vector<std::string> khz;
    for (const uint32_t rate : kMpegRates) {
        if (is_mpeg1_rate(rate) != mpeg1) continue;
        // 11025 Hz is "11.025", 22050 Hz "22.05", 8000 Hz "8".
        std::string text = std::to_string(rate / 1000);
        if (rate % 1000 != 0) {
            std::string fraction = std::to_string(1000 + rate % 1000).substr(1); // three digits
            fraction.erase(fraction.find_last_not_of('0') + 1);
            text += "." + fraction;
        }
        khz.push_back(text);
    }
    std::string list = khz.front();
    for (size_t i = 1; i < khz.size(); ++i)
        list += (i + 1 == khz.size() ? std::string(lastJoin) : std::string(", ")) + khz[i];
    return list;
}

std::string SettingsPathFor(const std::string& exeDir) {
    const bool system = platform::is_system_folder(exeDir);
    if (!system && platform::directory_writable(exeDir))
        return join_path(exeDir, kSettingsFileName);
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = join_path(home, ".config");
    } else {
        return system ? std::string() : join_path(exeDir, kSettingsFileName);
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
    const auto status = path.empty() ? std::nullopt : platform::file_status(path);
    if (!status) return EncoderCheck::Missing;
    if (status->type == platform::FileType::Regular && platform::is_executable(path))
        return EncoderCheck::Found;
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
    if (!parser.FindToken(kEncoderFolderKey)) return false;
    std::string folder;
    parser.ReadString(folder);
    parser.Rewind();
    paths.encoderPath = EncoderPathIn(folder);
    return IsEncoderAt(paths.encoderPath);
}

bool FolderHasWavs(const std::string& folder, bool below) {
    if (folder.empty()) return false;
    if (!platform::find_entries(join_path(folder, "*.wav"), 1).empty()) return true;
    if (!below) return false;
    namespace fs = std::filesystem;
    // A tree too large to look through quickly is taken as holding WAVs: tarvik says so if not.
    constexpr int kMaxEntriesSearched = 20000;
    int searched = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        if (++searched > kMaxEntriesSearched) return true;
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && iequals(std::string_view(name).substr(name.size() - 4), ".wav"))
            return true;
    }
    return false;
}

bool FolderExists(const std::string& folder) {
    // The Windows search for "*.*" finds the "." entry of every existing folder, so the
    // test asks only that the folder still be there (empty or not).
    if (folder.empty()) return false;
    const auto found = platform::find_entries(folder, 1);
    return !found.empty() && found.front().is_directory;
}

// A kept input folder is used when it holds WAVs, or folders that may hold them (the tree
// option may be on); only its own entries are read, so a start never walks a whole tree.
bool InputFolderUsable(const std::string& folder) {
    if (FolderHasWavs(folder)) return true;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) return true;
    return false;
}

bool OutputFolderUsable(const std::string& folder) {
    return FolderExists(folder) && output_dir_acceptable(folder) != OutputDir::Quoted;
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

namespace {
// How a key's value is read into the record and written from it.
struct EncoderFolder {}; // from and into the paths; read by LocateEncoder alone
struct Flag {
    bool GuiSettings::*field;
};
struct Bitrate { // a valid bit rate, else the field's default
    int32_t GuiSettings::*field;
};
struct Folder { // kept only when `usable`; written as empty when not storable
    std::string GuiSettings::*field;
    bool (*usable)(const std::string&);
};
struct QualityWord {};
struct VbrValue {};       // 0 to 9, read only when VBR is on; another value switches VBR off
struct LoudnessTarget {}; // kMinLoudnessTarget to kMaxLoudnessTarget, else the default
struct Language {};       // any word; none, or one the file cannot keep, is the default
using Value = std::variant<EncoderFolder, Flag, Bitrate, Folder, QualityWord, VbrValue,
                           LoudnessTarget, Language>;

struct Key {
    std::string above;     // the comment lines written above the key's line
    std::string_view name; // matched without regard to letter case when read
    std::string_view gap;  // between the name and the value
    Value value;
    std::string_view after = {}; // after the value, on the same line
};

template <class... F> struct Overload : F... { using F::operator()...; };
// The deduction guide that clang 14 still needs for an aggregate.
template <class... F> Overload(F...) -> Overload<F...>;

constexpr std::array<std::string_view, 4> kQualityWords{"low", "default", "high", "custom"};

const std::string kSeparator = ";" + std::string(75, '-') + "\n";

std::string rate_list_comment() {
    return "\n; Here is the list of usable bitrate:\n; - For MPEG-1 (sampling frequencies of " +
           KhzList(true) + " kHz):\n; |-> " + KbpsList(true) +
           "\n\n; - For MPEG-2 and MPEG-2.5 (sampling frequencies of " + KhzList(false) +
           " kHz):\n; |-> " + KbpsList(false) +
           "\n\n; tarvik will reprocess your value if necessary, so don't get stunned by those\n"
           "; numbers ;) Just remember that the medium value for MPEG-1 is 128kps and for\n"
           "; MPEG-2/MPEG-2.5 80kbps, which corresponds to a good CD quality\n\n";
}

// Every key of the settings file, in the file's order, with the text written above it.
const std::vector<Key>& settings_keys() {
    using S = GuiSettings;
    static const std::vector<Key> keys{
        {"; config file for tarvik-gui " TARVIK_VERSION "\n\n"
         "; nb: the semi-column character denotes a line of comments\n"
         "; --> do not use it as a punctuation sign!\n\n"
         "; specifies the location of tarvik's executable file\n",
         kEncoderFolderKey, " ", EncoderFolder{}},
        {"; specifies whether tarvik should be allowed to show up its terminal window\n",
         "$silent mode:", "\t\t", Flag{&S::silentMode}},
        {"\n" + kSeparator +
             "; specifies the bitrate to use for the \"Low\" quality setting (see below)\n",
         "$low bitrate:", "\t\t", Bitrate{&S::lowBitrate}},
        {"; specifies the bitrate to use for the \"Default\" quality setting (see below)\n",
         "$default bitrate:", "\t", Bitrate{&S::defaultBitrate}},
        {"; specifies the bitrate to use for the \"High\" quality setting (see below)\n",
         "$high bitrate:", "\t\t", Bitrate{&S::highBitrate}},
        {rate_list_comment() + kSeparator +
             "; specifies the directory containing the WAVs files to be encoded\n",
         "$last input folder:", " ", Folder{&S::inputFolder, InputFolderUsable}},
        {"; specifies the destination directory for the encoded files\n",
         "$last output folder:", " ", Folder{&S::outputFolder, OutputFolderUsable}},
        {"\n" + kSeparator +
             "; defines the acoustic quality of produced MP3s (low, default, high or\n"
             "; custom). The latter lets you specify the encoding bit rate to reach\n",
         "$last quality:", "\t\t", QualityWord{}},
        {"; specifies the bit rate typed for the \"Custom\" quality setting (-1: none)\n",
         "$custom bitrate:", "\t", Bitrate{&S::customBitrate}},
        {"; specifies whether to generate VLPs files or not (yes or no)\n",
         "$last option vlp:", "\t", Flag{&S::generateVlp}},
        {"; specifies the language of the lines for the VLPs (a code that\n"
         "; \"lipsync --language list\" shows, such as en-us, de or pt-br)\n",
         "$lip-sync language:", "\t", Language{}},
        {"; specifies whether to delete WAVs files after process or not (yes or no)\n",
         "$last option delete:", "\t", Flag{&S::deleteWavs}},
        {"; specifies whether to use Variable Bit Rate encoding technique or not (yes or no)\n",
         "$last option vbr:", "\t", Flag{&S::useVbr}},
        {"; specifies the ratio compression/quality when VBR technique is used (0 ... 9)\n",
         "$last vbr value:", "\t", VbrValue{}},
        {"\n" + kSeparator +
             "; specifies whether tarvik should try to fix the \"click\" sound that is\n"
             "; sometimes produced at the end of monophonic MP3s. Notice that this artefact\n"
             "; doesn't affect all encoding of mono WAVs, so use it only on a need basis\n",
         "$no click:", "\t\t", Flag{&S::noClick}, "\t"},
        {"\n" + kSeparator +
             "; specifies whether to encode the WAVs of every subfolder too (yes or no)\n",
         "$last option tree:", "\t", Flag{&S::recurse}},
        {"; specifies whether to skip the WAVs whose MP3 is up to date (yes or no)\n",
         "$last option update:", "\t", Flag{&S::update}},
        {"; specifies whether to bring every MP3 to the loudness target (yes or no)\n",
         "$last option loudness:", "\t", Flag{&S::normalizeLoudness}},
        {format_text("; specifies the loudness target in LUFS (%d ... %d)\n", kMinLoudnessTarget,
                     kMaxLoudnessTarget),
         "$loudness target:", "\t", LoudnessTarget{}},
    };
    return keys;
}

void read_key(TokenParser& p, const Key& key, GuiSettings& s) {
    p.Rewind();
    if (!p.FindToken(key.name)) return;
    const GuiSettings defaults;
    std::visit(Overload{
                   [](EncoderFolder) {},
                   [&](Flag f) { p.ReadBoolean(s.*f.field); },
                   [&](Bitrate b) {
                       p.ReadInteger(s.*b.field);
                       if (!IsValidBitrate(s.*b.field)) s.*b.field = defaults.*b.field;
                   },
                   [&](Folder f) {
                       std::string folder;
                       p.ReadString(folder);
                       if (f.usable(folder)) s.*f.field = folder;
                   },
                   [&](QualityWord) {
                       std::string word;
                       p.ReadString(word);
                       const auto at = std::ranges::find(kQualityWords, to_lower_ascii(word));
                       if (at != kQualityWords.end())
                           s.quality = static_cast<Quality>(at - kQualityWords.begin());
                   },
                   [&](VbrValue) {
                       if (!s.useVbr) return;
                       p.ReadInteger(s.vbrValue);
                       if (s.vbrValue < 0 || s.vbrValue > 9) s.vbrValue = -1, s.useVbr = false;
                   },
                   [&](LoudnessTarget) {
                       p.ReadInteger(s.loudnessTarget);
                       if (s.loudnessTarget < kMinLoudnessTarget ||
                           s.loudnessTarget > kMaxLoudnessTarget)
                           s.loudnessTarget = defaults.loudnessTarget;
                   },
                   [&](Language) {
                       std::string word;
                       p.ReadString(word);
                       if (!word.empty()) s.lipsLanguage = word;
                   },
               },
               key.value);
}

std::string value_text(const Key& key, const GuiSettings& s, const AppPaths& paths) {
    return std::visit(
        Overload{
            [&](EncoderFolder) {
                return storable_or_empty(dir_part(paths.encoderPath).value_or(""));
            },
            [&](Flag f) { return std::string(s.*f.field ? "yes" : "no"); },
            [&](Bitrate b) { return std::to_string(s.*b.field); },
            [&](Folder f) { return storable_or_empty(s.*f.field); },
            [&](QualityWord) { return std::string(kQualityWords[static_cast<size_t>(s.quality)]); },
            [&](VbrValue) { return std::to_string(s.vbrValue); },
            [&](LoudnessTarget) { return std::to_string(s.loudnessTarget); },
            [&](Language) {
                // Kept as a folder name would be: read back exactly as written.
                return !s.lipsLanguage.empty() && FolderStorable(s.lipsLanguage)
                           ? s.lipsLanguage
                           : std::string(GuiSettings().lipsLanguage);
            },
        },
        key.value);
}
} // namespace

void ReadAllSettings(TokenParser& p, GuiSettings& s) {
    s = GuiSettings{};
    for (const Key& key : settings_keys())
        read_key(p, key, s);
    p.Rewind();
}

std::string SettingsText(const GuiSettings& s, const AppPaths& paths, const std::tm& now) {
    std::string t = format_text("; this file was generated on %02d/%02d/%02d @ %02d:%02d:%02d\n\n",
                                now.tm_mon + 1, now.tm_mday, now.tm_year % 100, now.tm_hour,
                                now.tm_min, now.tm_sec);
    for (const Key& key : settings_keys()) {
        t += key.above;
        t += key.name;
        t += key.gap;
        t += value_text(key, s, paths);
        t += key.after;
        t += '\n';
    }
    return t + "\n#eof\n";
}

SettingsFileState InspectSettingsFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = path.empty() ? fs::file_status() : fs::status(path, ec);
    if (!fs::is_regular_file(status)) return {};
    if (const auto size = fs::file_size(path, ec); !ec && size > TokenParser::kCapacity)
        return {SettingsFileState::TooLarge,
                format_text("it holds %ju bytes, more than the %zu MB a settings file may hold",
                            static_cast<uintmax_t>(size), TokenParser::kCapacity >> 20)};
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
        return {SettingsFileState::ReadOnly, {}};
    return {};
}

namespace {
// Makes each missing folder of `dir` readable by the user alone, as the XDG base directory
// rules ask of a configuration folder.
void make_private_folders(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (dir.empty() || fs::exists(dir, ec) || dir == dir.parent_path()) return;
    make_private_folders(dir.parent_path());
    if (fs::create_directory(dir, ec)) fs::permissions(dir, fs::perms::owner_all, ec);
}
} // namespace

bool WriteSettings(const GuiSettings& s, const AppPaths& paths, std::string* why) {
    namespace fs = std::filesystem;
    const auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    if (paths.settingsPath.empty())
        return fail("neither XDG_CONFIG_HOME nor HOME names a folder for it");
    if (const SettingsFileState state = InspectSettingsFile(paths.settingsPath);
        state.kind != SettingsFileState::Usable)
        return fail(state.kind == SettingsFileState::ReadOnly ? "it is read-only" : state.reason);

    const std::time_t t = std::time(nullptr);
    std::tm now{};
    ::localtime_r(&t, &now);
    // Named after tarvik-gui, not tarvik: a tarvik run in the same folder must not take a
    // live front end's temporary file for a stale one of its own.
    platform::AtomicFile file(paths.settingsPath, {.program = "tarvik-gui", .through_links = true});
    // The folder is made for the file the link finally names, where the file is written.
    make_private_folders(fs::path(file.target()).parent_path());
    std::error_code ec;
    const fs::file_status old = fs::status(file.target(), ec);
    if (file.open() && file.write(SettingsText(s, paths, now)) && file.close()) {
        // The new file takes the place of the old one with the permissions it had.
        if (fs::is_regular_file(old)) fs::permissions(file.temp_path(), old.permissions(), ec);
        file.commit();
    }
    if (file.failed_step() != platform::AtomicFile::Step::None)
        return fail(std::strerror(file.error_number()));
    return true;
}

} // namespace tarvik::gui
