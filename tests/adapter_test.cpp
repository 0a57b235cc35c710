// The encoder library's entry points at their edges: what they refuse. Encoding itself is
// judged end to end.
#include "lame_enc.h"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>
#include <vector>

using namespace tarvik::test;

TEST(Adapter, RefusesBadConfigurationsAndNonMp3Files) {
    BE_CONFIG config{};
    config.dwConfig = BE_CONFIG_LAME;
    config.format.LHV1.dwSampleRate = 44100;
    config.format.LHV1.nMode = 7; // no such channel mode
    config.format.LHV1.dwBitrate = 64;
    config.format.LHV1.bWriteVBRHeader = 1;
    uint32_t chunk = 0, size = 0;
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    ASSERT_NE(stream, nullptr); // the handle is left, for the caller to release
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS); // the leak checker sees it released
    config.format.LHV1.nMode = BE_MP3_MODE_MONO;
    config.dwConfig = BE_CONFIG_MP3; // the old form
    EXPECT_NE(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    EXPECT_EQ(stream, nullptr); // refused before any handle was made
    EXPECT_NE(beWriteVBRHeader("/nonexistent/x.mp3"), BE_ERR_SUCCESS); // no pending stream

    // A closed stream's tag is never written over a file that is not an MP3.
    TempDir t;
    config.dwConfig = BE_CONFIG_LAME;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    std::vector<uint8_t> out(size);
    uint32_t bytes = 0;
    beDeinitStream(stream, out.data(), &bytes);
    beCloseStream(stream);
    ASSERT_TRUE(write_file(t / "text.mp3", "this is not an mp3 file at all"));
    EXPECT_NE(beWriteVBRHeader((t / "text.mp3").c_str()), BE_ERR_SUCCESS);
    EXPECT_EQ(read_file(t / "text.mp3"), "this is not an mp3 file at all");
}
