#include <gtest/gtest.h>

#include <array>
#include <random>

#include "sweep_state.h"

namespace {

ReceiveArea AreaOf(std::array<uint8_t, 8> bytes)
{
    ReceiveArea area = {};
    for (int i = 0; i < 8; ++i) area.bytes[i] = bytes[i];
    return area;
}

void DecodeAll(const ReceiveArea& area, SweepState& state)
{
    for (int trace = 1; trace <= kTraceCount; ++trace) DecodeFrame(area, trace, state);
}

struct DecodeCase {
    const char* name;
    std::array<uint8_t, 8> bytes;
    FrameAlignment alignment;
    int16_t raw[3];
    uint16_t row[3];
};

class DecodeFrameTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeFrameTest, GivesValuesAndRows)
{
    const DecodeCase& c = GetParam();
    const ReceiveArea area = AreaOf(c.bytes);
    SweepState state = {};
    state.raw[1] = 111, state.raw[2] = 222, state.raw[3] = 333;
    EXPECT_EQ(GetFrameAlignment(area), c.alignment);
    DecodeAll(area, state);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        EXPECT_EQ(state.raw[trace], c.raw[trace - 1]) << "trace " << trace;
        EXPECT_EQ(state.row[trace], c.row[trace - 1]) << "trace " << trace;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Alignments, DecodeFrameTest,
    testing::Values(
        DecodeCase{"aligned", {0x11, 0x55, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, FrameAlignment::Aligned,
                   {0x0102, 0x0304, 0x0506}, {254, 250, 246}},
        // Offset 8 is never written, so value 3 of a shifted frame has a zero low byte.
        DecodeCase{"shifted", {0x00, 0x11, 0x55, 0x01, 0x02, 0x03, 0x04, 0x05}, FrameAlignment::Shifted,
                   {0x0102, 0x0304, 0x0500}, {254, 250, 246}},
        DecodeCase{"double_marker_is_shifted", {0x11, 0x11, 0x55, 0x7F, 0xFF, 0x80, 0x00, 0xFF},
                   FrameAlignment::Shifted, {0x7FFF, -32768, -256}, {1, 512, 258}},
        DecodeCase{"lost_keeps_values", {0, 0, 0, 0, 0, 0, 0, 0}, FrameAlignment::Lost, {111, 222, 333},
                   {256, 256, 256}},
        DecodeCase{"second_marker_alone_is_lost", {0x55, 0x11, 0x11, 1, 2, 3, 4, 5}, FrameAlignment::Lost,
                   {111, 222, 333}, {256, 256, 256}},
        DecodeCase{"extremes", {0x11, 0x55, 0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFF}, FrameAlignment::Aligned,
                   {-32768, 32767, -1}, {512, 1, 257}}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(ToPlotRow, ScalesSignedValuesOntoRowsOneToFiveHundredTwelve)
{
    const struct {
        uint16_t value;
        uint16_t row;
    } cases[] = {{0x0000, 256}, {0x0080, 255}, {0x007F, 256}, {0x7FFF, 1}, {0x7F80, 1},
                 {0x7F7F, 2},   {0x8000, 512}, {0x807F, 512}, {0x8080, 511}, {0xFFFF, 257}};
    for (const auto& c : cases) EXPECT_EQ(ToPlotRow(c.value), c.row) << std::hex << c.value;
}

TEST(ToPlotRow, LargerSignedValuesNeverPlotLower)
{
    for (int v = -32768; v < 32767; ++v)
        ASSERT_GE(ToPlotRow(static_cast<uint16_t>(v)), ToPlotRow(static_cast<uint16_t>(v + 1))) << v;
}

TEST(ReceiveArea, ShortReadDecodesWithBytesLeftFromTheLastRead)
{
    ReceiveArea area = AreaOf({0x11, 0x55, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    const uint8_t shortRead[] = {0x11, 0x55, 0x7F};
    std::copy(std::begin(shortRead), std::end(shortRead), area.bytes);
    SweepState state = {};
    DecodeAll(area, state);
    EXPECT_EQ(state.raw[1], 0x7F02);
    EXPECT_EQ(state.raw[2], 0x0304);
    EXPECT_EQ(state.raw[3], 0x0506);
    EXPECT_EQ(area.bytes[8], 0);
}

TEST(FindFrameStart, FindsTheFirstMarkerPairOrATrailingFirstMarker)
{
    const struct {
        std::array<uint8_t, 8> bytes;
        int count;
        int start;
    } cases[] = {
        {{0x11, 0x55, 1, 2, 3, 4, 5, 6}, 8, 0},
        {{0x11, 0x55, 0x11, 0x55, 0x11, 0x55, 0x11, 0x55}, 8, 0},
        {{3, 4, 5, 6, 0x11, 0x55, 1, 2}, 8, 4},
        {{0x11, 0x11, 0x55, 1, 2, 3, 4, 5}, 8, 1},
        {{1, 2, 3, 4, 5, 6, 7, 0x11}, 8, 7},
        {{0x11, 1, 2, 3, 4, 5, 6, 7}, 8, -1},
        {{0x55, 0x11, 0x22, 0x55, 0, 0, 0, 0}, 8, -1},
        {{0, 0, 0x11, 0x55, 0, 0, 0, 0}, 3, 2},
        {{0x11, 0, 0, 0, 0, 0, 0, 0}, 1, 0},
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(FindFrameStart(AreaOf(c.bytes), c.count), c.start);
}

// A stream joined at any byte of a frame, with marker bytes inside the
// values, is back in step after one completed frame.
TEST(FindFrameStart, ResynchronisesAStreamJoinedAtAnyOffset)
{
    const uint8_t frame[8] = {0x11, 0x55, 0x12, 0x34, 0x55, 0x11, 0xAB, 0xCD};
    uint8_t stream[64];
    for (int i = 0; i < 64; ++i) stream[i] = frame[i % 8];
    for (int offset = 0; offset < 8; ++offset) {
        ReceiveArea area = {};
        int position = offset;
        for (int i = 0; i < 8; ++i) area.bytes[i] = stream[position++];
        const int start = FindFrameStart(area, 8);
        ASSERT_GE(start, 0) << offset;
        int have = start > 0 ? ShiftFrameToFront(area, start, 8) : 8;
        while (have < 8) area.bytes[have++] = stream[position++];
        SweepState state = {};
        DecodeAll(area, state);
        EXPECT_EQ(GetFrameAlignment(area), FrameAlignment::Aligned) << offset;
        EXPECT_EQ(state.raw[1], 0x1234) << offset;
        EXPECT_EQ(state.raw[2], 0x5511) << offset;
        EXPECT_EQ(state.raw[3], static_cast<int16_t>(0xABCD)) << offset;
        EXPECT_EQ(position % 8, 0) << "next read starts at a frame boundary, offset " << offset;
    }
}

TEST(DecodeFrame, AnyBytesGivePlotRowsInRange)
{
    std::mt19937 random(12345);
    const uint8_t likely[] = {0x11, 0x55, 0x00, 0x80, 0x7F, 0xFF};
    SweepState state = {};
    for (int round = 0; round < 200000; ++round) {
        ReceiveArea area = {};
        for (int i = 0; i < 8; ++i)
            area.bytes[i] = random() % 2 ? likely[random() % 6] : static_cast<uint8_t>(random());
        const int count = 1 + round % 8;
        const int start = FindFrameStart(area, count);
        ASSERT_TRUE(start >= -1 && start < count);
        if (start > 0) {
            ASSERT_EQ(ShiftFrameToFront(area, start, count), count - start);
        }
        DecodeAll(area, state);
        ASSERT_EQ(area.bytes[8], 0);
        for (int trace = 1; trace <= kTraceCount; ++trace) {
            ASSERT_GE(state.row[trace], 1);
            ASSERT_LE(state.row[trace], 512);
        }
    }
}

}  // namespace
