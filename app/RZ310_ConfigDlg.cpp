#include "app/RZ310_ConfigDlg.h"
#include "app/engine_events.h"
#include "common/workdir.h"

#include "common/debuglog.h"
#include "common/msgbox.h"
#include "app/shellopen.h"
#include "common/notify.h"
#include "common/text.h"
#include "atcommand/atcommand.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/PairDevice.h"
#include "panels/panel_ids.h"
#include "panels/RemoteDevice.h"
#include "res/resource.h"
#include "serial/uart.h"
#include "settings/settings.h"

#include <commctrl.h>
#include <shellapi.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int32_t LOCAL_DEVICE_PANEL = IDD_LOCAL_DEVICE;
constexpr int32_t REMOTE_DEVICE_PANEL = IDD_REMOTE_DEVICE;
constexpr int32_t CONNECTION_PANEL = IDD_CONNECTION;
constexpr int32_t PAIR_DEVICE_PANEL = IDD_PAIR_DEVICE;

constexpr size_t STARTUP_DIR_CHARS = sizeof startupDirectory / sizeof startupDirectory[0];

constexpr UINT PORT_RETRY_MS = 2000;

// Lines per insertion into the log, so that one burst cannot hold the window long.
constexpr size_t LOG_BATCH = 500;

// One line of the log, traced as it goes in.
void addLogLine(std::wstring& lines, const char* text)
{
    debugLog("%s", text);
    lines += ansiToWide(text) + L"\r\n";
}

// Up to `room` of the texts waiting in the engine's queue; returns how many.
size_t addQueuedLogLines(std::wstring& lines, size_t room)
{
    std::vector<std::string> texts;
    takeLogTexts(texts, room);
    for (const std::string& text : texts)
        addLogLine(lines, text.c_str());
    return texts.size();
}

} // namespace

// clang-format off
const CommandRoute<CRZ310_ConfigDlg> CRZ310_ConfigDlg::kRoutes[] = {
    {IDC_LOCAL_DEVICE, BN_CLICKED, &CRZ310_ConfigDlg::OnBnClickedLocalDevice},
    {IDC_PAIR_DEVICE, BN_CLICKED, &CRZ310_ConfigDlg::OnBnClickedPairDevice},
    {IDC_CONNECTION, BN_CLICKED, &CRZ310_ConfigDlg::OnBnClickedConnection},
    {IDC_REMOTE_DEVICE, BN_CLICKED, &CRZ310_ConfigDlg::OnBnClickedRemoteDevice},

    {ID_FILE_SAVE_SETTINGS, 0, [](CRZ310_ConfigDlg&, LPARAM) { saveSettingsFile(); }},
    {ID_FILE_LOAD_SETTINGS, 0, [](CRZ310_ConfigDlg&, LPARAM) { loadSettingsFile(); }},
    {ID_FILE_EXIT, 0, &CRZ310_ConfigDlg::onFileExit},
    {ID_DEBUG_ENABLE_DEBUG, 0, &CRZ310_ConfigDlg::OnEnableDebug},
    {ID_HELP_USER_MANUAL, 0,
     [](CRZ310_ConfigDlg& w, LPARAM) { w.OpenHelpDocument("RZ310 Configuration Manual.pdf"); }},
    {ID_HELP_AT_COMMAND_MANUAL, 0, [](CRZ310_ConfigDlg& w, LPARAM) { w.OpenHelpDocument("AT Command Manual.pdf"); }},
    {ID_HELP_ABOUT, 0, &CRZ310_ConfigDlg::OnAbout},

    // The engine's and the driver's notifications.
    {ID_NOTIFY_LOG, 0, [](CRZ310_ConfigDlg& w, LPARAM text) { w.AppendLog(reinterpret_cast<const char*>(text)); }},
    {ID_NOTIFY_LOG_QUEUED, 0, [](CRZ310_ConfigDlg& w, LPARAM) { w.AppendQueuedLog(); }},
    {ID_NOTIFY_LOCAL_DEVICE, 0,
     &updatePanel<CLocalDevice, &CRZ310_ConfigDlg::m_pLocalDevice, &CLocalDevice::UpdateLocalDeviceWindow>},
    {ID_NOTIFY_DEVICE_CONTROLS, 0,
     [](CRZ310_ConfigDlg& w, LPARAM enable) {
         if (w.m_pLocalDevice)
             w.m_pLocalDevice->EnableDeviceControls(enable != 0);
     }},
    {ID_NOTIFY_FIRMWARE_VERSION, 0, &CRZ310_ConfigDlg::showFirmwareVersion},
    {ID_NOTIFY_PAIR_DEVICE, 0,
     &updatePanel<CPairDevice, &CRZ310_ConfigDlg::m_pPairDevice, &CPairDevice::UpdatePairDeviceWindow>},
    {ID_NOTIFY_STATUS, 0, &CRZ310_ConfigDlg::UpdateStatusLights},
    {ID_NOTIFY_INQUIRY_RESULT, 0,
     &updatePanel<CConnection, &CRZ310_ConfigDlg::m_pConnection, &CConnection::UpdateInquiryResults>},
    {ID_NOTIFY_INQUIRY_CLEAR, 0,
     [](CRZ310_ConfigDlg& w, LPARAM) {
         if (w.m_pConnection && w.m_pConnection->m_hWnd)
             SendDlgItemMessageW(w.m_pConnection->m_hWnd, IDC_CN_RESULTS, LB_RESETCONTENT, 0, 0);
     }},
    {ID_NOTIFY_INQUIRY_END, 0,
     &updatePanel<CConnection, &CRZ310_ConfigDlg::m_pConnection, &CConnection::UpdateConnectionButtons>},
    {ID_NOTIFY_REMOTE_DEVICE, 0,
     &updatePanel<CRemoteDevice, &CRZ310_ConfigDlg::m_pRemoteDevice, &CRemoteDevice::UpdateRemoteDeviceWindow>},
    {ID_NOTIFY_HANDSHAKE_HANDLED, 0,
     [](CRZ310_ConfigDlg& w, LPARAM arming) { engineNotification(w.m_hWnd, ID_NOTIFY_HANDSHAKE_HANDLED, arming); }},
    {ID_NOTIFY_PORT_LOST, 0,
     [](CRZ310_ConfigDlg& w, LPARAM port) { w.onPortLost(static_cast<int32_t>(port)); }},
    {ID_NOTIFY_MESSAGE_BOX, 0,
     [](CRZ310_ConfigDlg& w, LPARAM text) { engineNotification(w.m_hWnd, ID_NOTIFY_MESSAGE_BOX, text); }},
};
// clang-format on

