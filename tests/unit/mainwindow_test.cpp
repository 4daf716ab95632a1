// The main window, created from its real template in a scratch directory.
// The end-to-end tests drive panel switching, menus and exit; these cover
// what they cannot reach: the records behind the window, timers, log limits,
// help results, tool tips and how a status light is drawn.
#include <gtest/gtest.h>

#include "app/RZ310_ConfigDlg.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/RemoteDevice.h"
#include "res/resource.h"
#include "serial/uart.h"
#include "support/test_env.h"
#include "gui_test_util.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

std::wstring cwd()
{
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

std::vector<std::string> written;
int captureWrite(const uint8_t* buffer, uint32_t length)
{
    written.emplace_back(reinterpret_cast<const char*>(buffer), length);
    return 0;
}
UINT_PTR WINAPI noTimer(HWND, UINT_PTR id, UINT, TIMERPROC) { return id; }

std::string bytesOf(const wchar_t* file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Line ends as a text-mode write puts them on disk.
std::string textMode(const std::string& text) { return replaceAll(text, "\n", "\r\n"); }

// Puts a command in the record and hands the adapter's bytes to the engine.
void pend(const char* command, uint32_t expectsReplyLine = 0)
{
    memset(&atCommand, 0, sizeof atCommand);
    strcpy(atCommand.command, command);
    atCommand.expectsReplyLine = expectsReplyLine;
}
void feed(const std::string& bytes)
{
    memcpy(rxBuffer, bytes.data(), bytes.size());
    dispatchUartData(static_cast<int32_t>(bytes.size()));
}

// Counts the messages that read or replace a window's whole text.
int wholeTextMessages = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT || message == WM_GETTEXT)
        ++wholeTextMessages;
    return CallWindowProcW(editProc, hwnd, message, wParam, lParam);
}

// Each test starts the window in a scratch directory of its own.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = cwd();
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"rz310_mainwindow_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        SetCurrentDirectoryW(dir.c_str());
    }

    void TearDown() override
    {
        if (dlg && dlg->m_hWnd)
            dlg->DestroyWindow();
        dlg.reset();
        SetCurrentDirectoryW(previousDir.c_str());
        for (const wchar_t* f : {L"\\settings.txt", L"\\Debug.txt"})
            DeleteFileW((dir + f).c_str());
        RemoveDirectoryW(dir.c_str());
        seams.shellOpen = nullptr;
        seams.uartWrite = savedWrite;
        seams.setTimer = savedTimer;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
    }

    void open()
    {
        dlg = std::make_unique<CRZ310_ConfigDlg>();
        ASSERT_TRUE(dlg->Create(IDD_RZ310_CONFIG_DIALOG, nullptr));
    }

    void command(UINT id, LPARAM lParam = 0) { SendMessageW(dlg->m_hWnd, WM_COMMAND, id, lParam); }
    void timer(UINT_PTR id) { SendMessageW(dlg->m_hWnd, WM_TIMER, id, 0); }
    std::wstring logText() const { return textOf(GetDlgItem(dlg->m_hWnd, IDC_LOG)); }

    std::wstring previousDir, dir;
    MessageBoxRecorder boxes;
    std::unique_ptr<CRZ310_ConfigDlg> dlg;
    UartWriteFn savedWrite = seams.uartWrite;
    SetTimerFn savedTimer = seams.setTimer;
};

}  // namespace

TEST_F(MainWindowTest, StartupTakesTheFilesLineSettingsAndExitForgetsTheWindow)
{
    std::ofstream(L"settings.txt") << "Port = COM7\nBaud = 9600\nStopBits = 2\nFlowControl = Off\nParity = Even\n";
    open();
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(std::make_tuple(uart.port, uart.baud, uart.stopBits, uart.flow, uart.parity),
              std::make_tuple(7, 9600, 2, 0, static_cast<int32_t>(PARITY_EVEN)));
    EXPECT_EQ(uiThreadId, GetCurrentThreadId());
    wchar_t about[64] = {};
    GetMenuStringW(GetSystemMenu(dlg->m_hWnd, FALSE), IDM_ABOUTBOX, about, 64, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"&About RZ310_Config...");
    // An unknown panel leaves the shown one alone.
    dlg->ShowPanel(4711);
    EXPECT_EQ(dlg->currentPanel(), IDD_LOCAL_DEVICE);
    EXPECT_TRUE(GetWindowLongW(dlg->localDevice()->m_hWnd, GWL_STYLE) & WS_VISIBLE);

    // Nothing may be posted to the window once it is gone.
    EXPECT_EQ(mainHwnd, dlg->m_hWnd);
    HWND local = dlg->localDevice()->m_hWnd;
    dlg->DestroyWindow();
    EXPECT_FALSE(IsWindow(local));
    EXPECT_EQ(mainHwnd, nullptr);
}

