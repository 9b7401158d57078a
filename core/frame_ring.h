// Frames handed from the thread that reads the port to the window's thread:
// one producer, one consumer, fixed capacity. The producer never waits: when
// the window falls behind by a whole ring, the oldest frames it has not taken
// are overwritten, and the consumer counts them as dropped from the view.
#pragma once

#include <atomic>
#include <cstdint>

#include "sweep_state.h"

// About 3 s at the fastest listed speed.
constexpr uint32_t kFrameRingCapacity = 1u << 19;

struct RingFrame {
    Frame frame;
    uint32_t timeMs;  // when the frame left the driver
    bool afterGap;    // the port was lost and came back before this frame
};

// The producer claims the slots it is about to write before it writes them,
// and publishes them once written, so the consumer can tell a copy the
// producer may have overwritten meanwhile, on any CPU's memory order.
struct FrameRing {
    RingFrame slot[kFrameRingCapacity];
    std::atomic<uint32_t> claimed;  // frames ever being written; stored by the producer only
    std::atomic<uint32_t> written;  // frames ever published; stored by the producer only
    uint32_t taken;                 // the consumer's own
};

inline void PushFrames(FrameRing& ring, const Frame* frames, int count, uint32_t timeMs, bool afterGap)
{
    const uint32_t at = ring.written.load(std::memory_order_relaxed);
    ring.claimed.store(at + static_cast<uint32_t>(count), std::memory_order_relaxed);
    // The claim is seen before any slot it covers is overwritten.
    std::atomic_thread_fence(std::memory_order_release);
    for (int i = 0; i < count; ++i) ring.slot[(at + i) % kFrameRingCapacity] = {frames[i], timeMs, afterGap && i == 0};
    ring.written.store(at + static_cast<uint32_t>(count), std::memory_order_release);
}

inline bool RingIsEmpty(const FrameRing& ring)
{
    return ring.written.load(std::memory_order_acquire) == ring.taken;
}

// Frames before this one may be overwritten while they are copied. The
// counts wrap, so they are only ever compared by their difference.
inline uint32_t FirstSafeFrame(uint32_t claimed)
{
    return claimed - kFrameRingCapacity;
}

// Copies up to `max` of the frames not yet taken into `out`, oldest first;
// `dropped` grows by the frames overwritten before they could be taken.
// A slot the producer may have reused during the copy is counted as
// dropped, never returned.
inline int TakeRingFrames(FrameRing& ring, RingFrame* out, int max, uint32_t* dropped)
{
    const uint32_t written = ring.written.load(std::memory_order_acquire);
    const uint32_t safe = FirstSafeFrame(written);
    if (static_cast<int32_t>(safe - ring.taken) > 0) {
        *dropped += safe - ring.taken;
        ring.taken = safe;
    }
    int count = 0;
    for (; count < max && ring.taken + count != written; ++count)
        out[count] = ring.slot[(ring.taken + count) % kFrameRingCapacity];
    // The copies are done before the claim is looked at again.
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint32_t overwritten = FirstSafeFrame(ring.claimed.load(std::memory_order_relaxed)) - ring.taken;
    int valid = count;
    if (static_cast<int32_t>(overwritten) > 0) {
        valid = overwritten >= static_cast<uint32_t>(count) ? 0 : count - static_cast<int>(overwritten);
        for (int i = 0; i < valid; ++i) out[i] = out[i + count - valid];
        *dropped += static_cast<uint32_t>(count - valid);
    }
    ring.taken += static_cast<uint32_t>(count);
    return valid;
}
