#include "scope_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const int32_t kGains[kGainCount] = {1, 2, 4, 8, 16, 32, 64, 128, 256};

namespace {

constexpr int kColumnsPerDivision = 32;
const char* const kModeKeys[] = {"off", "auto", "normal", "single"};
const char* const kModeNames[] = {"Off", "Auto", "Norm", "Single"};

// Beyond long, strtol gives the end of the range on the number's side.
bool ParseWhole(const char* text, long* value)
{
    if (!*text) return false;
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return *end == '\0';
}

const char* PhaseWord(TriggerMode mode, TriggerPhase phase)
{
    switch (phase) {
    case TriggerPhase::Waiting: return mode == TriggerMode::Single ? "ARMED" : "WAIT";
    case TriggerPhase::Sweeping: return "TRIG'D";
    case TriggerPhase::AutoSweeping: return "AUTO";
    case TriggerPhase::Stopped: return "STOP";
    case TriggerPhase::FreeRun: break;
    }
    return "";
}


}  // namespace

bool IsDefaultScope(const ScopeSettings& scope)
{
    if (scope.framesPerColumn != 1 || scope.mode != TriggerMode::Off || scope.triggerPosition != kDefaultTriggerPosition)
        return false;
    for (int trace = 1; trace <= kTraceCount; ++trace)
        if (scope.gain[trace] != 1 || scope.centre[trace] != 0) return false;
    return true;
}

int32_t ParseChoice(const char* text, const int32_t* choices, int count, int32_t fallback)
{
    long value = 0;
    if (!ParseWhole(text, &value)) return fallback;
    for (int i = 0; i < count; ++i)
        if (choices[i] == value) return choices[i];
    return fallback;
}

int32_t ParseClamped(const char* text, int32_t low, int32_t high, int32_t fallback)
{
    long value = 0;
    if (!ParseWhole(text, &value)) return fallback;
    return value < low ? low : (value > high ? high : static_cast<int32_t>(value));
}

TriggerMode ParseTriggerMode(const char* text)
{
    for (int mode = 0; mode < 4; ++mode)
        if (std::strcmp(text, kModeKeys[mode]) == 0) return static_cast<TriggerMode>(mode);
    return TriggerMode::Off;
}

const char* TriggerModeKey(TriggerMode mode)
{
    return kModeKeys[static_cast<int>(mode)];
}

int FormatScopeLine(const ScopeSettings& scope, TriggerPhase phase, uint32_t framesPerSecond, bool frozen,
                    char* text, int size)
{
    text[0] = '\0';
    if (IsDefaultScope(scope) && !frozen) return 0;
    int length = std::snprintf(text, size, "%ld frames/col", static_cast<long>(scope.framesPerColumn));
    auto append = [&](const char* format, auto... values) {
        if (length < size) length += std::snprintf(text + length, size - length, format, values...);
    };
    if (framesPerSecond)
        append(" %.3g ms/div", 1000.0 * kColumnsPerDivision * scope.framesPerColumn / framesPerSecond);
    for (int trace = 1; trace <= kTraceCount; ++trace)
        if (scope.gain[trace] != 1 || scope.centre[trace] != 0)
            append(" | y%d x%ld c%ld", trace, static_cast<long>(scope.gain[trace]), static_cast<long>(scope.centre[trace]));
    if (scope.mode != TriggerMode::Off)
        append(" | trig y%ld %s %ld %s %s", static_cast<long>(scope.source), scope.edge == TriggerEdge::Rise ? "rise" : "fall",
               static_cast<long>(scope.level), kModeNames[static_cast<int>(scope.mode)], PhaseWord(scope.mode, phase));
    if (frozen) append(" | FROZEN");
    return length < size ? length : size - 1;
}