// At exit each setting is written as last known: from the adapter, or else
// as the file read at start-up had it; the file lands in the start-up
// folder whatever the current one is.
TEST_F(MainWindowTest, ExitWritesEachSettingAsLastKnown)
{
    const std::string saved =
        "# RZ310 Configuration Utility Settings\nPort = COM7\n"
        "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
        "Baud = 9600\nStopBits = 2\nFlowControl = Off\n# Valid parity values are none, odd, even\n"
        "Parity = Even\nName = SerialPort Baud\nPin = 1234\nDiscoverable = On\nDisablePin = Off\nRole = Master\n"
        "AutoConnect = On\nEscapeMode = Off\nEchoMode = On\nAutoPower = Off\nCommandResponse = On\n"
        "RemoteConfig = On\n";
    const struct {
        const char* why;
        void (*contact)();
        std::string expected;
    } rows[] = {
        {"no contact: the file as it was", [] {}, saved},
        {"read from the adapter, then Restart Device",
         [] {
             pend("AT+NAME?\r", 1);
             feed("\r\nFresh\r\nOK\r\n");
             pend("AT+ECHO-\r");
             feed("\r\nOK\r\n");
             resetEngineState();
         },
         replaceAll(replaceAll(saved, "SerialPort Baud", "Fresh"), "EchoMode = On", "EchoMode = Off")},
    };
    seams.uartWrite = captureWrite;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        std::ofstream(L"settings.txt") << saved;   // text mode, as the tool writes it
        const std::string before = bytesOf(L"settings.txt");
        open();
        row.contact();
        SetCurrentDirectoryW(previousDir.c_str());
        dlg->DestroyWindow();
        SetCurrentDirectoryW(dir.c_str());
        std::string after = bytesOf(L"settings.txt");
        EXPECT_EQ(after, row.expected == saved ? before : textMode(row.expected));
        EXPECT_EQ(GetFileAttributesW(L"settings.txt.tmp"), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(MainWindowTest, LogLinesArriveThroughNotificationsAndAlwaysEndTheLine)
{
    open();
    command(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("UART initialised successfully"));
    dlg->AppendLog("ends\r\n");
    command(ID_NOTIFY_LOG, 0);   // no text: an empty line
    EXPECT_EQ(logText(), L"UART initialised successfully\r\nends\r\n\r\n\r\n");

    // The log is never cut, not even past the edit control's typing limit,
    // and scrolls to its last line. A line is appended at the end: the whole
    // text is neither read nor replaced, so a line costs the same however
    // long the log has grown.
    HWND log = GetDlgItem(dlg->m_hWnd, IDC_LOG);
    editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProc)));
    wholeTextMessages = 0;
    dlg->AppendLog("one more");
    EXPECT_EQ(wholeTextMessages, 0);
    SetWindowLongPtrW(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editProc));
    const size_t before = logText().size();
    for (int i = 0; i < 330; ++i)
        dlg->AppendLog(std::string(99, 'x').c_str());
    dlg->AppendLog("last line");
    std::wstring all = logText();
    EXPECT_EQ(all.size(), before + 330 * 101 + 11);
    EXPECT_EQ(all.substr(all.size() - 11), L"last line\r\n");
    EXPECT_GT(SendDlgItemMessageW(dlg->m_hWnd, IDC_LOG, EM_GETFIRSTVISIBLELINE, 0, 0), 320);

    // Lines posted right behind a line go in with it, in order; a line
    // queued behind other work waits for its turn.
    pumpMessages();
    auto post = [&](UINT id, const char* text) {
        PostMessageW(dlg->m_hWnd, WM_COMMAND, id, reinterpret_cast<LPARAM>(text));
    };
    post(ID_NOTIFY_LOG, "b");
    post(ID_NOTIFY_LOG, nullptr);
    post(ID_NOTIFY_STATUS, nullptr);
    post(ID_NOTIFY_LOG, "d");
    command(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("a"));
    EXPECT_EQ(logText().substr(all.size()), L"a\r\nb\r\n\r\n");
    pumpMessages();
    EXPECT_EQ(logText().substr(all.size()), L"a\r\nb\r\n\r\nd\r\n");
}

