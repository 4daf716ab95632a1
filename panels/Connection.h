// The Connection panel: inquiry results, connecting and disconnecting.
#pragma once
#include "framework/dialog.h"
#include "panels/panel_ids.h"

class CConnection : public CPanelImpl<CConnection> {
public:
    CConnection();

    // Rewrites the result rows in place from the inquiry record; new results
    // are appended in arrival order.
    void UpdateInquiryResults();
    // "Cancel Inquiry" follows the running inquiry, "Disconnect" the open
    // connection.
    void UpdateConnectionButtons();

    void OnBnClickedInquireDevices();
    void OnBnClickedCancelInquiry();
    void OnLbnSelchangeInquiryResults();
    void OnBnClickedConnect();
    void OnBnClickedDisconnect();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult) override;

private:
    CListBox m_inquiryResults;
    CEdit m_selectedDevice;
};
