#include "e2e/gui_driver.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

const wchar_t kMainTitle[] = L"RZ310 Configuration Tool";
const int kMessageBoxTextId = 0xFFFF;
const int kFileNameEdit = 1152;   // edt1 of the common file dialogs
const int kFileNameCombo = 1148;  // cmb13, its drop-down form

std::wstring className(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Top-level titles are kept by the window server: reading them sends no
// message to a thread that may be busy.
std::wstring title(HWND window)
{
    wchar_t text[256] = {};
    InternalGetWindowText(window, text, 256);
    return text;
}

struct EnumContext {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM param)
{
    auto* context = reinterpret_cast<EnumContext*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == context->pid && className(window) == L"#32770")
        context->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> topLevelDialogs(DWORD pid)
{
    EnumContext context{pid, {}};
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&context));
    return context.windows;
}

BOOL CALLBACK collectChildren(HWND window, LPARAM param)
{
    auto* windows = reinterpret_cast<std::vector<HWND>*>(param);
    windows->push_back(window);
    return TRUE;
}

double elapsedMs(const LARGE_INTEGER& from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - from.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(stepMs);
    }
}

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], length);
    return out;
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

std::wstring windowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return widen(path);
    // Wine's own mapping knows every drive; without it, Z: is the root.
    using DosName = wchar_t*(__cdecl*)(const char*);
    auto toDos = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos) {
        if (wchar_t* dos = toDos(path.c_str())) {
            std::wstring out(dos);
            HeapFree(GetProcessHeap(), 0, dos);
            return out;
        }
    }
    std::wstring out = L"Z:" + widen(path);
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

std::string readFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        bytes.append(block, got);
    CloseHandle(file);
    return bytes;
}

bool writeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
void removeTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring full = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            removeTree(full);
            RemoveDirectoryW(full.c_str());
        } else {
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(full.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
}  // namespace

bool freshFolder(const std::wstring& path)
{
    removeTree(path);
    // Parents first: the folder may be nested below ones not made yet.
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string unixLines(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

namespace ui {

bool text(HWND window, std::wstring& out, DWORD timeoutMs)
{
    DWORD_PTR length = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeoutMs, &length))
        return false;
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&buffer[0]), SMTO_NORMAL,
                             timeoutMs, &copied))
        return false;
    buffer.resize(copied < length ? copied : length);
    out = buffer;
    return true;
}

std::wstring textOf(HWND window)
{
    std::wstring out;
    text(window, out);
    return out;
}

bool setText(HWND window, const std::wstring& value)
{
    DWORD_PTR result = 0;
    return window && SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()), SMTO_NORMAL,
                                         5000, &result) &&
           result;
}

int comboSelection(HWND combo)
{
    DWORD_PTR result = DWORD_PTR(CB_ERR);
    if (!combo || !SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_NORMAL, 3000, &result))
        return CB_ERR;
    return int(LRESULT(result));
}

std::vector<std::wstring> comboItems(HWND combo)
{
    std::vector<std::wstring> items;
    DWORD_PTR count = 0;
    if (!combo || !SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_NORMAL, 3000, &count) ||
        LRESULT(count) == CB_ERR)
        return items;
    for (int i = 0; i < int(count); ++i) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0, SMTO_NORMAL, 3000, &length) ||
            LRESULT(length) == CB_ERR)
            return {};
        std::wstring item(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(&item[0]), SMTO_NORMAL,
                                 3000, &copied) ||
            LRESULT(copied) == CB_ERR)
            return {};
        item.resize(copied);
        items.push_back(item);
    }
    return items;
}

std::wstring comboSelectedText(HWND combo)
{
    int selection = comboSelection(combo);
    std::vector<std::wstring> items = comboItems(combo);
    if (selection < 0 || size_t(selection) >= items.size())
        return {};
    return items[size_t(selection)];
}

bool selectComboText(HWND combo, const std::wstring& item)
{
    std::vector<std::wstring> items = comboItems(combo);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] != item)
            continue;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(combo, CB_SETCURSEL, WPARAM(i), 0, SMTO_NORMAL, 3000, &result) ||
            LRESULT(result) != LRESULT(i))
            return false;
        PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        return true;
    }
    return false;
}

int checkState(HWND button)
{
    DWORD_PTR result = 0;
    if (!button || !SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_NORMAL, 3000, &result))
        return -1;
    return int(result);
}

void click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

bool clickAndWait(HWND button, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return button && SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &result);
}

