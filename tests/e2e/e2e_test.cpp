// End-to-end and fault-injection tests: the real tarquell.exe, started in a
// scratch directory of its own, on COM ports backed by the simulated device,
// checked through its windows, the pixels it paints and the config.ini it
// leaves behind. Devices are started by run-e2e on our request.
#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resource.h"
#include "win_test_util.h"

namespace {

// ---------------------------------------------------------------- settings

struct Settings {
    std::wstring program;  // tarquell.exe
    std::wstring work;     // build\e2e: device\ for the server, cases\ for scratch directories
};
Settings g_settings;

constexpr DWORD kLaunchMs = 15000;
constexpr DWORD kAnswerMs = 2000;
constexpr DWORD kStartAnswerMs = 1000;
constexpr DWORD kDismissMs = 5000;
constexpr DWORD kExitMs = 5000;
constexpr DWORD kFreezeGapMs = 300;

constexpr wchar_t kAlertCaption[] = L"Внимание!!!";
constexpr wchar_t kAlertText[] = L"Не получилось!!!";

std::wstring Widen(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(length > 0 ? length - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), length);
    return result;
}

// Waits, dispatching this thread's messages, until `done` holds; checks every
// `intervalMs` (captures are too costly for PumpUntil's 5 ms).
template <typename Predicate>
bool Poll(Predicate done, DWORD timeoutMs, DWORD intervalMs = 100)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        PumpMessages(intervalMs);
    }
    return true;
}

// ------------------------------------------------------------------- files

std::optional<std::string> ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    return CloseHandle(file) && ok;
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes what a case may leave in its scratch directory.
void ClearScratch(const std::wstring& dir)
{
    const std::wstring config = dir + L"\\config.ini";
    SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(config.c_str());
    RemoveDirectoryW(config.c_str());
}

// ------------------------------------------------------------ config.ini

