// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary text to the settings parser and readers: the record stays within its
// accepted values, and reads after any key keep the cursor inside the text.
#include "frontend/settings.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tarvik::gui::IsValidBitrate;
    tarvik::gui::TokenParser p;
    p.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
    tarvik::gui::GuiSettings s;
    tarvik::gui::ReadAllSettings(p, s);
    if (!IsValidBitrate(s.lowBitrate) ||
        (s.customBitrate != -1 && !IsValidBitrate(s.customBitrate)) ||
        (s.useVbr ? s.vbrValue < -1 || s.vbrValue > 9 : s.vbrValue != -1))
        std::abort();
    std::string str;
    int32_t n = 0;
    for (const char* key : {"$tarvik folder:", "$low bitrate:", "", "#eof"}) {
        if (!p.FindToken(key)) p.Rewind();
        p.ReadInteger(n), p.ReadString(str);
        if (str.size() > p.kMaxValue || str.find('\n') != std::string::npos ||
            p.Cursor() > p.PreparedText().size())
            std::abort();
    }
    return 0;
}
