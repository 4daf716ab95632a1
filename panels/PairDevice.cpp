#include "panels/PairDevice.h"

#include "common/busywait.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "panels/panel_text.h"
#include "serial/uart.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr CommandRoute<CPairDevice> kRoutes[] = {
    {IDC_PD_PAIR, BN_CLICKED, &CPairDevice::OnBnClickedPairDevice},
    {IDC_PD_UNPAIR, BN_CLICKED, &CPairDevice::OnBnClickedUnpairDevice},
};

// Answers are judged on the read thread before the send returns; the
// procedure reads the pairing record only after each send.
void send(const char* command) { sendAndWait(command); }

// "AT+BOND=" and the address as bond commands carry it: without its dashes.
void sendBond(const char* address, size_t size)
{
    char bare[sizeof pairing.device1Address] = {};
    size_t n = 0;
    for (char c : engineText(address, size))
        if (c != '-' && n + 1 < sizeof bare)
            bare[n++] = c;
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
void endStopped(CPairDevice& panel, const char* logLine, const LineSnapshot& saved)
{
    stopPairing();
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

CPairDevice::CPairDevice() : CPanelImpl(IDD_PAIR_DEVICE, kRoutes) {}

void CPairDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PD_DEVICE1_ADDRESS, m_device1Address);
    DDX_Control(pDX, IDC_PD_DEVICE1_NAME, m_device1Name);
    DDX_Control(pDX, IDC_PD_DEVICE2_ADDRESS, m_device2Address);
    DDX_Control(pDX, IDC_PD_DEVICE2_NAME, m_device2Name);
}

BOOL CPairDevice::OnInitDialog() { return CPanelImpl::OnInitDialog(); }

void CPairDevice::UpdatePairDeviceWindow()
{
    m_device1Address.SetWindowTextW(fieldToWide(pairing.device1Address, sizeof pairing.device1Address).c_str());
    m_device2Address.SetWindowTextW(fieldToWide(pairing.device2Address, sizeof pairing.device2Address).c_str());
    m_device1Name.SetWindowTextW(fieldToWide(pairing.device1Name, sizeof pairing.device1Name).c_str());
    m_device2Name.SetWindowTextW(fieldToWide(pairing.device2Name, sizeof pairing.device2Name).c_str());
}

int CPairDevice::restoreUartSettings(int32_t baud, int32_t parity, int32_t flow, int32_t stopBits)
{
    setLineSettings({baud, parity, flow, stopBits});
    debugLog("PAIRING: Restoring UART Settings baud %d, parity %d, flow %d, stopbits %d", baud, parity, flow, stopBits);
    return portChangeSettings();
}

namespace {

// Every failure after the search has begun puts Device 1's line settings back.
void failPairing(CPairDevice& panel, const wchar_t* text, const LineSnapshot& saved)
{
    showMessageBox(text);
    setPairingStep(PAIR_IDLE);
    if (panel.restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0)
        showMessageBox(L"ERROR: Failed to restore UART Settings.");
}

// True when the line-setting search ran (Device 1's settings left the port).
bool searchDevice2(BusyProcedure& busy)
{
    // From the first AT until Device 2 answers, Esc ends the procedure.
    busy.allowStop(true);
    logNow("Searching for Device 2. Press Esc to stop.");
    send("AT\r");
    bool searched = false;
    if (!busy.stopped() && pairingStep() != PAIR_DEVICE2_FOUND) {
        // Device 2 may listen at other line settings: from where the search
        // stands, one setting per attempt.
        searched = true;
        while (!busy.stopped() && tryIterations("AT\r", SEND_BLOCKING) != 0 && !pairingFailed() &&
               pairingStep() != PAIR_DEVICE2_FOUND) {
        }
    }
    if (!busy.stopped() && takePairingFailure()) {
        debugLog("PAIRING: Retrying sending AT Command to Device 2");
        send("AT\r");
    }
    busy.allowStop(false);
    return searched;
}

// Device 2's address and name, its role and its bond to Device 1: the text
// of the step that failed, or nullptr.
const wchar_t* setUpDevice2()
{
    char command[COMMAND_SIZE];
    formatCommand(command, "%s?\r", "AT+ADDR");
    send(command);
    if (engineText(pairing.device2Address, sizeof pairing.device2Address).empty()) {
        return L"ERROR: Failed to get Device 2 address.Aborting Pairing";
    }
    formatCommand(command, "%s?\r", "AT+NAME");
    send(command);
    if (engineText(pairing.device2Name, sizeof pairing.device2Name).empty()) {
        return L"ERROR: Failed to get Device 2 Name.Aborting Pairing";
    }
    formatCommand(command, "%sS\r", "AT+ROLE");
    send(command);
    sendBond(pairing.device1Address, sizeof pairing.device1Address);
    if (pairingStep() != PAIR_DEVICE2_BONDED) {
        return L"ERROR: Failed to Bond Device 2.Aborting Pairing";
    }
    return nullptr;
}

} // namespace