std::string Ini(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// Lines as the profile functions see them: without line ends and blank lines.
std::vector<std::string> IniLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < bytes.size()) {
        size_t end = bytes.find('\n', begin);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

bool IsSavedKey(const std::string& section, const std::string& line)
{
    return section == "[General]" && (line.rfind("portname=", 0) == 0 || line.rfind("portspeed=", 0) == 0);
}

// Every line but the two keys the program writes, tagged with its section,
// so that a line moved into another section counts as changed.
std::vector<std::string> OtherLines(const std::string& bytes)
{
    std::vector<std::string> others;
    std::string section;
    for (const std::string& line : IniLines(bytes)) {
        if (line.front() == '[') {
            section = line;
            continue;
        }
        if (!IsSavedKey(section, line)) others.push_back(section + " " + line);
    }
    return others;
}

std::optional<std::string> SavedValue(const std::string& bytes, const std::string& key)
{
    std::optional<std::string> value;
    std::string section;
    for (const std::string& line : IniLines(bytes)) {
        if (line.front() == '[') section = line;
        else if (section == "[General]" && line.rfind(key + "=", 0) == 0) value = line.substr(key.size() + 1);
    }
    return value;
}

std::string StandardConfig(const char* port)
{
    return Ini({"[General]", std::string("portname=") + port, "portspeed=115200", "[Display]", "theme=dark",
                "grid=on"});
}

// -------------------------------------------------------- device server

// Asks run-e2e's device server to act, one request at a time: a request
// file is put in place by a rename so that the server never reads half of it.
class DeviceServer {
public:
    ::testing::AssertionResult Run(const std::string& request)
    {
        const std::wstring dir = g_settings.work + L"\\device\\";
        const std::string sequence = std::to_string(++sequence_);
        const std::wstring temporary = dir + L"request.tmp";
        if (!WriteBytes(temporary, sequence + " " + request + "\n") ||
            !MoveFileExW(temporary.c_str(), (dir + L"request").c_str(), MOVEFILE_REPLACE_EXISTING))
            return ::testing::AssertionFailure() << "cannot write the device request '" << request << "'";
        std::string reply;
        const bool answered = Poll(
            [&] {
                reply = ReadBytes(dir + L"reply").value_or("");
                return reply.rfind(sequence + " ", 0) == 0;
            },
            15000, 20);
        if (!answered) return ::testing::AssertionFailure() << "no answer to the device request '" << request << "'";
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        const std::string status = reply.substr(sequence.size() + 1);
        if (status != "ok")
            return ::testing::AssertionFailure() << "device request '" << request << "' failed: " << status;
        return ::testing::AssertionSuccess();
    }

    // 50 frames a second: well within what the program's 10 ms timer reads.
    ::testing::AssertionResult Start(const std::string& port, const std::string& options)
    {
        return Run("start " + port + " --rate 50 " + options);
    }
    ::testing::AssertionResult Control(const std::string& command) { return Run("control " + command); }
    ::testing::AssertionResult Stop() { return Run("stop"); }

private:
    int sequence_ = 0;
};

DeviceServer g_device;

// ----------------------------------------------------------------- pixels

constexpr int kTraces = 3;
constexpr int kGridRows = 512;
constexpr int kLostRow = 256;
constexpr int kPenSlack = 2;
constexpr COLORREF kTraceColours[kTraces] = {RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};
constexpr COLORREF kGridBlack = RGB(0, 0, 0);
constexpr COLORREF kGridGrey = RGB(195, 195, 195);
constexpr COLORREF kGridWhite = RGB(255, 255, 255);

using Values = std::array<int16_t, kTraces>;
using Rows = std::array<int, kTraces>;

int PlotRow(int16_t value)
{
    return kGridRows - (static_cast<uint16_t>(value ^ 0x8000) >> 7);
}

Rows PlotRows(const Values& values)
{
    return {PlotRow(values[0]), PlotRow(values[1]), PlotRow(values[2])};
}

bool IsTraceColour(COLORREF colour)
{
    return std::find(std::begin(kTraceColours), std::end(kTraceColours), colour) != std::end(kTraceColours);
}

bool ColourNear(const Capture& view, int x, COLORREF colour, int row, int slack)
{
    for (int y = std::max(0, row - slack); y <= std::min(kGridRows - 1, row + slack); ++y)
        if (view.At(x, y) == colour) return true;
    return false;
}

bool AnyTraceNear(const Capture& view, int x, int row, int slack)
{
    for (COLORREF colour : kTraceColours)
        if (ColourNear(view, x, colour, row, slack)) return true;
    return false;
}

// The rightmost column with trace pixels: how far the sweep has got (-1: no trace).
int Head(const Capture& view)
{
    for (int x = view.width - 1; x >= 0; --x)
        for (int y = 0; y < kGridRows; ++y)
            if (IsTraceColour(view.At(x, y))) return x;
    return -1;
}

// Columns [first, last] of the sweep: how many are clean (every trace pixel
// within the pen's reach of its own row), how many of those show each trace,
// and the longest runs of unclean columns and of columns with a trace on the
// row of an unrecognised frame. A bad frame spoils a few adjacent columns; a
// reader out of step spoils them all.
struct Fit {
    int columns = 0;
    int clean = 0;
    std::array<int, kTraces> shown{};
    int longestDirtyRun = 0;
    int longestLostRun = 0;

    double CleanShare() const { return columns ? double(clean) / columns : 0; }
    double ShownShare(int trace) const { return clean ? double(shown[trace]) / clean : 0; }
};

bool CleanColumn(const Capture& view, int x, const Rows& rows)
{
    for (int y = 0; y < kGridRows; ++y)
        for (int trace = 0; trace < kTraces; ++trace)
            if (view.At(x, y) == kTraceColours[trace] && std::abs(y - rows[trace]) > kPenSlack) return false;
    return true;
}

Fit Measure(const Capture& view, const Rows& rows, int first, int last)
{
    Fit fit;
    int dirtyRun = 0;
    int lostRun = 0;
    for (int x = first; x <= last; ++x) {
        ++fit.columns;
        const bool clean = CleanColumn(view, x, rows);
        if (clean) {
            ++fit.clean;
            for (int trace = 0; trace < kTraces; ++trace)
                if (ColourNear(view, x, kTraceColours[trace], rows[trace], kPenSlack)) ++fit.shown[trace];
        }
        dirtyRun = clean ? 0 : dirtyRun + 1;
        lostRun = AnyTraceNear(view, x, kLostRow, 1) ? lostRun + 1 : 0;
        fit.longestDirtyRun = std::max(fit.longestDirtyRun, dirtyRun);
        fit.longestLostRun = std::max(fit.longestLostRun, lostRun);
    }
    return fit;
}

std::string Describe(const Fit& fit, const Rows& rows)
{
    char text[240];
    std::snprintf(text, sizeof text,
                  "%d columns, %d clean (y1/y2/y3 on rows %d/%d/%d in %d/%d/%d); longest runs: %d unclean, "
                  "%d on row %d",
                  fit.columns, fit.clean, rows[0], rows[1], rows[2], fit.shown[0], fit.shown[1], fit.shown[2],
                  fit.longestDirtyRun, fit.longestLostRun, kLostRow);
    return text;
}

// Keeps what a failed pixel check saw, as a 24-bit bottom-up BMP.
bool SaveCapture(const Capture& capture, const std::wstring& path)
{
    const int stride = (capture.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = capture.width;
    info.biHeight = capture.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(stride) * capture.height;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    for (int y = capture.height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < capture.width; ++x) {
            const COLORREF colour = capture.At(x, y);
            row[3 * x] = static_cast<char>(GetBValue(colour));
            row[3 * x + 1] = static_cast<char>(GetGValue(colour));
            row[3 * x + 2] = static_cast<char>(GetRValue(colour));
        }
        bytes += row;
    }
    return WriteBytes(path, bytes);
}

bool ShowsEmptyGrid(const Capture& view)
{
    return view.width > 40 && view.height > kGridRows && view.At(5, 5) == kGridBlack &&
           view.At(31, 5) == kGridGrey && view.At(5, 31) == kGridGrey && view.At(5, kLostRow) == kGridWhite &&
           Head(view) < 0;
}

// ---------------------------------------------------------------- handles

// Wine's GetProcessHandleCount reports 0; its system handle table does not.
int HandleCount(HANDLE process)
{
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count > 0) return static_cast<int>(count);
    return static_cast<int>(SystemTableHandles(GetProcessId(process)));
}

