// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/plan.hpp"

#include "common/mpeg.hpp"
#include "common/text.hpp"

#include <climits>
#include <cstring>

namespace tarvik {

namespace {

// The channel mode a bit rate calls for, or `asked` when the user's choice stands.
uint8_t mode_for(uint8_t asked, uint16_t kbps) {
    if (asked == kModeMono || asked == kModeDual) return asked;
    if (kbps <= 8) return kModeMono;
    // 144 kbps, an MPEG-2 rate only, has never had a mode of its own: the request stands.
    if (kbps == 144) return asked;
    return kbps <= 192 ? kModeJointStereo : kModeStereo;
}

} // namespace

uint16_t requested_bit_rate(const RunSettings& requested, const InputFacts& facts) {
    const bool doubled =
        !requested.bit_rate_given && requested.bit_rate == 64 && facts.channels > 1;
    return doubled ? uint16_t{128} : requested.bit_rate;
}

Plan plan(const RunSettings& requested, const InputFacts& facts) {
    uint8_t asked = requested.mode;
    if (facts.channels == 1)
        asked = kModeMono;
    else if (facts.channels == 2 && asked == kModeMono)
        asked = kModeJointStereo;
    const MpegClass mpeg = mpeg_class(facts.rate);
    const uint16_t kbps = fit_bit_rate(requested_bit_rate(requested, facts), mpeg);
    Plan p;
    p.input_rate = facts.rate;
    p.output_rate = mpeg.rate;
    p.mpeg1 = mpeg.mpeg1();
    p.vbr_quality = requested.vbr_quality;
    p.low_kbps = p.vbr() && !requested.bit_rate_given ? mpeg.min_kbps : kbps;
    p.high_kbps = p.vbr() ? mpeg.max_kbps : kbps;
    p.mode = mode_for(asked, kbps);
    return p;
}

InputFacts silence_facts(const RunSettings& requested, long long seconds) {
    InputFacts f;
    f.rate = requested.sample_rate;
    f.channels = requested.mode == kModeMono ? 1 : 2;
    long long frames = 0;
    f.frames = __builtin_mul_overflow(static_cast<long long>(f.rate), seconds, &frames) ? LLONG_MAX
                                                                                        : frames;
    return f;
}

BE_CONFIG encoder_config(const Plan& plan) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    auto& l = c.format.LHV1;
    c.dwConfig = BE_CONFIG_LAME;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof(BE_CONFIG);
    l.dwSampleRate = plan.input_rate;
    l.dwReSampleRate = plan.output_rate;
    l.nMode = plan.mode;
    l.dwBitrate = plan.low_kbps;
    l.dwMaxBitrate = plan.high_kbps;
    l.nPreset = LQP_NORMAL_QUALITY;
    l.dwMpegVersion = plan.mpeg1 ? MPEG1 : MPEG2;
    l.bOriginal = 1;
    // The tag frame is reserved for every file: it carries the exact length (encoder delay
    // and padding), so players and engines get the duration right for CBR and VBR alike.
    l.bWriteVBRHeader = 1;
    l.bEnableVBR = plan.vbr() ? 1 : 0;
    l.nVBRQuality = plan.vbr() ? plan.vbr_quality : 0;
    l.nVbrMethod = plan.vbr() ? VBR_METHOD_NEW : VBR_METHOD_DEFAULT;
    return c;
}

const char* mode_name(uint8_t mode) {
    switch (mode) {
    case kModeStereo:
        return "independent stereo";
    case kModeJointStereo:
        return "joint stereo";
    case kModeDual:
        return "dual channel";
    case kModeMono:
        return "mono";
    default:
        return "";
    }
}

std::string final_settings_text(const Plan& plan) {
    // What the frame headers will carry: the output rate, and the bit rate or VBR range.
    std::string text =
        format_text("Final settings: | Sample rate = %dHz\n                | Mode        = %s\n",
                    static_cast<int>(plan.output_rate), mode_name(plan.mode));
    const int low = plan.low_kbps, high = plan.high_kbps;
    if (!plan.vbr())
        text += format_text("                | Bitrate     = %dkbps\n", low);
    else if (low == high)
        text += format_text("                | Bitrate     = %dkbps (VBR)\n", low);
    else
        text += format_text("                | Bitrate     = %d-%dkbps (VBR)\n", low, high);
    return text;
}

} // namespace tarvik
