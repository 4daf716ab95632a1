#include "panels/Connection.h"

#include "atcommand/atcommand.h"
#include "panels/panel_text.h"


CConnection::CConnection() : CDialog(IDD_CONNECTION) {}

void CConnection::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CN_RESULTS, m_inquiryResults);
    DDX_Control(pDX, IDC_CN_ADDRESS, m_selectedDevice);
}

BOOL CConnection::OnInitDialog()
{
    CDialog::OnInitDialog();
    EnableDlgItem(IDC_CN_CANCEL_INQUIRY, false);
    EnableDlgItem(IDC_CN_DISCONNECT, false);
    EnableToolTips(TRUE);
    return TRUE;
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

void CConnection::UpdateConnectionButtons()
{
    EnableDlgItem(IDC_CN_CANCEL_INQUIRY, device.isInquiryActive == 1);
    EnableDlgItem(IDC_CN_DISCONNECT, device.isConnected == 1);
}

BOOL CConnection::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*)
{
    static constexpr ToolTipText kToolTips[] = {
        {IDC_CN_INQUIRE, L"Start Bluetooth Inquiry. The Device can inquire only when it is in master mode and auto connect is disabled"},
        {IDC_CN_CONNECT, L"Initiate a connection to selected device"},
        {IDC_CN_CANCEL_INQUIRY, L"Cancel active bluetooth inquiry"},
        {IDC_CN_DISCONNECT, L"Initiate a disconnection to connected device"},
    };
    return answerToolTip(id, pNMHDR, kToolTips);
}
