#include "panels/PairDevice.h"

#include "common/busywait.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "atcommand/internal.h"
#include "panels/panel_text.h"
#include "serial/uart.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr CommandRoute<CPairDevice> kRoutes[] = {
    {IDC_PD_PAIR, BN_CLICKED, &CPairDevice::OnBnClickedPairDevice},
    {IDC_PD_UNPAIR, BN_CLICKED, &CPairDevice::OnBnClickedUnpairDevice},
};

// Device 1's line settings, put back before Device 1 is used again.
struct SavedLine {
    int32_t baud;
    int32_t parity;
    int32_t flow;
    int32_t stopBits;
};

SavedLine saveLine()
{
    EngineLock lock;
    return {uart.baud, uart.parity, uart.flow, uart.stopBits};
}

int32_t currentPairState()
{
    EngineLock lock;
    return pairing.pairState;
}

void setPairState(int32_t state)
{
    EngineLock lock;
    pairing.pairState = state;
}

// A failure answered earlier ends a search at once and earns one retry.
bool takePairFailed()
{
    EngineLock lock;
    if (pairing.pairFailed != 1)
        return false;
    pairing.pairFailed = 0;
    return true;
}

bool pairFailed()
{
    EngineLock lock;
    return pairing.pairFailed == 1;
}

bool fieldEmpty(const char* field)
{
    EngineLock lock;
    return field[0] == '\0';
}

// Answers are judged on the read thread before the send returns; the
// procedure reads the pairing record only after each send.
void send(const char* command)
{
    sendAndWait(command);
}

// "AT+BOND=" and the address as bond commands carry it: without its dashes.
void sendBond(const char* address, size_t size)
{
    char bare[sizeof pairing.device1Address] = {};
    {
        EngineLock lock;
        size_t n = 0;
        for (size_t i = 0; i < size && address[i] != '\0' && n + 1 < sizeof bare; ++i)
            if (address[i] != '-')
                bare[n++] = address[i];
    }
    char command[COMMAND_SIZE];
    formatCommand(command, "%s=%s\r", "AT+BOND", bare);
    send(command);
}

// The procedure holds the user-interface thread: a posted line would show
// only once it is over, so the line is appended now.
void logNow(const char* text)
{
    if (mainHwnd)
        SendMessageW(mainHwnd, WM_COMMAND, ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(text));
}

// Esc during the search for Device 2: Device 1's line settings go back on
// the port, as after a failed search, and the procedure ends quietly.
void endStopped(CPairDevice& panel, const char* logLine, const SavedLine& saved)
{
    {
        EngineLock lock;
        pairing.pairState = PAIR_IDLE;
        pairing.pairFailed = 0;
        // The next search starts from the first setting again.
        bIndex = 10;
        bTry = 0;
    }
    debugLog("PAIRING: Search for Device 2 stopped by the operator");
    if (panel.restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0)
        showMessageBox(L"ERROR: Failed to restore UART Settings.");
    logNow(logLine);
}

// The operator moves the cable to the adapter the text names.
void askForDevice(const wchar_t* format)
{
    wchar_t text[128];
    swprintf(text, 128, format, uart.port);
    showMessageBox(text);
}

} // namespace

CPairDevice::CPairDevice() : CDialog(IDD_PAIR_DEVICE) {}

void CPairDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PD_DEVICE1_ADDRESS, m_device1Address);
    DDX_Control(pDX, IDC_PD_DEVICE1_NAME, m_device1Name);
    DDX_Control(pDX, IDC_PD_DEVICE2_ADDRESS, m_device2Address);
    DDX_Control(pDX, IDC_PD_DEVICE2_NAME, m_device2Name);
}

bool CPairDevice::RouteCommand(UINT id, UINT code, LPARAM lParam)
{
    return routeCommand(this, kRoutes, id, code, lParam);
}

BOOL CPairDevice::OnInitDialog()
{
    CDialog::OnInitDialog();
    EnableToolTips(TRUE);
    return TRUE;
}

void CPairDevice::UpdatePairDeviceWindow()
{
    m_device1Address.SetWindowTextW(fieldToWide(pairing.device1Address, sizeof pairing.device1Address).c_str());
    m_device2Address.SetWindowTextW(fieldToWide(pairing.device2Address, sizeof pairing.device2Address).c_str());
    m_device1Name.SetWindowTextW(fieldToWide(pairing.device1Name, sizeof pairing.device1Name).c_str());
    m_device2Name.SetWindowTextW(fieldToWide(pairing.device2Name, sizeof pairing.device2Name).c_str());
}

int CPairDevice::restoreUartSettings(int32_t baud, int32_t parity, int32_t flow, int32_t stopBits)
{
    {
        EngineLock lock;
        uart.baud = baud;
        uart.parity = parity;
        uart.flow = flow;
        uart.stopBits = stopBits;
    }
    debugLog("PAIRING: Restoring UART Settings baud %d, parity %d, flow %d, stopbits %d", baud, parity, flow,
             stopBits);
    return portChangeSettings();
}

