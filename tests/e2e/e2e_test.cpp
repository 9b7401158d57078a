// End-to-end tests: the real tarquell.exe, started in a scratch directory of
// its own, on COM ports backed by the simulated device, checked through its
// windows, the pixels it paints and the files it leaves. Only what needs the
// real program on a real pseudo-terminal is here. run-e2e serves the devices
// and names the program and the work directory in TARQUELL_PROGRAM and
// TARQUELL_WORK (device\ for the server, cases\ for scratch directories).
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>  // before GDI+, which assumes it
#include <gdiplus.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "win_test_util.h"

namespace {

const std::wstring g_program = _wgetenv(L"TARQUELL_PROGRAM") ? _wgetenv(L"TARQUELL_PROGRAM") : L"";
const std::wstring g_work = _wgetenv(L"TARQUELL_WORK") ? _wgetenv(L"TARQUELL_WORK") : L"";

// ----------------------------------------------------------------- pixels

constexpr int kTraces = 3;
constexpr int kGridRows = 512;
constexpr COLORREF kColours[kTraces] = {RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};

// Away from the centre row, where a frame out of step plots.
using Values = std::array<int, kTraces>;
constexpr Values kSpread = {12000, -20000, 24000};
constexpr Values kOther = {16384, 8000, -16384};

// +32767 at the top of the grid, -32768 at the bottom.
int PlotRow(int value) { return kGridRows - ((static_cast<uint16_t>(value) ^ 0x8000) >> 7); }

bool IsTrace(COLORREF colour) { return std::find(kColours, kColours + kTraces, colour) != kColours + kTraces; }

// The rightmost column with trace pixels: how far the sweep has got.
int Head(const Capture& view)
{
    for (int x = view.width - 1; x >= 0; --x)
        for (int y = 0; y < kGridRows; ++y)
            if (IsTrace(view.At(x, y))) return x;
    return -1;
}

// The rows a colour takes in one column: {top, bottom}, or {-1, -1}.
std::pair<int, int> Span(const Capture& view, int x, COLORREF colour)
{
    std::pair<int, int> span = {-1, -1};
    for (int y = 0; y < kGridRows; ++y)
        if (view.At(x, y) == colour) span = {span.first < 0 ? y : span.first, y};
    return span;
}

// Columns [first, last]: how many are clean (every trace pixel within the
// pen's reach of its own row), how many of those show all three traces, and
// the longest run of unclean columns. A bad frame spoils a few adjacent
// columns; a reader out of step spoils them all.
struct Fit {
    int columns = 0, clean = 0, complete = 0, dirtyRun = 0;
};

Fit Measure(const Capture& view, const Values& values, int first, int last)
{
    Fit fit;
    for (int x = first, dirty = 0; x <= last; ++x) {
        bool clean = true, complete = true;
        for (int t = 0; t < kTraces; ++t) {
            const auto [top, bottom] = Span(view, x, kColours[t]);
            complete = complete && top >= 0;
            clean = clean && (top < 0 || (top >= PlotRow(values[t]) - 2 && bottom <= PlotRow(values[t]) + 2));
        }
        ++fit.columns;
        fit.clean += clean;
        fit.complete += clean && complete;
        fit.dirtyRun = std::max(fit.dirtyRun, dirty = clean ? 0 : dirty + 1);
    }
    return fit;
}

// ---------------------------------------------------------------- program

// Sends without ever waiting more than a second for the program.
bool Send(HWND window, UINT message, WPARAM wParam = 0)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, wParam, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

std::string Config(const std::string& port, const std::string& more = "", const std::string& speed = "115200")
{
    return "[General]\r\nportname=" + port + "\r\nportspeed=" + speed + "\r\n" + more;
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(g_program.empty()) << "run through tests/e2e/run-e2e";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = g_work + L"\\cases\\" + std::wstring(name.begin(), name.end());
        CreateDirectoryW(dir_.c_str(), nullptr);
    }
    void TearDown() override
    {
        if (process_.hProcess) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
        EXPECT_TRUE(Device("stop"));
    }

