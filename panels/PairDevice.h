// The Pair Device panel: bonds two adapters to each other, one after the
// other on the same port, and removes such a bond again.
#pragma once
#include "framework/dialog.h"
#include "panels/panel_ids.h"
#include <cstdint>

class CPairDevice : public CPanelImpl<CPairDevice> {
public:
    CPairDevice();

    // Shows the addresses and names held in the pairing record.
    void UpdatePairDeviceWindow();

    // Both procedures run to their end here, on the user-interface thread,
    // with blocking sends; message boxes pace the operator's cable changes.
    void OnBnClickedPairDevice();
    void OnBnClickedUnpairDevice();

    // Puts the saved line settings back on the port for Device 1: 0 when
    // the port took them, 1 when not.
    int restoreUartSettings(int32_t baud, int32_t parity, int32_t flow, int32_t stopBits);

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
