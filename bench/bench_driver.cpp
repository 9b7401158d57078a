// Measures a running tarquell.exe from outside, on the same Wine desktop:
// what reaches the screen, how long its message loop stays busy, and what the
// process holds. scripts/bench runs one subcommand at a time; each prints
// "key value" lines.
//
//   startup EXE DIR RUNS     launch to window shown, RUNS times after a warm-up
//   press Start|Stop         presses a button
//   record                   File > Record: starts or stops a recording
//   measure                  Осциллограф > Измерения: shows or hides the line
//   sweep SECONDS INTERVAL_MS
//                            columns plotted, from the screen read every
//                            INTERVAL_MS
//   cpu SECONDS PID...       ticks counted and CPU used by the Linux
//                            processes PID...
//   latency FIFO MARKS COUNT INFLIGHT GAP_MS TIMEOUT_MS
//                            device write of a marked frame to its segment on
//                            screen (MARKS: the device's stdout)
//   send HEARD COUNT GAP_MS  COUNT lines "?" typed into the send field, each
//                            sent to the device reading it (HEARD: the
//                            device's stdout); GAP_MS 0 sends them in a burst
//                            and times the window's answers meanwhile
//   ping SECONDS PID         round trips of WM_NULL through the message loop,
//                            and how long the Linux process PID waited for a core
//   hold SECONDS             suspends the main window's thread for SECONDS, as
//                            a title-bar press or a stalled paint would hold it
//   stats                    working set, GUI objects and handles
//   close                    closes the window and waits for the process
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"

namespace {

// The process's entries in the system handle table, or -1: Wine's
// GetProcessHandleCount reports 0, its system handle table does not.
long long SystemTableHandles(DWORD processId)
{
    using Query = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 20);
    for (int attempt = 0; attempt < 5; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status != 0) return -1;
        const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        long long mine = 0;
        for (ULONG i = 0; i < table->Count; ++i)
            if (table->Handle[i].OwnerPid == processId) ++mine;
        return mine;
    }
    return -1;
}

