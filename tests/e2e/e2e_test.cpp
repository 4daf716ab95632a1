// End-to-end tests: RZ310_Config.exe started for real, driven through its
// windows from this process, against the simulated adapter behind COM3;
// four runs of the tool, each through the workflow of a panel.
#include "e2e/gui_driver.h"
#include "panels/panel_ids.h"
#include "res/resource.h"
#include "support/sim_client.h"
#include "version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace e2e;

namespace {

// The file for an adapter in its reset state at 9600 baud behind COM3.
const char kSettingsAfterGetInfo[] =
    "# RZ310 Configuration Utility Settings\nPort = COM3\n"
    "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
    "Baud = 9600\nStopBits = 1\nFlowControl = On\n"
    "# Valid parity values are none, odd, even\n"
    "Parity = None\nName = Serial Adapter\nPin = 8642\nDiscoverable = On\nDisablePin = Off\nRole = Slave\n"
    "AutoConnect = On\nEscapeMode = On\nEchoMode = On\nAutoPower = Off\nCommandResponse = On\nRemoteConfig = On\n";

std::string replaceLine(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from + "\n");
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe_ = windowsPath(RZ310_CONFIG_EXE);
        work_ = windowsPath(RZ310_E2E_WORK) + L"\\" +
                widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(freshFolder(work_)) << utf8(work_);
        com_ = simComPort();
        ASSERT_GT(com_, 0) << "RZ310_SIM_COM is not set: run under tools/with-sim";
        ASSERT_TRUE(sim_.ok("reset")) << sim_.lastError();
    }

    void TearDown() override
    {
        if (HasFailure())
            ADD_FAILURE() << "at the end of the failed test:\n  dialogs: " << tool_.openDialogs() << "\n  log:\n"
                          << utf8(tool_.log()) << "\n  adapter: " << sim_.request("state");
        tool_.end();
    }

    std::wstring file(const std::wstring& name) const { return work_ + L"\\" + name; }

    // From a settings.txt at `baud`; at 0, from the one there is, if any.
    void startTool(int baud)
    {
        const std::string settings = "Port = COM" + std::to_string(com_) + "\nBaud = " + std::to_string(baud) +
                                     "\nStopBits = 1\nFlowControl = On\nParity = None\n";
        ASSERT_TRUE(!baud || writeFile(file(L"settings.txt"), settings));
        ASSERT_TRUE(tool_.start(exe_, work_)) << "main window not shown; open: " << tool_.openDialogs();
        panel_ = tool_.panel(LocalDevicePanel);
        ASSERT_NE(panel_, nullptr) << "no Local Device panel in the main window";
    }

    HWND ld(int id) const { return GetDlgItem(panel_, id); }
    std::wstring ldText(int id) const { return ui::textOf(ld(id)); }

    // Presses Get Device Info and waits until the panel shows the adapter.
    void bringUp()
    {
        const std::wstring name = widen(sim_.state()["name"]);
        ui::click(ld(IDC_LD_GET_DEVICE_INFO));
        auto up = [&] { return IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE)) && ldText(IDC_LD_DEVICE_NAME) == name; };
        ASSERT_TRUE(waitUntil(up, 60000, 100)) << "adapter not brought up";
        ASSERT_TRUE(tool_.sync()); // redisplays still queued would undo the test's next step
    }

    // Presses a panel's button; the panel, or null when it is not shown
    // alone. It fills the frame but for a pixel each side.
    HWND showPanel(int button, Panel which)
    {
        HWND wanted = tool_.panel(which);
        RECT frame, shown;
        ui::click(tool_.item(button));
        if (!wanted || !waitUntil([&] { return tool_.visiblePanels() == std::vector<HWND>{wanted}; }, 10000))
            return nullptr;
        GetWindowRect(tool_.item(IDC_PANEL_FRAME), &frame);
        InflateRect(&frame, -1, -1);
        EXPECT_TRUE(GetWindowRect(wanted, &shown) && EqualRect(&shown, &frame)) << "panel " << which;
        return wanted;
    }

    size_t logCount(const std::wstring& text) const
    {
        const std::wstring log = tool_.log();
        size_t n = 0;
        for (size_t at = log.find(text); at != std::wstring::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
    bool waitForLog(const std::wstring& text, DWORD ms = 60000)
    {
        return waitUntil([&] { return logCount(text) > 0; }, ms, 20);
    }

    // The port, adapter and connection lights ("+-?", see Capture::light);
    // they change a moment after the state.
    void expectLights(const std::string& wanted)
    {
        std::string shown;
        auto lights = [&] {
            shown.clear();
            for (int id : {IDC_LED_UART, IDC_LED_DEVICE, IDC_LED_CONNECTION}) {
                Capture shot;
                shown += shot.grab(tool_.item(id)) ? shot.light() : '?';
            }
            return shown == wanted;
        };
        waitUntil(lights, 15000, 100);
        EXPECT_EQ(shown, wanted) << "status lights";
    }

    void saveShot(const std::wstring& name)
    {
        Capture shot;
        tool_.sync();
        Sleep(300); // the repaints reach the screen
        ASSERT_TRUE(shot.grab(tool_.mainWindow()));
        EXPECT_TRUE(shot.saveBmp(windowsPath(RZ310_E2E_SHOTS) + L"\\" + name + L".bmp"));
    }

    std::wstring exe_;
    std::wstring work_;
    int com_ = 0;
    SimClient sim_;
    ToolProcess tool_;
    HWND panel_ = nullptr;
};

// No settings.txt: the operator is told. Help and About. Escape ends the
// tool like File > Exit: the zeroed settings are written, the port unused.
TEST_F(ToolTest, StartsWithoutSettingsFileThenHelpMenuAndEscape)
{
    // Its own copy: the shell would find the documents beside the built exe.
    ASSERT_TRUE(CopyFileW(exe_.c_str(), file(L"RZ310_Config.exe").c_str(), FALSE));
    exe_ = file(L"RZ310_Config.exe");
    ASSERT_NO_FATAL_FAILURE(startTool(0));
    EXPECT_EQ(tool_.boxesSeen(), std::vector<std::wstring>{L"Failed to open settings.txt file.No such file present"});
    EXPECT_EQ(tool_.visiblePanels(), std::vector<HWND>{panel_});
    expectLights("---");

    // The Help documents: missing, then, copied next to the tool, shown by a program the shell starts.
    const std::tuple<UINT, std::wstring, DWORD> documents[] = {
        {ID_HELP_USER_MANUAL, L"RZ310 Configuration Manual.pdf", 2},
        {ID_HELP_AT_COMMAND_MANUAL, L"AT Command Manual.pdf", 3}};
    for (const auto& [command, name, started] : documents) {
        tool_.command(command);
        EXPECT_EQ(tool_.answerMessageBox(), name + L" not found");
        ASSERT_TRUE(CopyFileW((windowsPath(RZ310_MANUALS_DIR) + L"\\" + name).c_str(), file(name).c_str(), FALSE))
            << utf8(name) << " not built";
        tool_.command(command);
        EXPECT_TRUE(waitUntil([&] { return tool_.processesStarted() == started; }, 10000)) << utf8(name);
    }
    // The About box, from the Help menu and from the system menu.
    for (UINT message : {UINT(WM_COMMAND), UINT(WM_SYSCOMMAND)}) {
        PostMessageW(tool_.mainWindow(), message, message == WM_COMMAND ? ID_HELP_ABOUT : IDM_ABOUTBOX, 0);
        HWND about = tool_.waitForDialog(L"About RZ310 Configuration Tool", 10000);
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(ui::textOf(GetDlgItem(about, IDC_ABOUT_VERSION)), L"Version " + widen(RZ310_VERSION_TEXT));
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(waitUntil([&] { return tool_.dialogs().empty(); }, 10000));
    }

    PostMessageW(tool_.mainWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(tool_.waitForExit(15000));
    EXPECT_TRUE(sim_.received().empty());
    // No Parity and no Role line: the zeroed records have no text for them.
    EXPECT_EQ(unixLines(readFile(file(L"settings.txt"))),
              "# RZ310 Configuration Utility Settings\nPort = COM0\n"
              "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
              "Baud = 0\nStopBits = 0\nFlowControl = Off\n"
              "# Valid parity values are none, odd, even\n"
              "Name = \nPin = \nDiscoverable = Off\nDisablePin = Off\nAutoConnect = Off\nEscapeMode = Off\n"
              "EchoMode = Off\nAutoPower = Off\nCommandResponse = Off\nRemoteConfig = Off\n");
}

// The search finds an adapter at 2400 (the third setting tried) named like
// a connection report. Inquiry, a row picked, an address typed in lower
// case, connect; handshake, a remote baud change, exit remote access;
// disconnect out of data mode.
TEST_F(ToolTest, SearchThenInquiryConnectRemoteConfigurationAndDisconnect)
{
    ASSERT_TRUE(sim_.setLine(2400, "none", 1, true));
    ASSERT_TRUE(sim_.set("name", "CONNECTOR"));
    ASSERT_TRUE(sim_.set("role", "M") && sim_.set("autoconnect", "0")); // or it takes no inquiry
    for (const char* device : {"0012-6F-000001 Printer", "0012-6F-000002 Phone", "0012-6F-000003 Scanner"})
        ASSERT_TRUE(sim_.ok(std::string("inquiry device ") + device));
    ASSERT_NO_FATAL_FAILURE(startTool(19200));
    // The panel shows the name: it was not taken for a report.
    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(ldText(IDC_LD_BAUD_RATE), L"2400");
    // The tries at 19200 and 1200 were noise to the adapter.
    EXPECT_EQ(sim_.received().at(0), "AT\r");
    expectLights("++-");

    HWND cn = showPanel(IDC_CONNECTION, ConnectionPanel);
    ASSERT_NE(cn, nullptr);
    ASSERT_TRUE(ui::clickAndWait(GetDlgItem(cn, IDC_CN_INQUIRE), 30000));
    EXPECT_TRUE(waitForLog(L"Inquiry Complete."));
    EXPECT_EQ(SendMessageW(GetDlgItem(cn, IDC_CN_RESULTS), LB_GETCOUNT, 0, 0), 4) << "three devices and the end";
    SendMessageW(GetDlgItem(cn, IDC_CN_RESULTS), LB_SETCURSEL, 0, 0);
    SendMessageW(cn, WM_COMMAND, MAKEWPARAM(IDC_CN_RESULTS, LBN_SELCHANGE), LPARAM(GetDlgItem(cn, IDC_CN_RESULTS)));
    EXPECT_EQ(ui::textOf(GetDlgItem(cn, IDC_CN_ADDRESS)), L"00126F000001");
    saveShot(L"connection-inquiry");

    ASSERT_TRUE(ui::type(GetDlgItem(cn, IDC_CN_ADDRESS), L"0012-6f-34ab56"));
    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(cn, IDC_CN_CONNECT));
    ASSERT_EQ(tool_.answerMessageBox(), L"Local Device connected to remote device with address 0012-6F-34AB56");
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+CONN=0012-6F-34AB56\r"});
    expectLights("+++");

    HWND rd = showPanel(IDC_REMOTE_DEVICE, RemoteDevicePanel);
    ASSERT_NE(rd, nullptr);
    EXPECT_TRUE(waitUntil([&] { return ui::textOf(GetDlgItem(rd, IDC_RD_ADDRESS)) == L"0012-6F-34AB56"; }, 10000));
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(GetDlgItem(rd, IDC_RD_HANDSHAKE), 10000));
    EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(GetDlgItem(rd, IDC_RD_PROGRAM_REMOTE)); }, 10000));
    ASSERT_TRUE(ui::selectComboText(GetDlgItem(rd, IDC_RD_BAUD_RATE), L"57600"));
    saveShot(L"remote-device-handshake");
    ASSERT_TRUE(ui::clickAndWait(GetDlgItem(rd, IDC_RD_PROGRAM_REMOTE), 10000));
    ASSERT_TRUE(ui::clickAndWait(GetDlgItem(rd, IDC_RD_EXIT_REMOTE), 10000));
    EXPECT_TRUE(waitForLog(L"Remote Access Mode Exited."));
    // Handshake, 57600 (code 4), exit.
    EXPECT_EQ(sim_.data(), std::string(8, '\xAA') + "\x01\x04" + std::string("\x00\x80", 2));

    // The box asks for the escape sequence: the adapter is in data mode.
    ASSERT_EQ(showPanel(IDC_CONNECTION, ConnectionPanel), cn);
    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(cn, IDC_CN_DISCONNECT));
    ASSERT_EQ(tool_.answerMessageBox(),
              L"Local Device is in datamode. Do you want to Send Escape Sequence before sending the command");
    EXPECT_EQ(tool_.answerMessageBox(), L"Local Device disconnected from remote device with address  0012-6F-34AB56");
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"+++", "AT+DROP\r"}));
    expectLights("++-");
}