    // Starts the program on this config.ini, with these arguments, and finds its windows.
    bool Launch(const std::string& config, const std::wstring& arguments = L"")
    {
        WriteText((dir_ + L"\\config.ini").c_str(), config);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        std::wstring line = L"\"" + g_program + L"\"" + arguments;
        if (!CreateProcessW(g_program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(),
                            &startup, &process_))
            return false;
        WaitForInputIdle(process_.hProcess, 15000);
        PumpUntil([&] { return (main_ = FindTopLevel(nullptr, process_.dwProcessId)) != nullptr; }, 15000);
        view_ = FindWindowExW(main_, nullptr, L"ChildWindow", nullptr);
        // Captures read the screen: keep the whole view on it.
        SetWindowPos(main_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
        return main_ && view_;
    }

    // No answer means the "could not open" box holds the click.
    bool StartOpens()
    {
        return Send(main_, WM_COMMAND, IDC_START) && !IsWindowEnabled(GetDlgItem(main_, IDC_START)) &&
               IsWindowEnabled(GetDlgItem(main_, IDC_STOP));
    }

    // The first view with at least `columns` swept (or the last one seen).
    Capture AwaitColumns(int columns)
    {
        Capture view;
        PumpUntil([&] { return Head(view = CaptureClient(view_)) >= columns; }, 8000, 50);
        return view;
    }

    void ExpectClosesCleanly()
    {
        PostMessageW(main_, WM_CLOSE, 0, 0);
        ASSERT_EQ(WaitForSingleObject(process_.hProcess, 5000), WAIT_OBJECT_0) << "running 5 s after WM_CLOSE";
        DWORD code = 1;
        GetExitCodeProcess(process_.hProcess, &code);
        EXPECT_EQ(code, 0u);
    }

    std::wstring dir_;
    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr, view_ = nullptr;
};

// ---------------------------------------------------------------- streams

struct StreamCase {
    const char* name;
    const char* port;
    const char* options;  // for the simulated device
    double minClean;
    int maxRun;
    bool hangUp;  // the device's end closes, and comes back a second and a half later
    const char* more = "";  // more of [General]
    const char* speed = "115200";  // saved, and what the pty is set to
};

const StreamCase kStreams[] = {
    // COM1 sorts before COM12: a saved COM1 must not come back as COM12,
    // which the exit would then save.
    {"PortOne", "COM1", "--rate 50", 1.0, 0, false},
    // A pty takes the lines in the line settings, though it has none to raise.
    {"PortAboveNineWithDtrAndRts", "COM12", "--rate 50", 1.0, 0, false, "dtr=1\r\nrts=1\r\n"},
    // Quiet for a second, so that its first frame, cut short, reaches the open port.
    {"StartMidFrameAfterSilence", "COM5", "--rate 50 --start-offset 3 --silent-after 0 --silent-for 1000", 1.0, 0, false},
    // A lost byte spoils the columns either side of its frame.
    {"DroppedByteEvery20Frames", "COM5", "--rate 50 --drop-every 20", 0.75, 4, false},
    // New values show within a second only if every frame is read while the
    // device keeps far ahead of the timer.
    {"FasterThanTheTimer", "COM5", "--rate 1440", 1.0, 0, false},
    {"HangUpAndReturn", "COM5", "--rate 50", 1.0, 0, true},
    // Unlisted, and a speed termios knows (Wine turns those it does not into 38400).
    {"SavedSpeedTheListLacks", "COM5", "--rate 50", 1.0, 0, false, "1500000"},
};

class Stream : public E2e, public ::testing::WithParamInterface<StreamCase> {};

// Columns 0 and 1 start from wherever the pen was before.
TEST_P(Stream, PlotsEachTraceOnItsRowFollowsTheDeviceAndSavesItsPort)
{
    const StreamCase& c = GetParam();
    ASSERT_TRUE(Launch(Config(c.port, c.more, c.speed)));
    ASSERT_TRUE(Device("start com" + std::string(c.port + 3) + " --values 12000,-20000,24000 " + c.options));
    ASSERT_TRUE(StartOpens());
    EXPECT_TRUE(Device(std::string("speed ") + c.speed));
    const Capture view = AwaitColumns(120);
    const Fit fit = Measure(view, kSpread, 2, Head(view));
    ASSERT_GE(fit.columns, 40) << "too few columns plotted";
    EXPECT_GE(fit.clean, c.minClean * fit.columns) << "traces off their rows in " << fit.columns - fit.clean;
    EXPECT_GE(fit.complete, 0.95 * fit.clean) << "a trace missing from " << fit.clean - fit.complete;
    EXPECT_LE(fit.dirtyRun, c.maxRun) << "traces off their rows for long";

    ASSERT_TRUE(!c.hangUp || Device("control hangup"));
    ASSERT_TRUE(Device("control values 16384 8000 -16384"));
    int silences = 0;
    const auto answers = [&] { return silences += !Send(main_, WM_NULL), false; };
    if (c.hangUp) {
        PumpUntil(answers, 1500, 100);
        ASSERT_TRUE(Device("control reopen"));
    }
    // All three traces on their new rows in 20 clean columns.
    const bool shown = PumpUntil([&] {
        answers();
        const Capture now = CaptureClient(view_);
        return Measure(now, kOther, 0, now.width - 1).complete >= 20;
    }, c.hangUp ? 2500 : 1000, 100);
    EXPECT_EQ(silences, 0) << "the window did not answer within 1 s";
    EXPECT_TRUE(shown) << "the new values are not on their rows in time";
    ExpectClosesCleanly();
    EXPECT_EQ(ReadText((dir_ + L"\\config.ini").c_str()), Config(c.port, c.more, c.speed)) << "the settings come back as saved";
}

INSTANTIATE_TEST_SUITE_P(Device, Stream, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

// --------------------------------------------------------- send and record

// The counter wave makes a frame lost, repeated or reordered show as a break
// in y1; y2 = -y1 and y3 = 0 catch the columns mixed up. The device takes each
// line it hears as a command: `?` answers with text between frames, which the
// program skips without losing one, and `rate 1440` speeds it up. Two seconds
// recorded with the semicolons config.ini asks for, on the real clock.
TEST_F(E2e, LinesSentReachTheDeviceAndTheRecordingKeepsEveryFrame)
{
    ASSERT_TRUE(Launch(Config("COM5", "csv_separator=;\r\n")));
    ASSERT_TRUE(Device("start com5 --wave counter --rate 50"));
    ASSERT_TRUE(StartOpens());
    ASSERT_TRUE(Send(main_, WM_COMMAND, IDM_RECORD));
    HWND field = GetDlgItem(main_, IDC_SEND_TEXT);
    for (const wchar_t* line : {L"?", L"rate 1440"}) {
        SetWindowTextW(field, line);
        ASSERT_TRUE(Send(main_, WM_COMMAND, IDC_SEND));
        EXPECT_TRUE(PumpUntil([&] { return WindowText(field).empty(); }, 1000)) << "taken: the field is cleared";
    }
    PumpMessages(2000);
    ASSERT_TRUE(Send(main_, WM_COMMAND, IDM_RECORD));
    ExpectClosesCleanly();

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir_ + L"\\tarquell-*.csv").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no recording in the working directory";
    FindClose(search);
    const std::string text = ReadText((dir_ + L"\\" + found.cFileName).c_str());
    const std::string header = "frame;time_ms;y1;y2;y3\r\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << "partial last line";
    int rows = 0, y1 = 0, y2 = 0, y3 = 0, used = 0, steps = 0;
    long long frame = 0, time = 0, lastTime = 0;
    std::vector<long long> times;
    for (size_t at = header.size(), end; at < text.size(); at = end + 2, ++rows, lastTime = time) {
        end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        const int lastY1 = y1;
        ASSERT_TRUE(line.find('\n') == std::string::npos &&
                    std::sscanf(line.c_str(), "%lld;%lld;%d;%d;%d%n", &frame, &time, &y1, &y2, &y3, &used) == 5 &&
                    used == static_cast<int>(line.size()) && frame == rows && time >= lastTime &&
                    y1 == int16_t(y1) && (rows == 0 || y1 == int16_t(lastY1 + 1)) && y2 == int16_t(-y1) && y3 == 0)
            << "row " << rows << " after y1 " << lastY1 << ", time " << lastTime << ": " << line;
        steps += time != lastTime;
        times.push_back(time);
    }
    EXPECT_GT(steps, 50) << "time_ms moves in milliseconds, not whole seconds";
    const auto inLastSecond = std::count_if(times.begin(), times.end(), [&](long long t) { return t > lastTime - 1000; });
    EXPECT_NEAR(inLastSecond, 1440, 150) << "frames a second after rate 1440";
}

// ---------------------------------------------------------------- trigger

// A sine of 250 frames would drift 24 frames a 1024-column sweep
// untriggered; at 1440 frames/s a sweep takes 0.7 s, so captures a second
// apart show different sweeps. y2 and y3 are scaled off to the grid's bottom
// row, clear of y1.
TEST_F(E2e, TriggeredSweepStandsStillWithTheFramesBeforeTheEdge)
{
    constexpr int kPeriod = 250;
    ASSERT_TRUE(Launch(Config("COM5", "[Scope]\r\ngain2=256\r\ncentre2=32767\r\ngain3=256\r\ncentre3=32767\r\n"
                                      "trig_mode=normal\r\n")));
    ASSERT_TRUE(Device("start com5 --rate 1440 --sine-period " + std::to_string(kPeriod)));
    ASSERT_TRUE(StartOpens());
    // The first sweep after Start may have had fewer frames before its edge
    // than the columns left of the trigger position.
    AwaitColumns(300);
    PumpMessages(800);
    const Capture first = AwaitColumns(300);
    PumpMessages(1000);
    const Capture second = AwaitColumns(300);
    int compared = 0, moved = 0;
    // The trigger level's marker takes the first columns.
    for (int x = 10; x <= std::min(Head(first), Head(second)) - 2; ++x, ++compared) {
        const auto a = Span(first, x, kColours[0]), b = Span(second, x, kColours[0]);
        moved += a.first < 0 || std::abs(a.first - b.first) > 1 || std::abs(a.second - b.second) > 1;
    }
    ASSERT_GE(compared, 150);
    EXPECT_EQ(moved, 0) << "of " << compared << " columns";
    // Rising through 0 at the trigger position puts the crest a quarter period
    // in and the trough three quarters in.
    constexpr int kAt = 128;  // the trigger position
    const auto crest = Span(second, kAt + kPeriod / 4, kColours[0]), trough = Span(second, kAt + 3 * kPeriod / 4, kColours[0]);
    EXPECT_TRUE(crest.first >= 0 && crest.second < PlotRow(22000)) << crest.first << ".." << crest.second;
    EXPECT_GT(trough.first, PlotRow(-22000));
}

// ----------------------------------------------------- measured and saved

// The clipboard's text, split into lines of tab-separated fields.
std::vector<std::vector<std::wstring>> ClipboardTable()
{
    std::vector<std::vector<std::wstring>> table;
    if (!OpenClipboard(nullptr)) return table;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    std::wistringstream lines(data ? static_cast<const wchar_t*>(GlobalLock(data)) : L"");
    if (data) GlobalUnlock(data);
    CloseClipboard();
    for (std::wstring line; std::getline(lines, line, L'\n');) {
        line.resize(line.find(L'\r'));
        table.emplace_back();
        for (size_t at = 0, tab = 0; tab != std::wstring::npos; at = tab + 1)
            table.back().push_back(line.substr(at, (tab = line.find(L'\t', at)) - at));
    }
    return table;
}

// A PNG decoded by GDI+, as a capture.
Capture ReadPng(const std::wstring& path)
{
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    Capture png;
    {
        Gdiplus::Bitmap bitmap(path.c_str());
        if (bitmap.GetLastStatus() == Gdiplus::Ok) png = {static_cast<int>(bitmap.GetWidth()), static_cast<int>(bitmap.GetHeight()), {}};
        Gdiplus::Color colour;
        for (int y = 0; y < png.height; ++y)
            for (int x = 0; x < png.width && bitmap.GetPixel(x, y, &colour) == Gdiplus::Ok; ++x)
                png.pixels.push_back(RGB(colour.GetR(), colour.GetG(), colour.GetB()));
    }
    Gdiplus::GdiplusShutdown(token);
    return png;
}

// Pixels of each trace's colour under the plot.
std::array<int, kTraces> TextInk(const Capture& view)
{
    std::array<int, kTraces> ink = {};
    for (int y = kGridRows; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x)
            for (int t = 0; t < kTraces; ++t) ink[t] += view.At(x, y) == kColours[t];
    return ink;
}

// A recording a frame a millisecond, named on the command line as Excel
// saves it as CSV UTF-8 (a byte-order mark first): y1 a sine of 128 frames around 1000, y2
// a square of 256 between 10000 and -6000, y3 flat at -5000, so that the
// first screen holds whole cycles. Ctrl+M shows the measurement line, Shift
// and the two buttons set the cursors, Ctrl+Shift+C copies the figures and
// Ctrl+S saves the picture on screen; the line is still on at the next start.
TEST_F(E2e, RecordingMeasuredWithCursorsCopiedAndSavedAsPng)
{
    std::string text = "\xEF\xBB\xBF""frame,time_ms,y1,y2,y3\r\n";
    for (int frame = 0; frame < 3000; ++frame)
        text += std::to_string(frame) + "," + std::to_string(frame) + "," +
                std::to_string(std::lround(1000 + 20000 * std::sin(6.283185307179586 * frame / 128))) + "," +
                (frame % 256 < 128 ? "10000" : "-6000") + ",-5000\r\n";
    const std::wstring file = dir_ + L"\\tarquell-20260101-000000.csv";
    WriteText(file.c_str(), text);
    ASSERT_TRUE(Launch(Config("COM5"), L" \"" + file + L"\""));
    ASSERT_TRUE(PumpUntil([&] { return WindowText(main_).find(L"000000.csv") != std::wstring::npos; }, 5000));
    const Capture before = CaptureClient(view_);
    SetForegroundWindow(main_);
    PressKeys({VK_CONTROL, 'M'});
    // The window grows first; its new rows are painted after.
    Capture view;
    const auto figuresShown = [&] {
        view = CaptureClient(view_);
        const auto ink = TextInk(view), inkBefore = TextInk(before);
        for (int t = 0; t < kTraces; ++t)
            if (ink[t] <= inkBefore[t] + 200) return false;
        return view.height > before.height;
    };
    EXPECT_TRUE(PumpUntil(figuresShown, 3000, 50)) << "no rows added, or no figures in them in each trace's colour";

    for (const auto& [down, up, column] : {std::tuple(WM_LBUTTONDOWN, WM_LBUTTONUP, 100), std::tuple(WM_RBUTTONDOWN, WM_RBUTTONUP, 612)}) {
        PostMessageW(view_, down, MK_SHIFT, MAKELPARAM(column, 100));
        PostMessageW(view_, up, MK_SHIFT, MAKELPARAM(column, 100));
    }
    ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
    PressKeys({VK_CONTROL, VK_SHIFT, 'C'});
    std::vector<std::vector<std::wstring>> table;
    ASSERT_TRUE(PumpUntil([&] { return (table = ClipboardTable()).size() == 6; }, 3000, 50)) << "lines copied: " << table.size();
    // The core's table covers the figures' text; these are the first screen's.
    const double y1[] = {-19000, 21000, 40000, 1000, 14177.8, 7.8125, 128};
    ASSERT_TRUE(table[1].size() == 8 && table[2].size() == 8 && table[3].size() == 8);
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(std::stod(table[1][i + 1]), y1[i], std::abs(y1[i]) / 100) << i;
    EXPECT_EQ(table[2][7] + L"|" + table[3][3] + L"|" + table[3][6], L"256|0|") << "y2's period, y3 flat";
    EXPECT_EQ(table[5], (std::vector<std::wstring>{L"", L"100", L"612", L"512", L"512.0", L"1.95"})) << "Δ as time_ms has it";

    PressKeys({VK_CONTROL, 'S'});
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (dialog = FindTopLevel(L"#32770", process_.dwProcessId)) != nullptr; }, 5000));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    WIN32_FIND_DATAW found;
    HANDLE search = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(PumpUntil([&] { return (search = FindFirstFileW((dir_ + L"\\tarquell-*.png").c_str(), &found)) != INVALID_HANDLE_VALUE; }, 5000));
    FindClose(search);
    PumpMessages(500);
    const std::wstring png = dir_ + L"\\" + found.cFileName;
    EXPECT_EQ(ReadText(png.c_str()).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const Capture saved = ReadPng(png);
    ASSERT_TRUE(saved.width == view.width && saved.height > kGridRows && saved.height < view.height) << saved.width << "x" << saved.height;
    int differing = -1;
    PumpUntil([&] {
        const Capture shown = CaptureClient(view_);
        differing = 0;
        for (int y = 0; y < saved.height; ++y)
            for (int x = 0; x < saved.width; ++x) differing += saved.At(x, y) != shown.At(x, y);
        return differing == 0;
    }, 3000, 100);
    EXPECT_EQ(differing, 0) << "of the saved picture's pixels differ from the screen's";
    ExpectClosesCleanly();
    EXPECT_NE(ReadText((dir_ + L"\\config.ini").c_str()).find("[Scope]\r\nmeasure=1\r\n"), std::string::npos);
}

