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

// A path as Windows programs see it: Unix paths (the build tree under Wine)
// become their drive-letter form, Windows paths pass unchanged.
std::wstring windowsPath(const std::string& path);

// Whole file as bytes; empty when missing.
std::string readFile(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
// Removes the folder's files and sub-folders, then makes sure it exists.
bool freshFolder(const std::wstring& path);
// "\r\n" to "\n": files the tool writes in text mode.
std::string unixLines(const std::string& text);

// Cross-process access to controls. Messages the tool's user-interface
// thread must answer give up after `timeoutMs`, since that thread may be
// held by a blocking send; a read that gave up returns false.
namespace ui {
bool text(HWND window, std::wstring& out, DWORD timeoutMs = 3000);
std::wstring textOf(HWND window);            // empty when it cannot be read
bool setText(HWND window, const std::wstring& text);
int comboSelection(HWND combo);              // CB_ERR when none or unreadable
std::vector<std::wstring> comboItems(HWND combo);
std::wstring comboSelectedText(HWND combo);  // empty when none
// Selects the entry with this text and tells the parent, as a mouse pick would.
bool selectComboText(HWND combo, const std::wstring& item);
int checkState(HWND button);                 // BST_*, -1 when unreadable
// Posted: returns at once, the click may open a modal box.
void click(HWND button);
// Sent: returns once the click's handler has run.
bool clickAndWait(HWND button, DWORD timeoutMs);
// Replaces the edit box's text by typing it key by key, so that the box's
// own length limit applies.
bool type(HWND edit, const std::wstring& text);
}  // namespace ui

// Pixels of a window as shown on the screen.
class Capture {
public:
    bool grab(HWND window);
    bool saveBmp(const std::wstring& path) const;
    int width() const { return width_; }
    int height() const { return height_; }
    // 0x00RRGGBB at screen coordinates inside the captured window.
    uint32_t atScreen(int x, int y) const;
    const RECT& screenRect() const { return rect_; }

private:
    RECT rect_{};
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;  // top-down rows
};

// What a status light shows, judged from its pixels.
enum class Light { Lit, Dark, Unknown };
Light lightState(const Capture& shot, HWND light);
const char* lightName(Light light);

enum Panel : int { LocalDevicePanel = 135, RemoteDevicePanel = 136, ConnectionPanel = 138, PairDevicePanel = 139 };

// One run of the tool.
class ToolProcess {
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts the program with `workDir` as its working directory and waits
    // until its main window is shown. Message boxes raised meanwhile are
    // recorded and answered OK.
    bool start(const std::wstring& exe, const std::wstring& workDir, DWORD timeoutMs = 60000);
    // Milliseconds from process creation to the main window being shown.
    double startupMs() const { return startupMs_; }
    HANDLE process() const { return process_; }
    DWORD pid() const { return pid_; }
    bool running() const;
    HWND mainWindow() const { return main_; }
    HWND item(int id) const { return GetDlgItem(main_, id); }
    // The panel (child dialog of the main window) of a template number.
    HWND panel(Panel which) const;
    // The panel shown now, or nullptr.
    HWND visiblePanel() const;
    // Text of the log window.
    std::wstring log() const;
    // Posts a menu command to the main window.
    void command(UINT id) const;
    // Returns once the tool's user-interface thread has handled everything
    // posted to it before the call (notifications from its read thread
    // included): a message posted behind them changes a property of the log
    // window that the tool never touches, and is awaited.
    bool sync(DWORD timeoutMs = 30000) const;

    // Visible top-level dialogs of the process other than the main window
    // (message boxes, file dialogs, the About box).
    std::vector<HWND> dialogs() const;
    // Waits for a dialog with this title.
    HWND waitForDialog(const std::wstring& title, DWORD timeoutMs) const;
    // Waits for a message box, records its text, presses `button`.
    bool answerMessageBox(std::wstring& text, int button = IDOK, DWORD timeoutMs = 15000);
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
    HWND findMain() const;
    bool answerOpenBoxes();

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
    double startupMs_ = 0;
    std::vector<std::wstring> boxes_;
};

// Message box text: the static control 0xFFFF of the box.
std::wstring messageBoxText(HWND box);
bool isMessageBox(HWND dialog);

}  // namespace e2e