// Save and Load through the real file dialogs (which move the working
// directory), Program Device, Reset Device; File > Exit with Debug on.
TEST_F(ToolTest, SaveLoadThroughTheFileDialogsLocalDeviceButtonsThenFileExit)
{
    ASSERT_TRUE(sim_.setLine(9600, "none", 1, true));
    ASSERT_NO_FATAL_FAILURE(startTool(9600));
    ASSERT_NO_FATAL_FAILURE(bringUp());
    saveShot(L"local-device");

    const std::wstring saved = file(L"saved\\adapter.txt");
    ASSERT_TRUE(freshFolder(file(L"saved")));
    ASSERT_TRUE(tool_.chooseFile(ID_FILE_SAVE_SETTINGS, L"Save settings file as...", saved));
    ASSERT_TRUE(waitUntil([&] { return unixLines(readFile(saved)) == kSettingsAfterGetInfo; }, 15000))
        << "saved:\n" + readFile(saved);

    // Loading the file edited programs its differences, the baud rate first.
    std::string edited = replaceLine(kSettingsAfterGetInfo, "Baud = 9600", "Baud = 115200");
    edited = replaceLine(edited, "Name = Serial Adapter", "Name = Loaded Name");
    ASSERT_TRUE(writeFile(saved, replaceLine(edited, "EchoMode = On", "EchoMode = Off")));
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(tool_.chooseFile(ID_FILE_LOAD_SETTINGS, L"Select settings file", saved));
    ASSERT_TRUE(waitForLog(L"Adapter programmed with loaded settings."));
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+BAUD17\r", "AT+NAME=Loaded Name\r", "AT+ECHO-\r"}));
    EXPECT_TRUE(waitUntil([&] { return ldText(IDC_LD_DEVICE_NAME) == L"Loaded Name"; }, 10000));

    // The baud rate alone; the port follows the adapter to it.
    ASSERT_TRUE(ui::selectComboText(ld(IDC_LD_BAUD_RATE), L"9600"));
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_PROGRAM_DEVICE), 60000));
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+BAUD13\r"});

    // Reset Device: the adapter's factory settings, at 19200, in the panel
    // and on the port; Restart Device opens the port again and finds it.
    ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_RESET_DEVICE), 30000));
    EXPECT_TRUE(waitUntil([&] { return ldText(IDC_LD_DEVICE_NAME) == L"Serial Adapter"; }, 10000));
    EXPECT_EQ(sim_.tty().baud, 19200);
    ASSERT_TRUE(sim_.clear());
    ui::click(ld(IDC_LD_RESTART_DEVICE));
    auto found = [&] { return !sim_.received().empty() && IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE)); };
    EXPECT_TRUE(waitUntil(found, 60000, 100));

    // Both files go to the start-up folder; the port is closed before the end.
    tool_.command(ID_DEBUG_ENABLE_DEBUG);
    ASSERT_TRUE(waitUntil([&] { return fileExists(file(L"Debug.txt")); }, 10000));
    tool_.command(ID_FILE_EXIT);
    ASSERT_TRUE(tool_.waitForExit(15000));
    EXPECT_EQ(unixLines(readFile(file(L"settings.txt"))),
              replaceLine(kSettingsAfterGetInfo, "Baud = 9600", "Baud = 19200"));
    const std::string trace = readFile(file(L"Debug.txt"));
    const size_t closed = trace.find("UART: Setting isUartActive to FALSE.");
    EXPECT_NE(closed, std::string::npos) << trace;
    EXPECT_NE(trace.find("Main Application Exiting....", closed), std::string::npos) << trace;
}

