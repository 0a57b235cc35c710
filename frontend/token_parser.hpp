// SPDX-License-Identifier: GPL-3.0-or-later
// TokenParser: reads the front end's "key value" text files (the settings file).
//
// The whole file is loaded once and prepared: carriage returns dropped, everything from the
// first "#Eof" (or, when there is none, the first "#eof") on cut off, and each line piece of
// at most 2047 characters cut at its first ';' (comment). Every other byte is kept as it is,
// so values may hold any UTF-8 text. A cursor then moves forward through the prepared text:
// FindToken looks for a key at the start of a line, the Read operations take the value after
// it. Keys match without regard to ASCII letter case.
//
// Nothing is reported: a failed load leaves an empty text in which every key is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik::gui {

class TokenParser {
  public:
    static constexpr size_t kCapacity = size_t{16} << 20; // largest file loaded: 16 MB
    static constexpr size_t kLinePiece = 2047;            // long lines are prepared in such pieces
    static constexpr size_t kMaxValue = 256;              // longest value a read returns
    static constexpr char kCommentChar = ';';

    TokenParser();

    // Loads and prepares a file, replacing what the parser held; the cursor goes to the
    // start. False (and an empty text) when the file is missing, unreadable, empty, not a
    // regular file (a FIFO or a device is never waited on) or larger than kCapacity: a
    // larger file is refused whole rather than cut mid-line.
    bool Load(const std::string& path);
    // The same preparation for text already in memory (no size limit is applied).
    bool LoadText(std::string_view raw);

    // Looks for `key` at the first non-blank character of each line from the cursor on
    // (and at the cursor itself). True: the cursor stands right after the key. False: the
    // cursor stays at the end of the text, so every later search fails until Rewind.
    bool FindToken(std::string_view key);
    void Rewind() { cursor_ = 0; }

    // The rest of the line after blanks (not line feeds), at most kMaxValue characters,
    // trailing blanks removed; the cursor goes to the end of the line. Empty when the key
    // ends its line.
    void ReadString(std::string& dest);
    // A decimal integer after any whitespace, line feeds included, read as atoi reads it;
    // -1 and ConversionFailed() when no sign or digit stands there. A following ',' is
    // stepped over so comma-separated lists read one value per call.
    void ReadInteger(int32_t& dest);
    // The rest of the line (after any whitespace) as a boolean: a number (non-zero: true),
    // or yes/true/no/false in any case. Any other text leaves `dest` unchanged.
    void ReadBoolean(bool& dest);

    bool ConversionFailed() const { return conversionFailed_; }
    const std::string& FileName() const { return fileName_; }
    // The prepared text (for tests).
    const std::string& PreparedText() const { return prepared_; }
    size_t Cursor() const { return cursor_; }

  private:
    bool Prepare(std::string_view raw);
    bool AtEnd() const { return cursor_ >= prepared_.size(); }
    // The byte at `pos`, or 0 past the end of the text (no byte of the text is 0).
    char At(size_t pos) const { return pos < prepared_.size() ? prepared_[pos] : '\0'; }
    void SkipWhitespace();
    void SkipBlanks();
    void GoToEndOfLine();
    std::string TakeRestOfLine();

    std::string fileName_;
    size_t cursor_ = 0;
    bool conversionFailed_ = false;
    std::string prepared_; // holds no zero byte and no carriage return
};

} // namespace tarvik::gui
