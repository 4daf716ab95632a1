// The main window: panel switching, menu, operator's log, status lights,
// the engine's timers and every notification of the engine and the driver.
#pragma once
#include "app/Led.h"
#include "common/seams.h"
#include "framework/dialog.h"
#include <cstdint>
#include <string>

class CLocalDevice;
class CRemoteDevice;
class CConnection;
class CPairDevice;

class CRZ310_ConfigDlg : public CDialog {
public:
    explicit CRZ310_ConfigDlg(CWnd* parent = nullptr);
    ~CRZ310_ConfigDlg() override;

    // Shows the panel of template 135, 136, 138 or 139 in the panel rectangle.
    void ShowPanel(int32_t templateId);
    // Appends one line (8-bit text) to the log window and to the trace, with
    // the log lines posted right behind it.
    void AppendLog(const char* text);
    // The same for the texts waiting in the engine's log queue.
    void AppendQueuedLog();
    // Sets and draws the three lights from the driver's and engine's records.
    void UpdateStatusLights();
    // Opens a document of the start-up directory with the shell.
    void OpenHelpDocument(const char* name);
    // Debug > Enable Debug: switches the trace and its check mark.
    void OnEnableDebug();
    void OnAbout();

    void OnBnClickedLocalDevice();
    void OnBnClickedPairDevice();
    void OnBnClickedConnection();
    void OnBnClickedRemoteDevice();

    int32_t currentPanel() const { return m_currentPanel; }
    CLocalDevice* localDevice() const { return m_pLocalDevice; }
    CRemoteDevice* remoteDevice() const { return m_pRemoteDevice; }
    CConnection* connection() const { return m_pConnection; }
    CPairDevice* pairDevice() const { return m_pPairDevice; }
    const CLed& uartLed() const { return m_uartLed; }
    const CLed& deviceLed() const { return m_deviceLed; }
    const CLed& connectionLed() const { return m_connectionLed; }
    HMENU menu() const { return m_menu; }

    // Public for the timer tests; the system calls it through WM_TIMER.
    void OnTimer(UINT_PTR id) override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // The buttons, the menu and every notification of the engine and the
    // driver (kRoutes).
    bool RouteCommand(UINT id, UINT code, LPARAM lParam) override;
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult) override;
    void OnDestroy() override;
    void OnSysCommand(UINT id, LPARAM lParam) override;

private:
    // Adds the log lines posted right behind `lines` (`taken` of them so far)
    // and puts them all in at the end of the log.
    void appendLogLines(std::wstring lines, size_t taken);
    void onFileExit();
    void showFirmwareVersion();
    // The port's device is gone: everything that waits on it ends, and the
    // port is tried again every PORT_RETRY_MS.
    void onPortLost(int32_t port);
    void retryLostPort();
    void stopPortRetries();
    void createPanels();
    void deletePanels();
    // A notification's row that redisplays a panel; a panel not yet made (or
    // already gone) has nothing to update.
    template <class Panel, Panel* CRZ310_ConfigDlg::*panel, void (Panel::*update)()>
    static void updatePanel(CRZ310_ConfigDlg& self, LPARAM)
    {
        if (Panel* target = self.*panel)
            (target->*update)();
    }

    HICON m_hIcon;
    CEdit m_log;
    CLed m_uartLed;
    CLed m_deviceLed;
    CLed m_connectionLed;
    CStatic m_panelFrame;
    CLocalDevice* m_pLocalDevice = nullptr;
    CRemoteDevice* m_pRemoteDevice = nullptr;
    CConnection* m_pConnection = nullptr;
    CPairDevice* m_pPairDevice = nullptr;
    int32_t m_currentPanel = 0;
    // Set once the four panels exist; panel switching and the exit clean-up
    // do nothing before.
    bool m_panelsCreated = false;
    // Where the panels stand: one pixel inside the panel frame, in client
    // coordinates.
    RECT m_panelRect = {0, 0, 0, 0};
    // Kept for the Debug toggle (nullptr: no toggle).
    HMENU m_menu = nullptr;
    // The lost port being tried again; 0 when none is.
    int32_t m_lostPort = 0;

    static const CommandRoute<CRZ310_ConfigDlg> kRoutes[];
};