void CPairDevice::OnBnClickedPairDevice()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"ERROR: Local Device not initialised. Pairing Failed.");
        return;
    }
    BusyProcedure busy;
    {
        EngineLock lock;
        memset(&pairing, 0, sizeof pairing);
        pairing.pairState = PAIR_SEARCHING_DEVICE2;
        copyText(pairing.device1Address, sizeof pairing.device1Address, device.address, sizeof device.address);
        copyText(pairing.device1Name, sizeof pairing.device1Name, device.name, sizeof device.name);
    }
    askForDevice(L"Connect Device 2 to COM%d and then Press OK");

    const SavedLine saved = saveLine();
    debugLog("PAIRING: Saved UART Settings baud %d, parity %d, flow %d, stopbits %d", saved.baud, saved.parity,
             saved.flow, saved.stopBits);
    // Every failure from here on puts Device 1's line settings back.
    auto fail = [&](const wchar_t* text) {
        showMessageBox(text);
        setPairState(PAIR_IDLE);
        if (restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0)
            showMessageBox(L"ERROR: Failed to restore UART Settings.");
    };

    // From the first AT until Device 2 answers, Esc ends the procedure.
    busy.allowStop(true);
    logNow("Searching for Device 2. Press Esc to stop.");
    send("AT\r");
    bool searched = false;
    if (!busy.stopped() && currentPairState() != PAIR_DEVICE2_FOUND) {
        // Device 2 may listen at other line settings: from where the search
        // stands, one setting per attempt.
        searched = true;
        while (!busy.stopped() && tryIterations("AT\r", SEND_BLOCKING) != 0 && !pairFailed() &&
               currentPairState() != PAIR_DEVICE2_FOUND) {
        }
    }
    if (!busy.stopped() && takePairFailed()) {
        debugLog("PAIRING: Retrying sending AT Command to Device 2");
        send("AT\r");
    }
    busy.allowStop(false);
    if (busy.stopped() && currentPairState() != PAIR_DEVICE2_FOUND) {
        endStopped(*this, "Pairing cancelled.", saved);
        return;
    }
    if (currentPairState() != PAIR_DEVICE2_FOUND) {
        fail(L"ERROR: Failed to communicate with Device 2. Please check it is connected properly and switch is towards the connector. Aborting Pairing");
        return;
    }

    char command[COMMAND_SIZE];
    formatCommand(command, "%s?\r", "AT+ADDR");
    send(command);
    if (fieldEmpty(pairing.device2Address)) {
        fail(L"ERROR: Failed to get Device 2 address.Aborting Pairing");
        return;
    }
    formatCommand(command, "%s?\r", "AT+NAME");
    send(command);
    if (fieldEmpty(pairing.device2Name)) {
        fail(L"ERROR: Failed to get Device 2 Name.Aborting Pairing");
        return;
    }
    formatCommand(command, "%sS\r", "AT+ROLE");
    send(command);
    sendBond(pairing.device1Address, sizeof pairing.device1Address);
    if (currentPairState() != PAIR_DEVICE2_BONDED) {
        fail(L"ERROR: Failed to Bond Device 2.Aborting Pairing");
        return;
    }

    if (searched && restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0) {
        showMessageBox(L"ERROR: Failed to restore UART Settings. Aborting Pairing. You may need to restart Device.");
        setPairState(PAIR_IDLE);
        return;
    }
    askForDevice(L"Connect Device 1 to COM%d and then Press OK");
    formatCommand(command, "%sM\r", "AT+ROLE");
    send(command);
    sendBond(pairing.device2Address, sizeof pairing.device2Address);
    if (currentPairState() == PAIR_COMPLETE) {
        showMessageBox(L"Pairing completed successfully");
    } else {
        // Device 1's settings are current: nothing to restore.
        showMessageBox(L"ERROR: Failed to Bond Device 1.Aborting Pairing");
        setPairState(PAIR_IDLE);
    }
}

void CPairDevice::OnBnClickedUnpairDevice()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"ERROR: Local Device not initialised. Unpairing Failed.");
        return;
    }
    BusyProcedure busy;
    const SavedLine saved = saveLine();
    {
        EngineLock lock;
        pairing.pairState = UNPAIR_DEVICE1;
        // A failure left over from an earlier procedure must not end this
        // one's search after its first attempt.
        pairing.pairFailed = 0;
    }
    char unbond[COMMAND_SIZE];
    formatCommand(unbond, "%s-\r", "AT+BOND");
    send(unbond);
    if (currentPairState() != UNPAIR_DEVICE2) {
        showMessageBox(L"ERROR: Failed to Unbond Device 1.Aborting Unpairing");
        setPairState(PAIR_IDLE);
        return;
    }

    askForDevice(L"Connect Device 2 to COM%d and then Press OK");
    busy.allowStop(true);
    logNow("Searching for Device 2. Press Esc to stop.");
    send(unbond);
    bool searched = false;
    if (!busy.stopped() && currentPairState() != PAIR_IDLE) {
        // Each attempt sends the unbond command itself at its new setting.
        searched = true;
        while (!busy.stopped() && tryIterations(unbond, SEND_BLOCKING) != 0 && !pairFailed() &&
               currentPairState() != PAIR_IDLE) {
        }
    }
    if (!busy.stopped() && takePairFailed()) {
        debugLog("PAIRING: Retrying sending AT Command to Device 2");
        send(unbond);
    }
    busy.allowStop(false);
    if (busy.stopped() && currentPairState() != PAIR_IDLE) {
        endStopped(*this, "Unpairing cancelled.", saved);
        return;
    }
    if (currentPairState() != PAIR_IDLE) {
        showMessageBox(L"ERROR: Failed to Unbond Device 2.Aborting Unpairing");
        setPairState(PAIR_IDLE);
        if (restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0)
            showMessageBox(L"ERROR: Failed to restore UART Settings.");
        return;
    }
    if (searched && restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0)
        showMessageBox(L"ERROR: Failed to restore port settings for Device 1");
    showMessageBox(L"Unpairing completed successfully. Connect back Device 1");
}

BOOL CPairDevice::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    static constexpr ToolTipText kToolTips[] = {
        {IDC_PD_PAIR, L"Pair the Local Device with another Device"},
        {IDC_PD_UNPAIR, L"Unpair the Local Device with another Device"},
    };
    return answerToolTip(id, pNMHDR, kToolTips);
}
