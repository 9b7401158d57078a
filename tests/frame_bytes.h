// The bytes a device sends for one frame, for tests at every level.
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> FrameBytes(int16_t v1, int16_t v2, int16_t v3)
{
    std::vector<uint8_t> frame = {0x11, 0x55};
    for (int16_t v : {v1, v2, v3}) {
        frame.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
        frame.push_back(static_cast<uint8_t>(v));
    }
    return frame;
}
