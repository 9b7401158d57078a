#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_rows.h"
#include "../frame_bytes.h"
#include "link_health.h"
#include "sweep_state.h"

namespace {

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct Taken {
    std::vector<int16_t> y1;
    uint32_t skipped;
    int left;
};

Taken Take(ReceiveArea& area, const std::vector<uint8_t>& bytes)
{
    std::memcpy(area.bytes + area.length, bytes.data(), bytes.size());
    area.length += static_cast<int>(bytes.size());
    static Frame frames[kMaxFramesPerTick];
    const int count = TakeFrames(area, frames, kMaxFramesPerTick);
    Taken taken = {{}, area.skippedBytes, area.length};
    for (int i = 0; i < count; ++i) taken.y1.push_back(frames[i].value[1]);
    return taken;
}

TEST(TakeFrames, CutsTheStreamIntoFramesSkippingWhatStartsNone)
{
    const auto a = FrameBytes(100, -2, 3), b = FrameBytes(200, 0x1155, 0x5511), c = FrameBytes(300, 0, 0);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<int16_t> y1;
        uint32_t skipped;
        int left;
    } cases[] = {
        {"several frames, markers inside values", Join({a, b, c}), {100, 200, 300}, 0, 0},
        {"a partial frame waits", Join({a, {0x11, 0x55, 0x01}}), {100}, 0, 3},
        {"a trailing first marker waits", Join({a, {0x11}}), {100}, 0, 1},
        {"garbage between frames", Join({a, {0x00, 0x55, 0x11, 0x12}, b}), {100, 200}, 4, 0},
        // The frame missing a byte takes the next marker; the rest of that frame is skipped.
        {"a lost byte", Join({a, std::vector<uint8_t>(b.begin(), b.end() - 1), c, a}), {100, 200, 100}, 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        static ReceiveArea area;
        area = {};
        const Taken taken = Take(area, c.bytes);
        EXPECT_EQ(taken.y1, c.y1);
        EXPECT_EQ(taken.skipped, c.skipped);
        EXPECT_EQ(taken.left, c.left);
    }
}

TEST(TakeFrames, FrameSplitAcrossReadsAndStreamJoinedAtAnyByte)
{
    static ReceiveArea area;
    const auto a = FrameBytes(-7, 8, 9), b = FrameBytes(-1234, 0x1100, 0x5555);
    for (size_t cut = 1; cut < 8; ++cut) {
        area = {};
        EXPECT_TRUE(Take(area, std::vector<uint8_t>(a.begin(), a.begin() + cut)).y1.empty());
        EXPECT_EQ(Take(area, Join({std::vector<uint8_t>(a.begin() + cut, a.end()), b})).y1,
                  (std::vector<int16_t>{-7, -1234}))
            << "cut after " << cut;
    }
    for (size_t offset = 1; offset < 8; ++offset) {
        area = {};
        const Taken taken = Take(area, Join({std::vector<uint8_t>(b.begin() + offset, b.end()), a, b}));
        EXPECT_EQ(taken.y1, (std::vector<int16_t>{-7, -1234})) << "joined at " << offset;
        EXPECT_EQ(taken.skipped, 8 - offset);
    }
}

// Whatever arrives, every byte is either taken in a frame, skipped, or waits
// as the start of one.
TEST(TakeFrames, AnyBytesAreAccountedForAndTheAreaStaysBounded)
{
    std::mt19937 random(12345);
    static ReceiveArea area;
    area = {};
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes(random() % 200);
        for (uint8_t& byte : bytes) byte = random() % 2 ? "\x11\x55\x00\xff"[random() % 4] : static_cast<uint8_t>(random());
        const int before = area.length + static_cast<int>(bytes.size()) + static_cast<int>(area.skippedBytes);
        const Taken taken = Take(area, bytes);
        ASSERT_EQ(before, static_cast<int>(taken.y1.size()) * kFrameSize + taken.left + static_cast<int>(taken.skipped));
        ASSERT_LT(taken.left, kFrameSize);
    }
}

TEST(LinkHealth, ShowsRateSilenceAndAWrongSpeed)
{
    const struct {
        const char* name;
        uint32_t bytes, frames, skipped;
        uint32_t lastTickMs;
        const char* text;
    } cases[] = {
        {"streaming", 1440 * 8, 1440, 0, 1000, "1440 fr/s  skipped 0  overrun 0  framing 0"},
        {"silent", 0, 0, 0, 1000, "no data  skipped 0  overrun 0  framing 0"},
        // A wrong speed still finds an accidental marker pair now and then.
        {"wrong speed", 9000, 3, 8976, 1000, "no frames: check the speed  skipped 8976"},
        {"second not over", 800, 100, 0, 500, "0 fr/s  skipped 0  overrun 0  framing 0"},
    };
    for (const auto& c : cases) {
        LinkHealth health;
        ResetLinkHealth(health, 5000);
        NoteLinkTick(health, 5000 + c.lastTickMs / 2, c.bytes, c.frames, c.skipped);
        NoteLinkTick(health, 5000 + c.lastTickMs, 0, 0, 0);
        char text[96];
        FormatLinkHealth(health, 5000 + c.lastTickMs, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.name;
    }
}

TEST(CsvRows, FormatSignedValuesWithCrLfInAnyLocale)
{
    EXPECT_STREQ(kCsvHeader, "frame,time_ms,y1,y2,y3\r\n");
    char row[kCsvRowMax];
    int length = FormatCsvRow(row, 12345, 678, Frame{{0, -1, 0, -32768}});
    EXPECT_EQ(std::string(row, length), "12345,678,-1,0,-32768\r\n");
    length = FormatCsvRow(row, 18446744073709551615ull, 4294967296ull, Frame{{0, 32767, -32767, 10}});
    EXPECT_EQ(std::string(row, length), "18446744073709551615,4294967296,32767,-32767,10\r\n");
}

}  // namespace