CRZ310_ConfigDlg::CRZ310_ConfigDlg(CWnd* parent)
    : CDialog(IDD_RZ310_CONFIG_DIALOG, parent), m_hIcon(LoadIconW(resourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
}

CRZ310_ConfigDlg::~CRZ310_ConfigDlg()
{
    // Normally done by the exit sequence; this covers a window never shown.
    deletePanels();
}

void CRZ310_ConfigDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG, m_log);
    DDX_Control(pDX, IDC_LED_UART, m_uartLed);
    DDX_Control(pDX, IDC_LED_DEVICE, m_deviceLed);
    DDX_Control(pDX, IDC_LED_CONNECTION, m_connectionLed);
    DDX_Control(pDX, IDC_PANEL_FRAME, m_panelFrame);
}

namespace {

void addAboutToSystemMenu(HWND window)
{
    HMENU systemMenu = GetSystemMenu(window, FALSE);
    if (!systemMenu)
        return;
    wchar_t about[128] = {};
    LoadStringW(resourceInstance(), IDS_ABOUTBOX, about, 128);
    if (about[0]) {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
}

// Every record cleared, then the line settings of settings.txt in uart.
void startRecords()
{
    uart = Uart{};
    resetEngineState();
    forgetKnownSettings();
    // A trace left on (only possible when a window is opened twice in one
    // process) is closed properly rather than dropped with its stream open.
    if (debugFlag || debugFile)
        toggleDebugLog(true);
    debugFlag = 0;

    if (readSettingsFile("settings.txt") == 1) {
        uart.port = loadedSettings.port;
        uart.baud = loadedSettings.baud;
        uart.parity = loadedSettings.parity;
        uart.stopBits = loadedSettings.stopBits;
        uart.flow = loadedSettings.flowControl;
    }
}

void rememberStartupDirectory()
{
    std::wstring dir = currentDirectory();
    if (dir.size() >= STARTUP_DIR_CHARS) {
        // Too long for the buffer: the short form of the same directory may
        // fit; otherwise leave it empty, which means "the current directory".
        wchar_t shortDir[STARTUP_DIR_CHARS] = {};
        DWORD n = GetShortPathNameW(dir.c_str(), shortDir, static_cast<DWORD>(STARTUP_DIR_CHARS));
        dir = (n > 0 && n < STARTUP_DIR_CHARS) ? std::wstring(shortDir, n) : std::wstring();
        debugLog("Start-up directory too long for its buffer; using %ls",
                 dir.empty() ? L"the current one" : dir.c_str());
    }
    wcsncpy(startupDirectory, dir.c_str(), STARTUP_DIR_CHARS - 1);
    startupDirectory[STARTUP_DIR_CHARS - 1] = L'\0';
}

} // namespace

void CRZ310_ConfigDlg::createPanels()
{
    m_pLocalDevice = new CLocalDevice;
    m_pLocalDevice->Create(LOCAL_DEVICE_PANEL, this);
    m_pRemoteDevice = new CRemoteDevice;
    m_pRemoteDevice->Create(REMOTE_DEVICE_PANEL, this);
    m_pConnection = new CConnection;
    m_pConnection->Create(CONNECTION_PANEL, this);
    m_pPairDevice = new CPairDevice;
    m_pPairDevice->Create(PAIR_DEVICE_PANEL, this);
}

BOOL CRZ310_ConfigDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    addAboutToSystemMenu(m_hWnd);
    SendMessageW(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    mainHwnd = m_hWnd;
    uiThreadId = GetCurrentThreadId();
    m_menu = GetMenu(m_hWnd);

    startRecords();
    createPanels();
    rememberStartupDirectory();

    // The log is never cut: lift the edit control's limit, which would
    // otherwise refuse appended text.
    m_log.SetLimitText(0);

    EnableToolTips(TRUE);

    m_panelsCreated = true;
    m_currentPanel = LOCAL_DEVICE_PANEL;

    // One pixel inside the frame, in client coordinates: independent of
    // where the window stands and of the caption and menu heights.
    RECT frame = m_panelFrame.GetWindowRect();
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&frame), 2);
    m_panelRect = {frame.left + 1, frame.top + 1, frame.right - 1, frame.bottom - 1};

    ShowPanel(LOCAL_DEVICE_PANEL);
    return TRUE;
}

