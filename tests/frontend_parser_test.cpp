// The front end's token parser and its error box.
#include "frontend/gui_box.hpp"
#include "frontend/token_parser.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using tarvik::gui::TokenParser;
using tarvik::test::TempDir;

namespace {

TokenParser loaded(const std::string& text) {
    TokenParser p;
    p.LoadText(text);
    return p;
}

std::optional<std::string> string_after(const std::string& text, const std::string& key) {
    TokenParser p = loaded(text);
    if (!p.FindToken(key)) return std::nullopt;
    std::string value = "untouched";
    p.ReadString(value);
    return value;
}

} // namespace

TEST(TokenParserFind, KeysAreFoundOnlyAtLineStartsWithoutRegardToCase) {
    struct Case {
        const char* text;
        const char* key;
        bool found;
    };
    const std::vector<Case> cases = {
        {"$silent mode: yes\n", "$silent mode:", true},
        {"  \t$SILENT Mode:   YES    ; a comment\n", "$silent mode:", true},
        {"; $silent mode: yes\n", "$silent mode:", false},          // inside a comment
        {"x $silent mode: yes\n", "$silent mode:", false},          // behind other text
        {"$low bitrate:\t\t96\n", "$low bitrate:", true},           // prefix of the line
        {"$low bitrate\n", "$low bitrate:", false},                 // shorter than the key
        {"\n\n\n   \n$k: 1", "$k:", true},                          // blank lines, no final LF
        {"", "$k:", false},
        {"a: 1\n#eof\nb: 2\n#Eof\nc: 3\n", "b:", true},             // "#Eof" wins over "#eof"
        {"a: 1\n#eof\nb: 2\n#Eof\nc: 3\n", "c:", false},            // after the end key
        {"a: 1\n#eof\nb: 2\n", "b:", false},
        {"a: 1\n#EOF\nb: 2\n", "b:", true},                         // only the two forms end it
        {"a: 1 ; see #Eof below\nb: 2\n", "b:", false},             // found even in a comment
        {"a: 1\nb\x80: 2\nc: 3\n", "a:", true},                     // 0x80 ends the text there
        {"a: 1\nb\x80: 2\nc: 3\n", "c:", false},
        {"a: 1\nb\x80: 2\nc: 3\n", "b", true},
        {"a: 1\nb\x80: 2\nc: 3\n", "b\x80", false},
    };
    for (const auto& c : cases) {
        TokenParser p = loaded(c.text);
        EXPECT_EQ(p.FindToken(c.key), c.found) << "key " << c.key << " in: " << c.text;
    }
}

TEST(TokenParserFind, SearchNeverGoesBackUntilRewind) {
    TokenParser p = loaded("$a: 1\n$b: 2\n");
    EXPECT_TRUE(p.FindToken("$b:"));
    EXPECT_FALSE(p.FindToken("$a:")); // above the cursor
    EXPECT_FALSE(p.FindToken("$b:")); // the miss left the cursor on the end marker
    p.Rewind();
    EXPECT_TRUE(p.FindToken("$a:"));
    int32_t v = 0;
    p.ReadInteger(v);
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(p.FindToken("$b:"));
}

