#include "panels/LocalDevice.h"

#include "common/debuglog.h"
#include "common/notify.h"
#include "atcommand/adapter_settings.h"
#include "atcommand/atcommand.h"
#include "atcommand/program.h"
#include "panels/panel_text.h"
#include "serial/uart.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr CommandRoute<CLocalDevice> kRoutes[] = {
    {IDC_LD_GET_DEVICE_INFO, BN_CLICKED, &CLocalDevice::OnBnClickedGetDeviceInfo},
    {IDC_LD_RESET_DEVICE, BN_CLICKED, &CLocalDevice::OnBnClickedResetDevice},
    {IDC_LD_PROGRAM_DEVICE, BN_CLICKED, &CLocalDevice::OnBnClickedProgramDevice},
    {IDC_LD_SEND_AT_COMMAND, BN_CLICKED, &CLocalDevice::OnBnClickedSendAtCommand},
    {IDC_LD_DISABLE_AUTH, BN_CLICKED, &CLocalDevice::OnBnClickedDisableAuthentication},
    {IDC_LD_RESTART_DEVICE, BN_CLICKED, &CLocalDevice::OnBnClickedRestartDevice},
    {IDC_LD_COM_PORT, CBN_SELCHANGE, &CLocalDevice::OnCbnSelchangeComPort},
};

// The Parity list holds the parity table's rows, none first.
int parityPosition(int32_t parity)
{
    int row = parityRowOfCode(parity);
    return row >= 0 ? row : DEFAULT_PARITY_ROW;
}

// The adapter settings shown by a control of their own; the line settings
// have theirs apart.
bool isAdapterControl(const AdapterSetting& row) { return row.control != 0; }

// The selected entry of a list as a number; false when nothing is selected.
bool selectedNumber(const CComboBox& list, int32_t& value)
{
    int position = list.GetCurSel();
    if (position < 0 || position >= list.GetCount())
        return false;
    value = static_cast<int32_t>(wcstol(list.GetLBText(position).c_str(), nullptr, 10));
    return true;
}

} // namespace

CLocalDevice::CLocalDevice() : CPanelImpl(IDD_LOCAL_DEVICE, kRoutes) {}

void CLocalDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LD_COM_PORT, m_comPort);
    DDX_Control(pDX, IDC_LD_BAUD_RATE, m_baudRate);
    DDX_Control(pDX, IDC_LD_PARITY, m_parity);
    DDX_Control(pDX, IDC_LD_DEVICE_ADDRESS, m_deviceAddress);
    DDX_Control(pDX, IDC_LD_DEVICE_NAME, m_deviceName);
    DDX_Control(pDX, IDC_LD_PIN_CODE, m_pinCode);
    DDX_Control(pDX, IDC_LD_AT_COMMAND, m_atCommand);
    DDX_Control(pDX, IDC_LD_DISABLE_AUTH, m_disableAuthentication);
    DDX_Control(pDX, IDC_LD_FW_VERSION, m_firmwareVersion);
}

BOOL CLocalDevice::OnInitDialog()
{
    CPanelImpl::OnInitDialog();

    // The adapter's fields and the 30-byte command buffer bound what may be
    // typed: nothing longer is ever formatted or sent.
    m_deviceName.SetLimitText(LD_NAME_LIMIT);
    m_pinCode.SetLimitText(LD_PIN_LIMIT);
    m_atCommand.SetLimitText(LD_AT_COMMAND_LIMIT);

    for (const BaudSetting& row : kBaudSettings)
        m_baudRate.AddString(std::to_wstring(row.rate).c_str());
    for (const ParitySetting& row : kParitySettings)
        m_parity.AddString(std::wstring(row.word, row.word + strlen(row.word)).c_str());

    EnumerateComPorts(m_comPort.GetSafeHwnd());
    int portPosition = 0;
    int listed = uart.comPortCount < COM_PORT_LIST_SIZE ? uart.comPortCount : COM_PORT_LIST_SIZE;
    for (int i = 0; i < listed; ++i) {
        if (uart.comPortList[i] == uart.port) {
            portPosition = i;
            break;
        }
    }
    m_comPort.SetCurSel(portPosition);

    m_baudRate.SetCurSel(baudRateToIndex(uart.baud));
    showLineSettings();

    if (!device.isDeviceInitialised)
        EnableDeviceControls(false);

    return TRUE;
}

// Parity, stop bits and flow control as uart holds them.
void CLocalDevice::showLineSettings()
{
    m_parity.SetCurSel(parityPosition(uart.parity));
    CheckRadioButton(IDC_LD_STOP_ONE, IDC_LD_STOP_TWO, uart.stopBits == 1 ? IDC_LD_STOP_ONE : IDC_LD_STOP_TWO);
    CheckRadioButton(IDC_LD_FLOW_ENABLED, IDC_LD_FLOW_DISABLED,
                     uart.flow == 1 ? IDC_LD_FLOW_ENABLED : IDC_LD_FLOW_DISABLED);
}