bool CRZ310_ConfigDlg::RouteCommand(UINT id, UINT code, LPARAM lParam)
{
    return routeCommand(this, kRoutes, id, code, lParam);
}

void CRZ310_ConfigDlg::onFileExit()
{
    // A modal window is destroyed by ending its run; the exit sequence
    // follows from WM_DESTROY either way.
    if (IsModal())
        EndDialog(IDOK);
    else
        DestroyWindow();
}

void CRZ310_ConfigDlg::showFirmwareVersion()
{
    if (!m_pLocalDevice)
        return;
    // Sized for the whole version field, so no answer is cut short.
    wchar_t version[sizeof device.version] = {};
    ansiToWide(device.version, sizeof device.version - 1, version, static_cast<int>(sizeof device.version));
    m_pLocalDevice->SetFirmwareLabel(version);
}

void CRZ310_ConfigDlg::OnBnClickedLocalDevice() { ShowPanel(LOCAL_DEVICE_PANEL); }
void CRZ310_ConfigDlg::OnBnClickedPairDevice() { ShowPanel(PAIR_DEVICE_PANEL); }
void CRZ310_ConfigDlg::OnBnClickedConnection() { ShowPanel(CONNECTION_PANEL); }
void CRZ310_ConfigDlg::OnBnClickedRemoteDevice() { ShowPanel(REMOTE_DEVICE_PANEL); }

