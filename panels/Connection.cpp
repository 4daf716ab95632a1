#include "panels/Connection.h"

#include "common/debuglog.h"
#include "common/msgbox.h"
#include "atcommand/atcommand.h"
#include "panels/panel_text.h"

#include <cstring>
#include <string>

namespace {

constexpr CommandRoute<CConnection> kRoutes[] = {
    {IDC_CN_INQUIRE, BN_CLICKED, &CConnection::OnBnClickedInquireDevices},
    {IDC_CN_CANCEL_INQUIRY, BN_CLICKED, &CConnection::OnBnClickedCancelInquiry},
    {IDC_CN_RESULTS, LBN_SELCHANGE, &CConnection::OnLbnSelchangeInquiryResults},
    {IDC_CN_CONNECT, BN_CLICKED, &CConnection::OnBnClickedConnect},
    {IDC_CN_DISCONNECT, BN_CLICKED, &CConnection::OnBnClickedDisconnect},
};

// Where a result line carries the device's address, "0000-00-000000".
constexpr size_t kAddressStart = 34;
constexpr size_t kAddressLength = 14;

} // namespace

CConnection::CConnection() : CPanelImpl(IDD_CONNECTION, kRoutes) {}

void CConnection::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CN_RESULTS, m_inquiryResults);
    DDX_Control(pDX, IDC_CN_ADDRESS, m_selectedDevice);
}

BOOL CConnection::OnInitDialog()
{
    CPanelImpl::OnInitDialog();
    // Nothing longer than the command buffer takes is ever formatted or sent.
    m_selectedDevice.SetLimitText(CN_ADDRESS_LIMIT);
    EnableDlgItem(IDC_CN_CANCEL_INQUIRY, false);
    EnableDlgItem(IDC_CN_DISCONNECT, false);
    return TRUE;
}

void CConnection::OnBnClickedInquireDevices()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"Local Device is not initialised. Please initialise the device and then start inquiry.");
        return;
    }
    sendAndWait("AT+FIND?\r");
    if (device.isInquiryActive == 1)
        EnableDlgItem(IDC_CN_CANCEL_INQUIRY, true);
}

void CConnection::OnBnClickedCancelInquiry()
{
    sendAndWait("AT+FIND-\r");
    if (device.isInquiryActive == 0)
        EnableDlgItem(IDC_CN_CANCEL_INQUIRY, false);
}

void CConnection::UpdateInquiryResults()
{
    int count = inquiry.resultCount;
    if (count > INQUIRY_RESULTS)
        count = INQUIRY_RESULTS;
    for (int i = 0; i < count; ++i) {
        const std::wstring row = fieldToWide(inquiry.results[i], sizeof inquiry.results[i]);
        m_inquiryResults.DeleteString(i);
        m_inquiryResults.InsertString(i, row.c_str());
    }
}

void CConnection::OnLbnSelchangeInquiryResults()
{
    int index = m_inquiryResults.GetCurSel();
    if (index < 0 || index >= INQUIRY_RESULTS || index >= inquiry.resultCount)
        return;
    const std::string result = fieldText(inquiry.results[index], sizeof inquiry.results[index]);
    if (result.find("Inquiry End") != std::string::npos) {
        m_selectedDevice.SetWindowTextW(L"");
        return;
    }
    std::string address;
    if (result.size() > kAddressStart) {
        for (char c : result.substr(kAddressStart, kAddressLength))
            if (c != '-')
                address += c;
    }
    m_selectedDevice.SetWindowTextW(fieldToWide(address.c_str(), address.size()).c_str());
}

void CConnection::OnBnClickedConnect()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(L"Local Device is not initialised. Please initialise the device and then connect.");
        return;
    }
    std::wstring typed = m_selectedDevice.GetWindowTextW();
    if (typed.empty())
        return;
    CharUpperBuffW(&typed[0], static_cast<DWORD>(typed.size()));
    const std::string address = wideToAnsi(typed, CN_ADDRESS_LIMIT);
    char command[COMMAND_SIZE];
    formatCommand(command, "AT+CONN=%s\r", address.c_str());
    sendAndWait(command);
}

void CConnection::OnBnClickedDisconnect()
{
    if (clearHandshakeActive())
        debugLog("CONNECTION: Device Handshaked to other device. Setting Handshake to FALSE before disconnecting.");
    // The operator has used the way out of a link the tool had forgotten;
    // the adapter's answer or report tells the rest.
    forgetRemainingLink();
    sendAndWait("AT+DROP\r");
    UpdateConnectionButtons();
}

void CConnection::UpdateConnectionButtons()
{
    EnableDlgItem(IDC_CN_CANCEL_INQUIRY, device.isInquiryActive == 1);
    EnableDlgItem(IDC_CN_DISCONNECT, device.isConnected == 1 || linkMayRemain == 1);
}

BOOL CConnection::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    // clang-format off
    static constexpr ToolTipText kToolTips[] = {
        {IDC_CN_INQUIRE, L"Start Bluetooth Inquiry. The Device can inquire only when it is in master mode and auto connect is disabled"},
        {IDC_CN_CONNECT, L"Initiate a connection to selected device"},
        {IDC_CN_CANCEL_INQUIRY, L"Cancel active bluetooth inquiry"},
        {IDC_CN_DISCONNECT, L"Initiate a disconnection to connected device"},
    };
    // clang-format on
    return answerToolTip(id, pNMHDR, kToolTips);
}