TEST_F(MainWindowTest, StatusLightsChooseTheirCellFromTheRecords)
{
    open();
    // (row, column, shape): green lit or red dark, round.
    auto cell = [](const CLed& led) { return std::make_tuple(led.colorOffset, led.stateColumn, led.shapeOffset); };
    const auto lit = std::make_tuple(16, 0, 0), dark = std::make_tuple(0, 1, 0);
    EXPECT_EQ(cell(dlg->uartLed()), dark);
    uart.isUartActive = 1;
    device.isConnected = 1;
    command(ID_NOTIFY_STATUS);
    uart.isUartActive = 0;
    EXPECT_EQ(cell(dlg->uartLed()), lit);
    EXPECT_EQ(cell(dlg->deviceLed()), dark);
    EXPECT_EQ(cell(dlg->connectionLed()), lit);
}

TEST_F(MainWindowTest, EachTimerEndsItsOwnWork)
{
    open();
    seams.uartWrite = captureWrite;
    seams.setTimer = noTimer;
    written.clear();

    // A command sent with a timer and never answered is given up.
    memset(&atCommand, 0, sizeof atCommand);
    strcpy(atCommand.command, "AT+ENQ\r");
    atCommand.timerMode = 1;
    timer(ATCommandTimer);
    EXPECT_EQ(atCommand.command[0], '\0');
    EXPECT_TRUE(written.empty());

    // Bringing the adapter up: a retry at the same line settings.
    device.initRetry = 1;
    timer(DevInitTimer);
    EXPECT_EQ(written, std::vector<std::string>{"AT\r"});
    EXPECT_EQ(device.initRetry, 0);

    // The handshake unanswered, then a baud change after a handshake
    // unanswered: idle again, but the remote panel keeps its buttons until
    // it is told otherwise.
    device.isConnected = device.isDataMode = 1;
    startHandshake();
    timer(HandshakeCommandTimer);
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    EXPECT_EQ(device.isHandshakeActive, 0);
    HWND remote = dlg->remoteDevice()->m_hWnd;
    handshakeState = HANDSHAKE_COMPLETE;
    command(ID_NOTIFY_REMOTE_DEVICE);
    SendMessageW(GetDlgItem(remote, IDC_RD_PROGRAM_REMOTE), BM_CLICK, 0, 0);
    EXPECT_EQ(written.back(), "\x01\x01");   // 9600
    timer(HandshakeCommandTimer);
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    EXPECT_EQ(device.isHandshakeActive, 0);
    for (int id : {IDC_RD_PROGRAM_REMOTE, IDC_RD_EXIT_REMOTE})
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(remote, id))) << id;
    // An expiry after the reply was handled changes nothing.
    timer(HandshakeCommandTimer);
    timer(4711);
    EXPECT_EQ(logText(), L"Handshake failed.\r\nHandshake command failed.\r\n");
    EXPECT_EQ(written.size(), 3u);
}

// The reply is handled on the read thread, which cannot kill the main
// window's timer: the window kills it when told.
TEST_F(MainWindowTest, AHandledReplyKillsTheHandshakeTimerOnTheWindowsThread)
{
    open();
    seams.uartWrite = captureWrite;
    device.isConnected = device.isDataMode = 1;
    startHandshake();
    std::thread([] {
        memset(rxBuffer, 0xAA, 2);
        dispatchUartData(2);
    }).join();
    EXPECT_EQ(handshakeState, HANDSHAKE_COMPLETE);
    pumpMessages();
    EXPECT_FALSE(KillTimer(dlg->m_hWnd, HandshakeCommandTimer)) << "still armed";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg->remoteDevice()->m_hWnd, IDC_RD_HANDSHAKE)));
    EXPECT_EQ(logText(), L"Handshake Complete...\r\n");
}

TEST_F(MainWindowTest, HelpDocumentsOpenInTheStartupDirectoryAndReportByResult)
{
    open();
    SetCurrentDirectoryW(previousDir.c_str());   // the operator moved on
    static std::wstring seenFile, seenDir;
    static INT_PTR answer;
    seams.shellOpen = [](const wchar_t* file) -> INT_PTR {
        seenFile = file;
        seenDir = cwd();
        return answer;
    };
    const std::pair<INT_PTR, const wchar_t*> cases[] = {
        {0, L"Out of memory"},
        {3, L"AT Command Manual.pdf not found"},
        {11, L"Corrupt File AT Command Manual.pdf"},
        {31, L"Failed to load AT Command Manual.pdf. Unknown reason"},
        {33, nullptr},   // opened
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        boxes.clear();
        answer = c.first;
        command(ID_HELP_AT_COMMAND_MANUAL);
        EXPECT_EQ(seenFile, L"AT Command Manual.pdf");
        EXPECT_EQ(seenDir, dir);
        EXPECT_EQ(cwd(), previousDir);
        EXPECT_EQ(boxes.texts(), c.second ? std::vector<std::wstring>{c.second} : std::vector<std::wstring>{});
    }
}