constexpr wchar_t kMainClass[] = L"Tarquell";
constexpr wchar_t kMainTitle[] = L"Tarquell";
constexpr wchar_t kViewClass[] = L"ChildWindow";
constexpr int kSweepColumns = 1023;  // columns 0..1022 of a sweep
constexpr int kViewWidth = 1024;
constexpr int kGridRows = 512;
constexpr int kStatusRow = 512;
constexpr int kCountX = 10;
constexpr int kFirstValueX = 120;  // "y1: ..." is drawn over the counter's last pixels
constexpr COLORREF kTraceColours[] = {RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kCountColour = RGB(150, 150, 150);
constexpr COLORREF kGridGrey = RGB(195, 195, 195);

// Marked values land on rows the device's own waveforms never reach (trace 1
// stays below row 60), a different row for each of up to 8 marks in flight.
constexpr int kMarkRows = 8;
constexpr int kMarkStrip = 48;
int MarkRow(int k) { return 6 + 5 * k; }
int MarkValue(int k) { return (kGridRows - MarkRow(k)) * 128 - 32768 + 64; }

LARGE_INTEGER g_frequency;

long long Qpc()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double QpcMs(long long ticks) { return 1000.0 * static_cast<double>(ticks) / g_frequency.QuadPart; }

void Emit(const char* key, double value) { std::printf("%s %.6g\n", key, value); }

double Percentile(std::vector<double> values, double share)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

std::string ReadFileText(const wchar_t* path, DWORD limit = 1 << 22)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (text.size() < limit && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// ------------------------------------------------------------------ clocks

// The device stamps its marks with Linux's CLOCK_MONOTONIC; Wine's
// performance counter runs on another base (and need not be that clock at
// all). The kernel prints CLOCK_MONOTONIC as the "now at" line of
// /proc/timer_list, so reading it between two counter readings ties the two
// clocks together, to within half the shortest read.
struct ClockLink {
    long long at = 0;     // counter time of the reading
    double offsetNs = 0;  // CLOCK_MONOTONIC minus counter time
    double errorNs = -1;
};

double CounterNs(long long ticks) { return 1e9 * static_cast<double>(ticks) / g_frequency.QuadPart; }

// The monotonic time of counter time `t`, drift between the links included.
double MonotonicNs(long long t, const ClockLink& first, const ClockLink& last)
{
    const double share = last.at > first.at ? static_cast<double>(t - first.at) / (last.at - first.at) : 0;
    return CounterNs(t) + first.offsetNs + share * (last.offsetNs - first.offsetNs);
}

ClockLink LinkClocks()
{
    ClockLink best;
    for (int attempt = 0; attempt < 40; ++attempt) {
        HANDLE file = CreateFileW(L"Z:\\proc\\timer_list", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return best;
        char head[160] = {};
        DWORD got = 0;
        const long long before = Qpc();
        ReadFile(file, head, sizeof head - 1, &got, nullptr);
        const long long after = Qpc();
        CloseHandle(file);
        const char* now = std::strstr(head, "now at ");
        if (!now) return best;
        const long long middle = (before + after) / 2;
        const double errorNs = CounterNs(after - before) / 2;
        if (best.errorNs < 0 || errorNs < best.errorNs)
            best = {middle, static_cast<double>(_atoi64(now + 7)) - CounterNs(middle), errorNs};
    }
    return best;
}

// ------------------------------------------------------------------ windows

HWND FindMain(DWORD processId = 0)
{
    for (HWND window = FindWindowW(kMainClass, kMainTitle); window;
         window = FindWindowExW(nullptr, window, kMainClass, kMainTitle)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (IsWindowVisible(window) && (!processId || owner == processId)) return window;
    }
    return nullptr;
}

HWND WaitForMain(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    while (!(window = FindMain()) && GetTickCount() - start < timeoutMs) Sleep(20);
    return window;
}

HWND TraceView(HWND main) { return FindWindowExW(main, nullptr, kViewClass, nullptr); }

// A screen rectangle read back through a DIB section kept between reads, so
// that a read costs one BitBlt.
class ScreenArea {
public:
    ScreenArea(HWND window, int x, int y, int width, int height) : width_(width), height_(height)
    {
        origin_ = {x, y};
        ClientToScreen(window, &origin_);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        screen_ = GetDC(nullptr);
        memory_ = CreateCompatibleDC(screen_);
        section_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        previous_ = SelectObject(memory_, section_);
    }
    ~ScreenArea()
    {
        SelectObject(memory_, previous_);
        DeleteObject(section_);
        DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    ScreenArea(const ScreenArea&) = delete;
    ScreenArea& operator=(const ScreenArea&) = delete;

    // Returns the counter time halfway through the read.
    long long Read()
    {
        const long long before = Qpc();
        BitBlt(memory_, 0, 0, width_, height_, screen_, origin_.x, origin_.y, SRCCOPY);
        GdiFlush();
        return (before + Qpc()) / 2;
    }
    COLORREF At(int x, int y) const
    {
        const DWORD bgr = bits_[static_cast<size_t>(y) * width_ + x];
        return RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
    }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    int width_;
    int height_;
    POINT origin_;
    HDC screen_;
    HDC memory_;
    HBITMAP section_;
    HGDIOBJ previous_;
    DWORD* bits_ = nullptr;
};

// ------------------------------------------------------------------- sweep

bool IsTraceColour(COLORREF colour)
{
    return std::find(std::begin(kTraceColours), std::end(kTraceColours), colour) != std::end(kTraceColours);
}

// Where the sweep is, 1..1023: the column after the rightmost one with a trace
// (a wrap erases the grid, so nothing lies right of the newest segment).
int SweepPosition(const ScreenArea& grid)
{
    for (int x = grid.Width() - 1; x >= 0; --x)
        for (int y = 0; y < kGridRows; ++y)
            if (IsTraceColour(grid.At(x, y))) return std::min(x + 1, kSweepColumns);
    return 1;
}

// Reads the tick counter the program prints under the grid ("Count:%07ld"),
// matching each digit against the same text drawn here with the same font.
class CounterReader {
public:
    explicit CounterReader(HWND view) : view_(view)
    {
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        // The status font: the message font at 96 DPI.
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
        HGDIOBJ previousFont = SelectObject(dc, font);
        SIZE size = {};
        GetTextExtentPoint32W(dc, L"Count:", 6, &size);
        digitsX_ = kCountX + size.cx;
        height_ = size.cy;
        for (int d = 0; d < 10; ++d) {
            const wchar_t digit = static_cast<wchar_t>(L'0' + d);
            GetTextExtentPoint32W(dc, &digit, 1, &size);
            width_[d] = size.cx;
            glyph_[d] = Draw(screen, dc, digit, size.cx);
        }
        SelectObject(dc, previousFont);
        DeleteObject(font);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }

    // -1 when the text is not (yet) readable.
    long long Read() const
    {
        int widest = *std::max_element(width_, width_ + 10);
        ScreenArea text(view_, digitsX_, kStatusRow, widest * 7, height_);
        text.Read();
        long long value = 0;
        int x = 0;
        for (int position = 0; position < 7; ++position) {
            int found = -1;
            for (int d = 0; d < 10; ++d) {
                if (!Matches(text, x, d)) continue;
                if (found >= 0) return -1;
                found = d;
            }
            if (found < 0) return -1;
            value = value * 10 + found;
            x += width_[found];
        }
        return value;
    }

private:
    std::vector<bool> Draw(HDC screen, HDC dc, wchar_t digit, int width) const
    {
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height_);
        HGDIOBJ previous = SelectObject(dc, bitmap);
        SetBkColor(dc, RGB(0, 0, 0));
        SetTextColor(dc, kCountColour);
        TextOutW(dc, 0, 0, &digit, 1);
        std::vector<bool> ink(static_cast<size_t>(width) * height_);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width; ++x) ink[static_cast<size_t>(y) * width + x] = GetPixel(dc, x, y) != 0;
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        return ink;
    }
    bool Matches(const ScreenArea& text, int x0, int d) const
    {
        const int visible = std::min(width_[d], kFirstValueX - digitsX_ - x0);
        if (visible < width_[d] / 2 || x0 + visible > text.Width()) return false;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < visible; ++x)
                if ((text.At(x0 + x, y) != 0) != glyph_[d][static_cast<size_t>(y) * width_[d] + x]) return false;
        return true;
    }

    HWND view_;
    int digitsX_ = 0;
    int height_ = 0;
    int width_[10] = {};
    std::vector<bool> glyph_[10];
};

// utime + stime of a Linux process, in clock ticks (-1: unreadable).
long long CpuTicks(const std::string& pid)
{
    const std::wstring path = L"Z:\\proc\\" + std::wstring(pid.begin(), pid.end()) + L"\\stat";
    const std::string stat = ReadFileText(path.c_str());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long long utime = -1, stime = -1;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) utime = std::atoll(field.c_str());
        if (index == 15) stime = std::atoll(field.c_str());
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

// Columns the sweep moved, from the newest column on screen read every
// INTERVAL_MS. A read that came much later than asked (the driver was not
// scheduled) may have missed a whole sweep at the fastest rates, so the
// interval before it is left out of both the columns and the time.
int SweepRate(HWND main, double seconds, int intervalMs)
{
    HWND view = TraceView(main);
    ScreenArea grid(view, 0, 0, kViewWidth, kGridRows);
    const long long start = grid.Read();
    int position = SweepPosition(grid);
    long long previous = start;
    long long columns = 0;
    double countedMs = 0;
    int reads = 0, skipped = 0;
    while (QpcMs(previous - start) < seconds * 1000) {
        Sleep(static_cast<DWORD>(intervalMs));
        const long long now = grid.Read();
        const int next = SweepPosition(grid);
        const double ms = QpcMs(now - previous);
        ++reads;
        if (ms <= 3.0 * intervalMs) {
            columns += (next - position + kSweepColumns) % kSweepColumns;
            countedMs += ms;
        } else {
            ++skipped;
        }
        position = next;
        previous = now;
    }
    Emit("seconds", countedMs / 1000);
    Emit("columns", static_cast<double>(columns));
    Emit("reads", reads);
    Emit("reads_left_out", skipped);
    return columns > 0 ? 0 : 1;
}

// Ticks counted by the program and CPU used by the Linux processes PID...,
// with nothing read off the screen in between.
int Cpu(HWND main, double seconds, const std::vector<std::string>& pids)
{
    const CounterReader counter(TraceView(main));
    std::vector<long long> cpu;
    const long long ticks0 = counter.Read();
    const long long start = Qpc();
    for (const std::string& pid : pids) cpu.push_back(CpuTicks(pid));
    Sleep(static_cast<DWORD>(seconds * 1000));
    std::vector<long long> used;
    for (const std::string& pid : pids) used.push_back(CpuTicks(pid));
    const long long end = Qpc();
    const long long ticks1 = counter.Read();
    Emit("seconds", QpcMs(end - start) / 1000);
    Emit("ticks", ticks0 >= 0 && ticks1 >= ticks0 ? static_cast<double>(ticks1 - ticks0) : -1);
    for (size_t i = 0; i < pids.size(); ++i) {
        const std::string key = "cpu_ticks_" + std::to_string(i + 1);
        Emit(key.c_str(), cpu[i] >= 0 && used[i] >= 0 ? static_cast<double>(used[i] - cpu[i]) : -1);
    }
    return cpu.empty() || cpu[0] < 0 ? 1 : 0;
}

// ----------------------------------------------------------------- latency

// The topmost yellow row of each column in the strip above the waveforms.
void MarkTops(const ScreenArea& strip, std::vector<int>& tops)
{
    tops.assign(strip.Width(), -1);
    for (int x = 0; x < strip.Width(); ++x)
        for (int y = 0; y < strip.Height(); ++y)
            if (strip.At(x, y) == kYellow) {
                tops[x] = y;
                break;
            }
}

// Which mark (0..7) a segment reaching up to `top` shows, or -1.
int MarkAt(int top)
{
    for (int k = 0; k < kMarkRows; ++k)
        if (std::abs(top - MarkRow(k)) <= 2) return k;
    return -1;
}

// The device's "mark V NS" lines, in order.
std::vector<std::pair<int, long long>> DeviceMarks(const wchar_t* path)
{
    std::vector<std::pair<int, long long>> marks;
    const std::string text = ReadFileText(path);
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) break;
        int value = 0;
        long long ns = 0;
        if (std::sscanf(text.c_str() + begin, "mark %d %lld", &value, &ns) == 2) marks.emplace_back(value, ns);
        begin = end + 1;
    }
    return marks;
}

