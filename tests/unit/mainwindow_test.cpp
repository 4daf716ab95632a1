// The main window, created from its real template in a scratch directory:
// start-up, panel switching, log, lights, timers, help documents, debug
// toggle, tool tips and the exit sequence.
#include <gtest/gtest.h>

#include "app/RZ310_ConfigDlg.h"
#include "app/debuglog.h"
#include "app/msgbox.h"
#include "app/notify.h"
#include "atcommand/atcommand.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/PairDevice.h"
#include "panels/RemoteDevice.h"
#include "res/resource.h"
#include "serial/uart.h"
#include "support/test_env.h"

#include <commctrl.h>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

void pumpFor(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

std::wstring cwd()
{
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

std::wstring makeScratchDir(const wchar_t* leaf)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"rz310_mainwindow_" + leaf + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void removeDir(const std::wstring& dir)
{
    for (const wchar_t* f : {L"settings.txt", L"Debug.txt"})
        DeleteFileW((dir + L"\\" + f).c_str());
    RemoveDirectoryW(dir.c_str());
}

std::string readFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The panel's own visibility (the main window under test is never shown).
bool shown(HWND h)
{
    return (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

RECT clientRectOf(HWND child, HWND parent)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = cwd();
        dir = makeScratchDir(L"start");
        otherDir = makeScratchDir(L"other");
        SetCurrentDirectoryW(dir.c_str());
    }

    void TearDown() override
    {
        close();
        SetCurrentDirectoryW(previousDir.c_str());
        removeDir(dir);
        removeDir(otherDir);
        shellOpenHook = nullptr;
    }

    void open()
    {
        dlg = std::make_unique<CRZ310_ConfigDlg>();
        ASSERT_TRUE(dlg->Create(IDD_RZ310_CONFIG_DIALOG, nullptr));
    }

    void close()
    {
        if (dlg && dlg->m_hWnd)
            dlg->DestroyWindow();
        dlg.reset();
    }

    void command(UINT id, UINT code = 0, LPARAM lParam = 0)
    {
        SendMessageW(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(id, code), lParam);
    }

    std::wstring logText() const
    {
        wchar_t text[4096] = {};
        GetDlgItemTextW(dlg->m_hWnd, IDC_LOG, text, 4096);
        return text;
    }

    std::wstring previousDir, dir, otherDir;
    MessageBoxRecorder boxes;
    std::unique_ptr<CRZ310_ConfigDlg> dlg;
};

}  // namespace

TEST_F(MainWindowTest, StartsWithoutSettingsFileZeroedAndShowsLocalDevicePanel)
{
    uart.port = 9;
    uart.baud = 1200;
    open();
    ASSERT_GE(boxes.count(), 1u);
    EXPECT_EQ(boxes.texts()[0], L"Failed to open settings.txt file.No such file present");
    EXPECT_EQ(uart.port, 0);
    EXPECT_EQ(uart.baud, 0);
    EXPECT_EQ(mainHwnd, dlg->m_hWnd);
    EXPECT_EQ(uiThreadId, GetCurrentThreadId());
    EXPECT_EQ(std::wstring(startupDirectory), dir);
    EXPECT_EQ(panelsCreated, 1);
    EXPECT_EQ(debugFlag, 0);

    EXPECT_EQ(dlg->currentPanel(), 135);
    EXPECT_TRUE(shown(dlg->localDevice()->m_hWnd));
    EXPECT_FALSE(shown(dlg->remoteDevice()->m_hWnd));
    EXPECT_FALSE(shown(dlg->connection()->m_hWnd));
    EXPECT_FALSE(shown(dlg->pairDevice()->m_hWnd));

    // One pixel inside the frame, in client coordinates.
    RECT frame = clientRectOf(GetDlgItem(dlg->m_hWnd, IDC_PANEL_FRAME), dlg->m_hWnd);
    EXPECT_EQ(panelRect.left, frame.left + 1);
    EXPECT_EQ(panelRect.top, frame.top + 1);
    EXPECT_EQ(panelRect.width, frame.right - frame.left - 2);
    EXPECT_EQ(panelRect.height, frame.bottom - frame.top - 2);
    RECT panel = clientRectOf(dlg->localDevice()->m_hWnd, dlg->m_hWnd);
    EXPECT_EQ(panel.left, panelRect.left);
    EXPECT_EQ(panel.top, panelRect.top);
    EXPECT_EQ(panel.right - panel.left, panelRect.width);
    EXPECT_EQ(panel.bottom - panel.top, panelRect.height);

    wchar_t title[64] = {};
    GetWindowTextW(dlg->m_hWnd, title, 64);
    EXPECT_STREQ(title, L"RZ310 Configuration Tool");
    HMENU sys = GetSystemMenu(dlg->m_hWnd, FALSE);
    int last = GetMenuItemCount(sys) - 1;
    EXPECT_EQ(GetMenuItemID(sys, last), static_cast<UINT>(IDM_ABOUTBOX));
    wchar_t about[64] = {};
    GetMenuStringW(sys, IDM_ABOUTBOX, about, 64, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"&About RZ310_Config...");
    EXPECT_EQ(mainMenu, GetMenu(dlg->m_hWnd));
    EXPECT_EQ(GetMenuState(mainMenu, ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND) & MF_CHECKED, 0u);
}

TEST_F(MainWindowTest, StartupCopiesTheFilesLineSettings)
{
    std::ofstream(L"settings.txt") << "Port = COM7\nBaud = 9600\nStopBits = 2\nFlowControl = Off\nParity = Even\nName = Other\n";
    open();
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(uart.port, 7);
    EXPECT_EQ(uart.baud, 9600);
    EXPECT_EQ(uart.stopBits, 2);
    EXPECT_EQ(uart.flow, 0);
    EXPECT_EQ(uart.parity, PARITY_EVEN);
}

TEST_F(MainWindowTest, PanelButtonsShowOnePanelAtATime)
{
    open();
    struct Case {
        UINT button;
        int32_t panel;
        CDialog* window;
    } cases[] = {
        {IDC_PAIR_DEVICE, 139, dlg->pairDevice()},
        {IDC_CONNECTION, 138, dlg->connection()},
        {IDC_REMOTE_DEVICE, 136, dlg->remoteDevice()},
        {IDC_LOCAL_DEVICE, 135, dlg->localDevice()},
    };
    CDialog* all[] = {dlg->localDevice(), dlg->remoteDevice(), dlg->connection(), dlg->pairDevice()};
    for (const Case& c : cases) {
        command(c.button, BN_CLICKED, reinterpret_cast<LPARAM>(GetDlgItem(dlg->m_hWnd, c.button)));
        EXPECT_EQ(dlg->currentPanel(), c.panel);
        for (CDialog* p : all)
            EXPECT_EQ(shown(p->m_hWnd), p == c.window) << "button " << c.button;
        RECT r = clientRectOf(c.window->m_hWnd, dlg->m_hWnd);
        EXPECT_EQ(r.left, panelRect.left);
        EXPECT_EQ(r.bottom - r.top, panelRect.height);
    }

    dlg->ShowPanel(4711);
    EXPECT_EQ(dlg->currentPanel(), 135);
    panelsCreated = 0;
    command(IDC_CONNECTION, BN_CLICKED);
    EXPECT_EQ(dlg->currentPanel(), 135);
    EXPECT_FALSE(shown(dlg->connection()->m_hWnd));
    panelsCreated = 1;
}

TEST_F(MainWindowTest, LogLinesArriveThroughNotificationsAndAlwaysEndTheLine)
{
    open();
    static const char first[] = "UART initialised successfully";
    PostMessageW(dlg->m_hWnd, WM_COMMAND, ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(first));
    pumpFor(50);
    dlg->AppendLog("ends\r\n");
    command(ID_NOTIFY_LOG, 0, 0);
    EXPECT_EQ(logText(), L"UART initialised successfully\r\nends\r\n\r\n\r\n");

    // The log is never cut, not even past the edit control's typing limit.
    const int before = static_cast<int>(logText().size());
    std::string line(99, 'x');
    for (int i = 0; i < 330; ++i)
        dlg->AppendLog(line.c_str());
    dlg->AppendLog("last line");
    HWND log = GetDlgItem(dlg->m_hWnd, IDC_LOG);
    int length = GetWindowTextLengthW(log);
    EXPECT_EQ(length, before + 330 * 101 + 11);
    std::wstring all(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(log, &all[0], length + 1);
    all.resize(static_cast<size_t>(length));
    EXPECT_EQ(all.substr(all.size() - 11), L"last line\r\n");
    // Scrolled so that the last line is in view.
    EXPECT_GT(SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0), 320);
}

TEST_F(MainWindowTest, StatusLightsShowTheRecords)
{
    open();
    EXPECT_EQ(dlg->uartLed().colorOffset, 0);
    EXPECT_EQ(dlg->uartLed().stateColumn, 1);
    uart.isUartActive = 1;
    device.isDeviceInitialised = 0;
    device.isConnected = 1;
    command(ID_NOTIFY_STATUS);
    uart.isUartActive = 0;
    EXPECT_EQ(dlg->uartLed().colorOffset, 16);
    EXPECT_EQ(dlg->uartLed().stateColumn, 0);
    EXPECT_EQ(dlg->deviceLed().colorOffset, 0);
    EXPECT_EQ(dlg->deviceLed().stateColumn, 1);
    EXPECT_EQ(dlg->connectionLed().colorOffset, 16);
    EXPECT_EQ(dlg->connectionLed().stateColumn, 0);
    EXPECT_EQ(dlg->connectionLed().shapeOffset, 0);
}

TEST_F(MainWindowTest, HandshakeTimerEndsTheHandshakeAndUnknownTimersDoNothing)
{
    open();
    handshakeState = HANDSHAKE_PENDING;
    device.isHandshakeActive = 1;
    SendMessageW(dlg->m_hWnd, WM_TIMER, HandshakeCommandTimer, 0);
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    EXPECT_EQ(device.isHandshakeActive, 0);
    handshakeState = HANDSHAKE_COMPLETE;
    SendMessageW(dlg->m_hWnd, WM_TIMER, HandshakeCommandTimer, 0);
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    SendMessageW(dlg->m_hWnd, WM_TIMER, 4711, 0);
    EXPECT_EQ(logText(), L"Handshake failed.\r\nHandshake command failed.\r\n");
}

TEST_F(MainWindowTest, HelpDocumentsReportByResultAndRestoreTheDirectory)
{
    open();
    boxes.clear();
    SetCurrentDirectoryW(otherDir.c_str());
    command(ID_HELP_USER_MANUAL);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.texts()[0], L"RZ310 Configuration Manual.pdf not found");
    EXPECT_EQ(cwd(), otherDir);

    static std::wstring seenFile, seenDir;
    static INT_PTR answer;
    shellOpenHook = [](const wchar_t* file) -> INT_PTR {
        seenFile = file;
        seenDir = cwd();
        return answer;
    };
    const std::pair<INT_PTR, const wchar_t*> cases[] = {
        {0, L"Out of memory"},
        {3, L"AT Command Manual.pdf not found"},
        {11, L"Corrupt File AT Command Manual.pdf"},
        {31, L"Failed to load AT Command Manual.pdf. Unknown reason"},
        {33, nullptr},
    };
    for (const auto& c : cases) {
        boxes.clear();
        answer = c.first;
        command(ID_HELP_AT_COMMAND_MANUAL);
        EXPECT_EQ(seenFile, L"AT Command Manual.pdf");
        EXPECT_EQ(seenDir, dir);
        EXPECT_EQ(cwd(), otherDir);
        if (c.second) {
            ASSERT_EQ(boxes.count(), 1u);
            EXPECT_EQ(boxes.texts()[0], c.second);
        } else {
            EXPECT_EQ(boxes.count(), 0u);
        }
    }
}

