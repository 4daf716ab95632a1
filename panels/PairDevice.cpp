#include "panels/PairDevice.h"

#include "atcommand/atcommand.h"
#include "panels/panel_text.h"


CPairDevice::CPairDevice() : CDialog(IDD_PAIR_DEVICE) {}

void CPairDevice::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PD_DEVICE1_ADDRESS, m_device1Address);
    DDX_Control(pDX, IDC_PD_DEVICE1_NAME, m_device1Name);
    DDX_Control(pDX, IDC_PD_DEVICE2_ADDRESS, m_device2Address);
    DDX_Control(pDX, IDC_PD_DEVICE2_NAME, m_device2Name);
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

BOOL CPairDevice::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    static constexpr ToolTipText kToolTips[] = {
        {IDC_PD_PAIR, L"Pair the Local Device with another Device"},
        {IDC_PD_UNPAIR, L"Unpair the Local Device with another Device"},
    };
    return answerToolTip(id, pNMHDR, kToolTips);
}
