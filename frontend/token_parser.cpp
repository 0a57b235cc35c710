// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/token_parser.hpp"

#include "common/text.hpp"
#include "platform/files.hpp"

#include <algorithm>
#include <limits>

namespace tarvik::gui {

namespace {
bool is_whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_number_char(char c) {
    return is_digit(c) || c == '+' || c == '-';
}

std::string trim_trailing(std::string s) {
    while (!s.empty() && is_whitespace(s.back()))
        s.pop_back();
    return s;
}

int32_t atoi_like(std::string_view s) {
    const long long v = parse_leading_int(s);
    // atoi's result is undefined past the int range; saturating keeps it predictable.
    return static_cast<int32_t>(std::clamp<long long>(v, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
}

// Up to `limit` bytes of a regular file (what was read before an error); empty for anything
// else. A FIFO (or a link to one) is refused at once instead of waiting for a writer.
std::string read_regular_file(const std::string& path, size_t limit) {
    std::string raw;
    if (const auto file = platform::open_regular_file(path)) file.fd.read_all(raw, limit);
    return raw;
}
} // namespace

TokenParser::TokenParser() = default;

bool TokenParser::Load(const std::string& path) {
    fileName_ = path;
    // One byte past the capacity tells a file that fits from one that does not.
    std::string raw = read_regular_file(path, kCapacity + 1);
    if (raw.size() > kCapacity) raw.clear();
    return Prepare(raw);
}

bool TokenParser::LoadText(std::string_view raw) {
    fileName_.clear();
    return Prepare(raw);
}

bool TokenParser::Prepare(std::string_view raw) {
    cursor_ = 0;
    conversionFailed_ = false;
    prepared_.clear();

    // The file is a C text: a zero byte ends it.
    if (const size_t nul = raw.find('\0'); nul != std::string_view::npos) raw = raw.substr(0, nul);
    if (raw.empty()) return false;
    size_t eof = raw.find("#Eof");
    if (eof == std::string_view::npos) eof = raw.find("#eof");
    if (eof != std::string_view::npos) raw = raw.substr(0, eof);

    prepared_.reserve(raw.size());
    std::string piece;
    piece.reserve(kLinePiece);
    auto flush_piece = [&] {
        if (const size_t c = piece.find(kCommentChar); c != std::string::npos) {
            piece.resize(c);
            piece.push_back('\n');
        }
        prepared_ += piece;
        piece.clear();
    };
    for (const char c : raw) {
        if (c == '\r') continue;
        piece.push_back(c);
        if (c == '\n' || piece.size() == kLinePiece) flush_piece();
    }
    flush_piece();
    return true;
}

void TokenParser::SkipWhitespace() {
    while (!AtEnd() && is_whitespace(prepared_[cursor_]))
        ++cursor_;
}

void TokenParser::SkipBlanks() {
    while (!AtEnd() && is_blank(prepared_[cursor_]))
        ++cursor_;
}

void TokenParser::GoToEndOfLine() {
    while (!AtEnd() && prepared_[cursor_] != '\n')
        ++cursor_;
}

std::string TokenParser::TakeRestOfLine() {
    const size_t start = cursor_;
    size_t end = start;
    while (end - start < kMaxValue && end < prepared_.size() && prepared_[end] != '\n')
        ++end;
    std::string value = trim_trailing(prepared_.substr(start, end - start));
    cursor_ = end;
    GoToEndOfLine();
    return value;
}

bool TokenParser::FindToken(std::string_view key) {
    auto key_here = [&] {
        const size_t room = prepared_.size() - cursor_;
        return key.size() <= room &&
               iequals(std::string_view(prepared_).substr(cursor_, key.size()), key);
    };
    SkipWhitespace();
    while (!AtEnd() && !key_here()) {
        GoToEndOfLine();
        SkipWhitespace();
    }
    if (AtEnd()) return false;
    cursor_ += key.size();
    return true;
}

void TokenParser::ReadString(std::string& dest) {
    SkipBlanks();
    dest = TakeRestOfLine();
}

void TokenParser::ReadInteger(int32_t& dest) {
    conversionFailed_ = false;
    SkipWhitespace();
    int32_t value = -1;
    if (is_number_char(At(cursor_))) {
        size_t end = cursor_;
        while (is_number_char(At(end)))
            ++end;
        value = atoi_like(std::string_view(prepared_).substr(cursor_, end - cursor_));
        cursor_ = end;
    } else {
        conversionFailed_ = true;
        SkipWhitespace();
        while (!AtEnd() && !is_whitespace(prepared_[cursor_]))
            ++cursor_;
    }
    if (At(cursor_) == ',') ++cursor_;
    dest = value;
}

void TokenParser::ReadBoolean(bool& dest) {
    SkipWhitespace();
    const std::string text = TakeRestOfLine();
    if (!text.empty() && is_digit(text[0])) {
        dest = atoi_like(text) != 0;
    } else if (iequals(text, "yes") || iequals(text, "true")) {
        dest = true;
    } else if (iequals(text, "no") || iequals(text, "false")) {
        dest = false;
    }
}

} // namespace tarvik::gui