int Latency(HWND main, const wchar_t* fifo, const wchar_t* marksPath, int count, int inflightLimit, int gapMs,
            int timeoutMs)
{
    HANDLE control = CreateFileW(fifo, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (control == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open the device's control FIFO\n");
        return 1;
    }
    ScreenArea strip(TraceView(main), 0, 0, kViewWidth, kMarkStrip);
    const size_t earlier = DeviceMarks(marksPath).size();
    const ClockLink before = LinkClocks();
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> jitter(0, gapMs);
    auto gap = [&] { return (gapMs + jitter(random)) * g_frequency.QuadPart / 1000; };

    std::vector<long long> sentAt, seenAt;
    std::vector<int> tops, previousTops;
    strip.Read();
    MarkTops(strip, previousTops);
    int inflight = 0;
    long long nextSend = Qpc();
    const long long started = nextSend;
    const double deadlineMs = static_cast<double>(count) * (2 * gapMs + timeoutMs) + 5000;
    std::vector<double> scanMs;
    long long lastScan = Qpc();
    for (;;) {
        const long long now = Qpc();
        if (static_cast<int>(sentAt.size()) < count && inflight < inflightLimit && now >= nextSend) {
            char command[32];
            const int mark = static_cast<int>(sentAt.size()) % kMarkRows;
            const int length = std::snprintf(command, sizeof command, "mark %d\n", MarkValue(mark));
            DWORD written = 0;
            WriteFile(control, command, length, &written, nullptr);
            sentAt.push_back(now);
            seenAt.push_back(-1);
            ++inflight;
            nextSend = now + gap();
        }
        Sleep(1);  // a read about every millisecond, without taking a core from the program
        const long long scanned = strip.Read();
        scanMs.push_back(QpcMs(scanned - lastScan));
        lastScan = scanned;
        MarkTops(strip, tops);
        for (int x = 0; x < kViewWidth; ++x) {
            if (tops[x] < 0 || tops[x] == previousTops[x]) continue;
            const int k = MarkAt(tops[x]);
            for (size_t j = 0; k >= 0 && j < sentAt.size(); ++j)
                if (seenAt[j] == -1 && static_cast<int>(j) % kMarkRows == k) {
                    seenAt[j] = scanned;
                    --inflight;
                    if (inflightLimit == 1) nextSend = scanned + gap();
                    break;
                }
        }
        tops.swap(previousTops);
        for (size_t j = 0; j < sentAt.size(); ++j)
            if (seenAt[j] == -1 && QpcMs(scanned - sentAt[j]) > timeoutMs) {
                seenAt[j] = -2;
                --inflight;
            }
        if (static_cast<int>(sentAt.size()) == count && inflight == 0) break;
        if (QpcMs(scanned - started) > deadlineMs) break;
    }
    CloseHandle(control);
    const ClockLink after = LinkClocks();

    std::vector<std::pair<int, long long>> marks;
    for (int attempt = 0; attempt < 50; ++attempt) {
        marks = DeviceMarks(marksPath);
        if (marks.size() >= earlier + sentAt.size()) break;
        Sleep(100);
    }
    std::vector<double> latencies;
    int lost = 0;
    for (size_t j = 0; j < sentAt.size(); ++j) {
        const size_t line = earlier + j;
        if (seenAt[j] < 0 || line >= marks.size() || marks[line].first != MarkValue(static_cast<int>(j) % kMarkRows)) {
            ++lost;
            continue;
        }
        const double seenNs = MonotonicNs(seenAt[j], before, after);
        latencies.push_back((seenNs - static_cast<double>(marks[line].second)) / 1e6);
    }
    Emit("marks", static_cast<double>(sentAt.size()));
    Emit("lost", lost);
    Emit("median_ms", Percentile(latencies, 0.5));
    Emit("min_ms", latencies.empty() ? -1 : *std::min_element(latencies.begin(), latencies.end()));
    Emit("max_ms", latencies.empty() ? -1 : *std::max_element(latencies.begin(), latencies.end()));
    Emit("scan_median_ms", Percentile(scanMs, 0.5));
    Emit("clock_error_us", std::max(before.errorNs, after.errorNs) / 1000);
    Emit("clock_drift_us", (after.offsetNs - before.offsetNs) / 1000);
    std::printf("samples_ms");
    for (double latency : latencies) std::printf(" %.2f", latency);
    std::printf("\n");
    return before.errorNs < 0 || latencies.empty() ? 1 : 0;
}

// -------------------------------------------------------------------- ping

// Nanoseconds the main thread of a Linux process has run and has waited for
// a core since it started (/proc/PID/schedstat); {-1, -1} when unreadable.
std::pair<long long, long long> SchedStat(const std::string& pid)
{
    const std::wstring path = L"Z:\\proc\\" + std::wstring(pid.begin(), pid.end()) + L"\\schedstat";
    long long run = -1, wait = -1;
    if (std::sscanf(ReadFileText(path.c_str()).c_str(), "%lld %lld", &run, &wait) != 2) return {-1, -1};
    return {run, wait};
}

int Ping(HWND main, double seconds, const std::string& pid)
{
    const auto sched0 = SchedStat(pid);
    std::vector<double> trips;
    int unanswered = 0;
    const long long start = Qpc();
    while (QpcMs(Qpc() - start) < seconds * 1000) {
        const long long before = Qpc();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) ++unanswered;
        trips.push_back(QpcMs(Qpc() - before));
    }
    const auto sched1 = SchedStat(pid);
    // A round trip much longer than an idle one waited for a tick to end: their
    // sum is how long ticks held the loop.
    double heldMs = 0;
    for (double trip : trips)
        if (trip > 1) heldMs += trip;
    Emit("round_trips", static_cast<double>(trips.size()));
    Emit("unanswered", unanswered);
    const double windowMs = QpcMs(Qpc() - start);
    Emit("held_share", heldMs / windowMs);
    // Time the program could have run but waited for a core: a round trip
    // that waited too is long for want of a core, not for the tick's work.
    if (sched0.first >= 0 && sched1.first >= 0) {
        Emit("run_share", (sched1.first - sched0.first) / 1e6 / windowMs);
        Emit("core_wait_share", (sched1.second - sched0.second) / 1e6 / windowMs);
    }
    Emit("median_ms", Percentile(trips, 0.5));
    Emit("p99_ms", Percentile(trips, 0.99));
    Emit("p999_ms", Percentile(trips, 0.999));
    Emit("max_ms", Percentile(trips, 1.0));
    return unanswered == 0 && !trips.empty() ? 0 : 1;
}

