#include "e2e/gui_driver.h"

#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {
namespace {

const wchar_t kMainTitle[] = L"RZ310 Configuration Tool";
const int kLogWindow = 1002;
const int kMessageBoxText = 0xFFFF; // the static text of a message box
const int kFileNameEdit = 1152;     // edt1 of the common file dialogs
const int kFileNameCombo = 1148;    // cmb13, its drop-down form

// Kept by the window server: reading it sends no message to a busy thread.
std::wstring title(HWND window)
{
    wchar_t text[256] = {};
    InternalGetWindowText(window, text, 256);
    return text;
}

// The visible dialogs among the children of `parent` (of the desktop: the top-level ones).
std::vector<HWND> shownDialogs(HWND parent, const std::function<bool(HWND)>& wanted)
{
    std::vector<HWND> found;
    wchar_t className[64];
    for (HWND window = GetWindow(parent, GW_CHILD); window; window = GetWindow(window, GW_HWNDNEXT))
        if (GetClassNameW(window, className, 64) && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) &&
            wanted(window))
            found.push_back(window);
    return found;
}

bool isMessageBox(HWND dialog) { return GetDlgItem(dialog, kMessageBoxText) != nullptr; }

// False when the receiving thread did not answer within `timeoutMs`.
bool sendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result, DWORD timeoutMs = 3000)
{
    return window && SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result);
}

} // namespace

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(stepMs);
    }
    return true;
}

std::wstring widen(const std::string& text) { return fs::u8path(text).wstring(); }
std::string utf8(const std::wstring& text) { return fs::path(text).u8string(); }

std::wstring windowsPath(const std::string& path) { return L"Z:" + fs::path(path).make_preferred().wstring(); }

std::string readFile(const std::wstring& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(fs::path(path), std::ios::binary).rdbuf();
    return bytes.str();
}

bool writeFile(const std::wstring& path, const std::string& bytes)
{
    return bool(std::ofstream(fs::path(path), std::ios::binary | std::ios::trunc) << bytes);
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool freshFolder(const std::wstring& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    fs::create_directories(path, error);
    return fs::is_directory(path, error) && fs::is_empty(path, error);
}

std::string unixLines(std::string text)
{
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

namespace ui {

std::wstring textOf(HWND window, DWORD timeoutMs)
{
    DWORD_PTR length = 0, copied = 0;
    if (!sendWithin(window, WM_GETTEXTLENGTH, 0, 0, length, timeoutMs))
        return {};
    std::wstring text(length + 1, L'\0');
    if (!sendWithin(window, WM_GETTEXT, length + 1, LPARAM(text.data()), copied, timeoutMs))
        return {};
    text.resize(copied < length ? copied : length);
    return text;
}

bool selectComboText(HWND combo, const std::wstring& item)
{
    DWORD_PTR index = DWORD_PTR(CB_ERR), result = 0;
    if (!sendWithin(combo, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(item.c_str()), index) || LRESULT(index) < 0 ||
        !sendWithin(combo, CB_SETCURSEL, index, 0, result) || result != index)
        return false;
    PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE), LPARAM(combo));
    return true;
}

void click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool clickAndWait(HWND button, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return sendWithin(button, BM_CLICK, 0, 0, result, timeoutMs);
}

bool type(HWND edit, const std::wstring& value)
{
    DWORD_PTR result = 0;
    bool typed = sendWithin(edit, EM_SETSEL, 0, -1, result);
    for (size_t i = 0; typed && i < value.size(); ++i)
        typed = sendWithin(edit, WM_CHAR, WPARAM(value[i]), 1, result);
    return typed;
}

} // namespace ui

bool Capture::grab(HWND window)
{
    if (!GetWindowRect(window, &rect_))
        return false;
    const int width = rect_.right - rect_.left, height = rect_.bottom - rect_.top;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect_.left, rect_.top, SRCCOPY) != 0;
        GdiFlush();
        pixels_.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width * height);
        for (uint32_t& pixel : pixels_)
            pixel |= 0xFF000000; // opaque, or the PNG conversion takes it for transparent
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok && width > 0 && height > 0;
}

bool Capture::saveBmp(const std::wstring& path) const
{
    // 32 bits a pixel, rows top-down as captured.
    const DWORD imageBytes = DWORD(pixels_.size() * sizeof pixels_[0]);
    BITMAPINFOHEADER header{
        sizeof header, rect_.right - rect_.left, rect_.top - rect_.bottom, 1, 32, BI_RGB, imageBytes, 0, 0, 0, 0};
    BITMAPFILEHEADER file{0x4D42, DWORD(sizeof file + sizeof header + imageBytes), 0, 0, sizeof file + sizeof header};
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(pixels_.data()), imageBytes);
    return !pixels_.empty() && writeFile(path, bytes);
}

char Capture::light() const
{
    int green = 0, darkRed = 0;
    for (uint32_t pixel : pixels_) {
        int r = int((pixel >> 16) & 0xFF), g = int((pixel >> 8) & 0xFF), b = int(pixel & 0xFF);
        green += g >= 160 && r < 110 && b < 110;
        darkRed += r >= 90 && r <= 200 && g < 60 && b < 60;
    }
    return green >= 4 && green > darkRed ? '+' : darkRed >= 4 && darkRed > green ? '-' : '?';
}

