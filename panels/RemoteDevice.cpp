#include "panels/RemoteDevice.h"

#include "atcommand/atcommand.h"
#include "panels/panel_text.h"


CRemoteDevice::CRemoteDevice() : CDialog(IDD_REMOTE_DEVICE) {}

void CRemoteDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RD_ADDRESS, m_adapterAddress);
    DDX_Control(pDX, IDC_RD_BAUD_RATE, m_baudRate);
}

BOOL CRemoteDevice::OnInitDialog()
{
    CDialog::OnInitDialog();
    // Remote commands need a completed handshake first.
    EnableDlgItem(IDC_RD_PROGRAM_REMOTE, false);
    EnableDlgItem(IDC_RD_EXIT_REMOTE, false);
    m_baudRate.SetCurSel(0);
    EnableToolTips(TRUE);
    return TRUE;
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
    static constexpr ToolTipText kToolTips[] = {
        {IDC_RD_PROGRAM_REMOTE, L"Change the Baudrate on the remote device to the one selected in Baudrate selection box"},
        {IDC_RD_HANDSHAKE, L"Handshake the local Device with remote Device. Handshaking is required before doing remote configuration"},
        {IDC_RD_EXIT_REMOTE, L"Request the connected remote device to exit remote access mode"},
    };
    return answerToolTip(id, pNMHDR, kToolTips);
}
