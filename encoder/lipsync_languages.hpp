// SPDX-License-Identifier: GPL-3.0-or-later
// The lip-sync tool as tarvik and the front end find it, and the languages it speaks: its list
// ("lipsync --language list": one "CODE<TAB>Description" line each), asked for and read here
// alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

inline constexpr const char* kLipsyncToolName = "lipsync";

// The tool's path: beside tarvik, in its program folder.
std::string lipsync_tool_path(const std::string& program_dir);

struct LipsyncLanguage {
    std::string code;        // what --language takes ("pt-br")
    std::string description; // "Portuguese (Brazil)"
};

// The languages of a list's text, in its order; lines without a code are left out.
std::vector<LipsyncLanguage> parse_language_list(std::string_view text);

// Runs the tool of program_dir as "lipsync --language list" (within a few seconds) and reads
// its list; nullopt when it cannot be had: no tool, a failure, an empty list.
std::optional<std::vector<LipsyncLanguage>> lipsync_languages(const std::string& program_dir);

// The listed language a typed name stands for: its code, or else its description, matched
// without regard to ASCII letter case; null when none is.
const LipsyncLanguage* find_language(const std::vector<LipsyncLanguage>& languages,
                                     std::string_view typed);

} // namespace tarvik
