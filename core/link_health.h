// How the link is doing, for the status row: frames per second, silence, a
// stream in which frames are not found (a wrong speed), and the bytes and
// errors lost since Start.
#pragma once

#include <cstdint>

struct LinkHealth {
    uint32_t secondStartMs;
    uint32_t lastByteMs;
    uint32_t bytesInSecond, skippedInSecond, framesInSecond;
    uint32_t framesPerSecond;
    bool mostlySkipped;
    uint32_t skippedBytes, overruns, framingErrors;
};

void ResetLinkHealth(LinkHealth& health, uint32_t nowMs);
void NoteLinkTick(LinkHealth& health, uint32_t nowMs, uint32_t bytes, uint32_t frames, uint32_t skipped);
int FormatLinkHealth(const LinkHealth& health, uint32_t nowMs, char* text, int size);