// ----------------------------------------------------------------- layout

class Layout : public E2e {};

// run-e2e --dpi sets the system DPI and a screen to suit before Wine starts:
// 144 on 1280 x 800, 192 on 2560 x 1600, where the doubled plot fits.
TEST_F(Layout, EverythingFitsAndThePlotKeepsWholePixels)
{
    const struct { UINT dpi; int scale; } scalings[] = {{96, 1}, {144, 1}, {192, 2}};
    const UINT dpi = _wgetenv(L"TARQUELL_DPI") ? _wtoi(_wgetenv(L"TARQUELL_DPI")) : 0;
    const auto row = std::find_if(std::begin(scalings), std::end(scalings), [&](const auto& r) { return r.dpi == dpi; });
    ASSERT_NE(row, std::end(scalings)) << "run through run-e2e --dpi";
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // The send field holds a typical line wherever its row goes.
    ASSERT_TRUE(Launch(Config("COM5", "[Send]\r\nline1=values 1 2 3\r\nline_end=crlf\r\n")));
    ASSERT_EQ(GetDpiForWindow(main_), dpi);
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(main_)), DPI_AWARENESS_PER_MONITOR_AWARE);
    ExpectLaidOut(main_, view_, dpi, row->scale);
    ExpectClosesCleanly();
}

}  // namespace
