// Helpers for tests that drive real windows: pumping messages, finding
// windows, and reading painted pixels back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads back the client area of `window` from the screen (works across
// processes: the window must be on screen and uncovered).
Capture CaptureClient(HWND window);

// Presses the keys in order and lets them go in reverse, as real input to
// the foreground window.
void PressKeys(std::initializer_list<WORD> keys);

// Dispatches messages of this thread for `milliseconds`.
void PumpMessages(DWORD milliseconds);

// Waits (pumping messages) until `done` holds or the time runs out, checking
// every `intervalMs`.
template <typename Predicate>
bool PumpUntil(Predicate done, DWORD timeoutMs, DWORD intervalMs = 5)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        PumpMessages(intervalMs);
    }
    return true;
}

std::string ReadText(const wchar_t* name = L"config.ini");
void WriteText(const wchar_t* name, const std::string& text);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);

// The visible top-level window of process `processId` with this class (null:
// any), or null.
HWND FindTopLevel(const wchar_t* className, DWORD processId);

// The grid tile's colour at plot pixel (x, y).
COLORREF GridColour(int x, int y);

// The layout at `dpi`: every control inside the window's client, clear of the
// others and of the view, its text (a list's every entry, an edit's widest
// number) within it in the message font at `dpi`; the view's plot exactly
// 1024 x 512 grid pixels of `scale` x `scale` device pixels; the window
// within the work area.
void ExpectLaidOut(HWND main, HWND view, UINT dpi, int scale);
// One request to run-e2e's device server, in the work directory it names in
// TARQUELL_WORK ("start com5 ...", "control ...", "speed BAUD", "stop").
::testing::AssertionResult Device(const std::string& request);
