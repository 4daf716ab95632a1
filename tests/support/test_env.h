// Test stand-ins for what the GUI provides: answered message boxes and a
// hidden window in the main window's place.
#pragma once
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Answers every message box with `answer` and records its text and the
// thread that raised it. One at a time; installs itself for its lifetime.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    std::vector<std::wstring> texts() const;
    std::vector<DWORD> threads() const;
    size_t count() const { return texts().size(); }

    std::atomic<int> answer{IDOK};

private:
    static int hook(const wchar_t* text, UINT type);
    mutable std::mutex lock_;
    std::vector<std::wstring> texts_;
    std::vector<DWORD> threads_;
};

// A hidden window in the main window's place (mainHwnd): records every
// notification, shows the boxes other threads hand it (ID_NOTIFY_MESSAGE_BOX)
// and hands timer expiries to onTimer (by default it only kills the timer).
class StandInMainWindow {
public:
    StandInMainWindow();
    ~StandInMainWindow();
    StandInMainWindow(const StandInMainWindow&) = delete;
    StandInMainWindow& operator=(const StandInMainWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Runs the message loop for about `ms` milliseconds.
    void pump(DWORD ms)
    {
        pumpUntil([] { return false; }, ms);
    }
    // Runs the message loop until `done` holds or `timeoutMs` passes.
    bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

    std::vector<std::pair<UINT, LPARAM>> notifications; // WM_COMMAND id, payload
    std::vector<std::string> logLines;                  // ID_NOTIFY_LOG texts, copied on arrival
    std::function<void(UINT_PTR)> onTimer;

    size_t countOf(UINT id) const;
    void clear();

private:
    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
};
