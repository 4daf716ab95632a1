// The Local Device panel: line settings, bringing the adapter up, reading and
// programming its settings, raw AT commands.
#pragma once
#include "framework/dialog.h"
#include "panels/command_line.h"
#include "panels/panel_ids.h"

class CLocalDevice : public CPanelImpl<CLocalDevice> {
public:
    CLocalDevice();

    // Redisplays the device record and the line settings of uart.
    void UpdateLocalDeviceWindow();
    // Enables or disables every control that acts on the adapter; the line
    // settings and Get Device Info always stay usable.
    void EnableDeviceControls(bool enable);
    // Copies the panel's line settings into uart and opens the port.
    bool InitialiseUart();
    // The firmware version label; the main window writes it when the adapter
    // reports its version.
    void SetFirmwareLabel(const wchar_t* text);

    void OnBnClickedGetDeviceInfo();
    void OnBnClickedResetDevice();
    void OnBnClickedProgramDevice();
    void OnBnClickedSendAtCommand();
    void OnBnClickedDisableAuthentication();
    void OnBnClickedRestartDevice();
    // Another port chosen: a lost port is no longer waited for.
    void OnCbnSelchangeComPort();
    // The tool has opened the lost port again: the rest of Restart Device.
    void RestartOnReopenedPort();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult) override;

private:
    void showLineSettings();

    CComboBox m_comPort;
    CComboBox m_baudRate;
    CComboBox m_parity;
    CEdit m_deviceAddress;
    CEdit m_deviceName;
    CEdit m_pinCode;
    CCommandLineEdit m_atCommand{IDC_LD_SEND_AT_COMMAND};
    CButton m_disableAuthentication;
    CStatic m_firmwareVersion;
};
