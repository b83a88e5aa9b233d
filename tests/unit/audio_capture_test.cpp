// The audio capture's pure rules: the sample-rate table and the buffer ring in area 3.
#include <gtest/gtest.h>

#include <vector>

// Ten default buffers running through area 3 are seen by the audio pipeline scenario; the edges are here.
#include "media/audio_capture.h"
#include "media/audio_ring.h"

TEST(AudioCapture, MeasuredRateMapsToAKnownRateOrFallsBackInvalid) {
    const struct {
        uint32_t measured, rate, valid;
    } cases[] = {
        {479, 48000, 1}, {481, 48000, 1}, {440, 44100, 1}, {442, 44100, 1},
        {959, 96000, 1}, {961, 96000, 1}, {319, 32000, 1}, {321, 32000, 1},
        // Just outside each band, and no input at all.
        {478, 48000, 0}, {482, 48000, 0}, {439, 48000, 0}, {443, 48000, 0}, {958, 48000, 0}, {962, 48000, 0},
        {318, 48000, 0}, {322, 48000, 0}, {0, 48000, 0}, {0xffffffffu, 48000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.measured);
        uint32_t valid = 7;
        EXPECT_EQ(audio_capture::rate_for(c.measured, valid), c.rate);
        EXPECT_EQ(valid, c.valid);
    }
}

TEST(AudioRing, BufferEndingExactlyAtTheEndIsNotWrapped) {
    const uint32_t base = 0x1000, bytes = 0x100;
    const struct {
        uint32_t size;
        std::vector<uint32_t> offsets;  // from base
    } cases[] = {
        {3 * bytes, {0, bytes, 2 * bytes, 0}},          // the third ends exactly at the end
        {3 * bytes - 1, {0, bytes, 0, bytes}},          // the third would run one byte past it
        {bytes, {0, 0, 0}},                             // one buffer fills the area
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        audio_ring ring(base, c.size);
        for (const uint32_t expected : c.offsets) EXPECT_EQ(ring.take(bytes) - base, expected);
    }
}
