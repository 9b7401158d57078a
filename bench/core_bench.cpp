// The acquisition core alone, without Win32: what one frame costs from its
// bytes to the segments the trace view would draw, and how long the search
// for a frame start takes when a read is out of step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sweep_state.h"

namespace {

struct Calls {
    int64_t invalidated = 0;
    int64_t repainted = 0;
    int64_t drawn = 0;
};

void CountInvalidate(void* context, int, int, int, int) { ++static_cast<Calls*>(context)->invalidated; }
void CountInvalidateAll(void* context) { ++static_cast<Calls*>(context)->repainted; }
void CountDraw(void* context, int, int, int, int, int) { ++static_cast<Calls*>(context)->drawn; }

ReceiveArea MakeFrame(int16_t y1, int16_t y2, int16_t y3)
{
    ReceiveArea area = {{kFrameMarker1, kFrameMarker2}};
    const int16_t values[kTraceCount] = {y1, y2, y3};
    for (int i = 0; i < kTraceCount; ++i) {
        const auto u = static_cast<uint16_t>(values[i]);
        area.bytes[2 + 2 * i] = static_cast<uint8_t>(u >> 8);
        area.bytes[3 + 2 * i] = static_cast<uint8_t>(u & 0xFF);
    }
    return area;
}

// Waveforms like the device's, so every trace moves and rows differ per frame.
std::vector<ReceiveArea> SweepFrames()
{
    constexpr double kPi = 3.14159265358979323846;
    std::vector<ReceiveArea> frames;
    for (int n = 0; n < 4096; ++n) {
        const auto sine = static_cast<int16_t>(std::lround(24000.0 * std::sin(2.0 * kPi * (n % 256) / 256.0)));
        const auto saw = static_cast<int16_t>(400 * (n % 100) - 20000);
        const auto square = static_cast<int16_t>((n % 128) < 64 ? 12000 : -12000);
        frames.push_back(MakeFrame(sine, saw, square));
    }
    return frames;
}

// One iteration is one tick that received a frame: decode, sweep update and
// the paint that follows it.
void BM_FrameToSegments(benchmark::State& state)
{
    const std::vector<ReceiveArea> frames = SweepFrames();
    SweepState sweep = {};
    ResetSweep(sweep);
    Calls calls;
    size_t next = 0;
    for (auto _ : state) {
        const ReceiveArea& area = frames[next];
        next = (next + 1) % frames.size();
        if (BeginTick(sweep)) ApplyFrame(sweep, area, CountInvalidate, CountInvalidateAll, &calls);
        EndTick(sweep);
        PaintTraces(sweep, CountDraw, &calls);
        benchmark::DoNotOptimize(sweep);
    }
    if (sweep.tickCount != static_cast<int32_t>(state.iterations()) || calls.drawn == 0 ||
        calls.invalidated < calls.drawn)
        state.SkipWithError("the sweep did not advance once per frame");
    state.SetItemsProcessed(state.iterations());
    state.counters["draws/frame"] = benchmark::Counter(static_cast<double>(calls.drawn) / state.iterations());
}
BENCHMARK(BM_FrameToSegments);

// The marker pair sits `offset` bytes into an 8-byte read (7: the search has
// to look at every byte).
void BM_FindFrameStartShifted(benchmark::State& state)
{
    const int offset = static_cast<int>(state.range(0));
    ReceiveArea area = {};
    for (int i = 0; i < kFrameSize; ++i) area.bytes[i] = static_cast<uint8_t>(0x20 + i);
    area.bytes[offset] = kFrameMarker1;
    if (offset + 1 < kFrameSize) area.bytes[offset + 1] = kFrameMarker2;
    for (auto _ : state) {
        benchmark::DoNotOptimize(area);
        const int start = FindFrameStart(area, kFrameSize);
        benchmark::DoNotOptimize(start);
        if (start != offset) {
            state.SkipWithError("frame start not found where it is");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindFrameStartShifted)->Arg(1)->Arg(7);

void BM_FindFrameStartNoMarker(benchmark::State& state)
{
    ReceiveArea area = {{0x55, 0x00, 0x12, 0x34, 0x55, 0x10, 0x56, 0x55}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(area);
        const int start = FindFrameStart(area, kFrameSize);
        benchmark::DoNotOptimize(start);
        if (start != -1) {
            state.SkipWithError("a frame start found in bytes without a marker");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindFrameStartNoMarker);

}  // namespace

BENCHMARK_MAIN();