void CLocalDevice::EnableDeviceControls(bool enable)
{
    // Besides the adapter settings' own controls.
    // clang-format off
    static constexpr int kAdapterControls[] = {
        IDC_LD_DEVICE_NAME, IDC_LD_PIN_CODE, IDC_LD_AT_COMMAND,
        IDC_LD_PROGRAM_DEVICE, IDC_LD_RESET_DEVICE, IDC_LD_RESTART_DEVICE, IDC_LD_SEND_AT_COMMAND,
    };
    // clang-format on
    for (int id : kAdapterControls)
        EnableDlgItem(id, enable);
    for (const AdapterSetting& row : kAdapterSettings) {
        if (!isAdapterControl(row))
            continue;
        EnableDlgItem(row.control, enable);
        if (row.otherControl)
            EnableDlgItem(row.otherControl, enable);
    }
}

bool CLocalDevice::InitialiseUart()
{
    int position = m_comPort.GetCurSel();
    if (position >= 0 && position < m_comPort.GetCount()) {
        int port = 0;
        if (swscanf(m_comPort.GetLBText(position).c_str(), L"COM%d", &port) == 1)
            uart.port = port;
    }

    // Nothing is selected after a refresh with a baud code the list does not
    // hold; such codes mean 19200, which also stands in when uart has no
    // rate left (Restart Device has just cleared it).
    int32_t baud = 0;
    if (selectedNumber(m_baudRate, baud))
        uart.baud = baud;
    else if (uart.baud == 0)
        uart.baud = kBaudSettings[DEFAULT_BAUD_ROW].rate;
    uart.flow = IsDlgButtonChecked(IDC_LD_FLOW_ENABLED) == BST_CHECKED ? 1 : 0;
    uart.stopBits = IsDlgButtonChecked(IDC_LD_STOP_ONE) == BST_CHECKED ? 1 : 2;
    int parity = m_parity.GetCurSel();
    if (parity >= 0 && parity < PARITY_SETTINGS)
        uart.parity = kParitySettings[parity].code;

    debugLog("Selected UART Settings COM%d, baud %d, Flow %d, StopBits H%X, Parity H%X", uart.port, uart.baud,
             uart.flow, static_cast<unsigned>(uart.stopBits), static_cast<unsigned>(uart.parity));

    return openAdapterPort() == 0;
}

void CLocalDevice::SetFirmwareLabel(const wchar_t* text) { m_firmwareVersion.SetWindowTextW(text); }

void CLocalDevice::OnBnClickedGetDeviceInfo()
{
    if (!uart.isUartActive && !InitialiseUart()) {
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("Failed to initialise UART."));
        return;
    }
    if (!device.isDeviceInitialised) {
        // Not initialised: the send arms DevInitTimer and the line-setting
        // search takes over from there.
        if (!sendSucceeded(sendTimed("AT\r"))) {
            postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("Failed to initialise Local Device."));
            return;
        }
    }
    if (device.isDeviceInitialised)
        getDeviceInfo();
}

void CLocalDevice::OnBnClickedResetDevice() { sendAndWait("AT+RESET\r"); }

void CLocalDevice::OnBnClickedProgramDevice()
{
    // Everything the operator set is read before the first send: a failure
    // message box of a send runs a message loop, and a redisplay from the
    // records inside it must not overwrite the settings still to be compared.
    auto checked = [this](int id) { return IsDlgButtonChecked(id) == BST_CHECKED; };
    WantedSettings wanted;
    wanted.name = wideToAnsi(m_deviceName.GetWindowTextW(), LD_NAME_LIMIT);
    // An emptied PIN box leaves the PIN alone.
    std::string pin = wideToAnsi(m_pinCode.GetWindowTextW(), LD_PIN_LIMIT);
    if (!pin.empty())
        wanted.pin = pin;
    // A check box gives on or off; radio buttons only when one is checked.
    for (const AdapterSetting& row : kAdapterSettings) {
        if (!isAdapterControl(row) || !row.wanted)
            continue;
        if (!row.otherControl)
            wanted.*row.wanted = checked(row.control) ? row.words[0].value : row.words[1].value;
        else if (checked(row.control) || checked(row.otherControl))
            wanted.*row.wanted = checked(row.control) ? row.words[0].value : row.words[1].value;
    }
    // After a refresh with a baud code the list does not hold, nothing is
    // selected and there is no rate to compare.
    int32_t baud = 0;
    if (selectedNumber(m_baudRate, baud))
        wanted.baud = baud;
    const int parityPos = m_parity.GetCurSel();
    if (parityPos >= 0 && parityPos < PARITY_SETTINGS)
        wanted.parity = kParitySettings[parityPos].code;
    wanted.stopBits = checked(IDC_LD_STOP_ONE) ? 1 : 2;
    wanted.flow = checked(IDC_LD_FLOW_ENABLED) ? 1 : 0;

    char command[COMMAND_SIZE];
    for (Setting setting : kPanelOrder)
        if (settingCommand(wanted, setting, command))
            sendAndWait(command);
}