bool type(HWND edit, const std::wstring& value)
{
    DWORD_PTR result = 0;
    if (!edit || !SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_NORMAL, 3000, &result))
        return false;
    if (value.empty())
        return SendMessageTimeoutW(edit, WM_CHAR, VK_BACK, 1, SMTO_NORMAL, 3000, &result) != 0;
    for (wchar_t c : value)
        if (!SendMessageTimeoutW(edit, WM_CHAR, WPARAM(c), 1, SMTO_NORMAL, 3000, &result))
            return false;
    return true;
}

}  // namespace ui

bool Capture::grab(HWND window)
{
    if (!GetWindowRect(window, &rect_))
        return false;
    width_ = rect_.right - rect_.left;
    height_ = rect_.bottom - rect_.top;
    if (width_ <= 0 || height_ <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width_, height_, screen, rect_.left, rect_.top, SRCCOPY) != 0;
        GdiFlush();
        const auto* source = static_cast<const uint32_t*>(bits);
        pixels_.assign(source, source + size_t(width_) * size_t(height_));
        for (uint32_t& pixel : pixels_)
            pixel &= 0x00FFFFFF;
        SelectObject(memory, old);
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

uint32_t Capture::atScreen(int x, int y) const
{
    int column = x - rect_.left;
    int row = y - rect_.top;
    if (column < 0 || row < 0 || column >= width_ || row >= height_)
        return 0;
    return pixels_[size_t(row) * size_t(width_) + size_t(column)];
}

bool Capture::saveBmp(const std::wstring& path) const
{
    if (pixels_.empty())
        return false;
    const int stride = (width_ * 3 + 3) & ~3;
    BITMAPFILEHEADER fileHeader{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width_;
    header.biHeight = height_;  // bottom-up, as every reader expects
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(stride * height_);
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    std::string row(size_t(stride), '\0');
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            uint32_t pixel = pixels_[size_t(y) * size_t(width_) + size_t(x)];
            row[size_t(x) * 3] = char(pixel & 0xFF);
            row[size_t(x) * 3 + 1] = char((pixel >> 8) & 0xFF);
            row[size_t(x) * 3 + 2] = char((pixel >> 16) & 0xFF);
        }
        bytes += row;
    }
    return writeFile(path, bytes);
}

Light lightState(const Capture& shot, HWND light)
{
    RECT rect;
    if (!GetWindowRect(light, &rect))
        return Light::Unknown;
    int green = 0;
    int darkRed = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            uint32_t pixel = shot.atScreen(x, y);
            int r = int((pixel >> 16) & 0xFF), g = int((pixel >> 8) & 0xFF), b = int(pixel & 0xFF);
            if (g >= 160 && r < 110 && b < 110)
                ++green;
            else if (r >= 90 && r <= 200 && g < 60 && b < 60)
                ++darkRed;
        }
    }
    if (green >= 4 && green > darkRed)
        return Light::Lit;
    if (darkRed >= 4 && darkRed > green)
        return Light::Dark;
    return Light::Unknown;
}

const char* lightName(Light light)
{
    switch (light) {
    case Light::Lit: return "lit green";
    case Light::Dark: return "dark red";
    default: return "unknown";
    }
}

std::wstring messageBoxText(HWND box)
{
    HWND label = GetDlgItem(box, kMessageBoxTextId);
    return label ? ui::textOf(label) : std::wstring();
}

bool isMessageBox(HWND dialog)
{
    return GetDlgItem(dialog, kMessageBoxTextId) != nullptr;
}

ToolProcess::~ToolProcess()
{
    end();
}

bool ToolProcess::start(const std::wstring& exe, const std::wstring& workDir, DWORD timeoutMs)
{
    end();
    boxes_.clear();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, workDir.c_str(), &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    bool shown = waitUntil(
        [&] {
            HWND main = findMain();
            if (main && IsWindowVisible(main)) {
                startupMs_ = elapsedMs(started);
                main_ = main;
                return true;
            }
            answerOpenBoxes();
            return !running();
        },
        timeoutMs, 10);
    return shown && main_ != nullptr;
}

bool ToolProcess::running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

HWND ToolProcess::findMain() const
{
    for (HWND dialog : topLevelDialogs(pid_))
        if (title(dialog) == kMainTitle)
            return dialog;
    return nullptr;
}

HWND ToolProcess::panel(Panel which) const
{
    // Each panel is known by one control of its own.
    struct Signature {
        Panel panel;
        int id;
        const wchar_t* text;
    };
    static const Signature kSignatures[] = {
        {LocalDevicePanel, 1050, L"Get Device Info"},
        {RemoteDevicePanel, 1005, L"Handshake"},
        {ConnectionPanel, 1005, L"Inquire Devices"},
        {PairDevicePanel, 1011, L"Pair Device"},
    };
    std::vector<HWND> children;
    EnumChildWindows(main_, collectChildren, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        if (GetParent(child) != main_ || className(child) != L"#32770")
            continue;
        for (const Signature& signature : kSignatures) {
            if (signature.panel != which)
                continue;
            HWND control = GetDlgItem(child, signature.id);
            if (control && ui::textOf(control) == signature.text)
                return child;
        }
    }
    return nullptr;
}

