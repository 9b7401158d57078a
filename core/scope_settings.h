// The scope's settings as config.ini and the scope line spell them.
#pragma once

#include <cstdint>

#include "sweep_state.h"

constexpr int kGainCount = 9;
extern const int32_t kGains[kGainCount];

// Unit gain and no offset on every trace, one frame a column, no trigger.
bool IsDefaultScope(const ScopeSettings& scope);
// A value that is not one of `choices` gives `fallback`.
int32_t ParseChoice(const char* text, const int32_t* choices, int count, int32_t fallback);
// A whole decimal number, clamped to low..high; anything else gives `fallback`.
int32_t ParseClamped(const char* text, int32_t low, int32_t high, int32_t fallback);
TriggerMode ParseTriggerMode(const char* text);
const char* TriggerModeKey(TriggerMode mode);

// Blank at the defaults; otherwise the timebase with its time per division
// (from the measured frame rate), the traces off the default scale, the
// trigger and its state, and FROZEN.
int FormatScopeLine(const ScopeSettings& scope, TriggerPhase phase, uint32_t framesPerSecond, bool frozen,
                    char* text, int size);