TEST(TokenParserRead, StringValues) {
    struct Case {
        const char* text;
        std::optional<std::string> value;
    };
    const std::vector<Case> cases = {
        {"$f: /my wavs/take one  \t \nnext\n", "/my wavs/take one"},   // inner blank kept
        {"$f:\n/next/line\n", ""},                                     // key ends its line
        {"$f:   \t\n", ""},
        {"$f: /a;b\n", "/a"},                                          // ';' starts a comment
        {"$f: C:\\Voices\\\n", "C:\\Voices\\"},                        // no escapes
        {"$F:\t\"quoted\"  \n", "\"quoted\""},
        {"$f: x\r\n", "x"},                                            // CR never arrives
        {"$f: a\x80 b\n", "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(string_after(c.text, "$f:"), c.value) << c.text;

    const std::string longValue(300, 'v');
    EXPECT_EQ(string_after("$f: " + longValue + "\n", "$f:"), std::string(256, 'v'));
}

TEST(TokenParserRead, StringReadMovesToTheNextLine) {
    TokenParser p = loaded("$f: first\n$g: second\n");
    std::string a, b;
    ASSERT_TRUE(p.FindToken("$f:"));
    p.ReadString(a);
    ASSERT_TRUE(p.FindToken("$g:"));
    p.ReadString(b);
    EXPECT_EQ(a, "first");
    EXPECT_EQ(b, "second");
}

TEST(TokenParserRead, IntegerValues) {
    struct Case {
        const char* text;
        std::vector<int32_t> values; // one ReadInteger each
        std::vector<bool> failed;
    };
    const std::vector<Case> cases = {
        {"$n: 128\n", {128}, {false}},
        {"$n: 12abc\n", {12}, {false}},
        {"$n: abc\n", {-1}, {true}},
        {"$n: 3, 4\n", {3, 4}, {false, false}},
        {"$n: 3,4,5\n", {3, 4, 5}, {false, false, false}},
        {"$n: -7\n", {-7}, {false}},
        {"$n: +9\n", {9}, {false}},
        {"$n: +-5\n", {0}, {false}},       // read as atoi reads it
        {"$n:\n\n  42\n", {42}, {false}},  // line feeds are skipped
        {"$n:", {-1}, {true}},
        {"$n: abc 7\n", {-1, 7}, {true, false}},
        {"$n: 99999999999\n", {2147483647}, {false}},
    };
    for (const auto& c : cases) {
        TokenParser p = loaded(c.text);
        ASSERT_TRUE(p.FindToken("$n:")) << c.text;
        for (size_t i = 0; i < c.values.size(); ++i) {
            int32_t v = 1234;
            p.ReadInteger(v);
            EXPECT_EQ(v, c.values[i]) << c.text << " read " << i;
            EXPECT_EQ(p.ConversionFailed(), c.failed[i]) << c.text << " read " << i;
        }
    }
}

TEST(TokenParserRead, BooleanValues) {
    struct Case {
        const char* value;
        std::optional<bool> result; // nullopt: the destination keeps its value
    };
    const std::vector<Case> cases = {
        {"yes", true},    {"YES", true},     {"True", true},  {"no", false},
        {"No", false},    {"FALSE", false},  {"1", true},     {"0", false},
        {"42", true},     {"00", false},     {"7up", true},   {"yes   ", true},
        {"maybe", {}},    {"", {}},          {"yes please", {}}, {"-1", {}},
        {"y", {}},
    };
    for (const auto& c : cases) {
        for (const bool start : {false, true}) {
            TokenParser p = loaded(std::string("$b: ") + c.value + " ; comment\n");
            ASSERT_TRUE(p.FindToken("$b:"));
            bool b = start;
            p.ReadBoolean(b);
            EXPECT_EQ(b, c.result.value_or(start)) << "'" << c.value << "' from " << start;
        }
    }
}

TEST(TokenParserLoad, LongLinesArePreparedInPiecesOf2047) {
    // A comment in the first piece of a long line cuts only that piece: the next piece
    // then starts a line of its own.
    const std::string firstPieceEndsBeforeKey = "x;" + std::string(2045, 'x') + "$k: 5";
    TokenParser p = loaded(firstPieceEndsBeforeKey);
    ASSERT_TRUE(p.FindToken("$k:"));
    int32_t v = 0;
    p.ReadInteger(v);
    EXPECT_EQ(v, 5);

    const std::string oneMore = "x;" + std::string(2046, 'x') + "$k: 5";
    EXPECT_FALSE(loaded(oneMore).FindToken("$k:"));

    // Without comments nothing is lost, however long the line.
    const std::string noFeed(5000, 'a');
    EXPECT_EQ(loaded(noFeed).PreparedText(), noFeed + "\x80");
}

TEST(TokenParserLoad, PreparedTextDropsCommentsAndCarriageReturns) {
    const std::string unix_text = "; header\n$a: 1 ; note\n\n$b:\tyes\n";
    const std::string dos_text = "; header\r\n$a: 1 ; note\r\n\r\n$b:\tyes\r\n";
    EXPECT_EQ(loaded(unix_text).PreparedText(), "\n$a: 1 \n\n$b:\tyes\n\x80");
    EXPECT_EQ(loaded(dos_text).PreparedText(), loaded(unix_text).PreparedText());
    EXPECT_EQ(loaded(std::string("$a: 1\0$b: 2", 11)).PreparedText(), "$a: 1\x80"); // a zero byte ends it
}

TEST(TokenParserLoad, FilesThatCannotBeLoadedHoldNoKeys) {
    TempDir dir;
    TokenParser p;
    EXPECT_FALSE(p.Load(dir / "missing.ini"));
    EXPECT_FALSE(p.FindToken("$a:"));

    tarvik::test::write_file(dir / "empty.ini", "");
    EXPECT_FALSE(p.Load(dir / "empty.ini"));

    // Exactly the capacity loads; one byte more is refused whole, not cut mid-line.
    std::string text = "$a: 1\n";
    text += std::string(TokenParser::kCapacity - text.size() - 6, ' ');
    text += "$z: 2\n";
    ASSERT_EQ(text.size(), TokenParser::kCapacity);
    tarvik::test::write_file(dir / "full.ini", text);
    ASSERT_TRUE(p.Load(dir / "full.ini"));
    EXPECT_EQ(p.FileName(), dir / "full.ini");
    EXPECT_TRUE(p.FindToken("$z:"));
    tarvik::test::write_file(dir / "over.ini", text + " ");
    EXPECT_FALSE(p.Load(dir / "over.ini"));
    EXPECT_FALSE(p.FindToken("$a:"));

    // A load replaces the previous text and rewinds.
    tarvik::test::write_file(dir / "crlf.ini", "$b: 7\r\n");
    ASSERT_TRUE(p.Load(dir / "crlf.ini"));
    EXPECT_TRUE(p.FindToken("$b:"));
}

namespace {
class RecordingBoxes final : public tarvik::gui::MessageBoxes {
public:
    std::vector<tarvik::gui::BoxRequest> shown;
    tarvik::gui::BoxAnswer Show(const tarvik::gui::BoxRequest& r) override {
        shown.push_back(r);
        return tarvik::gui::BoxAnswer::Ok;
    }
};
} // namespace

TEST(GuiErrorBox, ShowsTheBannerAndTheFrontEndCaption) {
    RecordingBoxes boxes;
    tarvik::gui::SetMessageBoxes(&boxes);
    const std::string path = "/x/100% sure/tarvik";
    tarvik::gui::show_gui_error("File not found: \"%s\"", path.c_str());
    tarvik::gui::SetMessageBoxes(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    const auto& box = boxes.shown[0];
    EXPECT_EQ(box.text, "************ ERROR ************\nFile not found: \"/x/100% sure/tarvik\"\n");
    EXPECT_EQ(box.caption, "tarvik's gui 1.0b");
    EXPECT_EQ(box.icon, tarvik::platform::BoxIcon::Error);
    EXPECT_EQ(box.buttons, tarvik::gui::BoxButtons::Ok);
    EXPECT_FALSE(box.ownedByDialog);
}

TEST(GuiErrorBox, ConsoleFormStandsInWithoutADesktop) {
    ::unsetenv(tarvik::platform::kBoxProgramEnv);
    testing::internal::CaptureStderr();
    tarvik::gui::show_gui_error("Cannot start tarvik! Make sure it is not being used.");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "tarvik's gui 1.0b\n************ ERROR ************\n"
                   "Cannot start tarvik! Make sure it is not being used.\n");
}
