// SPDX-License-Identifier: GPL-3.0-or-later
// The lipsync command line as data: what the arguments ask for, read from a table of
// switches that also gives the help text its option lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvik::lipsync {

enum class Action { Write, Tsv, Json, Svg, Frames, Dump, Help, Version, Languages };

// The language a line is in when nothing names one.
inline constexpr const char* kDefaultLanguage = "en-us";

struct Request {
    Action action = Action::Write;
    std::string path;
    std::string output;                   // -o: where the VLP file goes instead of beside the sound
    std::optional<std::string> text_file; // --text
    std::optional<std::string> text;      // --text-string (run_lipsync adds the file's content)
    std::string language = kDefaultLanguage; // --language: an eSpeak NG voice name
    bool fast = false;
    bool quiet = false;
};

struct ParsedCommandLine {
    Request request;
    std::string error; // a wrong command line, as usage_error words it; empty when valid
};

// Reads the arguments after the program name. Options and file names may come in any
// order; the first fault found, in argument order, is the error. For --help and --version
// the rest only has to parse; every other action needs a file and only switches that apply
// to it.
ParsedCommandLine parse_command_line(const std::vector<std::string>& args);

std::string help_text();

} // namespace tarvik::lipsync
