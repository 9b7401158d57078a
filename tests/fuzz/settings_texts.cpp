// The settings texts of config.ini: a number clamps as its sign and digits
// say, after any white space; anything else gives the fallback; a choice or a
// trigger mode is one of its own or the fallback. A broken invariant traps,
// and libFuzzer keeps the input.
#include <algorithm>
#include <string>

#include "scope_settings.h"

constexpr int32_t kLow = -32768, kHigh = 32767, kFallback = 12345;

// What ParseClamped must give, read without strtol.
int32_t Clamped(const char* at)
{
    while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
    const bool negative = *at == '-';
    at += *at == '-' || *at == '+';
    int64_t magnitude = *at >= '0' && *at <= '9' ? 0 : -1;
    for (; *at >= '0' && *at <= '9'; ++at) magnitude = std::min<int64_t>(magnitude * 10 + (*at - '0'), kHigh + 1);
    if (*at || magnitude < 0) return kFallback;
    return static_cast<int32_t>(std::clamp<int64_t>(negative ? -magnitude : magnitude, kLow, kHigh));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int32_t number = Clamped(text.c_str());
    const bool gain = std::find(kGains, kGains + kGainCount, number) != kGains + kGainCount;
    const TriggerMode mode = ParseTriggerMode(text.c_str());
    if (ParseClamped(text.c_str(), kLow, kHigh, kFallback) != number ||
        ParseChoice(text.c_str(), kGains, kGainCount, -1) != (gain ? number : -1) ||
        (mode != TriggerMode::Off && text.c_str() != std::string(TriggerModeKey(mode))))
        __builtin_trap();
    return 0;
}
