#include "support/test_env.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "atcommand/atcommand.h"

#include <algorithm>

namespace {
MessageBoxRecorder* activeRecorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder()
{
    activeRecorder = this;
    seams.messageBox = &MessageBoxRecorder::hook;
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    seams.messageBox = nullptr;
    activeRecorder = nullptr;
}

int MessageBoxRecorder::hook(const wchar_t* text, UINT)
{
    MessageBoxRecorder* self = activeRecorder;
    if (!self)
        return IDOK;
    std::lock_guard<std::mutex> guard(self->lock_);
    self->texts_.push_back(text ? text : L"");
    self->threads_.push_back(GetCurrentThreadId());
    return self->answer;
}

std::vector<std::wstring> MessageBoxRecorder::texts() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return texts_;
}

std::vector<DWORD> MessageBoxRecorder::threads() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return threads_;
}

StandInMainWindow::StandInMainWindow()
{
    static const wchar_t* cls = L"RZ310StandInMain";
    WNDCLASSW wc{};
    wc.lpfnWndProc = &StandInMainWindow::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls;
    RegisterClassW(&wc); // fails harmlessly once the class exists
    hwnd_ = CreateWindowExW(0, cls, L"stand-in", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    mainHwnd = hwnd_;
    uiThreadId = GetCurrentThreadId();
}

StandInMainWindow::~StandInMainWindow()
{
    for (UINT_PTR id = 19000; id <= 19002; ++id)
        KillTimer(hwnd_, id);
    if (mainHwnd == hwnd_)
        mainHwnd = nullptr;
    uiThreadId = 0;
    DestroyWindow(hwnd_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

LRESULT CALLBACK StandInMainWindow::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<StandInMainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && message == WM_COMMAND && LOWORD(wParam) == ID_NOTIFY_LOG_QUEUED) {
        takeLogTexts(self->logLines, 500); // the engine's queued texts
        return 0;
    }
    if (self && message == WM_COMMAND) {
        UINT id = LOWORD(wParam);
        self->notifications.emplace_back(id, lParam);
        if (id == ID_NOTIFY_LOG && lParam)
            self->logLines.emplace_back(reinterpret_cast<const char*>(lParam));
        if (id == ID_NOTIFY_MESSAGE_BOX && lParam)
            showMessageBox(reinterpret_cast<const wchar_t*>(lParam));
        return 0;
    }
    if (self && message == WM_TIMER) {
        if (self->onTimer)
            self->onTimer(wParam);
        else
            KillTimer(hwnd, wParam);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool StandInMainWindow::pumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10, QS_ALLINPUT);
    }
}

size_t StandInMainWindow::countOf(UINT id) const
{
    return std::count_if(notifications.begin(), notifications.end(), [id](const auto& n) { return n.first == id; });
}

void StandInMainWindow::clear()
{
    notifications.clear();
    logLines.clear();
}
