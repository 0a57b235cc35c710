// SPDX-License-Identifier: GPL-3.0-or-later
// The front end's settings: the record the dialog edits, where its file lives, and the one
// table of its keys (settings.cpp) from which the file is both read back and written.
#pragma once

#include "encoder/loudness.hpp"
#include "lipsync/command_line.hpp"

#include "frontend/token_parser.hpp"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::gui {

inline constexpr const char* kSettingsFileName = "tarvik-gui.ini";
inline constexpr const char* kEncoderFileName = "tarvik";
// The key whose value names the folder where the encoder is installed.
inline constexpr std::string_view kEncoderFolderKey = "$tarvik folder:";

// The loudness target offered first, in LUFS (EBU R 128's); the range is tarvik's
// (kMinLoudnessTarget, kMaxLoudnessTarget).
inline constexpr int32_t kDefaultLoudnessTarget = -23;

// The quality preset the batch is encoded with; Custom takes the typed bit rate.
enum class Quality { Low, Default, High, Custom };

// The user's choices; resetOnExit is never stored in the file.
struct GuiSettings {
    int32_t lowBitrate = 56;
    int32_t defaultBitrate = 128;
    int32_t highBitrate = 256;
    std::string inputFolder;  // empty: none chosen
    std::string outputFolder; // empty: none chosen
    bool generateVlp = false;
    std::string lipsLanguage = lipsync::kDefaultLanguage; // the VLPs' language (a code)
    bool deleteWavs = false;
    bool useVbr = false;
    int32_t vbrValue = -1; // 0 to 9; -1 whenever useVbr is false
    Quality quality = Quality::Default;
    int32_t customBitrate = -1; // -1: none typed, or not a valid bit rate
    bool silentMode = false;
    bool noClick = false;
    bool recurse = false;           // the WAVs of every subfolder too
    bool update = false;            // skip the WAVs whose outputs are up to date
    bool normalizeLoudness = false; // bring every MP3 to loudnessTarget
    int32_t loudnessTarget =
        kDefaultLoudnessTarget; // LUFS, kMinLoudnessTarget to kMaxLoudnessTarget
    bool resetOnExit = false;

    bool operator==(const GuiSettings&) const = default;
};

// Full paths of the settings file and of the encoder's executable.
struct AppPaths {
    std::string settingsPath;
    std::string encoderPath;
};

// One of the 18 MPEG-1 and MPEG-2/2.5 Layer III bit rates in kbps (144 yes, 176 no).
bool IsValidBitrate(int32_t kbps);
// The bit rates of MPEG-1 (or of MPEG-2/2.5) as the dialog and the settings file list them,
// "32, 40, ..., 320", and their sample rates in kHz, "32, 44.1" + lastJoin + "48".
std::string KbpsList(bool mpeg1);
std::string KhzList(bool mpeg1, std::string_view lastJoin = " and ");

// Where the settings file lives for a front end installed in `exeDir`. Nothing is written
// beside a program installed in a system folder (see platform::is_system_folder): its
// settings go to $XDG_CONFIG_HOME/tarvik/ (by default ~/.config/tarvik/), as do those of a
// portable copy whose folder is not writable; a writable portable folder keeps them beside
// the executable. Empty when a system folder is given and neither variable names a folder.
std::string SettingsPathFor(const std::string& exeDir);
// Fills paths.settingsPath for the running executable (or for `exeDir` when given); true
// when that file exists.
bool MakeSettingsPath(AppPaths& paths);
bool MakeSettingsPath(AppPaths& paths, const std::string& exeDir);

// `folder` + '/' (unless it ends in one) + "tarvik".
std::string EncoderPathIn(const std::string& folder);
enum class EncoderCheck { Found, Missing, NotExecutable };
// Found when `path` is an executable regular file.
EncoderCheck CheckEncoder(const std::string& path);
bool IsEncoderAt(const std::string& path);
// Reads "$tarvik folder:" from the settings file into paths.encoderPath (left as it was
// when the key is missing); true when the encoder is there.
bool LocateEncoder(AppPaths& paths);
// The encoder found without asking: beside the front end's own executable, then in the
// folders of `searchPath` (a PATH-style list).
std::optional<std::string> FindEncoderNear(const std::string& exeDir, const char* searchPath);
// The first executable regular file called `name` in the folders of a PATH-style list (or
// `name` itself when it holds a '/').
std::optional<std::string> FindProgram(const std::string& name, const char* searchPath);

// Input folder test: at least one entry of the folder matches "*.wav" (any letter case);
// with `below`, in the folder or any folder under it (links to folders not followed), as a
// tree run (-recurse) finds them.
bool FolderHasWavs(const std::string& folder, bool below = false);
// Output folder test: the folder still exists.
bool FolderExists(const std::string& folder);
// A kept output folder is used only when it still exists and tarvik accepts its name.
bool OutputFolderUsable(const std::string& folder);

// Whether a folder name survives a write and a read of the settings file unchanged. Any
// UTF-8 name does, except those holding ';' (a comment), a line break or "#eof"/"#Eof" (the
// end of the text), with blanks at either end (trimmed when read), or longer than 256 bytes
// (the longest value read): such a folder is refused when chosen and written as "none"
// should one reach the record.
bool FolderStorable(const std::string& folder);

// The record from a loaded settings file: every field starts at its default, then each key
// (searched from the top of the text) replaces it when present and accepted. Input folders
// must hold WAVs, output folders exist, bit rates be valid; a VBR value outside 0 to 9
// switches VBR off. The cursor is rewound at the end.
void ReadAllSettings(TokenParser& p, GuiSettings& s);

// Whether the settings file at a path may be read and replaced. A file too large to be read
// whole is not read and never replaced, so nothing in it is lost; a file its owner may not
// write (the user made it read-only) is read but never replaced. A missing file is Usable.
struct SettingsFileState {
    enum Kind { Usable, TooLarge, ReadOnly } kind = Usable;
    std::string reason; // TooLarge: its size and the limit, as a sentence's end
};
SettingsFileState InspectSettingsFile(const std::string& path);

// The file's whole text: the header line with `now`, then each key under its comment.
std::string SettingsText(const GuiSettings& s, const AppPaths& paths, const std::tm& now);
// Writes the file at paths.settingsPath through a temporary file renamed into place, so
// the previous file survives a failed write; the file replaced keeps its permissions. A
// settings path that is a symbolic link is written through to the link's final target (the
// temporary file beside that target), so the link stays. Missing folders are made private to
// the user. A file InspectSettingsFile keeps is not touched. False when the file was not
// written, with the reason in *why.
bool WriteSettings(const GuiSettings& s, const AppPaths& paths, std::string* why = nullptr);

} // namespace tarvik::gui