// -------------------------------------------------------------------- send

// The device's "heard NS LINE" times, in order.
std::vector<long long> DeviceHeard(const wchar_t* path)
{
    std::vector<long long> heard;
    const std::string text = ReadFileText(path);
    for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        long long ns = 0;
        if (std::sscanf(text.c_str() + begin, "heard %lld", &ns) == 1) heard.push_back(ns);
    }
    return heard;
}

// Each line is typed and sent as Enter or «Отправить» sends it (the focus,
// which Enter needs, cannot be set from another process); a burst sends the
// next as soon as the window has taken the last, timing each.
int Send(HWND main, const wchar_t* heardPath, int count, int gapMs)
{
    HWND field = GetDlgItem(main, IDC_SEND_TEXT);
    const ClockLink first = LinkClocks();
    const size_t earlier = DeviceHeard(heardPath).size();
    std::vector<long long> pressedAt;
    std::vector<double> trips;
    for (int i = 0; i < count; ++i) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"?"), SMTO_NORMAL, 5000, &result);
        pressedAt.push_back(Qpc());
        SendMessageTimeoutW(main, WM_COMMAND, IDC_SEND, 0, SMTO_NORMAL, 5000, &result);
        trips.push_back(QpcMs(Qpc() - pressedAt.back()));
        if (gapMs) Sleep(gapMs);
    }
    std::vector<long long> heard;
    for (const long long start = Qpc(); QpcMs(Qpc() - start) < 3000; Sleep(20)) {
        heard = DeviceHeard(heardPath);
        if (heard.size() >= earlier + pressedAt.size()) break;
    }
    const ClockLink last = LinkClocks();
    std::vector<double> latencies;
    for (size_t i = 0; i < pressedAt.size() && earlier + i < heard.size(); ++i)
        latencies.push_back((static_cast<double>(heard[earlier + i]) - MonotonicNs(pressedAt[i], first, last)) / 1e6);
    Emit("sent", static_cast<double>(pressedAt.size()));
    Emit("heard", static_cast<double>(latencies.size()));
    Emit("median_ms", latencies.empty() ? -1 : Percentile(latencies, 0.5));
    Emit("max_ms", latencies.empty() ? -1 : Percentile(latencies, 1.0));
    Emit("longest_answer_ms", Percentile(trips, 1.0));
    return latencies.size() == pressedAt.size() ? 0 : 1;
}

