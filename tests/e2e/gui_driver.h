// Drives the real RZ310_Config.exe from another process: starts it in a
// folder of its own, works its controls by id, answers its message boxes and
// file dialogs, captures its window, ends it.
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
// A Unix path as Windows programs see it: Wine's drive Z: is the Unix root.
std::wstring windowsPath(const std::string& path);
std::string readFile(const std::wstring& path); // empty when missing
bool writeFile(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
bool freshFolder(const std::wstring& path); // empty, made when missing
std::string unixLines(std::string text);    // "\r\n" to "\n"

// Cross-process access to controls. What the tool's user-interface thread
// must answer gives up after a while, since a blocking send may hold that
// thread: a text then reads empty.
namespace ui {
std::wstring textOf(HWND window, DWORD timeoutMs = 3000); // a drop-down list's: its selected entry
// Selects the entry and tells the parent, as a mouse pick would.
bool selectComboText(HWND combo, const std::wstring& item);
void click(HWND button);                         // posted: the click may open a modal box
bool clickAndWait(HWND button, DWORD timeoutMs); // sent: returns once handled
bool type(HWND edit, const std::wstring& text);  // key by key: the box's length limit applies
} // namespace ui

// Pixels of a window as shown on the screen.
class Capture {
public:
    bool grab(HWND window);
    bool saveBmp(const std::wstring& path) const;
    // A captured status light: '+' lit green, '-' dark red, '?' neither.
    char light() const;

private:
    RECT rect_{};
    std::vector<uint32_t> pixels_; // top-down rows of 0xFFRRGGBB
};

enum Panel : int { LocalDevicePanel = 135, RemoteDevicePanel = 136, ConnectionPanel = 138, PairDevicePanel = 139 };

class ToolProcess {
public:
    ToolProcess() = default;
    ~ToolProcess() { end(); }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts the program in `workDir`, answering OK to the boxes it raises,
    // until its main window is shown.
    bool start(const std::wstring& exe, const std::wstring& workDir, DWORD timeoutMs = 60000);
    double startupMs() const { return startupMs_; } // process creation to main window
    HANDLE process() const { return process_; }
    DWORD processesStarted() const; // by the tool, itself included
    HWND mainWindow() const { return main_; }
    HWND item(int id) const { return GetDlgItem(main_, id); }
    HWND panel(Panel which) const;
    std::vector<HWND> visiblePanels() const;
    std::wstring log() const;
    void command(UINT id) const;
    // Returns once the user-interface thread has handled everything posted
    // to it before the call, the read thread's notifications included.
    bool sync(DWORD timeoutMs = 30000) const;

    // Visible top-level dialogs of the process other than the main window.
    std::vector<HWND> dialogs() const;
    // The dialog of this title; a message box when `title` is empty.
    HWND waitForDialog(const std::wstring& title, DWORD timeoutMs) const;
    // Presses OK on the next message box; its text, empty when none came.
    // `beforeOk` gets the text first: the operator does what it asks.
    std::wstring answerMessageBox(DWORD timeoutMs = 15000,
                                  const std::function<void(const std::wstring&)>& beforeOk = nullptr);
    const std::vector<std::wstring>& boxesSeen() const { return boxes_; } // in order
    std::string openDialogs() const;                                      // for failure messages
    // Gives the menu command, fills the common file dialog it opens (of this
    // title) with a full file name and presses its OK.
    bool chooseFile(UINT command, const std::wstring& title, const std::wstring& fullName) const;

    bool waitForExit(DWORD timeoutMs) const;
    void end(); // closes, else terminates

private:
    bool running() const;
    bool answerBox(HWND box);

    HANDLE process_ = nullptr;
    HANDLE job_ = nullptr; // the tool and what it starts
    DWORD pid_ = 0;
    HWND main_ = nullptr;
    double startupMs_ = 0;
    std::vector<std::wstring> boxes_;
};

} // namespace e2e
