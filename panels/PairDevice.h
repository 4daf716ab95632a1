// The Pair Device panel: the two adapters of a pairing.
#pragma once
#include "framework/dialog.h"
#include "panels/panel_ids.h"

class CPairDevice : public CDialog {
public:
    CPairDevice();

    // Shows the addresses and names held in the pairing record.
    void UpdatePairDeviceWindow();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult) override;

private:
    CEdit m_device1Address;
    CEdit m_device1Name;
    CEdit m_device2Address;
    CEdit m_device2Name;
};