// -------------------------------------------------------------------- hold

// SuspendThread from another process: nothing the program does on that
// thread runs, while its other threads go on. A WM_NULL sent meanwhile shows
// that the hold took.
int Hold(HWND main, double seconds)
{
    const DWORD threadId = GetWindowThreadProcessId(main, nullptr);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (!thread) {
        std::fprintf(stderr, "cannot open the window's thread: %lu\n", GetLastError());
        return 1;
    }
    const long long start = Qpc();
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
        std::fprintf(stderr, "SuspendThread failed: %lu\n", GetLastError());
        CloseHandle(thread);
        return 1;
    }
    Sleep(static_cast<DWORD>(seconds * 500));
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 100, &result) != 0;
    const double elapsed = QpcMs(Qpc() - start);
    if (elapsed < seconds * 1000) Sleep(static_cast<DWORD>(seconds * 1000 - elapsed));
    ResumeThread(thread);
    Emit("held_ms", QpcMs(Qpc() - start));
    Emit("answered_while_held", answered ? 1 : 0);
    CloseHandle(thread);
    return answered ? 1 : 0;
}

// ------------------------------------------------------------------- stats


// GetGuiResources reports 0 under Wine, which keeps a GDI handle table in
// each process (the one the PEB points to, laid out as Windows' shared one);
// its used entries are the process's GDI objects.
struct GdiHandleEntry {
    ULONGLONG object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    ULONGLONG user;
};
constexpr size_t kGdiHandleSlots = 0x10000;
constexpr size_t kPebGdiTableOffset = 0xF8;

