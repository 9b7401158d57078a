// The frame cutter fed the input in reads of one size (the first byte; 0: as
// much as fits), taking no more frames a call than the second byte says
// (0: no limit). Every frame is the bytes after the first marker pair not yet
// taken, and every byte fed is in a frame, skipped, or waits as a frame's
// start. A broken invariant traps, and libFuzzer keeps the input.
#include <algorithm>
#include <cstring>

#include "sweep_state.h"

ReceiveArea g_area;
Frame g_frames[kMaxFramesPerTick];

bool Waits(const ReceiveArea& area)
{
    return area.length < kFrameSize && (area.length < 1 || area.bytes[0] == kFrameMarker1) &&
           (area.length < 2 || area.bytes[1] == kFrameMarker2);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const size_t readSize = data[0] ? data[0] : sizeof g_area.bytes;
    const int maxFrames = data[1] ? data[1] : kMaxFramesPerTick;
    data += 2, size -= 2;
    g_area.length = 0, g_area.skippedBytes = 0;
    size_t fed = 0, next = 0, frames = 0;  // `next`: the first byte neither in a frame nor skipped
    for (int count = -1; fed < size || count; frames += static_cast<size_t>(count)) {
        const size_t read = std::min({readSize, size - fed, sizeof g_area.bytes - g_area.length});
        std::memcpy(g_area.bytes + g_area.length, data + fed, read);
        g_area.length += static_cast<int>(read), fed += read;
        count = TakeFrames(g_area, g_frames, maxFrames);
        for (int i = 0; i < count; ++i, next += kFrameSize) {
            while (next + 1 < fed && !(data[next] == kFrameMarker1 && data[next + 1] == kFrameMarker2)) ++next;
            const Frame frame = DecodeFrame(data + next);
            if (next + kFrameSize > fed - g_area.length || std::memcmp(&frame, &g_frames[i], sizeof frame)) __builtin_trap();
        }
        const size_t accounted = g_area.skippedBytes + kFrameSize * (frames + count) + g_area.length;
        if (accounted != fed || std::memcmp(g_area.bytes, data + fed - g_area.length, g_area.length)) __builtin_trap();
        if (count > maxFrames || (count < maxFrames && !Waits(g_area))) __builtin_trap();
    }
    return 0;
}
