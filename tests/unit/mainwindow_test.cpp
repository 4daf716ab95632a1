// The main window, created from its real template in a scratch directory.
// The end-to-end tests drive panel switching, menus and exit; these cover
// what they cannot reach: the file written at exit byte for byte, the log's
// order and limits, the handshake timer and the firmware field's bound.
#include "atcommand_fixture.h"
#include "settings_test_util.h"

#include "app/RZ310_ConfigDlg.h"
#include "panels/LocalDevice.h"
#include "panels/RemoteDevice.h"
#include "res/resource.h"
#include "gui_test_util.h"

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring cwd()
{
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

// Nothing goes to a port: the adapter's bytes are handed to the engine.
int noWrite(const uint8_t*, uint32_t) { return 0; }

// Counts the messages that read or replace a window's whole text.
int wholeTextMessages = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT || message == WM_GETTEXT)
        ++wholeTextMessages;
    return CallWindowProcW(editProc, hwnd, message, wParam, lParam);
}

// Each test starts the window in the settings tests' scratch folder.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = cwd();
        SetCurrentDirectoryA(dir.c_str());
    }

    void TearDown() override
    {
        if (dlg && dlg->m_hWnd)
            dlg->DestroyWindow();
        dlg.reset();
        SetCurrentDirectoryW(previousDir.c_str());
        for (const char* f : {"settings.txt", "Debug.txt"})
            DeleteFileA((dir + f).c_str());
        seams.uartWrite = savedWrite;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
    }

    void open()
    {
        dlg = std::make_unique<CRZ310_ConfigDlg>();
        ASSERT_TRUE(dlg->Create(IDD_RZ310_CONFIG_DIALOG, nullptr));
    }

    void command(UINT id, LPARAM lParam = 0) { SendMessageW(dlg->m_hWnd, WM_COMMAND, id, lParam); }
    std::wstring logText() const { return textOf(GetDlgItem(dlg->m_hWnd, IDC_LOG)); }

    std::wstring previousDir;
    const std::string dir = settingsTestPath("");
    MessageBoxRecorder boxes;
    std::unique_ptr<CRZ310_ConfigDlg> dlg;
    UartWriteFn savedWrite = seams.uartWrite;
};

}  // namespace

// At exit each setting is written as last known: from the adapter, or else
// as the file read at start-up had it; the file lands in the start-up
// folder whatever the current one is.
TEST_F(MainWindowTest, ExitWritesEachSettingAsLastKnown)
{
    const std::string saved =
        "# RZ310 Configuration Utility Settings\r\nPort = COM7\r\n"
        "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\r\n"
        "Baud = 9600\r\nStopBits = 2\r\nFlowControl = Off\r\n# Valid parity values are none, odd, even\r\n"
        "Parity = Even\r\nName = SerialPort Baud\r\nPin = 1234\r\nDiscoverable = On\r\nDisablePin = Off\r\n"
        "Role = Master\r\nAutoConnect = On\r\nEscapeMode = Off\r\nEchoMode = On\r\nAutoPower = Off\r\n"
        "CommandResponse = On\r\nRemoteConfig = On\r\n";
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
         replaced(replaced(saved, "SerialPort Baud", "Fresh"), "EchoMode = On", "EchoMode = Off")},
    };
    seams.uartWrite = noWrite;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        writeBytes(dir + "settings.txt", saved);
        open();
        row.contact();
        SetCurrentDirectoryW(previousDir.c_str());
        dlg->DestroyWindow();
        EXPECT_EQ(readBytes(dir + "settings.txt"), row.expected);
        EXPECT_EQ(readBytes(dir + "settings.txt.tmp"), "<missing>");
        SetCurrentDirectoryA(dir.c_str());
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

    // The operator's click into the log moves the caret; a line still goes
    // to the end, not where the click was.
    SendDlgItemMessageW(dlg->m_hWnd, IDC_LOG, EM_SETSEL, 0, 0);
    dlg->AppendLog("after a click");
    all = logText();
    EXPECT_EQ(all.substr(all.size() - 15), L"after a click\r\n");
}

// The reply is handled on the read thread, which cannot kill the main
// window's timer: the window kills it when told.
TEST_F(MainWindowTest, AHandledReplyKillsTheHandshakeTimerOnTheWindowsThread)
{
    open();
    seams.uartWrite = noWrite;
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