// ---------------------------------------------------------------- program

enum class StartOutcome { Opened, Refused, NoAnswer };

HWND FindChild(HWND parent, const wchar_t* className, const wchar_t* text)
{
    return FindWindowExW(parent, nullptr, className, text);
}

// Sends a message to the program without ever waiting more than 2 s for it.
std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
                            DWORD timeoutMs = kAnswerMs)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

// GetWindowText does not ask a window of another process for its text.
std::wstring SentText(HWND window)
{
    wchar_t text[256] = L"";
    Send(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

bool HasChildWithText(HWND parent, const wchar_t* text)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (SentText(child) == text) return true;
    return false;
}

// The real program, started in `dir` (where its config.ini lives) and
// terminated if a test ends without closing it.
class Tarquell {
public:
    explicit Tarquell(const std::wstring& dir)
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        std::wstring commandLine = L"\"" + g_settings.program + L"\"";
        if (!CreateProcessW(g_settings.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            dir.c_str(), &startup, &process_))
            return;
        WaitForInputIdle(process_.hProcess, kLaunchMs);
        Poll([&] { return (main_ = FindTopLevel(L"Tarquell", L"Tarquell", process_.dwProcessId)) != nullptr; },
             kLaunchMs, 50);
        if (!main_) return;
        view_ = FindChild(main_, L"ChildWindow", nullptr);
        start_ = FindChild(main_, L"Button", L"Start");
        stop_ = FindChild(main_, L"Button", L"Stop");
        HWND first = FindChild(main_, L"ComboBox", nullptr);
        HWND second = first ? FindWindowExW(main_, first, L"ComboBox", nullptr) : nullptr;
        if (second && WindowRect(second).left < WindowRect(first).left) std::swap(first, second);
        portList_ = first;
        speedList_ = second;
        // Captures read the screen: keep the whole view on it.
        SetWindowPos(main_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    }

    ~Tarquell()
    {
        if (!process_.hProcess) return;
        if (Alive()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, kExitMs);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    Tarquell(const Tarquell&) = delete;
    Tarquell& operator=(const Tarquell&) = delete;

    // The main window with its controls, showing the empty grid.
    ::testing::AssertionResult Ready() const
    {
        if (!main_) return ::testing::AssertionFailure() << "no main window (class and title \"Tarquell\")";
        if (!view_ || !start_ || !stop_)
            return ::testing::AssertionFailure() << "missing trace view or Start/Stop buttons";
        const RECT client = ClientRect(view_);
        if (client.right != 1022 || client.bottom != 548)
            return ::testing::AssertionFailure() << "trace view client is " << client.right << "x" << client.bottom;
        if (!Poll([&] { return ShowsEmptyGrid(Grab()); }, 3000))
            return ::testing::AssertionFailure() << "the trace view does not show the empty grid";
        return ::testing::AssertionSuccess();
    }

    HANDLE Process() const { return process_.hProcess; }
    bool Alive() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    bool Responsive() const { return Send(main_, WM_NULL).has_value(); }

    bool StartEnabled() const { return IsWindowEnabled(start_); }
    bool StopEnabled() const { return IsWindowEnabled(stop_); }
    bool Idle() const { return StartEnabled() && !StopEnabled(); }
    bool Running() const { return !StartEnabled() && StopEnabled(); }

    std::wstring Port() const { return portList_ ? SentText(portList_) : L""; }
    std::wstring Speed() const { return speedList_ ? SentText(speedList_) : L""; }
    bool SelectPort(const wchar_t* text) const { return Select(portList_, text); }
    bool SelectSpeed(const wchar_t* text) const { return Select(speedList_, text); }

    // Clicks Start. A refused port shows the message box, which holds the
    // click until it is dismissed, so a click still unanswered after a
    // second is looked at for one.
    StartOutcome Start() const
    {
        if (Send(main_, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), reinterpret_cast<LPARAM>(start_),
                 kStartAnswerMs))
            return StartOutcome::Opened;
        return PumpUntil([&] { return Alert() != nullptr; }, kAnswerMs) ? StartOutcome::Refused
                                                                         : StartOutcome::NoAnswer;
    }

    bool Stop() const
    {
        return Send(main_, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), reinterpret_cast<LPARAM>(stop_))
            .has_value();
    }

    // The program's "could not open" message box, if it shows one.
    HWND Alert() const { return FindTopLevel(L"#32770", kAlertCaption, process_.dwProcessId); }

    ::testing::AssertionResult DismissAlert() const
    {
        HWND alert = Alert();
        if (!alert) return ::testing::AssertionFailure() << "no message box";
        if (!HasChildWithText(alert, kAlertText))
            return ::testing::AssertionFailure() << "the message box does not say \"" << Narrow(kAlertText) << "\"";
        PostMessageW(alert, WM_COMMAND, IDOK, 0);
        if (!PumpUntil([&] { return !Alert(); }, kAnswerMs))
            return ::testing::AssertionFailure() << "the message box did not go away on OK";
        // Outside a Wine desktop, with no window manager on the X display,
        // Wine holds the thread that hides a window for 2 s; let that pass.
        if (!Poll([&] { return Responsive(); }, kDismissMs, 0))
            return ::testing::AssertionFailure() << "no answer within 5 s of dismissing the message box";
        return ::testing::AssertionSuccess();
    }

    Capture Grab() const { return CaptureClient(view_); }

    // WM_CLOSE, then the exit code (nullopt: still running after 5 s).
    std::optional<DWORD> Close() const
    {
        PostMessageW(main_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, kExitMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    static bool Select(HWND list, const wchar_t* text)
    {
        if (!list) return false;
        const auto index = Send(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
        return index && *index != CB_ERR && Send(list, CB_SETCURSEL, static_cast<WPARAM>(*index)) == index;
    }

    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr;
    HWND view_ = nullptr;
    HWND start_ = nullptr;
    HWND stop_ = nullptr;
    HWND portList_ = nullptr;
    HWND speedList_ = nullptr;
};

// ---------------------------------------------------------------- fixture

// How much of the plot a faulty stream may spoil.
struct Tolerance {
    double minClean;  // share of clean columns
    int maxRun;       // longest run of spoilt columns
};

constexpr Tolerance kClean = {1.0, 0};
// A frame that is cut short, padded or lost spoils the two columns either
// side of it; two in a row is still one recovery.
constexpr int kSpoiltRun = 4;

int FailureCount()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

std::string CaseName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = g_settings.work + L"\\cases\\" + Widen(CaseName());
        CreateDirectoryW(dir_.c_str(), nullptr);
        ClearScratch(dir_);
    }

    void TearDown() override
    {
        program_.reset();
        EXPECT_TRUE(g_device.Stop());
    }

    std::wstring ConfigPath() const { return dir_ + L"\\config.ini"; }

    bool WriteConfig(const std::string& content) { return WriteBytes(ConfigPath(), content); }

    Tarquell& Launch()
    {
        program_ = std::make_unique<Tarquell>(dir_);
        return *program_;
    }

    // Launches on a config.ini that preselects `port` at 115200 baud.
    ::testing::AssertionResult LaunchOn(const char* port)
    {
        if (!WriteConfig(StandardConfig(port))) return ::testing::AssertionFailure() << "cannot write config.ini";
        return Launch().Ready();
    }

    Tarquell& Program() { return *program_; }

    void ExpectResponsive(const char* when)
    {
        EXPECT_TRUE(Program().Alive()) << when;
        EXPECT_TRUE(Program().Responsive()) << "no answer to WM_NULL within 2 s " << when;
    }

    ::testing::AssertionResult StartOpens()
    {
        const StartOutcome outcome = Program().Start();
        if (outcome == StartOutcome::Refused) {
            Program().DismissAlert();
            return ::testing::AssertionFailure() << "Start showed the \"could not open\" message box";
        }
        if (outcome == StartOutcome::NoAnswer) return ::testing::AssertionFailure() << "no answer to Start";
        if (!Program().Running()) return ::testing::AssertionFailure() << "Start left Start enabled or Stop disabled";
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult StartIsRefused()
    {
        if (Program().Start() != StartOutcome::Refused)
            return ::testing::AssertionFailure() << "no \"could not open\" message box";
        const ::testing::AssertionResult dismissed = Program().DismissAlert();
        if (!dismissed) return dismissed;
        if (!Program().Running())
            return ::testing::AssertionFailure() << "after the message box Start should stay disabled, Stop enabled";
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult StopReturnsToIdle()
    {
        if (!Program().Stop()) return ::testing::AssertionFailure() << "no answer to Stop within 2 s";
        if (!Program().Idle()) return ::testing::AssertionFailure() << "Stop should enable Start and disable Stop";
        return ::testing::AssertionSuccess();
    }

    // Waits until the sweep has drawn at least `columns` columns; returns the head.
    int AwaitColumns(int columns, DWORD timeoutMs = 8000)
    {
        int head = -1;
        Poll([&] { return (head = Head(Program().Grab())) >= columns; }, timeoutMs);
        return head;
    }

    bool Frozen()
    {
        const Capture before = Program().Grab();
        PumpMessages(kFreezeGapMs);
        return Program().Grab().pixels == before.pixels;
    }

    bool AwaitFrozen(DWORD timeoutMs = 4000)
    {
        return Poll([&] { return Frozen(); }, timeoutMs, 0);
    }

    // Checks the traces sit on their rows over the sweep so far and over its
    // newest columns: most columns clean, each trace shown in them, and no
    // longer stretch spoilt than one bad frame can spoil.
    void ExpectTraces(const Values& values, const Tolerance& tolerance)
    {
        // Columns 0 and 1 hold the first segment, drawn from where the pen
        // was before Start.
        constexpr int fromColumn = 2;
        const Rows rows = PlotRows(values);
        for (int row : rows) ASSERT_GT(std::abs(row - kLostRow), 4) << "pick values away from the lost-frame row";
        const Capture view = Program().Grab();
        const int failuresBefore = FailureCount();
        const int head = Head(view);
        ASSERT_GE(head, fromColumn + 40) << "too few columns plotted";
        const int newest = std::max(fromColumn, head - 30);
        for (const auto& [name, fit] : {std::pair{"sweep", Measure(view, rows, fromColumn, head)},
                                        std::pair{"newest columns", Measure(view, rows, newest, head)}}) {
            const std::string seen = std::string(" (") + name + "): " + Describe(fit, rows);
            EXPECT_GE(fit.CleanShare(), tolerance.minClean) << "traces off their rows" << seen;
            for (int trace = 0; trace < kTraces; ++trace)
                EXPECT_GE(fit.ShownShare(trace), 0.95) << "y" << trace + 1 << " missing" << seen;
            EXPECT_LE(fit.longestDirtyRun, tolerance.maxRun) << "traces off their rows for long" << seen;
            EXPECT_LE(fit.longestLostRun, tolerance.maxRun) << "traces stuck on the lost-frame row" << seen;
        }
        if (FailureCount() > failuresBefore && SaveCapture(view, dir_ + L"\\trace-view.bmp"))
            std::printf("the trace view is kept in %s\\trace-view.bmp\n", Narrow(dir_).c_str());
    }

    // WM_CLOSE: the program ends within 5 s with exit code 0.
    ::testing::AssertionResult ClosesCleanly()
    {
        const std::optional<DWORD> code = Program().Close();
        if (!code) return ::testing::AssertionFailure() << "still running 5 s after WM_CLOSE";
        if (*code != 0) return ::testing::AssertionFailure() << "exit code " << *code;
        return ::testing::AssertionSuccess();
    }

    // config.ini holds the two keys with these values and, if `othersKept`,
    // every other line of `before` as it was.
    void ExpectSavedConfig(const std::string& before, const std::string& port, const std::string& speed,
                           bool othersKept = true)
    {
        const std::optional<std::string> after = ReadBytes(ConfigPath());
        ASSERT_TRUE(after.has_value()) << "config.ini is gone";
        EXPECT_EQ(SavedValue(*after, "portname").value_or("(none)"), port);
        EXPECT_EQ(SavedValue(*after, "portspeed").value_or("(none)"), speed);
        if (othersKept) {
            EXPECT_EQ(OtherLines(*after), OtherLines(before)) << "lines besides the two keys changed";
        }
    }

    void CloseAndExpectSaved(const char* port)
    {
        ASSERT_TRUE(ClosesCleanly());
        ExpectSavedConfig(StandardConfig(port), port, "115200");
    }

private:
    std::wstring dir_;
    std::unique_ptr<Tarquell> program_;
};

// ------------------------------------------------------------- streaming

struct StreamCase {
    const char* name;
    const char* port;     // COM name in config.ini
    const char* link;     // the device's link under build/ports
    const char* options;  // for the simulated device
    Values values;
    Tolerance tolerance;
};

constexpr Values kSpread = {12000, -20000, 24000};

const StreamCase kStreamCases[] = {
    {"ConstantValues", "COM5", "com5", "", {16384, 8000, -16384}, kClean},
    // Quiet for a second, so that its first frame, cut short, reaches the open port.
    {"StartMidFrame", "COM5", "com5", "--start-offset 3 --silent-after 0 --silent-for 1000", kSpread, kClean},
    {"DroppedByteEvery20Frames", "COM5", "com5", "--drop-every 20", kSpread, {0.75, kSpoiltRun}},
    {"DroppedByteEvery7Frames", "COM5", "com5", "--drop-every 7", kSpread, {0.5, kSpoiltRun}},
    // The extra byte comes before the next frame's marker, which is found at once.
    {"InsertedByteEvery7Frames", "COM5", "com5", "--insert-every 7", kSpread, kClean},
    {"GarbageEvery5Frames", "COM5", "com5", "--garbage-every 5", kSpread, {0.5, kSpoiltRun}},
    {"PortAboveNine", "COM12", "com12", "", kSpread, kClean},
};

std::string ValuesOption(const Values& values)
{
    return "--values " + std::to_string(values[0]) + "," + std::to_string(values[1]) + "," +
           std::to_string(values[2]);
}

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class Stream : public E2e, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(Stream, PlotsEachTraceOnItsRow)
{
    const StreamCase& c = GetParam();
    ASSERT_TRUE(LaunchOn(c.port));
    ASSERT_EQ(Program().Port(), Widen(c.port)) << "config.ini should preselect the port";
    ASSERT_TRUE(g_device.Start(c.link, ValuesOption(c.values) + " " + c.options));
    ASSERT_TRUE(StartOpens());
    AwaitColumns(120);
    ExpectTraces(c.values, c.tolerance);
    ExpectResponsive("while streaming");
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved(c.port);
}

INSTANTIATE_TEST_SUITE_P(Device, Stream, ::testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------- start and stop

TEST_F(E2e, StopFreezesThePlot)
{
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", "--wave sine"));
    ASSERT_TRUE(StartOpens());
    AwaitColumns(20);
    EXPECT_FALSE(Frozen()) << "the plot should advance while the device streams";
    ASSERT_TRUE(StopReturnsToIdle());
    PumpMessages(200);
    EXPECT_TRUE(Frozen()) << "the plot still changes after Stop";
    ExpectResponsive("after Stop");
    CloseAndExpectSaved("COM5");
}

// COM1 sorts before COM12: a saved COM1 must not come back as COM12.
TEST_F(E2e, SavedPortIsSelected)
{
    for (const char* port : {"COM1", "COM12", "COM5"}) {
        ASSERT_TRUE(LaunchOn(port));
        EXPECT_EQ(Program().Port(), Widen(port)) << "config.ini has portname=" << port;
        CloseAndExpectSaved(port);
        if (HasFailure()) return;
    }
}

// ---------------------------------------------------- ports that fail

struct RefusedCase {
    const char* name;
    const char* port;       // in config.ini
    const wchar_t* listed;  // what the port list shows selected
    bool deviceUntilLaunch; // a device backs the port while the list is made
};

const RefusedCase kRefusedCases[] = {
    {"UnlistedPort", "COM7", L"", false},
    {"ListedPortWithoutDevice", "COM12", L"COM12", false},
    {"PortVanishesBeforeStart", "COM5", L"COM5", true},
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class RefusedPort : public E2e, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedPort, ShowsMessageBoxAndStopReturnsToIdle)
{
    const RefusedCase& c = GetParam();
    const std::string link = c.port == std::string("COM12") ? "com12" : "com5";
    if (c.deviceUntilLaunch) {
        ASSERT_TRUE(g_device.Start(link, ""));
    } else {
        ASSERT_TRUE(g_device.Run("vacate " + link));
    }
    ASSERT_TRUE(LaunchOn(c.port));
    ASSERT_EQ(Program().Port(), c.listed);
    if (c.deviceUntilLaunch) {
        ASSERT_TRUE(g_device.Stop());
    }
    ASSERT_TRUE(StartIsRefused());
    ExpectResponsive("after the message box");
    ASSERT_TRUE(StopReturnsToIdle());
    ExpectResponsive("after Stop");
    // An unlisted port leaves the list without a selection, so the key stays.
    CloseAndExpectSaved(c.port);
}

INSTANTIATE_TEST_SUITE_P(Device, RefusedPort, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------ faulty devices

class Fault : public E2e {};

TEST_F(Fault, SilentFromStart)
{
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", "--silent-after 0"));
    ASSERT_TRUE(StartOpens());
    PumpMessages(1500);
    ExpectResponsive("with a silent device");
    EXPECT_EQ(Head(Program().Grab()), -1) << "traces drawn although no frame arrived";
    EXPECT_TRUE(Frozen());
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved("COM5");
}

TEST_F(Fault, SilentMidRunThenResumes)
{
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", ValuesOption(kSpread)));
    ASSERT_TRUE(StartOpens());
    AwaitColumns(40);
    ASSERT_TRUE(g_device.Control("silent 0"));
    ASSERT_TRUE(AwaitFrozen()) << "the plot still advances with the device silent";
    const int silentHead = Head(Program().Grab());
    ExpectResponsive("while the device is silent");
    PumpMessages(1000);
    EXPECT_EQ(Head(Program().Grab()), silentHead);
    ASSERT_TRUE(g_device.Control("resume"));
    EXPECT_GE(AwaitColumns(silentHead + 60), silentHead + 60) << "the plot did not advance after resume";
    ExpectTraces(kSpread, kClean);
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved("COM5");
}

TEST_F(Fault, HangUpMidRun)
{
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", ValuesOption(kSpread)));
    ASSERT_TRUE(StartOpens());
    AwaitColumns(40);
    ASSERT_TRUE(g_device.Control("hangup"));
    ASSERT_TRUE(AwaitFrozen()) << "the plot still advances after the hang-up";
    const int head = Head(Program().Grab());
    ExpectResponsive("after the hang-up");
    PumpMessages(1000);
    ExpectResponsive("a second after the hang-up");
    EXPECT_EQ(Head(Program().Grab()), head) << "columns drawn with the device gone";
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved("COM5");
}

TEST_F(Fault, HangUpThenRestartOnReopenedPort)
{
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", ValuesOption({-24000, 4000, 20000})));
    ASSERT_TRUE(StartOpens());
    AwaitColumns(40);
    ASSERT_TRUE(g_device.Control("hangup"));
    ASSERT_TRUE(AwaitFrozen());
    ASSERT_TRUE(StopReturnsToIdle());
    ASSERT_TRUE(g_device.Control("values 12000 -20000 24000"));
    ASSERT_TRUE(g_device.Control("reopen"));
    ASSERT_TRUE(StartOpens());
    EXPECT_GE(AwaitColumns(60), 60) << "no plot after the device came back";
    ExpectTraces(kSpread, kClean);
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved("COM5");
}

TEST_F(Fault, RapidStartStopCycles)
{
    constexpr int kCycles = 200;
    constexpr int kHandleSlack = 8;
    ASSERT_TRUE(LaunchOn("COM5"));
    ASSERT_TRUE(g_device.Start("com5", ValuesOption(kSpread)));
    ASSERT_TRUE(StartOpens());
    ASSERT_TRUE(StopReturnsToIdle());
    const int handlesBefore = HandleCount(Program().Process());
    ASSERT_GT(handlesBefore, 0) << "cannot count the program's handles";
    const DWORD gdiBefore = GetGuiResources(Program().Process(), GR_GDIOBJECTS);
    const DWORD userBefore = GetGuiResources(Program().Process(), GR_USEROBJECTS);

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_TRUE(StartOpens()) << "cycle " << cycle;
        ASSERT_TRUE(StopReturnsToIdle()) << "cycle " << cycle;
    }

    PumpMessages(300);
    const int handlesAfter = HandleCount(Program().Process());
    std::printf("handles before and after %d cycles: %d, %d\n", kCycles, handlesBefore, handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + kHandleSlack) << "handles leak per Start/Stop";
    if (gdiBefore > 0) {
        EXPECT_LE(GetGuiResources(Program().Process(), GR_GDIOBJECTS), gdiBefore + kHandleSlack);
    }
    if (userBefore > 0) {
        EXPECT_LE(GetGuiResources(Program().Process(), GR_USEROBJECTS), userBefore + kHandleSlack);
    }
    ExpectResponsive("after the cycles");
    ASSERT_TRUE(StartOpens());
    EXPECT_GE(AwaitColumns(60), 60) << "no plot after the cycles";
    ExpectTraces(kSpread, kClean);
    ASSERT_TRUE(StopReturnsToIdle());
    CloseAndExpectSaved("COM5");
}

// ------------------------------------------------------------ config.ini

enum class ConfigKind { Missing, File, ReadOnlyFile, Directory };

struct ConfigCase {
    const char* name;
    ConfigKind kind;
    std::string (*content)();
    const wchar_t* port;     // selected at start-up ("": none; nullptr: the default, see SavedPortIsSelected)
    const wchar_t* speed;
    const wchar_t* newPort;  // chosen before closing (nullptr: keep)
    const wchar_t* newSpeed;
    bool othersKept;         // the other lines survive (random bytes are no lines to keep)
};

std::string NoContent() { return ""; }

std::string StandardContent() { return StandardConfig("COM5"); }

std::string BinaryGarbage()
{
    std::string bytes(4096, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string MegabyteContent()
{
    std::string text = StandardConfig("COM5") + "[Bulk]\r\n";
    for (int i = 0; text.size() < (1u << 20); ++i)
        text += "entry" + std::to_string(i) + "=" + std::string(64, static_cast<char>('a' + i % 26)) + "\r\n";
    return text;
}

std::string LongValues()
{
    const std::string tail(150, '7');
    return Ini({"[General]", "portname=COM5" + tail, "portspeed=115200" + tail, "[Display]",
                "title=" + std::string(300, 'T')});
}

const ConfigCase kConfigCases[] = {
    {"Missing", ConfigKind::Missing, NoContent, nullptr, L"9600", nullptr, nullptr, true},
    {"Empty", ConfigKind::File, NoContent, nullptr, L"9600", nullptr, nullptr, true},
    {"ChangedSelection", ConfigKind::File, StandardContent, L"COM5", L"115200", L"COM12", L"9600", true},
    {"BinaryGarbage", ConfigKind::File, BinaryGarbage, nullptr, L"9600", nullptr, nullptr, false},
    {"OneMegabyte", ConfigKind::File, MegabyteContent, L"COM5", L"115200", nullptr, L"57600", true},
    {"ValuesLongerThan100", ConfigKind::File, LongValues, L"", L"", nullptr, nullptr, true},
    {"LongValuesPortChosen", ConfigKind::File, LongValues, L"", L"", L"COM12", nullptr, true},
    {"ReadOnlyFile", ConfigKind::ReadOnlyFile, StandardContent, L"COM5", L"115200", nullptr, L"57600", true},
    {"Directory", ConfigKind::Directory, NoContent, nullptr, L"9600", nullptr, nullptr, true},
};

// True when this system refuses to write a read-only file (Wine run as root
// does not), which decides what the program can have done to it.
bool ReadOnlyIsEnforced(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    return false;
}

void PrintTo(const ConfigCase& c, std::ostream* out) { *out << c.name; }

class Config : public E2e, public ::testing::WithParamInterface<ConfigCase> {
protected:
    ::testing::AssertionResult Prepare(const ConfigCase& c, const std::string& content)
    {
        const std::wstring path = ConfigPath();
        switch (c.kind) {
        case ConfigKind::Missing: return ::testing::AssertionSuccess();
        case ConfigKind::File: return ::testing::AssertionResult(WriteConfig(content));
        case ConfigKind::ReadOnlyFile:
            return ::testing::AssertionResult(WriteConfig(content) &&
                                              SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        case ConfigKind::Directory: return ::testing::AssertionResult(CreateDirectoryW(path.c_str(), nullptr));
        }
        return ::testing::AssertionFailure();
    }
};

TEST_P(Config, StartsAndExitsCleanly)
{
    const ConfigCase& c = GetParam();
    const std::string before = c.content();
    const std::wstring path = ConfigPath();
    ASSERT_TRUE(Prepare(c, before)) << "cannot prepare config.ini";
    const bool readOnlyEnforced = c.kind == ConfigKind::ReadOnlyFile && ReadOnlyIsEnforced(path);

    ASSERT_TRUE(Launch().Ready());
    if (c.port) {
        EXPECT_EQ(Program().Port(), c.port);
    }
    EXPECT_EQ(Program().Speed(), c.speed);
    if (c.newPort) {
        ASSERT_TRUE(Program().SelectPort(c.newPort));
    }
    if (c.newSpeed) {
        ASSERT_TRUE(Program().SelectSpeed(c.newSpeed));
    }
    const std::string port = Narrow(Program().Port());
    const std::string speed = Narrow(Program().Speed());
    ExpectResponsive("after start-up");
    ASSERT_TRUE(ClosesCleanly());

    if (c.kind == ConfigKind::Directory) {
        EXPECT_TRUE(IsDirectory(path)) << "the directory named config.ini was replaced";
    } else if (readOnlyEnforced || (port.empty() && speed.empty())) {
        EXPECT_EQ(ReadBytes(path).value_or("(missing)"), before) << "config.ini changed";
    } else {
        // A list without a selection keeps its key as it was.
        ExpectSavedConfig(before, port.empty() ? SavedValue(before, "portname").value_or("(none)") : port,
                          speed.empty() ? SavedValue(before, "portspeed").value_or("(none)") : speed,
                          c.othersKept);
    }
    if (c.kind == ConfigKind::ReadOnlyFile) {
        EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) << "no longer read-only";
        if (!readOnlyEnforced) std::printf("note: read-only files can be written here (Wine run as root)\n");
    }
}

INSTANTIATE_TEST_SUITE_P(File, Config, ::testing::ValuesIn(kConfigCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- summary

class Summary : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        const char* outcome = info.result()->Skipped() ? "skipped" : info.result()->Passed() ? "pass" : "FAIL";
        rows_.push_back({std::string(info.test_suite_name()) + "." + info.name(), outcome});
    }

    void OnTestProgramEnd(const ::testing::UnitTest&) override
    {
        size_t width = 4;
        for (const auto& row : rows_) width = std::max(width, row.first.size());
        std::printf("\n%-*s  %s\n", static_cast<int>(width), "Case", "Outcome");
        std::printf("%s  %s\n", std::string(width, '-').c_str(), "-------");
        for (const auto& row : rows_)
            std::printf("%-*s  %s\n", static_cast<int>(width), row.first.c_str(), row.second);
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<std::string, const char*>> rows_;
};

bool TakeOption(const char* argument, const char* name, std::wstring* value)
{
    const std::string prefix = std::string(name) + "=";
    if (std::string(argument).rfind(prefix, 0) != 0) return false;
    *value = Widen(argument + prefix.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (!TakeOption(argv[i], "--program", &g_settings.program) && !TakeOption(argv[i], "--work", &g_settings.work)) {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    if (g_settings.program.empty() || g_settings.work.empty()) {
        std::fprintf(stderr, "usage: tarquell_e2e_tests --program=TARQUELL.EXE --work=DIR [gtest options]\n"
                             "(run through tests/e2e/run-e2e, which serves the simulated devices)\n");
        return 2;
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new Summary);
    return RUN_ALL_TESTS();
}
