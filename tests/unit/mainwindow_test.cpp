// The main window from its real template, where the end-to-end runs cannot
// reach: the exit file's bytes, the log, the handshake timer, the version's bound.
#include "atcommand_fixture.h"
#include "settings_test_util.h"

#include "app/RZ310_ConfigDlg.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/RemoteDevice.h"
#include "res/resource.h"

#include <memory>
#include <thread>

namespace {

// Each test starts the window in the settings tests' scratch folder.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, previousDir);
        SetCurrentDirectoryA(dir.c_str());
        seams.uartWrite = [](const uint8_t*, uint32_t) { return 0; }; // the adapter's bytes are fed
    }

    void TearDown() override
    {
        if (dlg && dlg->m_hWnd)
            dlg->DestroyWindow();
        dlg.reset();
        SetCurrentDirectoryW(previousDir);
        DeleteFileA((dir + "settings.txt").c_str());
        seams.uartWrite = savedWrite;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
    }

    void open()
    {
        dlg = std::make_unique<CRZ310_ConfigDlg>();
        ASSERT_TRUE(dlg->Create(IDD_RZ310_CONFIG_DIALOG, nullptr));
    }

    std::wstring logText() const { return textOf(GetDlgItem(dlg->m_hWnd, IDC_LOG)); }
    static void pump()
    {
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&msg);
    }

    wchar_t previousDir[MAX_PATH];
    const std::string dir = settingsTestPath("");
    MessageBoxRecorder boxes;
    std::unique_ptr<CRZ310_ConfigDlg> dlg;
    UartWriteFn savedWrite = seams.uartWrite;
};

} // namespace

// At exit each setting is written as last known (from the adapter, else from
// the file read at start-up) into the start-up folder. Every value differs
// from the example's, the texts fill their fields and the name holds keys.
TEST_F(MainWindowTest, ExitWritesEachSettingAsLastKnown)
{
    const std::string saved =
        "# RZ310 Configuration Utility Settings\r\nPort = COM12\r\n"
        "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\r\n"
        "Baud = 230400\r\nStopBits = 2\r\nFlowControl = Off\r\n# Valid parity values are none, odd, even\r\n"
        "Parity = Even\r\nName = SerialPort Baud\r\nPin = 1234567\r\nDiscoverable = Off\r\nDisablePin = On\r\n"
        "Role = Master\r\nAutoConnect = Off\r\nEscapeMode = Off\r\nEchoMode = On\r\nAutoPower = On\r\n"
        "CommandResponse = Off\r\nRemoteConfig = Off\r\n";
    auto writtenAtExit = [&](void (*contact)()) {
        writeBytes(dir + "settings.txt", saved);
        open();
        contact();
        SetCurrentDirectoryW(previousDir);
        dlg->DestroyWindow();
        SetCurrentDirectoryA(dir.c_str());
        return readBytes(dir + "settings.txt");
    };
    EXPECT_EQ(writtenAtExit([] {}), saved); // no contact: the file as it was
    // Read from the adapter, then Restart Device.
    EXPECT_EQ(writtenAtExit([] {
                  pend("AT+NAME?\r", 1);
                  feed("\r\nFresh\r\nOK\r\n");
                  pend("AT+ECHO-\r");
                  feed("\r\nOK\r\n");
                  resetEngineState();
              }),
              replaced(replaced(saved, "SerialPort Baud", "Fresh"), "EchoMode = On", "EchoMode = Off"));
}

// A log line always ends its line and goes to the end, even after a click into
// the log; the log is never cut, even past the typing limit, and scrolls to its end.
TEST_F(MainWindowTest, LogLinesAlwaysEndTheLineAtTheEndOfTheLog)
{
    open();
    SendMessageW(dlg->m_hWnd, WM_COMMAND, ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("UART initialised successfully"));
    dlg->AppendLog("ends\r\n");
    SendMessageW(dlg->m_hWnd, WM_COMMAND, ID_NOTIFY_LOG, 0); // no text: an empty line
    SendDlgItemMessageW(dlg->m_hWnd, IDC_LOG, EM_SETSEL, 0, 0);
    dlg->AppendLog("after a click");
    EXPECT_EQ(logText(), L"UART initialised successfully\r\nends\r\n\r\n\r\nafter a click\r\n");

    const size_t before = logText().size();
    for (int i = 0; i < 330; ++i)
        dlg->AppendLog(std::string(99, 'x').c_str());
    dlg->AppendLog("last line");
    std::wstring all = logText();
    EXPECT_EQ(all.size(), before + 330 * 101 + 11);
    EXPECT_EQ(all.substr(all.size() - 11), L"last line\r\n");
    EXPECT_GT(SendDlgItemMessageW(dlg->m_hWnd, IDC_LOG, EM_GETFIRSTVISIBLELINE, 0, 0), 320);
}

