// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/paths.hpp"

#include "common/text.hpp"
#include "platform/dir_search.hpp"
#include "platform/files.hpp"

#include <filesystem>

namespace tarvik {

std::optional<std::string> strip_extension(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const size_t dot = text.rfind('.');
    if (dot == std::string_view::npos) return std::string(text);
    return std::string(text.substr(0, dot));
}

std::optional<std::string> dir_part(std::string_view path, bool keep_separator) {
    if (path.empty()) return std::nullopt;
    const size_t sep = path.rfind('/');
    if (sep == std::string_view::npos) return std::nullopt;
    return std::string(path.substr(0, keep_separator ? sep + 1 : sep));
}

std::string directory_of(std::string_view path) {
    const auto dir = dir_part(path);
    if (!dir) return ".";
    return dir->empty() ? std::string(1, '/') : *dir;
}

std::optional<std::string> file_part(std::string_view path) {
    if (path.empty()) return std::nullopt;
    return std::filesystem::path(path).filename().string();
}

std::string extension_of(std::string_view path) {
    const std::string name = *file_part(path.empty() ? std::string_view("x") : path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool file_exists(const std::string& path_or_pattern) {
    return !platform::find_entries(path_or_pattern, 1).empty();
}

std::string resolve_name_case(const std::string& path) {
    if (platform::name_exists(path)) return path;
    const std::string name = file_part(path).value_or("");
    if (name.empty()) return path;
    const auto dir = dir_part(path, true);
    std::optional<std::string> best;
    for (const auto& e : platform::find_entries(dir.value_or("") + "*"))
        if (iequals(e.name, name) && (!best || e.name < *best)) best = e.name;
    return best ? dir.value_or("") + *best : path;
}

namespace {
bool make_one_dir(const std::string& dir) {
    std::error_code ec;
    return !dir.empty() && std::filesystem::create_directory(dir, ec);
}
} // namespace

int make_dir_path(std::string& path, bool is_directory) {
    if (path.empty()) return 0;
    if (is_directory) {
        if (path.size() > 1 && path.back() == '/') path.pop_back();
    } else if (path.find('/') == std::string::npos) {
        return 0;
    }
    const std::string target = is_directory ? path : path.substr(0, path.rfind('/'));
    // Walk every prefix that ends just before a separator, then the whole target; the root
    // and empty prefixes (from "//") are skipped. Existing levels fail quietly.
    int created = 0;
    for (size_t i = 1; i < target.size(); ++i) {
        if (target[i] == '/' && target[i - 1] != '/')
            created += make_one_dir(target.substr(0, i)) ? 1 : 0;
    }
    if (!target.empty() && target != "/") created += make_one_dir(target) ? 1 : 0;
    return created;
}

std::optional<std::string> make_parent_dir(const std::string& file_path) {
    const auto dir = dir_part(file_path);
    if (!dir || dir->empty() || !make_one_dir(*dir)) return std::nullopt;
    return dir;
}

std::string join_path(std::string_view a, std::string_view b) {
    std::string out(a);
    if (!out.empty() && out.back() != '/') out += '/';
    out += b;
    return out;
}

} // namespace tarvik
