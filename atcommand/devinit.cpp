// Bringing the adapter up: the line-setting search, one attempt per expiry
// of DevInitTimer, and reading all settings once the adapter answers.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "serial/uart.h"
#include <cstdio>
#include <cwchar>

int32_t bIndex = BAUD_CODE_FIRST;
int32_t bTry = 0;

namespace {

struct Phase {
    int32_t parity;
    int32_t stopBits;
    int32_t flow;
};

// Within a phase the baud index runs through every code the adapter takes
// before the next phase starts.
constexpr int32_t SEARCH_PHASES = 12;
// clang-format off
const Phase phases[SEARCH_PHASES] = {
    {PARITY_NONE, 1, 1}, {PARITY_NONE, 1, 0}, {PARITY_ODD, 1, 1}, {PARITY_ODD, 1, 0},
    {PARITY_EVEN, 1, 1}, {PARITY_EVEN, 1, 0}, {PARITY_NONE, 2, 1}, {PARITY_NONE, 2, 0},
    {PARITY_ODD, 2, 1},  {PARITY_ODD, 2, 0},  {PARITY_EVEN, 2, 1}, {PARITY_EVEN, 2, 0},
};
// clang-format on

const char* parityName(int32_t parity)
{
    int row = parityRowOfCode(parity);
    return kParitySettings[row >= 0 ? row : DEFAULT_PARITY_ROW].word;
}

// One line per attempt for the operator. Both callers run on the
// user-interface thread, and the pairing procedure holds it for its whole
// search, so a posted line would only show once the search is over: on
// that thread the line is appended at once.
void showAttempt(int32_t baud, const Phase& tried)
{
    char text[128];
    snprintf(text, sizeof text, "Trying %d baud, parity %s, %d stop bit(s), flow control %s", baud,
             parityName(tried.parity), tried.stopBits, tried.flow ? "On" : "Off");
    if (mainHwnd && uiThreadId == GetCurrentThreadId())
        SendMessageW(mainHwnd, WM_COMMAND, ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(text));
    else
        postLogText(text);
}

} // namespace

int tryIterations(const char* command, int32_t timerMode)
{
    Phase tried;
    int32_t baud;
    {
        EngineLock lock;
        debugLog("ATCOMMAND : +%s bIndex %d bTry %d", "tryIterations", bIndex, bTry);
        if (bTry < 0)
            bTry = 0;
        if (bIndex > BAUD_CODE_LAST) {
            bIndex = BAUD_CODE_FIRST;
            ++bTry;
        }
        if (bTry >= SEARCH_PHASES) {
            bTry = 0;
            bIndex = BAUD_CODE_FIRST;
            debugLog("ATCOMMAND: Tried all combinations. Device didnot initialise");
            return 0;
        }
        tried = phases[bTry];
        baud = baudCodeToRate(bIndex);
        uart.baud = baud;
        uart.parity = tried.parity;
        uart.stopBits = tried.stopBits;
        uart.flow = tried.flow;
        ++bIndex;
        debugLog("ATCOMMAND: %s Trying baud %d parity %d stopbits %d flow %d", "tryIterations", baud, tried.parity,
                 tried.stopBits, tried.flow);
    }
    showAttempt(baud, tried);
    if (portChangeSettings() != 0) {
        wchar_t text[256];
        swprintf(text, 256, L"Failed to set UART settings baud %d parity %d stopbits %d flow %d", baud, tried.parity,
                 tried.stopBits, tried.flow);
        showMessageBox(text);
    }
    uint16_t result = sendAtCommand(command, LOG_QUIET, timerMode);
    if (!sendSucceeded(result))
        debugLog("ATCOMMAND: Failed to send AT command %s", command);
    return 1;
}

void getDeviceInfo()
{
    {
        EngineLock lock;
        bIndex = BAUD_CODE_FIRST;
        bTry = 0;
    }
    // Results are not checked: each answer updates the records and the panels.
    for (const CommandEntry* query = DeviceInfoQuery; query->id != 0; ++query)
        sendAndWait(query->text);
}

int openAdapterPort(bool quiet)
{
    // The read thread has ended whenever the port is being opened, so the
    // previous event has no user left.
    HANDLE previous = atCommandEvent;
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (previous)
        CloseHandle(previous);
    return UartInit(quiet);
}

void devInitTimerStep()
{
    debugLog("DevInitTimer expired");
    KillTimer(mainHwnd, DevInitTimer);
    processTimedResponse();

    if (device.isDeviceInitialised) {
        getDeviceInfo();
        // Sent, not posted: the timer runs on the window's thread, and the
        // controls are ready when the step returns.
        if (mainHwnd)
            SendMessageW(mainHwnd, WM_COMMAND, ID_NOTIFY_DEVICE_CONTROLS, TRUE);
        return;
    }
    if (device.initRetry) {
        sendTimed("AT\r");
        EngineLock lock;
        device.initRetry = 0;
        return;
    }
    if (tryIterations("AT\r", SEND_TIMED) == 0)
        showMessageBox(
            L"Failed to initialise device. Device is not responding or wrong COM port is selected \t\t\t\t\t\t\t Try changing the UART and restarting the application.");
}