long long GdiTableObjects(HANDLE process)
{
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG length = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) != 0) return -1;
    ULONGLONG table = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const char*>(basic.PebBaseAddress) + kPebGdiTableOffset, &table,
                           sizeof table, &got) ||
        !table)
        return -1;
    std::vector<GdiHandleEntry> entries(kGdiHandleSlots);
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                           entries.size() * sizeof(GdiHandleEntry), &got))
        return -1;
    return std::count_if(entries.begin(), entries.end(), [](const GdiHandleEntry& entry) { return entry.type != 0; });
}

// Windows are most of a process's USER objects, and Wine does count them.
struct WindowCount {
    DWORD processId;
    long long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM context)
{
    ++reinterpret_cast<WindowCount*>(context)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM context)
{
    auto* windows = reinterpret_cast<WindowCount*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != windows->processId) return TRUE;
    ++windows->count;
    EnumChildWindows(window, CountChild, context);
    return TRUE;
}

long long Windows(DWORD processId)
{
    WindowCount windows = {processId, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
    return windows.count;
}

int Stats(HWND main)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) return 1;
    PROCESS_MEMORY_COUNTERS memory = {};
    const bool haveMemory = GetProcessMemoryInfo(process, &memory, sizeof memory);
    DWORD handles = 0;
    const bool haveHandles = GetProcessHandleCount(process, &handles);
    Emit("peak_working_set_kb", haveMemory ? static_cast<double>(memory.PeakWorkingSetSize) / 1024 : -1);
    Emit("working_set_kb", haveMemory ? static_cast<double>(memory.WorkingSetSize) / 1024 : -1);
    Emit("gui_gdi_objects", GetGuiResources(process, GR_GDIOBJECTS));
    Emit("gui_user_objects", GetGuiResources(process, GR_USEROBJECTS));
    Emit("table_gdi_objects", static_cast<double>(GdiTableObjects(process)));
    Emit("windows", static_cast<double>(Windows(processId)));
    Emit("handle_count", haveHandles ? static_cast<double>(handles) : -1);
    Emit("table_handles", static_cast<double>(SystemTableHandles(processId)));
    CloseHandle(process);
    return haveMemory ? 0 : 1;
}

