#include "panels/RemoteDevice.h"

#include "common/msgbox.h"
#include "atcommand/atcommand.h"
#include "panels/panel_text.h"

namespace {

constexpr CommandRoute<CRemoteDevice> kRoutes[] = {
    {IDC_RD_HANDSHAKE, BN_CLICKED, &CRemoteDevice::OnBnClickedHandshake},
    {IDC_RD_PROGRAM_REMOTE, BN_CLICKED, &CRemoteDevice::OnBnClickedProgramRemoteDevice},
    {IDC_RD_EXIT_REMOTE, BN_CLICKED, &CRemoteDevice::OnBnClickedExitRemoteAccess},
};

// The Baud Rate list holds 9600 to 115200; the remote adapter knows them as
// codes 1 to 5.
constexpr int REMOTE_BAUD_CODES = 5;

// Remote requests travel over the connection; without one, nothing is sent.
bool connected()
{
    if (device.isConnected)
        return true;
    showMessageBox(L"Local Device is not connected. Please connect the device and then try handshake.");
    return false;
}

} // namespace

CRemoteDevice::CRemoteDevice() : CPanelImpl(IDD_REMOTE_DEVICE, kRoutes) {}

void CRemoteDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RD_ADDRESS, m_adapterAddress);
    DDX_Control(pDX, IDC_RD_BAUD_RATE, m_baudRate);
}

BOOL CRemoteDevice::OnInitDialog()
{
    CPanelImpl::OnInitDialog();
    // Remote commands need a completed handshake first.
    EnableDlgItem(IDC_RD_PROGRAM_REMOTE, false);
    EnableDlgItem(IDC_RD_EXIT_REMOTE, false);
    m_baudRate.SetCurSel(0);
    return TRUE;
}

void CRemoteDevice::OnBnClickedHandshake()
{
    if (!device.isDeviceInitialised) {
        showMessageBox(
            L"Local Device is not initialised. Please initialise and connect the device and then try handshake .");
        return;
    }
    if (!connected())
        return;
    startHandshake();
}

void CRemoteDevice::OnBnClickedProgramRemoteDevice()
{
    if (!connected())
        return;
    int position = m_baudRate.GetCurSel();
    // The drop-down list starts with 9600 selected and cannot be emptied;
    // a code the remote adapter does not know is never sent.
    if (position < 0 || position >= REMOTE_BAUD_CODES)
        return;
    sendRemoteCommand(REMOTE_CMD_BAUD, static_cast<uint8_t>(position + 1));
}

void CRemoteDevice::OnBnClickedExitRemoteAccess()
{
    if (!connected())
        return;
    sendRemoteCommand(REMOTE_CMD_EXIT, 0x80);
}

void CRemoteDevice::UpdateRemoteDeviceWindow()
{
    // Remote commands are offered only after a completed handshake.
    bool complete = handshakeState == HANDSHAKE_COMPLETE;
    EnableDlgItem(IDC_RD_HANDSHAKE, !complete);
    EnableDlgItem(IDC_RD_PROGRAM_REMOTE, complete);
    EnableDlgItem(IDC_RD_EXIT_REMOTE, complete);
    m_adapterAddress.SetWindowTextW(fieldToWide(remoteAddress, sizeof remoteAddress).c_str());
}

BOOL CRemoteDevice::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    // clang-format off
    static constexpr ToolTipText kToolTips[] = {
        {IDC_RD_PROGRAM_REMOTE, L"Change the Baudrate on the remote device to the one selected in Baudrate selection box"},
        {IDC_RD_HANDSHAKE, L"Handshake the local Device with remote Device. Handshaking is required before doing remote configuration"},
        {IDC_RD_EXIT_REMOTE, L"Request the connected remote device to exit remote access mode"},
    };
    // clang-format on
    return answerToolTip(id, pNMHDR, kToolTips);
}