TEST_F(MainWindowTest, DebugMenuChecksItsItemWhileTheTraceIsOn)
{
    open();
    ASSERT_EQ(dlg->menu(), GetMenu(dlg->m_hWnd));
    for (UINT expected : {UINT{MF_CHECKED}, UINT{0}}) {
        command(ID_DEBUG_ENABLE_DEBUG);
        EXPECT_EQ(GetMenuState(dlg->menu(), ID_DEBUG_ENABLE_DEBUG, MF_BYCOMMAND) & MF_CHECKED, expected);
        EXPECT_EQ(debugFlag, expected ? 1 : 0);
    }
}

TEST_F(MainWindowTest, InquiryClearAndDeviceControlsReachTheirPanels)
{
    open();
    HWND list = GetDlgItem(dlg->connection()->m_hWnd, IDC_CN_RESULTS);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"0012-6F-123456"));
    command(ID_NOTIFY_INQUIRY_CLEAR);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);

    HWND program = GetDlgItem(dlg->localDevice()->m_hWnd, IDC_LD_PROGRAM_DEVICE);
    for (BOOL enable : {TRUE, FALSE}) {
        command(ID_NOTIFY_DEVICE_CONTROLS, enable);
        EXPECT_EQ(IsWindowEnabled(program), enable);
    }
}

TEST_F(MainWindowTest, FirmwareVersionIsShownWholeWithoutReadingPastTheField)
{
    open();
    HWND label = GetDlgItem(dlg->localDevice()->m_hWnd, IDC_LD_FW_VERSION);
    strcpy(device.version, "RZ310 F/W V1.0");
    command(ID_NOTIFY_FIRMWARE_VERSION);
    EXPECT_EQ(textOf(label), L"RZ310 F/W V1.0");

    // A field without its terminator: only its own 40 characters count.
    memset(device.version, 'V', sizeof device.version);
    command(ID_NOTIFY_FIRMWARE_VERSION);
    EXPECT_EQ(textOf(label), std::wstring(sizeof device.version - 1, L'V'));
}

TEST_F(MainWindowTest, ToolTipsAnswerOnlyWindowHandleTools)
{
    open();
    HWND h = dlg->m_hWnd;
    EXPECT_EQ(toolTipOf(h, IDC_LOCAL_DEVICE), L"Enables the window that displays settings of the Device");
    EXPECT_EQ(toolTipOf(h, IDC_PAIR_DEVICE), L"Enables the window that displays functionality related to pairing");
    EXPECT_EQ(toolTipOf(h, IDC_PANEL_FRAME), L"");
    EXPECT_EQ(askToolTip(h, IDC_LOCAL_DEVICE, 0), L"untouched");
}

TEST(StatusLight, DrawsItsCellOverTheBackgroundWithoutMagenta)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr, nullptr, nullptr);
    CLed led;
    led.Attach(window);
    ASSERT_NE(led.strip(), nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(bi.bmiHeader), 20, -20, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, target);
    const COLORREF background = RGB(1, 2, 3), green = RGB(0, 255, 0);
    HBRUSH brush = CreateSolidBrush(background);

    // The lit green cell on a 20 x 20 light (centred at 2, 2) and on a
    // 12 x 14 one (drawn from the corner); its magenta corners stay clear.
    // Each point would change if the cell stood elsewhere.
    const struct { int width, height, x, y; COLORREF expected; } rows[] = {
        {20, 20, 15, 10, green}, {20, 20, 3, 3, background}, {12, 14, 13, 8, green}, {12, 14, 3, 0, background}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.width << " x " << r.height << " at " << r.x << "," << r.y);
        SetWindowPos(window, nullptr, 0, 0, r.width, r.height, SWP_NOZORDER | SWP_NOMOVE);
        RECT all{0, 0, 20, 20};
        FillRect(dc, &all, brush);
        DrawLed(0, led, dc, 16, 0);
        EXPECT_EQ(GetPixel(dc, r.x, r.y), r.expected);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_NE(GetPixel(dc, x, y), RGB(255, 0, 255)) << x << "," << y;
    }
    // The light erases nothing: the dialog's background stays under it.
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
    led.Detach();
    DestroyWindow(window);
}