// Device 1 at 19200, Device 2 at 2400 on the same port: the operator moves
// the cable when a box asks. A search stopped, then pairing searches for
// Device 2 and bonds the two; unpairing undoes both bonds.
TEST_F(ToolTest, PairsWithADevice2AtOtherLineSettingsThenUnpairs)
{
    ASSERT_TRUE(sim_.ok("attach 2") && sim_.setLine(2400, "none", 1, true) && sim_.set("name", "Pair Partner"));
    ASSERT_TRUE(sim_.ok("attach 1"));
    ASSERT_NO_FATAL_FAILURE(startTool(19200));
    ASSERT_NO_FATAL_FAILURE(bringUp());
    HWND pair = showPanel(IDC_PAIR_DEVICE, PairDevicePanel);
    ASSERT_NE(pair, nullptr);

    // First a Device 2 that never answers: Esc a few seconds into the search
    // stops it within 2 s, with no box. Device 1 answers at its own line
    // settings, to a command sent with Enter in the AT Command box.
    const std::wstring connect2 = L"Connect Device 2 to COM" + std::to_wstring(com_) + L" and then Press OK";
    ui::click(GetDlgItem(pair, IDC_PD_PAIR));
    ASSERT_EQ(tool_.answerMessageBox(15000, [&](auto&) { ASSERT_TRUE(sim_.ok("attach 2") && sim_.ok("mute")); }),
              connect2);
    ASSERT_TRUE(waitForLog(L"Trying ")); // the first AT went unanswered; the way out was shown before it
    ASSERT_LT(tool_.log().find(L"Searching for Device 2. Press Esc to stop."), tool_.log().find(L"Trying "));
    Sleep(1000);
    // On the keyboard: a posted WM_KEYDOWN is no input to a busy wait.
    SetForegroundWindow(tool_.mainWindow());
    const DWORD pressed = GetTickCount();
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    ASSERT_TRUE(waitForLog(L"Pairing cancelled.", 10000));
    EXPECT_LE(GetTickCount() - pressed, 2000u);
    EXPECT_TRUE(tool_.sync() && tool_.dialogs().empty()) << tool_.openDialogs();
    ASSERT_TRUE(sim_.ok("unmute") && sim_.ok("attach 1") && sim_.clear());
    ASSERT_EQ(showPanel(IDC_LOCAL_DEVICE, LocalDevicePanel), panel_);
    ASSERT_TRUE(ui::type(ld(IDC_LD_AT_COMMAND), L"at+ver"));
    PostMessageW(ld(IDC_LD_AT_COMMAND), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_TRUE(waitUntil([&] { return sim_.received() == std::vector<std::string>{"AT+VER\r"}; }, 15000));
    EXPECT_TRUE(tool_.sync() && tool_.dialogs().empty()) << "the tool ended, or " << tool_.openDialogs();
    ASSERT_EQ(showPanel(IDC_PAIR_DEVICE, PairDevicePanel), pair);

    // What Device 2 heard, and the port, when the operator is asked to plug Device 1 back.
    std::vector<std::string> device2Heard;
    SimTty portWhenDevice1Asked;
    auto moveCable = [&](const std::wstring& box) {
        if (box.rfind(L"Connect Device 2", 0) == 0) {
            ASSERT_TRUE(sim_.ok("attach 2"));
        } else if (box.rfind(L"Connect Device 1", 0) == 0 || box.rfind(L"Unpairing completed", 0) == 0) {
            device2Heard = sim_.received();
            portWhenDevice1Asked = sim_.tty();
            ASSERT_TRUE(sim_.ok("attach 1"));
        }
    };
    auto expectBoxes = [&](const std::vector<std::wstring>& boxes) {
        for (const std::wstring& expected : boxes)
            ASSERT_EQ(tool_.answerMessageBox(60000, moveCable), expected);
    };

    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(pair, IDC_PD_PAIR));
    ASSERT_NO_FATAL_FAILURE(
        expectBoxes({connect2, L"Connect Device 1 to COM" + std::to_wstring(com_) + L" and then Press OK",
                     L"Pairing completed successfully"}));
    // Device 2 heard only what reached it at its own settings.
    EXPECT_EQ(device2Heard,
              (std::vector<std::string>{"AT\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r", "AT+BOND=00126F123456\r"}));
    EXPECT_EQ(portWhenDevice1Asked.baud, 19200) << "port set back before Device 1 is asked for";
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+ROLEM\r", "AT+BOND=00126F654321\r"}));

    ASSERT_TRUE(tool_.sync());
    EXPECT_EQ(ui::textOf(GetDlgItem(pair, IDC_PD_DEVICE2_NAME)), L"Pair Partner");
    // The search showed the setting that found Device 2.
    EXPECT_TRUE(waitForLog(L"Trying 2400 baud, parity None, 1 stop bit(s), flow control On"));
    saveShot(L"pair-device-paired");

    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(pair, IDC_PD_UNPAIR));
    ASSERT_NO_FATAL_FAILURE(expectBoxes({connect2, L"Unpairing completed successfully. Connect back Device 1"}));
    EXPECT_EQ(device2Heard, std::vector<std::string>{"AT+BOND-\r"});
    EXPECT_EQ(portWhenDevice1Asked.baud, 19200) << "port set back before Device 1 is asked for";
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+BOND-\r"});
    EXPECT_TRUE(tool_.sync()) << "the user-interface thread is free again";
}

