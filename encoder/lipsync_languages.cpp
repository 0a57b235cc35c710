// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/lipsync_languages.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/process.hpp"

#include <algorithm>

namespace tarvik {

namespace {
// The list comes from eSpeak NG's voice files at once; a tool still silent by then is stuck.
constexpr double kListSeconds = 20;
} // namespace

std::string lipsync_tool_path(const std::string& program_dir) {
    return join_path(program_dir, kLipsyncToolName);
}

std::vector<LipsyncLanguage> parse_language_list(std::string_view text) {
    std::vector<LipsyncLanguage> languages;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const size_t tab = std::min(line.find('\t'), line.size());
        const std::string_view code = trimmed(line.substr(0, tab));
        if (!code.empty())
            languages.push_back({std::string(code), std::string(trimmed(line.substr(tab)))});
    }
    return languages;
}

std::optional<std::vector<LipsyncLanguage>> lipsync_languages(const std::string& program_dir) {
    const platform::CapturedRun run = platform::run_captured(
        lipsync_tool_path(program_dir), {"--language", "list"}, "", "", {}, kListSeconds);
    if (!run.result.exited || run.result.exit_status != 0) return std::nullopt;
    std::vector<LipsyncLanguage> languages = parse_language_list(run.out);
    if (languages.empty()) return std::nullopt;
    return languages;
}

const LipsyncLanguage* find_language(const std::vector<LipsyncLanguage>& languages,
                                     std::string_view typed) {
    for (const auto field : {&LipsyncLanguage::code, &LipsyncLanguage::description}) {
        const auto at = std::find_if(languages.begin(), languages.end(),
                                     [&](const auto& l) { return iequals(l.*field, typed); });
        if (at != languages.end()) return &*at;
    }
    return nullptr;
}

} // namespace tarvik