void CPairDevice::OnBnClickedPairDevice()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"ERROR: Local Device not initialised. Pairing Failed.");
        return;
    }
    BusyProcedure busy;
    startPairing();
    askForDevice(L"Connect Device 2 to COM%d and then Press OK");

    const LineSnapshot saved = currentLineSettings();
    debugLog("PAIRING: Saved UART Settings baud %d, parity %d, flow %d, stopbits %d", saved.baud, saved.parity,
             saved.flow, saved.stopBits);
    const bool searched = searchDevice2(busy);
    if (busy.stopped() && pairingStep() != PAIR_DEVICE2_FOUND) {
        endStopped(*this, "Pairing cancelled.", saved);
        return;
    }
    if (pairingStep() != PAIR_DEVICE2_FOUND) {
        failPairing(
            *this,
            L"ERROR: Failed to communicate with Device 2. Please check it is connected properly and switch is towards the connector. Aborting Pairing",
            saved);
        return;
    }

    if (const wchar_t* failure = setUpDevice2()) {
        failPairing(*this, failure, saved);
        return;
    }

    if (searched && restoreUartSettings(saved.baud, saved.parity, saved.flow, saved.stopBits) != 0) {
        showMessageBox(L"ERROR: Failed to restore UART Settings. Aborting Pairing. You may need to restart Device.");
        setPairingStep(PAIR_IDLE);
        return;
    }
    askForDevice(L"Connect Device 1 to COM%d and then Press OK");
    char command[COMMAND_SIZE];
    formatCommand(command, "%sM\r", "AT+ROLE");
    send(command);
    sendBond(pairing.device2Address, sizeof pairing.device2Address);
    if (pairingStep() == PAIR_COMPLETE) {
        showMessageBox(L"Pairing completed successfully");
    } else {
        // Device 1's settings are current: nothing to restore.
        showMessageBox(L"ERROR: Failed to Bond Device 1.Aborting Pairing");
        setPairingStep(PAIR_IDLE);
    }
}

void CPairDevice::OnBnClickedUnpairDevice()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"ERROR: Local Device not initialised. Unpairing Failed.");
        return;
    }
    BusyProcedure busy;
    const LineSnapshot saved = currentLineSettings();
    startUnpairing();
    char unbond[COMMAND_SIZE];
    formatCommand(unbond, "%s-\r", "AT+BOND");
    send(unbond);
    if (pairingStep() != UNPAIR_DEVICE2) {
        showMessageBox(L"ERROR: Failed to Unbond Device 1.Aborting Unpairing");
        setPairingStep(PAIR_IDLE);
        return;
    }

    askForDevice(L"Connect Device 2 to COM%d and then Press OK");
    busy.allowStop(true);
    logNow("Searching for Device 2. Press Esc to stop.");
    send(unbond);
    bool searched = false;
    if (!busy.stopped() && pairingStep() != PAIR_IDLE) {
        // Each attempt sends the unbond command itself at its new setting.
        searched = true;
        while (!busy.stopped() && tryIterations(unbond, SEND_BLOCKING) != 0 && !pairingFailed() &&
               pairingStep() != PAIR_IDLE) {
        }
    }
    if (!busy.stopped() && takePairingFailure()) {
        debugLog("PAIRING: Retrying sending AT Command to Device 2");
        send(unbond);
    }
    busy.allowStop(false);
    if (busy.stopped() && pairingStep() != PAIR_IDLE) {
        endStopped(*this, "Unpairing cancelled.", saved);
        return;
    }
    if (pairingStep() != PAIR_IDLE) {
        showMessageBox(L"ERROR: Failed to Unbond Device 2.Aborting Unpairing");
        setPairingStep(PAIR_IDLE);
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