TEST_F(MainWindowTest, DebugMenuTogglesTheTraceInTheStartupDirectory)
{
    open();
    SetCurrentDirectoryW(otherDir.c_str());
    command(ID_DEBUG_ENABLE_DEBUG);
    EXPECT_NE(GetMenuState(mainMenu, ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(debugFlag, 1);
    dlg->AppendLog("operator line");
    command(ID_DEBUG_ENABLE_DEBUG);
    EXPECT_EQ(GetMenuState(mainMenu, ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(debugFlag, 0);
    EXPECT_EQ(cwd(), otherDir);
    EXPECT_FALSE(fileExists(otherDir + L"\\Debug.txt"));
    std::string trace = readFile(dir + L"\\Debug.txt");
    EXPECT_EQ(trace.rfind("Setting debugFlag = TRUE", 0), 0u) << trace;
    EXPECT_NE(trace.find("operator line"), std::string::npos);
}

TEST_F(MainWindowTest, FirmwareVersionIsShownWholeWithoutReadingPastTheField)
{
    open();
    HWND label = GetDlgItem(dlg->localDevice()->m_hWnd, 1046);
    strcpy(device.version, "RZ310 F/W V1.0");
    command(ID_NOTIFY_FIRMWARE_VERSION);
    wchar_t text[128] = {};
    GetWindowTextW(label, text, 128);
    EXPECT_STREQ(text, L"RZ310 F/W V1.0");

    // A field without its terminator: only its own 40 characters count.
    memset(device.version, 'V', sizeof device.version);
    command(ID_NOTIFY_FIRMWARE_VERSION);
    GetWindowTextW(label, text, 128);
    EXPECT_EQ(std::wstring(text), std::wstring(sizeof device.version - 1, L'V'));
    device.version[0] = '\0';
}

TEST_F(MainWindowTest, InquiryClearEmptiesTheConnectionResults)
{
    open();
    HWND list = GetDlgItem(dlg->connection()->m_hWnd, 1008);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"0012-6F-123456"));
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
    command(ID_NOTIFY_INQUIRY_CLEAR);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(MainWindowTest, ToolTipsAnswerOnlyWindowHandleTools)
{
    open();
    auto ask = [&](UINT_PTR idFrom, UINT flags) {
        NMTTDISPINFOW info{};
        info.hdr.hwndFrom = dlg->GetToolTipHwnd();
        info.hdr.idFrom = idFrom;
        info.hdr.code = TTN_NEEDTEXTW;
        info.uFlags = flags;
        info.lpszText = const_cast<wchar_t*>(L"untouched");
        SendMessageW(dlg->m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        return std::wstring(info.lpszText ? info.lpszText : L"(null)");
    };
    auto tool = [&](int id) { return reinterpret_cast<UINT_PTR>(GetDlgItem(dlg->m_hWnd, id)); };
    EXPECT_EQ(ask(tool(IDC_LOCAL_DEVICE), TTF_IDISHWND), L"Enables the window that displays settings of the Device");
    EXPECT_EQ(ask(tool(IDC_PAIR_DEVICE), TTF_IDISHWND), L"Enables the window that displays functionality related to pairing");
    EXPECT_EQ(ask(tool(IDC_PANEL_FRAME), TTF_IDISHWND), L"");
    EXPECT_EQ(ask(IDC_LOCAL_DEVICE, 0), L"untouched");
    EXPECT_NE(dlg->GetToolTipHwnd(), nullptr);
}

TEST_F(MainWindowTest, ExitWritesSettingsIntoTheStartupDirectory)
{
    open();
    uart.port = 3;
    uart.baud = 19200;
    SetCurrentDirectoryW(otherDir.c_str());
    HWND local = dlg->localDevice()->m_hWnd;
    dlg->DestroyWindow();
    EXPECT_FALSE(IsWindow(local));
    EXPECT_EQ(panelsCreated, 0);
    EXPECT_EQ(mainHwnd, nullptr);
    EXPECT_FALSE(fileExists(otherDir + L"\\settings.txt"));
    std::string saved = readFile(dir + L"\\settings.txt");
    EXPECT_NE(saved.find("Port = COM3"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Baud = 19200"), std::string::npos);
}

namespace {
// Steps that a thread timer performs during a modal run.
int modalStep;
std::vector<std::wstring> modalSeen;

void CALLBACK exitAfterAbout(HWND, UINT, UINT_PTR, DWORD)
{
    switch (modalStep) {
    case 0:
        PostMessageW(mainHwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        ++modalStep;
        break;
    case 1:
        // The About box runs its own modal loop; this timer still fires in it.
        if (HWND about = FindWindowW(L"#32770", L"About RZ310 Configuration Tool")) {
            modalSeen.push_back(L"about");
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            ++modalStep;
        }
        break;
    case 2:
        if (!FindWindowW(L"#32770", L"About RZ310 Configuration Tool")) {
            PostMessageW(mainHwnd, WM_COMMAND, ID_FILE_EXIT, 0);
            ++modalStep;
        }
        break;
    default:
        break;
    }
}

void CALLBACK closeBox(HWND, UINT, UINT_PTR, DWORD)
{
    if (modalStep++ == 0)
        PostMessageW(mainHwnd, WM_CLOSE, 0, 0);
}
}  // namespace

TEST_F(MainWindowTest, ModalRunEndsByFileExitOrCloseBoxAndSavesSettings)
{
    {
        modalStep = 0;
        modalSeen.clear();
        UINT_PTR timer = SetTimer(nullptr, 0, 150, exitAfterAbout);
        CRZ310_ConfigDlg modal;
        EXPECT_EQ(modal.DoModal(), IDOK);
        KillTimer(nullptr, timer);
        EXPECT_EQ(modalSeen, std::vector<std::wstring>{L"about"});
        EXPECT_TRUE(fileExists(dir + L"\\settings.txt"));
        EXPECT_EQ(panelsCreated, 0);
    }
    DeleteFileW((dir + L"\\settings.txt").c_str());
    {
        modalStep = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, 150, closeBox);
        CRZ310_ConfigDlg modal;
        EXPECT_EQ(modal.DoModal(), IDCANCEL);
        KillTimer(nullptr, timer);
        EXPECT_TRUE(fileExists(dir + L"\\settings.txt"));
        EXPECT_EQ(mainHwnd, nullptr);
    }
}

TEST(StatusLight, DrawsTheChosenCellOverTheBackground)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    CLed led;
    led.Attach(window);
    ASSERT_NE(led.strip(), nullptr);

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 20;
    bi.bmiHeader.biHeight = -20;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, target);
    const COLORREF background = RGB(1, 2, 3);
    auto clear = [&] {
        HBRUSH brush = CreateSolidBrush(background);
        RECT all{0, 0, 20, 20};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    };

    // 20 x 20: the cell is centred at (2, 2).
    clear();
    DrawLed(0, led, dc, 16, 0);
    EXPECT_EQ(GetPixel(dc, 10, 10), RGB(0, 255, 0));   // lit green
    EXPECT_EQ(GetPixel(dc, 2, 2), background);          // magenta corner
    EXPECT_EQ(GetPixel(dc, 0, 0), background);          // outside the cell
    for (int y = 2; y < 18; ++y)
        for (int x = 2; x < 18; ++x)
            ASSERT_NE(GetPixel(dc, x, y), RGB(255, 0, 255)) << x << "," << y;

    clear();
    DrawLed(1, led, dc, 0, 0);
    EXPECT_EQ(GetPixel(dc, 10, 10), RGB(128, 0, 0));   // dark red

    // Square blue row, grey column: silver inside a grey frame.
    clear();
    DrawLed(2, led, dc, 48, 64);
    EXPECT_EQ(GetPixel(dc, 10, 10), RGB(192, 192, 192));
    EXPECT_EQ(GetPixel(dc, 3, 3), RGB(128, 128, 128));

    // Smaller than a cell: drawn from the top-left corner.
    SetWindowPos(window, nullptr, 0, 0, 12, 14, SWP_NOZORDER | SWP_NOMOVE);
    clear();
    DrawLed(0, led, dc, 32, 0);
    EXPECT_EQ(GetPixel(dc, 9, 9), RGB(255, 255, 0));   // lit yellow
    EXPECT_EQ(GetPixel(dc, 0, 0), background);

    // The light erases nothing: the dialog's background stays under it.
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);

    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
    led.Detach();
    DestroyWindow(window);
}