// The port vanishes as a USB adapter does, twice: the tool shows it at
// once without a box, the command waiting for an answer included, and when
// the adapter returns behind the same name it reads it again by itself.
// Exiting while it waits saves the adapter's file.
TEST_F(ToolTest, PortVanishesAndComesBackWithoutAClick)
{
    ASSERT_TRUE(sim_.setLine(9600, "none", 1, true));
    ASSERT_NO_FATAL_FAILURE(startTool(9600));
    ASSERT_NO_FATAL_FAILURE(bringUp());
    const std::wstring com = L"COM" + std::to_wstring(com_);
    const std::wstring lost =
        L"Serial port " + com + L" lost. Plug the adapter back in; the tool opens the port again when it returns.";
    const std::wstring ready = L"Local Device initialised successfully";

    // It goes while a command waits for its answer, which never comes.
    ASSERT_TRUE(sim_.ok("mute") && sim_.clear());
    ASSERT_TRUE(ui::type(ld(IDC_LD_AT_COMMAND), L"at+ver"));
    ui::click(ld(IDC_LD_SEND_AT_COMMAND));
    ASSERT_TRUE(waitUntil([&] { return sim_.state()["discarded"] != "0"; }, 5000, 20)) << "not sent";
    ASSERT_TRUE(sim_.ok("vanish") && sim_.ok("unmute"));
    ASSERT_TRUE(waitForLog(lost, 3000)) << "no lost line within 3 s";
    expectLights("---");
    EXPECT_FALSE(IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE)));
    EXPECT_FALSE(IsWindowEnabled(ld(IDC_LD_SEND_AT_COMMAND)));
    EXPECT_TRUE(IsWindowEnabled(ld(IDC_LD_GET_DEVICE_INFO)));
    // Tries to open the port meanwhile, quietly.
    EXPECT_FALSE(waitUntil([&] { return !tool_.dialogs().empty(); }, 4500)) << tool_.openDialogs();

    ASSERT_TRUE(sim_.ok("reappear"));
    ASSERT_TRUE(waitUntil([&] { return logCount(ready) >= 2; }, 8000, 20)) << "not read again within 8 s";
    EXPECT_EQ(logCount(lost), 1u);
    EXPECT_EQ(logCount(L"Serial port " + com + L" is back. Restarting the adapter."), 1u);
    expectLights("++-");

    ASSERT_TRUE(tool_.sync());
    ASSERT_TRUE(sim_.ok("vanish"));
    ASSERT_TRUE(waitUntil([&] { return logCount(lost) == 2; }, 3000, 20));
    tool_.command(ID_FILE_EXIT);
    ASSERT_TRUE(tool_.waitForExit(15000));
    EXPECT_EQ(unixLines(readFile(file(L"settings.txt"))), kSettingsAfterGetInfo);
    EXPECT_TRUE(tool_.boxesSeen().empty());
}

} // namespace
