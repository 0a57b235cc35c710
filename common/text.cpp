// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/text.hpp"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace tarvik {

std::string vformat_text(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(needed));
    }
    return out;
}

size_t utf8_sequence(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    size_t n;
    unsigned min;
    unsigned code;
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2, code = lead & 0x1f, min = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3, code = lead & 0x0f, min = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (b(i) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return n;
}

bool is_utf8(std::string_view s) {
    for (size_t n; !s.empty(); s.remove_prefix(n))
        if ((n = utf8_sequence(s)) == 0) return false;
    return true;
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const size_t n = utf8_sequence(text);
        if (n == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        const char c = text[0];
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out + "\"";
}

std::string format_text(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out = vformat_text(fmt, args);
    va_end(args);
    return out;
}

std::string escaped(std::string_view name) {
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\t')
            text += "\\t";
        else if (u < 0x20 || u == 0x7f)
            text += format_text("\\x%02x", u);
        else
            text += c;
    }
    return text;
}

std::string to_lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string format_duration(double seconds) {
    return seconds == 0.0 ? "n/a" : format_clock(seconds);
}

std::string format_clock(double seconds) {
    if (!(seconds > 0.0)) seconds = 0.0; // negative or NaN: show zero rather than garbage
    const double capped = seconds > 1e15 ? 1e15 : seconds;
    const long long total = static_cast<long long>(capped);
    const long long h = total / 3600, m = (total / 60) % 60, s = total % 60;
    return format_text("%.2lld:%.2lld:%.2lld", h, m, s);
}

long long parse_leading_int(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                            s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    constexpr long long limit = std::numeric_limits<long long>::max() / 10 - 10;
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value < limit) value = value * 10 + (s[i] - '0');
    }
    return negative ? -value : value;
}

} // namespace tarvik