void CRZ310_ConfigDlg::ShowPanel(int32_t templateId)
{
    if (!m_panelsCreated)
        return;
    CDialog* target = nullptr;
    switch (templateId) {
    case LOCAL_DEVICE_PANEL:
        target = m_pLocalDevice;
        break;
    case REMOTE_DEVICE_PANEL:
        target = m_pRemoteDevice;
        break;
    case CONNECTION_PANEL:
        target = m_pConnection;
        break;
    case PAIR_DEVICE_PANEL:
        target = m_pPairDevice;
        break;
    default:
        return;
    }
    CDialog* panels[] = {m_pLocalDevice, m_pRemoteDevice, m_pConnection, m_pPairDevice};
    for (CDialog* panel : panels)
        if (panel)
            panel->ShowWindow(SW_HIDE);
    if (!target)
        return;
    SetWindowPos(target->m_hWnd, nullptr, m_panelRect.left, m_panelRect.top, m_panelRect.right - m_panelRect.left,
                 m_panelRect.bottom - m_panelRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    target->ShowWindow(SW_SHOW);
    m_currentPanel = templateId;
}

void CRZ310_ConfigDlg::AppendLog(const char* text)
{
    std::wstring lines;
    addLogLine(lines, text ? text : "");
    appendLogLines(std::move(lines), 1);
}

void CRZ310_ConfigDlg::AppendQueuedLog()
{
    std::wstring lines;
    size_t taken = addQueuedLogLines(lines, LOG_BATCH);
    appendLogLines(std::move(lines), taken);
}

void CRZ310_ConfigDlg::appendLogLines(std::wstring lines, size_t taken)
{
    // Appended at the end: rewriting the whole text would make each line
    // cost more the longer the log grows. The edit control still walks all
    // its lines on every insertion, so the lines that wait next in the queue
    // go in with these: a burst costs one insertion, not one per line. Only
    // while the next posted message is a log line, so that no line overtakes
    // the work queued before it.
    MSG next;
    while (taken < LOG_BATCH) {
        if (!PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE) || next.hwnd != m_hWnd ||
            next.message != WM_COMMAND || (next.wParam != ID_NOTIFY_LOG && next.wParam != ID_NOTIFY_LOG_QUEUED))
            break;
        PeekMessageW(&next, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE);
        if (next.wParam == ID_NOTIFY_LOG_QUEUED) {
            taken += addQueuedLogLines(lines, LOG_BATCH - taken);
        } else {
            addLogLine(lines, next.lParam ? reinterpret_cast<const char*>(next.lParam) : "");
            ++taken;
        }
    }
    if (lines.empty())
        return;
    DWORD end = static_cast<DWORD>(GetWindowTextLengthW(m_log.m_hWnd));
    DWORD selStart = 0, selEnd = 0;
    m_log.SendMessageW(EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    // The caret stands at the end after the last line, unless the operator
    // has clicked into the log meanwhile.
    if (selStart != end || selEnd != end)
        m_log.SetSel(static_cast<int>(end), static_cast<int>(end));
    m_log.ReplaceSel(lines.c_str());
    m_log.LineScroll(m_log.GetLineCount());
}

void CRZ310_ConfigDlg::UpdateStatusLights()
{
    struct Light {
        CLed& led;
        bool on;
    };
    Light lights[] = {
        {m_uartLed, uart.isUartActive != 0},
        {m_deviceLed, device.isDeviceInitialised != 0},
        {m_connectionLed, device.isConnected != 0},
    };
    for (Light& light : lights) {
        light.led.colorOffset = light.on ? 16 : 0;
        light.led.stateColumn = light.on ? 0 : 1;
        light.led.shapeOffset = 0;
        if (!light.led.m_hWnd)
            continue;
        HDC dc = GetDC(light.led.m_hWnd);
        DrawLed(light.led.stateColumn, light.led, dc, light.led.colorOffset, light.led.shapeOffset);
        ReleaseDC(light.led.m_hWnd, dc);
    }
}

void CRZ310_ConfigDlg::OnTimer(UINT_PTR id)
{
    if (id == PortRetryTimer) {
        KillTimer(PortRetryTimer);
        retryLostPort();
    } else if (const char* text = engineTimerExpired(m_hWnd, id)) {
        AppendLog(text);
    }
    CDialog::OnTimer(id);
}

void CRZ310_ConfigDlg::onPortLost(int32_t port)
{
    // Stale: given up or opened again since.
    if (port == 0 || UartLostPort() != port)
        return;
    KillTimer(DevInitTimer);
    KillTimer(ATCommandTimer);
    KillTimer(HandshakeCommandTimer);
    // Closing clears the record; the port is opened again with what it had.
    Uart lastUsed = uart;
    UartDeinit();
    lastUsed.isUartActive = 0;
    lastUsed.eventCallback = nullptr;
    uart = lastUsed;
    forgetAdapterLiveState();
    m_lostPort = port;
    UpdateStatusLights();
    if (m_pLocalDevice)
        m_pLocalDevice->EnableDeviceControls(false);
    if (m_pConnection)
        m_pConnection->UpdateConnectionButtons();
    if (m_pRemoteDevice)
        m_pRemoteDevice->UpdateRemoteDeviceWindow();
    char lost[160];
    snprintf(lost, sizeof lost,
             "Serial port COM%d lost. Plug the adapter back in; the tool opens the port again when it returns.", port);
    AppendLog(lost);
    ::SetTimer(m_hWnd, PortRetryTimer, PORT_RETRY_MS, nullptr);
}

void CRZ310_ConfigDlg::retryLostPort()
{
    if (m_lostPort == 0)
        return;
    // Another port chosen, Restart Device, or the operator opened it.
    if (UartLostPort() != m_lostPort || uart.isUartActive) {
        m_lostPort = 0;
        return;
    }
    debugLog("UART: Trying to open COM%d again", m_lostPort);
    if (UartInit(true) != 0) {
        ::SetTimer(m_hWnd, PortRetryTimer, PORT_RETRY_MS, nullptr);
        return;
    }
    char back[96];
    snprintf(back, sizeof back, "Serial port COM%d is back. Restarting the adapter.", m_lostPort);
    m_lostPort = 0;
    AppendLog(back);
    if (m_pLocalDevice)
        m_pLocalDevice->RestartOnReopenedPort();
}

void CRZ310_ConfigDlg::stopPortRetries()
{
    KillTimer(PortRetryTimer);
    m_lostPort = 0;
    UartForgetLost();
}

void CRZ310_ConfigDlg::OpenHelpDocument(const char* name)
{
    if (!name)
        return;
    std::wstring file = ansiToWide(name);
    std::wstring previous = currentDirectory();
    if (startupDirectory[0])
        SetCurrentDirectoryW(startupDirectory);

    INT_PTR result = seams.shellOpen ? seams.shellOpen(file.c_str()) : shellOpen(file.c_str());
    if (result <= 32) {
        char text[TEXT_SIZE];
        switch (result) {
        case 0:
            snprintf(text, sizeof text, "Out of memory");
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            snprintf(text, sizeof text, "%s not found", name);
            break;
        case ERROR_BAD_FORMAT:
            snprintf(text, sizeof text, "Corrupt File %s", name);
            break;
        default:
            snprintf(text, sizeof text, "Failed to load %s. Unknown reason", name);
            break;
        }
        showMessageBoxA(text, MB_OK);
    }

    if (!previous.empty())
        SetCurrentDirectoryW(previous.c_str());
}

void CRZ310_ConfigDlg::OnEnableDebug()
{
    if (!m_menu)
        return;
    bool checked = (GetMenuState(m_menu, ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND) & MF_CHECKED) != 0;
    bool on = toggleDebugLog(checked);
    CheckMenuItem(m_menu, ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void CRZ310_ConfigDlg::OnAbout()
{
    CDialog about(IDD_ABOUTBOX, this);
    about.DoModal();
}

void CRZ310_ConfigDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX)
        OnAbout();
    else
        CDialog::OnSysCommand(id, lParam);
}

BOOL CRZ310_ConfigDlg::OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult)
{
    static constexpr ToolTipText kToolTips[] = {
        {IDC_LOCAL_DEVICE, L"Enables the window that displays settings of the Device"},
        {IDC_REMOTE_DEVICE, L"Enables the window that displays functionality related to remote configuration"},
        {IDC_CONNECTION,
         L"Enables the window that displays functionality related to inquiry, connection and disconnection"},
        {IDC_PAIR_DEVICE, L"Enables the window that displays functionality related to pairing"},
    };
    return answerToolTip(id, pNMHDR, kToolTips, pResult);
}

void CRZ310_ConfigDlg::deletePanels()
{
    // In the order the panels were created.
    delete m_pLocalDevice;
    m_pLocalDevice = nullptr;
    delete m_pRemoteDevice;
    m_pRemoteDevice = nullptr;
    delete m_pConnection;
    m_pConnection = nullptr;
    delete m_pPairDevice;
    m_pPairDevice = nullptr;
}

void CRZ310_ConfigDlg::OnDestroy()
{
    CDialog::OnDestroy();
    stopPortRetries();
    if (startupDirectory[0])
        SetCurrentDirectoryW(startupDirectory);
    // By its full path, whatever the directory is by now.
    std::wstring settingsPath = startupDirectory;
    if (!settingsPath.empty() && settingsPath.back() != L'\\')
        settingsPath += L'\\';
    settingsPath += L"settings.txt";
    writeLastKnownSettings(settingsPath.c_str());
    if (m_panelsCreated) {
        deletePanels();
        m_panelsCreated = false;
        UartDeinit();
    }
    debugLog("Main Application Exiting....");
    // Nothing may be posted to this window once it is gone.
    if (mainHwnd == m_hWnd)
        mainHwnd = nullptr;
}
