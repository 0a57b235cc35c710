// Feeds arbitrary text to the settings parser: every key of the settings file is looked for
// and read as each type, in the order the front end does it and out of order, and the
// cursor must stay inside the prepared text.
#include "frontend/settings.hpp"
#include "frontend/token_parser.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
constexpr const char* kKeys[] = {
    "$tarvik folder:",      "$silent mode:",      "$low bitrate:",     "$default bitrate:",
    "$high bitrate:",       "$last input folder:", "$last output folder:", "$last quality:",
    "$last option vlp:",    "$last option delete:", "$last option vbr:", "$last vbr value:",
    "$no click:",           "",                   "$",                 "#eof",
};

void check(const tarvik::gui::TokenParser& p) {
    const std::string& text = p.PreparedText();
    if (text.empty() || text.back() != tarvik::gui::TokenParser::kEndMarker) std::abort();
    if (text.find(tarvik::gui::TokenParser::kEndMarker) != text.size() - 1) std::abort();
    if (text.find('\r') != std::string::npos) std::abort();
    if (p.Cursor() >= text.size()) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    tarvik::gui::TokenParser p;
    p.LoadText(raw);
    check(p);

    // The readers as the dialog calls them.
    tarvik::gui::GuiSettings s;
    tarvik::gui::ReadQualitySettings(p, s);
    tarvik::gui::ReadOptionSettings(p, s);
    tarvik::gui::ReadSilentMode(p, s);
    tarvik::gui::ReadNoClick(p, s);
    check(p);
    if (!tarvik::gui::IsValidBitrate(s.lowBitrate) || !tarvik::gui::IsValidBitrate(s.highBitrate))
        std::abort();
    if (s.useVbr ? (s.vbrValue < -1 || s.vbrValue > 9) : s.vbrValue != -1) std::abort();

    // Every read after every key, without rewinding: the cursor only moves forward.
    uint8_t op = size ? data[0] : 0;
    for (const char* key : kKeys) {
        size_t before = p.Cursor();
        if (!p.FindToken(key)) p.Rewind();
        if (p.Cursor() < before && p.Cursor() != 0) std::abort();
        std::string str;
        int32_t n = 0;
        bool b = false;
        switch (op++ % 3) {
        case 0:
            p.ReadString(str);
            if (str.size() > tarvik::gui::TokenParser::kMaxValue) std::abort();
            if (str.find('\n') != std::string::npos) std::abort();
            break;
        case 1: p.ReadInteger(n); break;
        default: p.ReadBoolean(b); break;
        }
        check(p);
    }
    return 0;
}
