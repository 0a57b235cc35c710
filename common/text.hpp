// SPDX-License-Identifier: GPL-3.0-or-later
// Text helpers shared by tarvik and tarvik-gui.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace tarvik {

// printf-style formatting into a string of any length. The format must be a literal:
// user text only ever goes in as an argument.
std::string format_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The same from a va_list (the list is used once).
std::string vformat_text(const char* fmt, va_list args);

// A name as the console and the failure report show it: control characters as \n, \r, \t
// or \xHH and the backslash doubled, so that a file name can neither break a line nor send
// a terminal escape sequence.
std::string escaped(std::string_view name);

// The length of the well-formed UTF-8 sequence at the start of `s` (1 for ASCII), 0 when
// there is none: a stray byte, an overlong form, a surrogate, past U+10FFFF, or cut off.
size_t utf8_sequence(std::string_view s);
// Whether all of `s` is well-formed UTF-8.
bool is_utf8(std::string_view s);

// A JSON string literal (with quotes): quotes, backslashes and control characters escaped;
// each byte that is not part of well-formed UTF-8 becomes \ufffd.
std::string json_string(std::string_view text);

// ASCII lower case (A-Z only), as the command line is read.
std::string to_lower_ascii(std::string_view s);

// Case-insensitive ASCII equality.
bool iequals(std::string_view a, std::string_view b);

// The text without the spaces, tabs and carriage returns around it.
std::string_view trimmed(std::string_view s);

// Seconds to "hh:mm:ss" ("%.2d:%.2d:%.2d", fractions dropped; negative or NaN as zero).
std::string format_clock(double seconds);
// The same, but "n/a" for exactly zero: a length the player could not learn.
std::string format_duration(double seconds);

// C-runtime style decimal read: leading blanks, optional sign, digits up to the first
// non-digit; text without leading digits reads as 0. Saturates instead of overflowing.
long long parse_leading_int(std::string_view s);

} // namespace tarvik
