// SPDX-License-Identifier: GPL-3.0-or-later
// Path utilities shared by tarvik and tarvik-gui. The separator is '/'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// Everything before the last '.' of the whole text (a dot in a directory counts too);
// the text itself when it holds no '.'; nullopt for an empty text.
std::optional<std::string> strip_extension(std::string_view text);

// Everything before the last '/', or up to and including it with keep_separator;
// nullopt for an empty path or one without a separator.
std::optional<std::string> dir_part(std::string_view path, bool keep_separator = false);

// The directory a path lies in: "/" for a file in the root, "." for a bare name.
std::string directory_of(std::string_view path);

// Everything after the last '/' (empty when the path ends in one); the path itself when it
// holds no separator; nullopt for an empty path.
std::optional<std::string> file_part(std::string_view path);

// The extension after the last '.' of the file name (without the dot); empty when none.
std::string extension_of(std::string_view path);

// True when a directory search finds at least one entry matching the path, which may end
// in a wildcard pattern ("dir/*.wav", matched without regard to case). Directories count.
bool file_exists(const std::string& path_or_pattern);

// The path itself when it exists (a dangling link counts); otherwise the entry of its folder
// whose name differs from the file name only in letter case, the first in byte order; the
// path itself when there is none. Names are case-sensitive here, users' habits are not.
std::string resolve_name_case(const std::string& path);

// Creates every missing directory of a path (like mkdir -p). With is_directory the whole
// path is a directory and one trailing '/' is removed from the caller's text; otherwise the
// last component is a file name and is not created. Returns how many directories it made.
int make_dir_path(std::string& path, bool is_directory);

// Creates the directory part of a file path (one level): the directory when it made it,
// nullopt when it did not (it existed, could not be made, or the path has none).
std::optional<std::string> make_parent_dir(const std::string& file_path);

// a + "/" + b, without doubling a separator already at the end of a.
std::string join_path(std::string_view a, std::string_view b);

} // namespace tarvik
