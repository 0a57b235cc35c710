// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a VLP file. The reader must stay inside them and never crash; a track
// it accepts must pass the checks, encode to bytes that read back as the same track, and
// format as text.
#include "lipsync/exporters.hpp"
#include "lipsync/vlp.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarvik::lipsync;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const VlpReadResult read = decode_vlp(bytes);
    if (!read.track) {
        if (read.error.empty()) std::abort(); // a refusal always says why
        return 0;
    }
    if (!check_track(*read.track)) std::abort();
    const std::string again = encode_vlp(*read.track);
    const VlpReadResult reread = decode_vlp(again);
    if (!reread.track || !(*reread.track == *read.track)) std::abort();
    if (format_dump(*read.track).empty() || format_tsv(*read.track).empty() ||
        format_json(*read.track, bytes.substr(0, 64)).empty())
        std::abort();
    return 0;
}
