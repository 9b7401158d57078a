// The acquisition core alone, without Win32: what a tick costs per frame,
// from the bytes a drain of the port leaves in the receive area to the
// segments the trace view would draw for the columns the tick changed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "history.h"
#include "measurements.h"
#include "recording_reader.h"
#include "sweep_state.h"

namespace {

struct Calls {
    int64_t segments = 0;
    int64_t gaps = 0;
};

void CountSegment(void* context, int, int, int, int, int) { ++static_cast<Calls*>(context)->segments; }
void CountGap(void* context, int) { ++static_cast<Calls*>(context)->gaps; }

// The device's own waveforms, so every trace moves, rows differ per frame and
// a trigger on trace 1 at level 0 fires once per 256 frames.
std::vector<uint8_t> DeviceStream(int frames)
{
    constexpr double kPi = 3.14159265358979323846;
    std::vector<uint8_t> bytes;
    for (int n = 0; n < frames; ++n) {
        const int16_t values[kTraceCount] = {
            static_cast<int16_t>(std::lround(24000.0 * std::sin(2.0 * kPi * (n % 256) / 256.0))),
            static_cast<int16_t>(400 * (n % 100) - 20000), static_cast<int16_t>((n % 128) < 64 ? 12000 : -12000)};
        bytes.push_back(kFrameMarker1);
        bytes.push_back(kFrameMarker2);
        for (int16_t value : values) {
            bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
            bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        }
    }
    return bytes;
}

// One iteration is one tick that drained `framesPerTick` frames: copy them in
// (the driver read), TakeFrames, ApplyFrame for each, and PaintTraces over the
// columns changed, widened by the pen as the trace view invalidates them (the
// whole width when a sweep began).
void RunTicks(benchmark::State& state, const ScopeSettings& scope)
{
    const int framesPerTick = static_cast<int>(state.range(0));
    const int streamFrames = 256 * 200;  // a whole number of ticks' worth of every waveform period
    const std::vector<uint8_t> stream = DeviceStream(streamFrames + framesPerTick);
    auto sweep = std::make_unique<SweepState>();
    auto area = std::make_unique<ReceiveArea>();
    std::vector<Frame> frames(kMaxFramesPerTick);
    InitSweep(*sweep);
    sweep->scope = scope;
    ResetSweep(*sweep);
    area->length = 0;
    area->skippedBytes = 0;
    const PaintCallbacks callbacks = {CountSegment, CountGap};
    Calls calls;
    int64_t taken = 0;
    uint32_t nowMs = 0;
    size_t at = 0;
    for (auto _ : state) {
        const size_t bytes = static_cast<size_t>(framesPerTick) * kFrameSize;
        std::memcpy(area->bytes + area->length, stream.data() + at, bytes);
        area->length += static_cast<int>(bytes);
        at = (at + bytes) % (static_cast<size_t>(streamFrames) * kFrameSize);
        BeginTick(*sweep);
        const int count = TakeFrames(*area, frames.data(), kMaxFramesPerTick);
        for (int i = 0; i < count; ++i) ApplyFrame(*sweep, frames[i], nowMs);
        EndTick(*sweep);
        if (sweep->changedAll)
            PaintTraces(sweep->picture, sweep->scope, 0, kSweepWidth - 1, callbacks, &calls);
        else if (sweep->changedRight >= sweep->changedLeft)
            PaintTraces(sweep->picture, sweep->scope, sweep->changedLeft - 2, sweep->changedRight + 3, callbacks,
                        &calls);
        taken += count;
        nowMs += 10;
        benchmark::DoNotOptimize(calls);
    }
    if (taken != state.iterations() * framesPerTick || area->skippedBytes != 0)
        state.SkipWithError("frames were not all taken");
    state.SetItemsProcessed(taken);
    state.counters["segments/frame"] = benchmark::Counter(static_cast<double>(calls.segments) / taken);
}

// The fixed scale, free-running: what the program does with no [Scope] section.
void BM_Tick(benchmark::State& state) { RunTicks(state, DefaultScope()); }
BENCHMARK(BM_Tick)->Arg(14)->Arg(115);

// The scope in use at one frame per column: gains and centres off their
// defaults, and the trigger (normal, rising through 0 on trace 1) re-arming
// after every sweep.
ScopeSettings TriggeredScope(int32_t framesPerColumn)
{
    ScopeSettings scope = DefaultScope();
    scope.framesPerColumn = framesPerColumn;
    scope.gain[1] = 2;
    scope.gain[2] = 4;
    scope.centre[2] = 5000;
    scope.centre[3] = -3000;
    scope.mode = TriggerMode::Normal;
    scope.source = 1;
    scope.edge = TriggerEdge::Rise;
    scope.level = 0;
    return scope;
}

void BM_ScopeTick(benchmark::State& state) { RunTicks(state, TriggeredScope(static_cast<int32_t>(state.range(1)))); }
BENCHMARK(BM_ScopeTick)->Args({115, 1})->Args({115, 100});

// A full history of the device's waveforms, 115 frames every 10 ms.
std::unique_ptr<History> FullHistory()
{
    auto history = std::make_unique<History>();
    const std::vector<uint8_t> stream = DeviceStream(1000);
    std::vector<Frame> frames(1000);
    for (int i = 0; i < 1000; ++i) frames[i] = DecodeFrame(stream.data() + i * kFrameSize);
    ClearHistory(*history);
    for (int64_t at = 0; at <= kHistoryFrames; at += 1000) AppendHistory(*history, frames.data(), 1000, at / 115 * 10);
    return history;
}

// Screens of 1,024,000 frames, a timebase of 1000, paged back through a full
// history: each is built into 1,024 columns or measured; the figure is per frame.
template <typename Screen>
void PageScreens(benchmark::State& state, Screen screenEndingAt)
{
    const std::unique_ptr<History> history = FullHistory();
    const int64_t screen = int64_t{kSweepWidth} * 1000;
    int64_t end = history->total;
    for (auto _ : state) {
        end = end - screen < OldestHistoryFrame(*history) + screen ? history->total : end - screen;
        screenEndingAt(*history, end);
    }
    state.SetItemsProcessed(state.iterations() * screen);
}

void BM_HistoryScreen(benchmark::State& state)
{
    auto picture = std::make_unique<SweepPicture>();
    PageScreens(state, [&](const History& history, int64_t end) {
        BuildHistoryScreen(history, end, 1000, *picture);
        benchmark::DoNotOptimize(picture->cursor);
    });
}
BENCHMARK(BM_HistoryScreen);

// The measurement line's figures for such a screen.
void BM_MeasureScreen(benchmark::State& state)
{
    PageScreens(state, [](const History& history, int64_t end) {
        const Figures figures = MeasureFrames(history, end - int64_t{kSweepWidth} * 1000, end);
        benchmark::DoNotOptimize(figures.trace[1].periodMs);
    });
}
BENCHMARK(BM_MeasureScreen);

// Rows of a recording read back as the reader thread does, in pieces of
// 256 KiB; the figure is per row.
void BM_ReadRecording(benchmark::State& state)
{
    constexpr int kRows = 200000;
    auto history = std::make_unique<History>();
    auto reader = std::make_unique<RecordingReader>();
    std::string text = "frame,time_ms,y1,y2,y3\r\n";
    for (int i = 0; i < kRows; ++i)
        text += std::to_string(i) + "," + std::to_string(i / 115 * 10) + "," + std::to_string(i * 7 % 60000 - 30000) +
                ",-1234," + std::to_string(i % 2000 < 1000 ? 12000 : -12000) + "\r\n";
    for (auto _ : state) {
        StartReadingRecording(*reader, *history);
        for (size_t at = 0; at < text.size(); at += 1 << 18)
            ReadRecordingPiece(*reader, *history, text.data() + at, std::min<size_t>(1 << 18, text.size() - at));
        FinishReadingRecording(*reader, *history);
    }
    if (history->total != kRows) state.SkipWithError("rows were not all read");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ReadRecording);

}  // namespace

BENCHMARK_MAIN();
