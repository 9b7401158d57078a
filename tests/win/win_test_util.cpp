#include "win_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

Capture CaptureClient(HWND window)
{
    Capture capture;
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    capture.width = client.right;
    capture.height = client.bottom;
    capture.pixels.resize(static_cast<size_t>(capture.width) * capture.height);

    BITMAPINFO info = {{sizeof info.bmiHeader, capture.width, -capture.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    BitBlt(memory, 0, 0, capture.width, capture.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < capture.pixels.size(); ++i) {
        const DWORD bgr = source[i];
        capture.pixels[i] = RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
    }
    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

void PressKeys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs(2 * keys.size());
    size_t down = 0, up = inputs.size();
    for (WORD key : keys) {
        inputs[down].type = inputs[--up].type = INPUT_KEYBOARD;
        inputs[down++].ki.wVk = inputs[up].ki.wVk = key;
        inputs[up].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void PumpMessages(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

std::string ReadText(const wchar_t* name)
{
    std::ifstream file(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteText(const wchar_t* name, const std::string& text)
{
    std::ofstream(name, std::ios::binary) << text;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

HWND FindTopLevel(const wchar_t* className, DWORD processId)
{
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (IsWindowVisible(window) && owner == processId && (!className || ClassName(window) == className)) return window;
    }
    return nullptr;
}

COLORREF GridColour(int x, int y)
{
    if (y == 256) return RGB(255, 255, 255);
    return x % 32 == 31 || (y % 32 == 31 && y != 255) ? RGB(195, 195, 195) : RGB(0, 0, 0);
}

static bool Inside(const RECT& inner, const RECT& outer)
{
    RECT both;
    return IntersectRect(&both, &inner, &outer) && EqualRect(&both, &inner);
}

void ExpectLaidOut(HWND main, HWND view, UINT dpi, int scale)
{
    // An unaware caller would see every coordinate scaled back to 96 DPI.
    const DPI_AWARENESS_CONTEXT awareness = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    RECT client, window, work, box, other;
    GetClientRect(main, &client);
    GetWindowRect(main, &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(Inside(window, work)) << "window " << window.right - window.left << "x" << window.bottom - window.top;
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, CreateFontIndirectW(&metrics.lfMessageFont));
    const auto width = [dc](const std::wstring& text) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    std::vector<std::pair<std::string, RECT>> placed;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring kind = ClassName(child);
        const std::string name = std::string(kind.begin(), kind.end()) + " " + std::to_string(GetDlgCtrlID(child));
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&box), 2);
        EXPECT_TRUE(Inside(box, client)) << name << " leaves the client";
        for (const auto& [otherName, otherBox] : placed) EXPECT_FALSE(IntersectRect(&other, &box, &otherBox)) << name << " on " << otherName;
        placed.push_back({name, box});
        int text = width(kind == L"Edit" ? L"-32768" : WindowText(child)), chrome = 0;
        wchar_t entry[256];
        for (int i = 0; kind == L"ComboBox" && SendMessageW(child, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry)) > 0; ++i)
            text = std::max(text, width(entry)), chrome = GetSystemMetricsForDpi(SM_CXVSCROLL, dpi);
        if (kind == L"Button" && (GetWindowLongW(child, GWL_STYLE) & (BS_TYPEMASK | BS_PUSHLIKE)) == BS_AUTOCHECKBOX)
            chrome = GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
        EXPECT_TRUE(child == view || text + chrome <= box.right - box.left) << name << " cuts its text";
    }
    DeleteObject(SelectObject(dc, previous));
    DeleteDC(dc);
    int wrong = -1;
    Capture plot;
    PumpUntil([&] {
        plot = CaptureClient(view);
        wrong = plot.width == 1024 * scale && plot.height > 512 * scale ? 0 : -1;
        for (int y = 0; y < 512 * scale && !wrong; ++y)
            for (int x = 0; x < plot.width; ++x) wrong += plot.At(x, y) != GridColour(x / scale, y / scale);
        return wrong == 0;
    }, 2000, 50);
    EXPECT_EQ(wrong, 0) << "plot " << plot.width << "x" << plot.height << " at " << scale << "x" << scale;
    EXPECT_TRUE(plot.height > 512 * scale && plot.At(31 * scale, 512 * scale) != GridColour(31, 0)) << "grid below";
    SetThreadDpiAwarenessContext(awareness);
}

// The file is renamed into place so that the server never reads half of it.
::testing::AssertionResult Device(const std::string& request)
{
    const wchar_t* work = _wgetenv(L"TARQUELL_WORK");
    const std::wstring dir = std::wstring(work ? work : L"") + L"\\device\\";
    DeleteFileW((dir + L"reply").c_str());
    WriteText((dir + L"request.tmp").c_str(), request + "\n");
    std::string reply;
    if (!MoveFileExW((dir + L"request.tmp").c_str(), (dir + L"request").c_str(), MOVEFILE_REPLACE_EXISTING) ||
        !PumpUntil([&] { return !(reply = ReadText((dir + L"reply").c_str())).empty(); }, 15000, 20))
        reply = "no answer";
    if (reply == "ok\n") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "device request " << request << ": " << reply;
}