// The reply is handled on the read thread, which cannot kill the main
// window's timer: the window kills it when told.
TEST_F(MainWindowTest, AHandledReplyKillsTheHandshakeTimerOnTheWindowsThread)
{
    open();
    device.isConnected = device.isDataMode = 1;
    startHandshake();
    ASSERT_TRUE(KillTimer(dlg->m_hWnd, HandshakeCommandTimer)) << "the request armed no time-out";
    SetTimer(dlg->m_hWnd, HandshakeCommandTimer, 4000, nullptr); // armed again, as it was
    std::thread([] {
        memset(rxBuffer, 0xAA, 2);
        dispatchUartData(2);
    }).join();
    pump();
    EXPECT_FALSE(KillTimer(dlg->m_hWnd, HandshakeCommandTimer)) << "still armed";
}

// A version field without its terminator: only its own 40 characters count.
TEST_F(MainWindowTest, FirmwareVersionIsShownWithoutReadingPastTheField)
{
    open();
    memset(device.version, 'V', sizeof device.version);
    SendMessageW(dlg->m_hWnd, WM_COMMAND, ID_NOTIFY_FIRMWARE_VERSION, 0);
    EXPECT_EQ(textOf(GetDlgItem(dlg->localDevice()->m_hWnd, IDC_LD_FW_VERSION)),
              std::wstring(sizeof device.version - 1, L'V'));
}

// Connected with a completed handshake during an inquiry, then the request
// or the link ends: the Bluetooth panels show what the records say.
TEST_F(MainWindowTest, BluetoothPanelsFollowTheLinkWhenItEnds)
{
    seams.atCommandWaitMs = 100; // the port is never open: boxes say what fails
    // clang-format off
    const struct {
        void (*end)(CRZ310_ConfigDlg&);
        const wchar_t* remoteAddress; bool cancelInquiryOn, disconnectOn; LRESULT resultRows;
    } runs[] = {
        {[](CRZ310_ConfigDlg& w) {   // a remote command times out
             device.isDataMode = 1;
             sendRemoteCommand(REMOTE_CMD_BAUD, 1);
             SendMessageW(w.m_hWnd, WM_TIMER, HandshakeCommandTimer, 0);
         }, L"0012-6F-34AB56", true, true, 2},
        {[](CRZ310_ConfigDlg&) { answer("AT+RESET\r", "\r\nOK\r\n"); }, L"", false, false, 2},
        // The adapter, escaped before, may still hold its link.
        {[](CRZ310_ConfigDlg& w) { w.localDevice()->OnBnClickedRestartDevice(); }, L"", false, true, 0},
    };
    // clang-format on
    open();
    HWND rd = dlg->remoteDevice()->m_hWnd, cn = dlg->connection()->m_hWnd;
    auto on = [](HWND panel, int id) { return IsWindowEnabled(GetDlgItem(panel, id)) != 0; };
    for (const auto& run : runs) {
        device.isDeviceInitialised = device.isConnected = device.isInquiryActive = 1;
        handshakeState = HANDSHAKE_COMPLETE;
        strcpy(remoteAddress, "0012-6F-34AB56");
        inquiry.resultCount = 2;
        for (UINT id : {ID_NOTIFY_INQUIRY_RESULT, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE})
            SendMessageW(dlg->m_hWnd, WM_COMMAND, id, 0);
        run.end(*dlg);
        pump();
        SCOPED_TRACE(&run - runs);
        EXPECT_TRUE(on(rd, IDC_RD_HANDSHAKE) && !on(rd, IDC_RD_PROGRAM_REMOTE) && !on(rd, IDC_RD_EXIT_REMOTE));
        EXPECT_EQ(textOf(GetDlgItem(rd, IDC_RD_ADDRESS)), run.remoteAddress);
        EXPECT_EQ(on(cn, IDC_CN_CANCEL_INQUIRY), run.cancelInquiryOn);
        EXPECT_EQ(on(cn, IDC_CN_DISCONNECT), run.disconnectOn);
        EXPECT_EQ(SendDlgItemMessageW(cn, IDC_CN_RESULTS, LB_GETCOUNT, 0, 0), run.resultRows);
    }
    // The way out of the link the restart forgot, taken once.
    SendMessageW(GetDlgItem(cn, IDC_CN_DISCONNECT), BM_CLICK, 0, 0);
    EXPECT_FALSE(on(cn, IDC_CN_DISCONNECT));
    CloseHandle(std::exchange(atCommandEvent, nullptr)); // made by the restart's port opening
}