// ----------------------------------------------------------------- startup

// The trace view's first tile on screen: black cell, grey grid line.
bool GridPainted(HWND main)
{
    HWND view = TraceView(main);
    if (!view) return false;
    ScreenArea corner(view, 0, 0, 40, 8);
    corner.Read();
    return corner.At(5, 5) == RGB(0, 0, 0) && corner.At(31, 5) == kGridGrey;
}

int Startup(const wchar_t* exe, const wchar_t* dir, int runs)
{
    std::vector<double> shown, painted;
    for (int run = 0; run <= runs; ++run) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::wstring commandLine = L"\"" + std::wstring(exe) + L"\"";
        const long long launched = Qpc();
        if (!CreateProcessW(exe, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &startup, &process))
            return 1;
        HWND main = nullptr;
        long long visibleAt = 0, paintedAt = 0;
        while (QpcMs(Qpc() - launched) < 20000) {
            if (!main && (main = FindMain(process.dwProcessId))) visibleAt = Qpc();
            if (main && GridPainted(main)) {
                paintedAt = Qpc();
                break;
            }
            Sleep(1);
        }
        if (main) PostMessageW(main, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (!paintedAt) return 1;
        if (run == 0) continue;  // warms the prefix's files and the program's DLLs
        shown.push_back(QpcMs(visibleAt - launched));
        painted.push_back(QpcMs(paintedAt - launched));
    }
    Emit("runs", runs);
    Emit("shown_median_ms", Percentile(shown, 0.5));
    Emit("shown_max_ms", Percentile(shown, 1.0));
    Emit("painted_median_ms", Percentile(painted, 0.5));
    Emit("painted_max_ms", Percentile(painted, 1.0));
    return 0;
}

// Opens FILE from the command line (DIR's config.ini sets timebase 1000):
// the time to the file's name in the title and the longest round trip to the
// window meanwhile; then page moves forward (PgDn) to the new picture on
// screen, and to the window's thread answering after the key (the page
// built, and measured when the measurement line is on, but not painted);
// then the working set with the history full.
int History(const wchar_t* exe, const wchar_t* dir, const wchar_t* file, const wchar_t* name)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + std::wstring(exe) + L"\" \"" + file + L"\"";
    if (!CreateProcessW(exe, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &startup, &process)) return 1;
    HWND main = nullptr;
    const long long launched = Qpc();
    while (!main && QpcMs(Qpc() - launched) < 20000) {
        for (HWND w = FindWindowExW(nullptr, nullptr, kMainClass, nullptr); w && !main;
             w = FindWindowExW(nullptr, w, kMainClass, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == process.dwProcessId && IsWindowVisible(w)) main = w;
        }
        Sleep(1);
    }
    const long long shown = Qpc();
    double longest = 0;
    bool opened = false;
    while (main && !opened && QpcMs(Qpc() - shown) < 60000) {
        wchar_t title[256] = L"";
        DWORD_PTR result = 0;
        const long long before = Qpc();
        SendMessageTimeoutW(main, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(title), SMTO_ABORTIFHUNG, 5000, &result);
        longest = std::max(longest, QpcMs(Qpc() - before));
        opened = std::wcsstr(title, name) != nullptr;
        Sleep(5);
    }
    Emit("open_ms", opened ? QpcMs(Qpc() - shown) : -1);
    Emit("open_longest_round_trip_ms", longest);
    std::vector<double> pages, handled;
    if (opened) {
        Sleep(500);
        ScreenArea grid(TraceView(main), 0, 0, kSweepColumns - 2, kGridRows);
        for (int page = 0; page < 3; ++page) {
            grid.Read();
            std::vector<COLORREF> before;
            for (int y = 0; y < kGridRows; ++y)
                for (int x = 0; x < grid.Width(); ++x) before.push_back(grid.At(x, y));
            const long long pressed = Qpc();
            PostMessageW(main, WM_KEYDOWN, VK_NEXT, 0);
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result))
                handled.push_back(QpcMs(Qpc() - pressed));
            for (bool changed = false; !changed && QpcMs(Qpc() - pressed) < 2000;) {
                grid.Read();
                for (int y = 0, i = 0; y < kGridRows && !changed; ++y)
                    for (int x = 0; x < grid.Width() && !changed; ++x, ++i) changed = grid.At(x, y) != before[i];
                if (changed) pages.push_back(QpcMs(Qpc() - pressed));
            }
            Sleep(300);
        }
    }
    Emit("page_median_ms", Percentile(pages, 0.5));
    Emit("page_max_ms", Percentile(pages, 1.0));
    Emit("page_handled_median_ms", Percentile(handled, 0.5));
    Emit("page_handled_max_ms", Percentile(handled, 1.0));
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
    Emit("working_set_kb", memory.WorkingSetSize / 1024.0);
    Emit("peak_working_set_kb", memory.PeakWorkingSetSize / 1024.0);
    if (main) PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return opened && !pages.empty() ? 0 : 1;
}