bool ToolProcess::start(const std::wstring& exe, const std::wstring& workDir, DWORD timeoutMs)
{
    end();
    boxes_.clear();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const auto started = std::chrono::steady_clock::now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, workDir.c_str(), &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    job_ = CreateJobObjectW(nullptr, nullptr);
    AssignProcessToJobObject(job_, process_);
    auto shown = [&] { // dialogs() holds the main window too until it is known
        for (HWND dialog : dialogs()) {
            if (title(dialog) == kMainTitle)
                main_ = dialog;
            else if (!main_ && isMessageBox(dialog))
                answerBox(dialog);
        }
        return main_ || !running();
    };
    waitUntil(shown, timeoutMs, 10);
    startupMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    return main_ != nullptr;
}

DWORD ToolProcess::processesStarted() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts{};
    QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &counts, sizeof counts, nullptr);
    return counts.TotalProcesses;
}

bool ToolProcess::running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

// Each panel is known by a button of its own, found without a message to the busy thread.
HWND ToolProcess::panel(Panel which) const
{
    const wchar_t* button = which == LocalDevicePanel    ? L"Get Device Info"
                            : which == RemoteDevicePanel ? L"Handshake"
                            : which == ConnectionPanel   ? L"Inquire Devices"
                                                         : L"Pair Device";
    for (HWND child = FindWindowExW(main_, nullptr, L"#32770", nullptr); child;
         child = FindWindowExW(main_, child, L"#32770", nullptr))
        if (FindWindowExW(child, nullptr, L"Button", button))
            return child;
    return nullptr;
}

std::vector<HWND> ToolProcess::visiblePanels() const
{
    return shownDialogs(main_, [](HWND) { return true; });
}

std::wstring ToolProcess::log() const { return ui::textOf(item(kLogWindow), 5000); }

void ToolProcess::command(UINT id) const { PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

bool ToolProcess::sync(DWORD timeoutMs) const
{
    HWND log = item(kLogWindow);
    DWORD_PTR margins = 0, now = 0;
    if (!sendWithin(log, EM_GETMARGINS, 0, 0, margins, timeoutMs))
        return false;
    const WORD original = LOWORD(margins), marker = WORD(original + 1);
    // Sent messages overtake posted ones: only a posted marker is a barrier.
    bool passed = PostMessageW(log, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(marker, 0)) &&
                  waitUntil([&] { return sendWithin(log, EM_GETMARGINS, 0, 0, now, 1000) && LOWORD(now) == marker; },
                            timeoutMs, 20);
    sendWithin(log, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(original, 0), now, timeoutMs);
    return passed;
}

std::vector<HWND> ToolProcess::dialogs() const
{
    return shownDialogs(GetDesktopWindow(), [&](HWND dialog) {
        DWORD pid = 0;
        GetWindowThreadProcessId(dialog, &pid);
        return pid == pid_ && dialog != main_;
    });
}

HWND ToolProcess::waitForDialog(const std::wstring& wanted, DWORD timeoutMs) const
{
    HWND found = nullptr;
    auto open = [&] {
        for (HWND dialog : dialogs())
            if (wanted.empty() ? isMessageBox(dialog) : title(dialog) == wanted)
                found = dialog;
        return found != nullptr;
    };
    waitUntil(open, timeoutMs);
    return found;
}

bool ToolProcess::answerBox(HWND box)
{
    boxes_.push_back(ui::textOf(GetDlgItem(box, kMessageBoxText)));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return waitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
}

std::wstring ToolProcess::answerMessageBox(DWORD timeoutMs, const std::function<void(const std::wstring&)>& beforeOk)
{
    HWND box = waitForDialog(L"", timeoutMs);
    if (box && beforeOk)
        beforeOk(ui::textOf(GetDlgItem(box, kMessageBoxText)));
    return box && answerBox(box) ? boxes_.back() : L"";
}

std::string ToolProcess::openDialogs() const
{
    std::string out;
    for (HWND dialog : dialogs())
        out += "[" + utf8(title(dialog) + L": " + ui::textOf(GetDlgItem(dialog, kMessageBoxText))) + "] ";
    return out.empty() ? "(no dialog open)" : out;
}

bool ToolProcess::chooseFile(UINT menuCommand, const std::wstring& wanted, const std::wstring& fullName) const
{
    command(menuCommand);
    HWND fileDialog = waitForDialog(wanted, 15000);
    HWND name = GetDlgItem(fileDialog, kFileNameEdit) ? GetDlgItem(fileDialog, kFileNameEdit)
                                                      : GetDlgItem(fileDialog, kFileNameCombo);
    DWORD_PTR set = 0;
    if (!sendWithin(name, WM_SETTEXT, 0, LPARAM(fullName.c_str()), set, 5000) || !set)
        return false;
    ui::click(GetDlgItem(fileDialog, IDOK));
    return true;
}

bool ToolProcess::waitForExit(DWORD ms) const { return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0; }

void ToolProcess::end()
{
    if (!process_)
        return;
    for (HWND dialog : dialogs())
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(isMessageBox(dialog) ? IDOK : IDCANCEL, BN_CLICKED), 0);
    PostMessageW(main_, WM_CLOSE, 0, 0);
    auto ended = [&] {
        for (HWND dialog : dialogs())
            if (isMessageBox(dialog))
                answerBox(dialog);
        return !running();
    };
    if (!waitUntil(ended, 10000, 100)) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_), CloseHandle(job_);
    process_ = job_ = nullptr, pid_ = 0, main_ = nullptr;
}

} // namespace e2e
