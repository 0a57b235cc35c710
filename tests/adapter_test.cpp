// The encoder library through its six entry points: encode generated sines, decode the
// result and check what a player would see.
#include "lame_enc.h"
#include "tests/support/test_support.hpp"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <vector>

using namespace tarvik::test;

namespace {

BE_CONFIG make_config(uint32_t rate, int32_t mode, uint32_t kbps, int vbr_quality) {
    BE_CONFIG c{};
    c.dwConfig = BE_CONFIG_LAME;
    auto& l = c.format.LHV1;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof(BE_CONFIG);
    l.dwSampleRate = rate;
    l.nMode = mode;
    l.dwBitrate = kbps;
    l.nPreset = LQP_NORMAL_QUALITY;
    l.dwMpegVersion = rate >= 32000 ? MPEG1 : MPEG2;
    l.bOriginal = 1;
    l.bWriteVBRHeader = 1;
    l.bEnableVBR = vbr_quality >= 0;
    l.nVBRQuality = vbr_quality < 0 ? 0 : vbr_quality;
    l.nVbrMethod = vbr_quality >= 0 ? VBR_METHOD_NEW : VBR_METHOD_NONE;
    return c;
}

// Encodes `seconds` of a sine into path; returns the number of source frames.
int64_t encode_sine(const std::string& path, BE_CONFIG config, int channels, double seconds) {
    uint32_t samples_per_chunk = 0, buffer_size = 0;
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(beInitStream(&config, &samples_per_chunk, &buffer_size, &stream), BE_ERR_SUCCESS);
    const uint32_t rate = config.format.LHV1.dwSampleRate;
    const int64_t frames = static_cast<int64_t>(seconds * rate);
    std::vector<int16_t> pcm(samples_per_chunk);
    std::vector<uint8_t> out(buffer_size);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    int64_t done = 0;
    while (done < frames) {
        const int64_t n = std::min<int64_t>(samples_per_chunk / static_cast<uint32_t>(channels), frames - done);
        for (int64_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                pcm[static_cast<size_t>(i * channels + c)] =
                    static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * (1 + c) * static_cast<double>(done + i) / rate));
        uint32_t bytes = 0;
        EXPECT_EQ(beEncodeChunk(stream, static_cast<uint32_t>(n * channels), pcm.data(), out.data(), &bytes), BE_ERR_SUCCESS);
        EXPECT_LE(bytes, buffer_size);
        std::fwrite(out.data(), 1, bytes, f);
        done += n;
    }
    uint32_t bytes = 0;
    EXPECT_EQ(beDeinitStream(stream, out.data(), &bytes), BE_ERR_SUCCESS);
    std::fwrite(out.data(), 1, bytes, f);
    std::fclose(f);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
    EXPECT_EQ(beWriteVBRHeader(path.c_str()), BE_ERR_SUCCESS);
    return frames;
}

} // namespace

TEST(Adapter, RecordsHavePublishedLayout) {
    EXPECT_EQ(sizeof(BE_CONFIG), 331u);
    EXPECT_EQ(sizeof(BE_VERSION), 265u);
    BE_VERSION v{};
    beVersion(&v);
    EXPECT_EQ(v.byDLLMajorVersion, 1);
    EXPECT_EQ(v.byDLLMinorVersion, 32);
    EXPECT_EQ(v.byMajorVersion, 3);
    EXPECT_GE(v.byMinorVersion, 99);
    EXPECT_GT(std::string(v.zHomepage).size(), 0u);
}

TEST(Adapter, EncodesAndDecodesWithExactLength) {
    struct Case {
        uint32_t rate;
        int32_t mode;
        int channels;
        uint32_t kbps;
        int vbr;
        const char* tag;
        int mpeg;
        uint32_t chunk; // samples per chunk over all channels
    };
    const std::vector<Case> cases = {
        {44100, BE_MP3_MODE_MONO, 1, 64, -1, "Info", 1, 1152},
        {22050, BE_MP3_MODE_STEREO, 2, 128, -1, "Info", 2, 1152},
        {44100, BE_MP3_MODE_JSTEREO, 2, 128, 4, "Xing", 1, 2304},
        {16000, BE_MP3_MODE_MONO, 1, 32, 4, "Xing", 2, 576},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, mode " + std::to_string(c.mode));
        TempDir t;
        const std::string path = t / "out.mp3";
        BE_CONFIG config = make_config(c.rate, c.mode, c.kbps, c.vbr);
        uint32_t chunk = 0, size = 0;
        HBE_STREAM probe = nullptr;
        ASSERT_EQ(beInitStream(&config, &chunk, &size, &probe), BE_ERR_SUCCESS);
        EXPECT_EQ(chunk, c.chunk);
        EXPECT_EQ(size, static_cast<uint32_t>(1.25 * (c.chunk / c.channels) + 7200));
        beCloseStream(probe);

        const int64_t frames = encode_sine(path, config, c.channels, 2.0);
        AudioInfo info;
        const auto pcm = decode(path, &info);
        EXPECT_EQ(info.sample_rate, static_cast<int>(c.rate));
        EXPECT_EQ(info.channels, c.channels);
        // With the tag in place the decoder trims delay and padding: the exact length.
        EXPECT_EQ(info.frames, frames);
        const auto facts = mp3_facts(path);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->tag, c.tag);
        EXPECT_EQ(facts->mpeg_version, c.mpeg);
        if (c.vbr < 0) {
            for (int kbps : facts->bit_rates) EXPECT_EQ(kbps, static_cast<int>(c.kbps));
        }
    }
}

TEST(Adapter, RefusesBadConfigurations) {
    BE_CONFIG bad_mode = make_config(44100, 7, 64, -1);
    uint32_t chunk = 0, size = 0;
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(beInitStream(&bad_mode, &chunk, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS); // releases the handle it left

    BE_CONFIG old_form = make_config(44100, BE_MP3_MODE_MONO, 64, -1);
    old_form.dwConfig = BE_CONFIG_MP3;
    stream = nullptr;
    EXPECT_NE(beInitStream(&old_form, &chunk, &size, &stream), BE_ERR_SUCCESS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);

    EXPECT_NE(beWriteVBRHeader("/nonexistent/x.mp3"), BE_ERR_SUCCESS); // no pending stream
}

TEST(Adapter, TagWriteRefusesAFileThatIsNotMp3) {
    TempDir t;
    BE_CONFIG config = make_config(44100, BE_MP3_MODE_MONO, 64, -1);
    encode_sine(t / "a.mp3", config, 1, 0.5); // consumes its own pending tag
    uint32_t chunk = 0, size = 0;
    HBE_STREAM stream = nullptr;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    std::vector<uint8_t> out(size);
    uint32_t bytes = 0;
    beDeinitStream(stream, out.data(), &bytes);
    beCloseStream(stream);
    ASSERT_TRUE(write_file(t / "text.mp3", "this is not an mp3 file at all"));
    EXPECT_NE(beWriteVBRHeader((t / "text.mp3").c_str()), BE_ERR_SUCCESS);
    EXPECT_EQ(read_file(t / "text.mp3"), "this is not an mp3 file at all");
}