HWND ToolProcess::visiblePanel() const
{
    std::vector<HWND> children;
    EnumChildWindows(main_, collectChildren, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children)
        if (GetParent(child) == main_ && className(child) == L"#32770" && IsWindowVisible(child))
            return child;
    return nullptr;
}

std::wstring ToolProcess::log() const
{
    std::wstring text;
    ui::text(item(1002), text, 5000);
    return text;
}

void ToolProcess::command(UINT id) const
{
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool ToolProcess::sync(DWORD timeoutMs) const
{
    HWND log = item(1002);
    DWORD_PTR margins = 0;
    if (!log || !SendMessageTimeoutW(log, EM_GETMARGINS, 0, 0, SMTO_NORMAL, timeoutMs, &margins))
        return false;
    const WORD original = LOWORD(margins);
    const WORD marker = WORD(original + 2);
    DWORD_PTR ignored = 0;
    // Sent messages overtake posted ones: only the posted marker is a barrier.
    if (!SendMessageTimeoutW(log, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(original + 1, 0), SMTO_NORMAL, timeoutMs,
                             &ignored) ||
        !PostMessageW(log, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(marker, 0)))
        return false;
    bool passed = waitUntil(
        [&] {
            DWORD_PTR now = 0;
            return SendMessageTimeoutW(log, EM_GETMARGINS, 0, 0, SMTO_NORMAL, 1000, &now) && LOWORD(now) == marker;
        },
        timeoutMs, 20);
    SendMessageTimeoutW(log, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(original, 0), SMTO_NORMAL, timeoutMs, &ignored);
    return passed;
}

std::vector<HWND> ToolProcess::dialogs() const
{
    std::vector<HWND> out;
    for (HWND dialog : topLevelDialogs(pid_))
        if (dialog != main_ && IsWindowVisible(dialog) && dialog != findMain())
            out.push_back(dialog);
    return out;
}

HWND ToolProcess::waitForDialog(const std::wstring& wanted, DWORD timeoutMs) const
{
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND dialog : dialogs()) {
                if (title(dialog) == wanted) {
                    found = dialog;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool ToolProcess::answerOpenBoxes()
{
    bool any = false;
    for (HWND dialog : dialogs()) {
        if (!isMessageBox(dialog))
            continue;
        boxes_.push_back(messageBoxText(dialog));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        waitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 5000);
        any = true;
    }
    return any;
}

bool ToolProcess::answerMessageBox(std::wstring& text, int button, DWORD timeoutMs)
{
    HWND box = nullptr;
    if (!waitUntil(
            [&] {
                for (HWND dialog : dialogs()) {
                    if (isMessageBox(dialog)) {
                        box = dialog;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs))
        return false;
    text = messageBoxText(box);
    boxes_.push_back(text);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return waitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
}

std::string ToolProcess::openDialogs() const
{
    std::string out;
    for (HWND dialog : dialogs()) {
        out += "[" + utf8(title(dialog));
        if (isMessageBox(dialog))
            out += ": " + utf8(messageBoxText(dialog));
        out += "] ";
    }
    return out.empty() ? "(no dialog open)" : out;
}

bool ToolProcess::chooseFile(HWND fileDialog, const std::wstring& fullName) const
{
    HWND name = GetDlgItem(fileDialog, kFileNameEdit);
    if (!name)
        name = GetDlgItem(fileDialog, kFileNameCombo);
    if (!name || !ui::setText(name, fullName))
        return false;
    HWND ok = GetDlgItem(fileDialog, IDOK);
    if (ok)
        ui::click(ok);
    else
        PostMessageW(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
}

bool ToolProcess::waitForExit(DWORD timeoutMs) const
{
    return process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

void ToolProcess::end()
{
    if (!process_)
        return;
    if (running()) {
        // Close whatever is open over the main window, then the window.
        for (HWND dialog : dialogs())
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(isMessageBox(dialog) ? IDOK : IDCANCEL, BN_CLICKED), 0);
        if (main_)
            PostMessageW(main_, WM_CLOSE, 0, 0);
        bool ended = waitUntil(
            [&] {
                answerOpenBoxes();
                return !running();
            },
            10000, 100);
        if (!ended) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 5000);
        }
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
    main_ = nullptr;
}

}  // namespace e2e
