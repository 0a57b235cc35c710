// SPDX-License-Identifier: GPL-3.0-or-later
// Many encoder streams at once on many threads: each gives the same bytes as when it runs
// alone (run under ThreadSanitizer by the test script).
#include "lame_enc.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> encode(int seed) {
    BE_CONFIG c{};
    c.dwConfig = BE_CONFIG_LAME;
    c.format.LHV1.dwSampleRate = seed % 2 ? 44100 : 22050;
    c.format.LHV1.nMode = seed % 3 ? BE_MP3_MODE_MONO : BE_MP3_MODE_JSTEREO;
    c.format.LHV1.dwBitrate = 64;
    c.format.LHV1.bWriteVBRHeader = 1;
    uint32_t chunk = 0, size = 0, n = 0;
    HBE_STREAM s = nullptr;
    EXPECT_EQ(beInitStream(&c, &chunk, &size, &s), BE_ERR_SUCCESS);
    std::vector<int16_t> pcm(chunk);
    std::vector<uint8_t> buf(size), out;
    for (size_t block = 0; block < 40; ++block) {
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<int16_t>(
                6000 * std::sin(0.01 * (seed + 1) * double(block * pcm.size() + i)));
        EXPECT_EQ(beEncodeChunk(s, chunk, pcm.data(), buf.data(), &n), BE_ERR_SUCCESS);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    beDeinitStream(s, buf.data(), &n);
    beCloseStream(s);
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    return out;
}

} // namespace

TEST(AdapterThreads, StreamsShareNothing) {
    constexpr int kThreads = 8;
    std::vector<std::vector<uint8_t>> alone(kThreads), together(kThreads);
    for (int i = 0; i < kThreads; ++i)
        alone[i] = encode(i);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] { together[i] = encode(i); });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_TRUE(alone[i] == together[i]) << "stream " << i;
}
