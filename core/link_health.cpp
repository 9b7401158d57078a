#include "link_health.h"

#include <cstdio>

namespace {

constexpr uint32_t kSecondMs = 1000;

}  // namespace

void ResetLinkHealth(LinkHealth& health, uint32_t nowMs)
{
    health = {};
    health.secondStartMs = nowMs;
    health.lastByteMs = nowMs;
}

void NoteLinkTick(LinkHealth& health, uint32_t nowMs, uint32_t bytes, uint32_t frames, uint32_t skipped)
{
    if (bytes) health.lastByteMs = nowMs;
    health.bytesInSecond += bytes;
    health.framesInSecond += frames;
    health.skippedInSecond += skipped;
    health.skippedBytes += skipped;
    if (nowMs - health.secondStartMs < kSecondMs) return;
    const uint32_t elapsed = nowMs - health.secondStartMs;
    health.framesPerSecond = static_cast<uint32_t>(uint64_t(health.framesInSecond) * kSecondMs / elapsed);
    // Random bytes hold an accidental marker pair now and then, so a wrong
    // speed shows as most bytes skipped rather than as no frames at all.
    health.mostlySkipped = health.skippedInSecond * 2 > health.bytesInSecond;
    health.secondStartMs = nowMs;
    health.bytesInSecond = health.framesInSecond = health.skippedInSecond = 0;
}

int FormatLinkHealth(const LinkHealth& health, uint32_t nowMs, char* text, int size)
{
    if (nowMs - health.lastByteMs >= kSecondMs)
        return std::snprintf(text, size, "no data  skipped %lu  overrun %lu  framing %lu",
                             (unsigned long)health.skippedBytes, (unsigned long)health.overruns,
                             (unsigned long)health.framingErrors);
    if (health.mostlySkipped)
        return std::snprintf(text, size, "no frames: check the speed  skipped %lu", (unsigned long)health.skippedBytes);
    return std::snprintf(text, size, "%lu fr/s  skipped %lu  overrun %lu  framing %lu",
                         (unsigned long)health.framesPerSecond, (unsigned long)health.skippedBytes,
                         (unsigned long)health.overruns, (unsigned long)health.framingErrors);
}
