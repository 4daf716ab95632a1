// Drives the real RZ310_Config.exe from another process: starts it in a
// folder of its own, finds its windows, works its controls by id, answers
// its message boxes and file dialogs, captures its window, ends it.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Polls `done` every `stepMs` until it holds or `timeoutMs` has passed.
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 50);

std::wstring widen(const std::string& utf8);
std::string utf8(const std::wstring& text);
// An absolute Unix path (the build tree under Wine) as Windows programs see
// it: Wine's drive Z: is the Unix root.
std::wstring windowsPath(const std::string& path);

std::string readFile(const std::wstring& path);  // empty when missing
bool writeFile(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
// Empties the folder, making it and its parents when missing.
bool freshFolder(const std::wstring& path);
// "\r\n" to "\n": files the tool writes in text mode.
std::string unixLines(std::string text);

// Cross-process access to controls. What the tool's user-interface thread
// must answer gives up after a while, since that thread may be held by a
// blocking send: reads then return an empty text.
namespace ui {
// A drop-down list's text is its selected entry.
std::wstring textOf(HWND window, DWORD timeoutMs = 3000);
// Selects the entry with this text and tells the parent, as a mouse pick would.
bool selectComboText(HWND combo, const std::wstring& item);
// Posted: returns at once, the click may open a modal box.
void click(HWND button);
// Sent: returns once the click's handler has run.
bool clickAndWait(HWND button, DWORD timeoutMs);
// Typed key by key, so that the box's own length limit applies.
bool type(HWND edit, const std::wstring& text);
}  // namespace ui

// Pixels of a window as shown on the screen.
class Capture {
public:
    bool grab(HWND window);
    bool saveBmp(const std::wstring& path) const;
    // What a captured status light shows: '+' lit green, '-' dark red, '?' neither.
    char light() const;

private:
    RECT rect_{};
    std::vector<uint32_t> pixels_;  // top-down rows of 0xFFRRGGBB
};

enum Panel : int { LocalDevicePanel = 135, RemoteDevicePanel = 136, ConnectionPanel = 138, PairDevicePanel = 139 };

class ToolProcess {
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts the program in `workDir` and waits until its main window is
    // shown. Message boxes raised meanwhile are recorded and answered OK.
    bool start(const std::wstring& exe, const std::wstring& workDir, DWORD timeoutMs = 60000);
    // Milliseconds from process creation to the main window being shown.
    double startupMs() const { return startupMs_; }
    HANDLE process() const { return process_; }
    HWND mainWindow() const { return main_; }
    HWND item(int id) const { return GetDlgItem(main_, id); }
    // The panel (child dialog of the main window) of a template number.
    HWND panel(Panel which) const;
    std::vector<HWND> visiblePanels() const;
    std::wstring log() const;
    void command(UINT id) const;
    // Returns once the tool's user-interface thread has handled everything
    // posted to it before the call, notifications from its read thread
    // included.
    bool sync(DWORD timeoutMs = 30000) const;

    // Visible top-level dialogs of the process other than the main window.
    std::vector<HWND> dialogs() const;
    // The dialog of this title; a message box when `title` is empty.
    HWND waitForDialog(const std::wstring& title, DWORD timeoutMs) const;
    // Waits for a message box and presses OK; its text, or empty when no box
    // came. `beforeOk` gets the text first: the operator does what it asks.
    std::wstring answerMessageBox(DWORD timeoutMs = 15000,
                                  const std::function<void(const std::wstring&)>& beforeOk = nullptr);
    // Every message box answered so far, in order.
    const std::vector<std::wstring>& boxesSeen() const { return boxes_; }
    // The texts of the dialogs open now, for failure messages.
    std::string openDialogs() const;
    // Fills a common file dialog with a full file name and presses its OK.
    bool chooseFile(HWND fileDialog, const std::wstring& fullName) const;

    bool waitForExit(DWORD timeoutMs) const;
    // Ends the program however it can: close, then terminate.
    void end();

private:
    bool running() const;
    bool answerBox(HWND box);

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
    double startupMs_ = 0;
    std::vector<std::wstring> boxes_;
};

}  // namespace e2e