void CLocalDevice::OnBnClickedSendAtCommand()
{
    std::wstring typed = m_atCommand.GetWindowTextW();
    if (typed.empty())
        return;
    m_atCommand.remember(typed);
    CharUpperBuffW(&typed[0], static_cast<DWORD>(typed.size()));
    std::string command = wideToAnsi(typed, LD_AT_COMMAND_LIMIT);
    if (command != "+++")
        command += '\r';
    sendAtCommand(command.c_str(), LOG_SHOWN, command == "AT+ENQ\r" ? SEND_TIMED : SEND_BLOCKING);
}

void CLocalDevice::OnBnClickedDisableAuthentication()
{
    bool checked = m_disableAuthentication.GetCheck() == BST_CHECKED;
    if (checked && device.pinDisabled == 0) {
        sendAndWait("AT+PIN-\r");
    } else if (!checked && device.pinDisabled == 1) {
        const std::string pin = fieldText(device.pin, LD_PIN_LIMIT);
        if (pin.empty()) {
            sendAndWait("AT+PIN=8642\r"); // the adapter's default PIN
        } else {
            char command[COMMAND_SIZE];
            formatCommand(command, "AT+PIN=%s\r", pin.c_str());
            sendAndWait(command);
        }
    }
}

void CLocalDevice::OnBnClickedRestartDevice()
{
    UartForgetLost();
    if (device.isDataMode == 1)
        sendAndWait("AT\r");
    // Only escaped to command mode, the adapter may still hold its link: the
    // tool forgets the connection but keeps Disconnect offered.
    const int32_t linked = device.isConnected == 1 || linkMayRemain == 1 ? 1 : 0;
    UartDeinit();
    resetEngineState();
    linkMayRemain = linked;
    postNotify(ID_NOTIFY_STATUS, 0);
    // The inquiry and the connection end on screen as in the records.
    postNotify(ID_NOTIFY_INQUIRY_CLEAR);
    postNotify(ID_NOTIFY_INQUIRY_END);
    postNotify(ID_NOTIFY_REMOTE_DEVICE);
    EnableDeviceControls(false);
    Sleep(1000);
    if (!InitialiseUart()) {
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("Failed to initialise UART."));
        return;
    }
    if (!sendSucceeded(sendTimed("AT\r")))
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("Failed to initialise Local Device."));
}

void CLocalDevice::OnCbnSelchangeComPort()
{
    int position = m_comPort.GetCurSel();
    int port = 0;
    if (UartLostPort() != 0 && position >= 0 && position < m_comPort.GetCount() &&
        swscanf(m_comPort.GetLBText(position).c_str(), L"COM%d", &port) == 1 && port != UartLostPort())
        UartForgetLost();
}

void CLocalDevice::RestartOnReopenedPort()
{
    resetEngineState();
    postNotify(ID_NOTIFY_STATUS, 0);
    EnableDeviceControls(false);
    if (!sendSucceeded(sendTimed("AT\r")))
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("Failed to initialise Local Device."));
}

void CLocalDevice::UpdateLocalDeviceWindow()
{
    m_deviceAddress.SetWindowTextW(fieldToWide(device.address, sizeof device.address).c_str());
    m_deviceName.SetWindowTextW(fieldToWide(device.name, sizeof device.name).c_str());
    m_pinCode.SetWindowTextW(device.pinDisabled ? L"" : fieldToWide(device.pin, sizeof device.pin).c_str());
    // A check box is checked for any value but zero; of two radio buttons the
    // first is checked for its own value only.
    for (const AdapterSetting& row : kAdapterSettings) {
        if (!isAdapterControl(row))
            continue;
        const int32_t value = row.value();
        if (!row.otherControl) {
            CheckDlgButton(row.control, value ? BST_CHECKED : BST_UNCHECKED);
        } else {
            const int low = row.control < row.otherControl ? row.control : row.otherControl;
            const int high = row.control < row.otherControl ? row.otherControl : row.control;
            CheckRadioButton(low, high, value == row.words[0].value ? row.control : row.otherControl);
        }
    }
    // A code the list does not hold (19, or 0 before the adapter reported
    // one) leaves the list without a selection.
    m_baudRate.SetCurSel(baudRowOfCode(device.baudCode));
    showLineSettings();
}

BOOL CLocalDevice::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    // clang-format off
    static constexpr ToolTipText kToolTips[] = {
        {IDC_LD_GET_DEVICE_INFO, L"Reads the settings on the Device and updates the Local Device Window"},
        {IDC_LD_PROGRAM_DEVICE, L"Save the settings that have been changed on the Local Device Window to the device"},
        {IDC_LD_RESET_DEVICE, L"Resets the Device"},
        {IDC_LD_RESTART_DEVICE, L"Reinitializes the serial port and tries to establish communication with the device again"},
        {IDC_LD_SEND_AT_COMMAND, L"Send the AT Command typed in the AT Command Edit box"},
    };
    // clang-format on
    return answerToolTip(id, pNMHDR, kToolTips);
}
