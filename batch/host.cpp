// The batch programmer's stand-in for the main window: a message-only window
// with the main window's timer and notification handling, and the box seam.
#include "batch/batch.h"
#include "app/engine_events.h"
#include "atcommand/atcommand.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "common/seams.h"
#include "serial/uart.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

HWND window = nullptr;
volatile LONG stop = 0;
bool quiet = false;
// Set by the engine's timer and notifications, read by the waits below.
int devInitArms = 0;
bool deviceReady = false; // the bring-up read all settings
bool searchEnded = false; // a DevInitTimer step armed no further attempt
bool probing = false;     // DevInitTimer ends a probe, not a search step
bool probeDone = false;
int32_t lostPort = 0; // ID_NOTIFY_PORT_LOST's port, until it is open again

std::string narrow(const wchar_t* text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

void logLine(const char* text)
{
    if (!quiet && text)
        errLine("%s", text);
}

// No box is shown: its text goes to standard error, and a question is
// answered yes.
int answerBox(const wchar_t* text, UINT type)
{
    logLine(narrow(text).c_str());
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

UINT_PTR WINAPI countedTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc)
{
    if (id == DevInitTimer)
        ++devInitArms;
    return SetTimer(hwnd, id, ms, proc);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        if (wParam == DevInitTimer && probing) {
            KillTimer(hwnd, DevInitTimer);
            processTimedResponse();
            probeDone = true;
            return 0;
        }
        int arms = devInitArms;
        logLine(engineTimerExpired(hwnd, wParam));
        if (wParam == DevInitTimer && !deviceReady && devInitArms == arms)
            searchEnded = true;
        return 0;
    }
    if (message != WM_COMMAND)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    UINT id = LOWORD(wParam);
    if (engineNotification(hwnd, id, lParam))
        return 0;
    switch (id) {
    case ID_NOTIFY_LOG:
        logLine(reinterpret_cast<const char*>(lParam));
        break;
    case ID_NOTIFY_LOG_QUEUED: {
        std::vector<std::string> texts;
        takeLogTexts(texts, 500);
        for (const std::string& text : texts)
            logLine(text.c_str());
        break;
    }
    case ID_NOTIFY_PORT_LOST:
        if (lParam != 0 && UartLostPort() == static_cast<int32_t>(lParam))
            lostPort = static_cast<int32_t>(lParam);
        break;
    case ID_NOTIFY_DEVICE_CONTROLS:
        deviceReady = lParam != 0;
        break;
    default: // the panels' and lights' notifications: nothing is shown
        break;
    }
    return 0;
}

BOOL WINAPI onCtrl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterlockedExchange(&stop, 1);
    if (window)
        PostMessageW(window, WM_NULL, 0, 0);
    return TRUE;
}

// Handles messages until `done` or Ctrl-C.
template <class Done>
void pumpUntil(Done done)
{
    MSG msg;
    while (!done() && !host::stopRequested() && !lostPort) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
            return;
        DispatchMessageW(&msg);
    }
}

// Sends "AT" timer-sent; false when no DevInitTimer was armed for it (the
// engine refused it), after a moment for the notifications that say why (a
// lost port), so that a caller trying again does not spin.
bool sendArmed()
{
    int arms = devInitArms;
    sendTimed("AT\r");
    if (devInitArms != arms)
        return true;
    host::pump(500);
    return false;
}

} // namespace

namespace host {

bool create()
{
    WNDCLASSW cls = {};
    cls.lpfnWndProc = windowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"RZ310_Batch";
    if (!RegisterClassW(&cls))
        return false;
    window = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    if (!window)
        return false;
    mainHwnd = window;
    uiThreadId = GetCurrentThreadId();
    seams.messageBox = answerBox;
    seams.setTimer = countedTimer;
    SetConsoleCtrlHandler(onCtrl, TRUE);
    return true;
}

bool stopRequested() { return stop != 0; }

void setQuiet(bool on) { quiet = on; }

bool awaitLostPort()
{
    if (!lostPort)
        return true;
    KillTimer(window, DevInitTimer);
    KillTimer(window, ATCommandTimer);
    // Closing clears the record; the port is opened again with what it had.
    Uart lastUsed = uart;
    UartDeinit();
    lastUsed.isUartActive = 0;
    lastUsed.eventCallback = nullptr;
    uart = lastUsed;
    logLine("Serial port lost; waiting for it to come back.");
    while (!stopRequested()) {
        pump(2000);
        if (openAdapterPort(true) == 0) {
            lostPort = 0;
            return true;
        }
    }
    return false;
}

bool bringUp(const LineSettings& line)
{
    if (!awaitLostPort())
        return false;
    resetEngineState();
    uart.baud = line.baud;
    uart.parity = line.parity;
    uart.stopBits = line.stopBits;
    uart.flow = line.flow;
    portChangeSettings();
    deviceReady = false;
    searchEnded = false;
    if (!sendArmed())
        return false;
    pumpUntil([] { return deviceReady || searchEnded; });
    return deviceReady;
}

bool probe()
{
    if (lostPort)
        return false;
    resetEngineState();
    probing = true;
    probeDone = false;
    if (sendArmed())
        pumpUntil([] { return probeDone; });
    probing = false;
    if (!device.isDeviceInitialised)
        return false;
    return sendAndWait("AT+ADDR?\r") == SEND_OK;
}

void pump(unsigned ms)
{
    UINT_PTR timer = SetTimer(window, 1, ms, nullptr);
    bool expired = false;
    MSG msg;
    while (!expired && !stopRequested() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == 1)
            expired = true;
        else
            DispatchMessageW(&msg);
    }
    KillTimer(window, timer);
}

} // namespace host

void outLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}

void errLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
}