int Close(HWND main)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(main, WM_CLOSE, 0, 0);
    const bool ended = process && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    return ended ? 0 : 1;
}

bool ShowsMessageBox(HWND main)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    for (HWND box = FindWindowW(L"#32770", nullptr); box; box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == processId && IsWindowVisible(box)) return true;
    }
    return false;
}

// Posted, not sent: a port that does not open brings up a modal message box.
int Press(HWND main, const std::wstring& button)
{
    if (button != L"Start" && button != L"Stop") return 2;
    PostMessageW(main, WM_COMMAND, button == L"Start" ? IDC_START : IDC_STOP, 0);
    Sleep(1000);
    if (!ShowsMessageBox(main)) return 0;
    std::fprintf(stderr, "the program shows a message box: the port did not open\n");
    return 1;
}

// A file that cannot be created brings up a message box too.
int Record(HWND main)
{
    PostMessageW(main, WM_COMMAND, IDM_RECORD, 0);
    Sleep(300);
    if (!ShowsMessageBox(main)) return 0;
    std::fprintf(stderr, "the program shows a message box: the recording failed\n");
    return 1;
}

int Measure(HWND main)
{
    return PostMessageW(main, WM_COMMAND, IDM_MEASURE, 0) ? 0 : 1;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: bench_driver startup EXE DIR RUNS | history EXE DIR FILE NAME | press Start|Stop | record | measure |\n"
                 "       sweep SECONDS INTERVAL_MS | cpu SECONDS PID... |\n"
                 "       latency FIFO MARKS COUNT INFLIGHT GAP_MS TIMEOUT_MS | send HEARD COUNT GAP_MS | ping SECONDS PID |\n"
                 "       hold SECONDS |\n"
                 "       stats | close\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    QueryPerformanceFrequency(&g_frequency);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    auto narrow = [](const wchar_t* text) {
        std::string result;
        for (; *text; ++text) result += static_cast<char>(*text);
        return result;
    };
    if (command == L"startup" && argc == 5) return Startup(argv[2], argv[3], _wtoi(argv[4]));
    if (command == L"history" && argc == 6) return History(argv[2], argv[3], argv[4], argv[5]);
    HWND main = WaitForMain(10000);
    if (!main) {
        std::fprintf(stderr, "no Tarquell window\n");
        return 1;
    }
    if (command == L"press" && argc == 3) return Press(main, argv[2]);
    if (command == L"record" && argc == 2) return Record(main);
    if (command == L"measure" && argc == 2) return Measure(main);
    if (command == L"sweep" && argc == 4) return SweepRate(main, _wtof(argv[2]), _wtoi(argv[3]));
    if (command == L"cpu" && argc >= 3) {
        std::vector<std::string> pids;
        for (int i = 3; i < argc; ++i) pids.push_back(narrow(argv[i]));
        return Cpu(main, _wtof(argv[2]), pids);
    }
    if (command == L"latency" && argc == 8)
        return Latency(main, argv[2], argv[3], _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]), _wtoi(argv[7]));
    if (command == L"send" && argc == 5) return Send(main, argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
    if (command == L"ping" && argc == 4) return Ping(main, _wtof(argv[2]), narrow(argv[3]));
    if (command == L"hold" && argc == 3) return Hold(main, _wtof(argv[2]));
    if (command == L"stats" && argc == 2) return Stats(main);
    if (command == L"close" && argc == 2) return Close(main);
    return Usage();
}
