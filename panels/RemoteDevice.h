// The Remote Device panel: the remote adapter reached over an open
// connection.
#pragma once
#include "framework/dialog.h"
#include "panels/panel_ids.h"

class CRemoteDevice : public CPanelImpl<CRemoteDevice> {
public:
    CRemoteDevice();

    // Mirrors the handshake state in the buttons and shows the connected
    // remote adapter's address (empty without a connection).
    void UpdateRemoteDeviceWindow();

    void OnBnClickedHandshake();
    void OnBnClickedProgramRemoteDevice();
    void OnBnClickedExitRemoteAccess();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult) override;

private:
    CEdit m_adapterAddress;
    CComboBox m_baudRate;
};
