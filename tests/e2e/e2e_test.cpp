// End-to-end tests: RZ310_Config.exe started for real, driven through its
// windows from this process, against the simulated adapter behind COM3.
// Each test is one or two runs of the tool; a run goes through as many of
// the operator's steps as can share it: every panel and the search are in
// one of them.
#include "e2e/gui_driver.h"
#include "panels/panel_ids.h"
#include "res/resource.h"
#include "support/sim_client.h"
#include "version.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace e2e;

namespace {

// What Get Device Info sends after the AT that finds the adapter.
const std::vector<std::string> kGetDeviceInfo = {
    "AT\r",       "AT+RESP?\r", "AT+ECHO?\r", "AT+ROLE?\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+PIN?\r",  "AT+DCOV?\r",
    "AT+ESC?\r",  "AT+SLEEP?\r", "AT+ACON?\r", "AT+RCFG?\r", "AT+VER\r",  "AT+BAUD?\r", "AT+STOP?\r", "AT+PAR?\r",
    "AT+FLOW?\r"};

// What the tool writes for an adapter in its reset state at 9600 baud, no
// parity, one stop bit, flow control on, behind COM3.
const char kSettingsAfterGetInfo[] =
    "# RZ310 Configuration Utility Settings\nPort = COM3\n"
    "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
    "Baud = 9600\nStopBits = 1\nFlowControl = On\n"
    "# Valid parity values are none, odd, even\n"
    "Parity = None\nName = Serial Adapter\nPin = 8642\nDiscoverable = On\nDisablePin = Off\nRole = Slave\n"
    "AutoConnect = On\nEscapeMode = On\nEchoMode = On\nAutoPower = Off\nCommandResponse = On\nRemoteConfig = On\n";

const char kLit[] = "lit green";
const char kDark[] = "dark red";

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
#ifndef RZ310_CONFIG_EXE
        GTEST_SKIP() << "RZ310_Config.exe is not part of this build";
#else
        exe_ = windowsPath(RZ310_CONFIG_EXE);
        ASSERT_TRUE(fileExists(exe_)) << "not built: " << RZ310_CONFIG_EXE;
        work_ = windowsPath(RZ310_E2E_WORK) + L"\\" +
                widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(freshFolder(work_)) << utf8(work_);
        shots_ = windowsPath(RZ310_E2E_SHOTS);
        CreateDirectoryW(shots_.c_str(), nullptr);
        com_ = simComPort();
        ASSERT_GT(com_, 0) << "RZ310_SIM_COM is not set: run under tools/with-sim";
        ASSERT_TRUE(sim_.connected()) << sim_.lastError();
        ASSERT_TRUE(sim_.ok("reset"));
        ASSERT_TRUE(sim_.clear());
#endif
    }

    void TearDown() override { tool_.end(); }

    std::wstring file(const std::wstring& name) const { return work_ + L"\\" + name; }

    // Starts the tool from a settings.txt at `baud`, one stop bit, flow
    // control on; from the settings.txt there is, if any, when `baud` is 0.
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
    int ldCheck(int id) const { return ui::checkState(ld(id)); }

    std::string diagnostics()
    {
        std::wstring log = tool_.log();
        if (log.size() > 1500)
            log = L"..." + log.substr(log.size() - 1500);
        return "\n  dialogs: " + tool_.openDialogs() + "\n  log:\n" + utf8(log) +
               "\n  adapter: " + sim_.request("state");
    }

    // Get Device Info, then waits until the adapter is up.
    void bringUp()
    {
        ui::click(ld(IDC_LD_GET_DEVICE_INFO));
        ASSERT_NO_FATAL_FAILURE(waitUp());
    }

    // Waits until the panel shows what the adapter holds and its controls
    // are enabled.
    void waitUp()
    {
        std::map<std::string, std::string> adapter = sim_.state();
        bool up = waitUntil(
            [&] {
                return IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE)) &&
                       ldText(IDC_LD_DEVICE_NAME) == widen(adapter["name"]) &&
                       ldText(IDC_LD_DEVICE_ADDRESS) == widen(adapter["address"]) &&
                       ldText(IDC_LD_FW_VERSION) == widen(adapter["version"]);
            },
            60000, 100);
        ASSERT_TRUE(up) << "adapter not brought up" << diagnostics();
        // Redisplays still queued would undo what the test does next.
        ASSERT_TRUE(tool_.sync()) << diagnostics();
    }

    // The AT Command box as the operator fills it and presses Send.
    bool sendAt(const std::wstring& command)
    {
        return ui::type(ld(IDC_LD_AT_COMMAND), command) && ui::clickAndWait(ld(IDC_LD_SEND_AT_COMMAND), 30000);
    }

    bool waitForLog(const std::wstring& text, size_t count = 1, DWORD timeoutMs = 15000)
    {
        return waitUntil(
            [&] {
                std::wstring log = tool_.log();
                size_t found = 0;
                for (size_t at = log.find(text); at != std::wstring::npos; at = log.find(text, at + 1))
                    ++found;
                return found >= count;
            },
            timeoutMs, 100);
    }

    // The lights change colour on the screen a moment after the state.
    void expectLights(const char* uart, const char* device, const char* connection)
    {
        const std::pair<int, std::string> lights[] = {
            {IDC_LED_UART, uart}, {IDC_LED_DEVICE, device}, {IDC_LED_CONNECTION, connection}};
        Capture shot;
        waitUntil(
            [&] {
                bool shown = shot.grab(tool_.mainWindow());
                for (const auto& [id, wanted] : lights)
                    shown = shown && shot.light(tool_.item(id)) == wanted;
                return shown;
            },
            15000, 100);
        for (const auto& [id, wanted] : lights)
            EXPECT_EQ(shot.light(tool_.item(id)), wanted) << "light " << id;
    }

    void saveShot(const std::wstring& name)
    {
        Capture shot;
        // Let pending repaints reach the screen before the capture.
        tool_.sync();
        Sleep(300);
        ASSERT_TRUE(shot.grab(tool_.mainWindow()));
        EXPECT_TRUE(shot.saveBmp(shots_ + L"\\" + name + L".bmp"));
    }

    // Debug > Enable Debug: a new Debug.txt in the start-up folder.
    void debugOn()
    {
        DeleteFileW(file(L"Debug.txt").c_str());
        tool_.command(ID_DEBUG_ENABLE_DEBUG);
        ASSERT_TRUE(waitUntil([&] { return fileExists(file(L"Debug.txt")); }, 10000)) << diagnostics();
    }

    // Ends the tool with Debug on, by File > Exit (the Escape key and the
    // close box take the dialog's cancel path, which the first test takes):
    // it writes settings.txt into its start-up folder and closes the port.
    void exitAndExpect(const std::string& settings)
    {
        ASSERT_NO_FATAL_FAILURE(debugOn());
        tool_.command(ID_FILE_EXIT);
        ASSERT_TRUE(tool_.waitForExit(15000)) << diagnostics();
        EXPECT_EQ(unixLines(readFile(file(L"settings.txt"))), settings);
        const std::string trace = readFile(file(L"Debug.txt"));
        const size_t closed = trace.find("UART: Setting isUartActive to FALSE.");
        EXPECT_NE(closed, std::string::npos) << trace;
        EXPECT_NE(trace.find("Main Application Exiting....", closed), std::string::npos) << trace;
    }

    std::wstring exe_;
    std::wstring work_;
    std::wstring shots_;
    int com_ = 0;
    SimClient sim_;
    ToolProcess tool_;
    HWND panel_ = nullptr;
};

// No settings.txt: the operator is told, the panel shows its defaults with
// the adapter's controls disabled. The Help documents are missing, then
// found once copied next to the tool. The Escape key ends the tool like
// File > Exit: the zeroed settings are written, and the port was never
// opened.
TEST_F(ToolTest, StartsWithoutSettingsFileThenHelpMenuAndEscape)
{
    // Started from a folder of its own, as an operator keeps it: the shell
    // would find the documents beside the built exe too.
    const std::wstring copy = file(L"RZ310_Config.exe");
    ASSERT_TRUE(CopyFileW(exe_.c_str(), copy.c_str(), FALSE));
    exe_ = copy;
    ASSERT_NO_FATAL_FAILURE(startTool(0));
    EXPECT_EQ(tool_.boxesSeen(), std::vector<std::wstring>{L"Failed to open settings.txt file.No such file present"});
    EXPECT_EQ(tool_.visiblePanels(), std::vector<HWND>{panel_});
    EXPECT_GE(ui::comboIndex(ld(IDC_LD_COM_PORT), L"COM" + std::to_wstring(com_)), 0);
    EXPECT_EQ(ui::comboSelection(ld(IDC_LD_COM_PORT)), 0);
    EXPECT_EQ(ldText(IDC_LD_BAUD_RATE), L"19200");
    EXPECT_EQ(ldText(IDC_LD_PARITY), L"None");
    EXPECT_EQ(ldCheck(IDC_LD_STOP_TWO), BST_CHECKED);
    EXPECT_EQ(ldCheck(IDC_LD_FLOW_DISABLED), BST_CHECKED);
    EXPECT_EQ(ldText(IDC_LD_FW_VERSION), L"F/W VERSION:");
    EXPECT_FALSE(IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE))) << "enabled before the adapter is up";
    expectLights(kDark, kDark, kDark);

    // The Help documents: missing, then as the build makes them, copied
    // next to the tool as `make run` and the release zip put them.
    const std::pair<UINT, std::wstring> documents[] = {{ID_HELP_USER_MANUAL, L"RZ310 Configuration Manual.pdf"},
                                                       {ID_HELP_AT_COMMAND_MANUAL, L"AT Command Manual.pdf"}};
    std::wstring text;
    for (const auto& [command, name] : documents) {
        tool_.command(command);
        ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
        EXPECT_EQ(text, name + L" not found");
    }
    for (const auto& [command, name] : documents) {
        ASSERT_TRUE(CopyFileW((windowsPath(RZ310_MANUALS_DIR) + L"\\" + name).c_str(), file(name).c_str(), FALSE))
            << utf8(name) << " not built";
        tool_.command(command);
        EXPECT_FALSE(waitUntil([&] { return !tool_.dialogs().empty(); }, 3000))
            << utf8(name) << ": " << tool_.openDialogs();
    }
    // The About box, from the Help menu and from the system menu.
    for (UINT message : {UINT(WM_COMMAND), UINT(WM_SYSCOMMAND)}) {
        PostMessageW(tool_.mainWindow(), message, message == WM_COMMAND ? ID_HELP_ABOUT : IDM_ABOUTBOX, 0);
        HWND about = tool_.waitForDialog(L"About RZ310 Configuration Tool", 10000);
        ASSERT_NE(about, nullptr) << diagnostics();
        EXPECT_EQ(ui::textOf(GetDlgItem(about, IDC_ABOUT_VERSION)), L"Version " + widen(RZ310_VERSION_TEXT));
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(waitUntil([&] { return tool_.dialogs().empty(); }, 10000)) << diagnostics();
    }

    PostMessageW(tool_.mainWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(tool_.waitForExit(15000)) << diagnostics();
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

// The tool starts at 19200; the adapter listens at 2400, the third setting
// the search tries. Its name starts like a connection report and is read
// as a name. The adapter moves on behind the tool's back and the operator
// follows it in the panel and restarts. Then the Connection panel: an
// inquiry whose rows appear one by one, a row picked, an address typed in
// lower case, connect; the Remote Device panel over that connection:
// handshake, a baud change and the end of remote access, its buttons
// following the handshake; then disconnect out of data mode through the
// escape-sequence question, which empties the remote address.
TEST_F(ToolTest, SearchRestartThenInquiryConnectRemoteConfigurationAndDisconnect)
{
    ASSERT_TRUE(sim_.setLine(2400, "none", 1, true));
    const std::pair<const char*, const char*> adapter[] = {
        {"name", "CONNECTOR"}, {"pin", "4321"},   {"version", "RZ310 FW 2.17"}, {"role", "M"},
        {"discoverable", "0"},     {"escape", "0"},   {"sleep", "1"},               {"autoconnect", "0"}};
    for (auto [key, value] : adapter)
        ASSERT_TRUE(sim_.set(key, value));
    const std::pair<const char*, const char*> devices[] = {
        {"0012-6F-000001", "Printer"}, {"0012-6F-000002", "Phone"}, {"0012-6F-000003", "Scanner"}};
    for (auto [address, name] : devices)
        ASSERT_TRUE(sim_.ok("inquiry device " + std::string(address) + " " + name));
    ASSERT_NO_FATAL_FAILURE(startTool(19200));
    EXPECT_TRUE(tool_.boxesSeen().empty());
    expectLights(kDark, kDark, kDark);

    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(ldText(IDC_LD_DEVICE_NAME), L"CONNECTOR");
    EXPECT_EQ(ldText(IDC_LD_PIN_CODE), L"4321");
    EXPECT_EQ(ldText(IDC_LD_FW_VERSION), L"RZ310 FW 2.17");
    EXPECT_EQ(ldText(IDC_LD_BAUD_RATE), L"2400");
    EXPECT_EQ(ldText(IDC_LD_PARITY), L"None");
    const std::pair<int, int> checks[] = {
        {IDC_LD_MASTER, BST_CHECKED},         {IDC_LD_SLAVE, BST_UNCHECKED},
        {IDC_LD_NON_DISCOVERABLE, BST_CHECKED}, {IDC_LD_DISCOVERABLE, BST_UNCHECKED},
        {IDC_LD_ECHO_MODE, BST_CHECKED},      {IDC_LD_COMMAND_RESPONSE, BST_CHECKED},
        {IDC_LD_ESCAPE_MODE, BST_UNCHECKED},  {IDC_LD_AUTO_POWER, BST_CHECKED},
        {IDC_LD_AUTO_CONNECT, BST_UNCHECKED}, {IDC_LD_REMOTE_CONFIG, BST_CHECKED},
        {IDC_LD_DISABLE_AUTH, BST_UNCHECKED}, {IDC_LD_STOP_ONE, BST_CHECKED},
        {IDC_LD_FLOW_ENABLED, BST_CHECKED}};
    for (auto [id, state] : checks)
        EXPECT_EQ(ldCheck(id), state) << "control " << id;
    EXPECT_FALSE(IsWindowEnabled(ld(IDC_LD_DEVICE_ADDRESS))) << "the address is never edited";
    // The adapter hears only its own line settings: the tries at 19200 and
    // 1200 were noise to it.
    EXPECT_EQ(sim_.received(), kGetDeviceInfo);
    EXPECT_TRUE(waitForLog(L"UART initialised successfully")) << diagnostics();
    EXPECT_TRUE(waitForLog(L"Local Device initialised successfully")) << diagnostics();
    expectLights(kLit, kLit, kDark);
    EXPECT_TRUE(tool_.boxesSeen().empty() && tool_.dialogs().empty()) << "a box came up" << diagnostics();
    saveShot(L"local-device-after-search");

    ASSERT_TRUE(sim_.setLine(38400, "none", 1, true));
    ASSERT_TRUE(ui::selectComboText(ld(IDC_LD_BAUD_RATE), L"38400"));
    ASSERT_TRUE(sim_.clear());
    ui::click(ld(IDC_LD_RESTART_DEVICE));
    EXPECT_TRUE(waitUntil([&] { return !IsWindowEnabled(ld(IDC_LD_PROGRAM_DEVICE)); }, 10000))
        << "controls stayed enabled";
    ASSERT_NO_FATAL_FAILURE(waitUp());
    EXPECT_EQ(sim_.received(), kGetDeviceInfo);
    EXPECT_EQ(ldText(IDC_LD_BAUD_RATE), L"38400");
    expectLights(kLit, kLit, kDark);

    // The Connection panel. The adapter takes the escape sequence again, as
    // the disconnect needs; results come a second apart.
    const size_t logBefore = tool_.log().size();
    ASSERT_TRUE(sim_.set("escape", "1"));
    ASSERT_TRUE(sim_.set("eventdelay", "1000"));
    ASSERT_TRUE(ui::clickAndWait(tool_.item(IDC_CONNECTION), 10000));
    HWND cn = tool_.panel(ConnectionPanel);
    ASSERT_NE(cn, nullptr);
    auto item = [&](int id) { return GetDlgItem(cn, id); };
    auto enabled = [&](int id) { return IsWindowEnabled(item(id)) != FALSE; };
    auto rows = [&] { return SendMessageW(item(IDC_CN_RESULTS), LB_GETCOUNT, 0, 0); };
    auto row = [&](int i) {
        wchar_t text[700] = L"";
        SendMessageW(item(IDC_CN_RESULTS), LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        return std::wstring(text);
    };
    EXPECT_FALSE(enabled(IDC_CN_CANCEL_INQUIRY));
    EXPECT_FALSE(enabled(IDC_CN_DISCONNECT));

    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(item(IDC_CN_INQUIRE), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+FIND?\r"});
    EXPECT_TRUE(enabled(IDC_CN_CANCEL_INQUIRY)) << "inquiry running";
    EXPECT_TRUE(waitUntil([&] { return rows() == 1; }, 10000)) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return rows() == 4 && !enabled(IDC_CN_CANCEL_INQUIRY); }, 15000)) << diagnostics();
    EXPECT_EQ(row(0), L"Printer" + std::wstring(27, L' ') + L"0012-6F-000001");
    EXPECT_EQ(row(3), L"Inquiry End");
    EXPECT_TRUE(waitForLog(L"Inquiry Complete.")) << diagnostics();

    // The first row is a device like any other.
    SendMessageW(item(IDC_CN_RESULTS), LB_SETCURSEL, 0, 0);
    SendMessageW(cn, WM_COMMAND, MAKEWPARAM(IDC_CN_RESULTS, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(item(IDC_CN_RESULTS)));
    EXPECT_EQ(ui::textOf(item(IDC_CN_ADDRESS)), L"00126F000001");
    saveShot(L"connection-inquiry");

    ASSERT_TRUE(sim_.set("eventdelay", "500"));
    ASSERT_TRUE(ui::type(item(IDC_CN_ADDRESS), L"0012-6f-34ab56"));
    ASSERT_TRUE(sim_.clear());
    ui::click(item(IDC_CN_CONNECT));
    std::wstring text;
    ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
    EXPECT_EQ(text, L"Local Device connected to remote device with address 0012-6F-34AB56");
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+CONN=0012-6F-34AB56\r"});
    EXPECT_TRUE(waitUntil([&] { return enabled(IDC_CN_DISCONNECT); }, 10000)) << diagnostics();
    expectLights(kLit, kLit, kLit);

    // The Remote Device panel over the connection.
    ASSERT_TRUE(ui::clickAndWait(tool_.item(IDC_REMOTE_DEVICE), 10000));
    HWND rd = tool_.panel(RemoteDevicePanel);
    ASSERT_NE(rd, nullptr);
    auto rdItem = [&](int id) { return GetDlgItem(rd, id); };
    auto buttons = [&] {
        std::string states;
        for (int id : {IDC_RD_HANDSHAKE, IDC_RD_PROGRAM_REMOTE, IDC_RD_EXIT_REMOTE})
            states += IsWindowEnabled(rdItem(id)) ? '+' : '-';
        return states;
    };
    EXPECT_TRUE(waitUntil([&] { return ui::textOf(rdItem(IDC_RD_ADDRESS)) == L"0012-6F-34AB56"; }, 10000))
        << diagnostics();
    EXPECT_EQ(buttons(), "+--");

    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(rdItem(IDC_RD_HANDSHAKE), 10000));
    EXPECT_TRUE(waitForLog(L"Handshake Complete...")) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return buttons() == "-++"; }, 10000)) << diagnostics();
    ASSERT_TRUE(ui::selectComboText(rdItem(IDC_RD_BAUD_RATE), L"57600"));
    saveShot(L"remote-device-handshake");

    ASSERT_TRUE(ui::clickAndWait(rdItem(IDC_RD_PROGRAM_REMOTE), 10000));
    EXPECT_TRUE(waitForLog(L"Remote Device Baud rate changed.")) << diagnostics();
    EXPECT_EQ(sim_.state()["remotebaud"], "4");
    ASSERT_TRUE(ui::clickAndWait(rdItem(IDC_RD_EXIT_REMOTE), 10000));
    EXPECT_TRUE(waitForLog(L"Remote Access Mode Exited.")) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return buttons() == "+--"; }, 10000)) << diagnostics();
    EXPECT_EQ(sim_.data(), std::string(8, '\xAA') + "\x01\x04" + std::string("\x00\x80", 2));

    // Disconnect, from the Connection panel.
    ASSERT_TRUE(ui::clickAndWait(tool_.item(IDC_CONNECTION), 10000));
    ASSERT_TRUE(sim_.clear());
    ui::click(item(IDC_CN_DISCONNECT));
    ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
    EXPECT_EQ(text, L"Local Device is in datamode. Do you want to Send Escape Sequence before sending the command");
    ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
    EXPECT_EQ(text, L"Local Device disconnected from remote device with address  0012-6F-34AB56");
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"+++", "AT+DROP\r"}));
    EXPECT_TRUE(waitUntil([&] { return !enabled(IDC_CN_DISCONNECT); }, 10000)) << diagnostics();
    expectLights(kLit, kLit, kDark);
    EXPECT_TRUE(waitUntil([&] { return ui::textOf(rdItem(IDC_RD_ADDRESS)).empty(); }, 10000)) << diagnostics();
    EXPECT_EQ(buttons(), "+--");
    EXPECT_EQ(tool_.log().find(L"failed", logBefore), std::wstring::npos) << diagnostics();
}

// Tours the panels (the captures are docs/panels/*.png) with Debug on; then
// Save and Load through the real file dialogs (which move the working
// directory); then each Local Device button; File > Exit; and a second run
// from the settings the first one saved.
TEST_F(ToolTest, PanelTourTraceSaveLoadLocalDeviceButtonsThenFileExit)
{
    ASSERT_TRUE(sim_.setLine(9600, "none", 1, true));
    ASSERT_NO_FATAL_FAILURE(startTool(9600));
    ASSERT_NO_FATAL_FAILURE(debugOn());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    // Switching off closes the file: everything is on disk.
    tool_.command(ID_DEBUG_ENABLE_DEBUG);
    auto traced = [&] { return readFile(file(L"Debug.txt")).find("Local Device initialised") != std::string::npos; };
    ASSERT_TRUE(waitUntil(traced, 10000));
    const std::string trace = unixLines(readFile(file(L"Debug.txt")));
    EXPECT_EQ(trace.substr(0, trace.find('\n')), "Setting debugFlag = TRUE");
    EXPECT_NE(trace.find("UART initialised successfully"), std::string::npos);

    const struct {
        int button;
        Panel panel;
        const wchar_t* shot;
    } tour[] = {{IDC_PAIR_DEVICE, PairDevicePanel, L"pair-device"},
                {IDC_CONNECTION, ConnectionPanel, L"connection"},
                {IDC_REMOTE_DEVICE, RemoteDevicePanel, L"remote-device"},
                {IDC_LOCAL_DEVICE, LocalDevicePanel, L"local-device"}};
    RECT frame, shown;
    ASSERT_TRUE(GetWindowRect(tool_.item(IDC_PANEL_FRAME), &frame));
    InflateRect(&frame, -1, -1);
    for (const auto& step : tour) {
        HWND wanted = tool_.panel(step.panel);
        ASSERT_NE(wanted, nullptr) << "panel " << step.panel << " missing";
        ASSERT_TRUE(ui::clickAndWait(tool_.item(step.button), 10000));
        ASSERT_TRUE(waitUntil([&] { return tool_.visiblePanels() == std::vector<HWND>{wanted}; }, 10000))
            << "panel " << step.panel << " not shown alone";
        // One pixel inside the frame.
        EXPECT_TRUE(GetWindowRect(wanted, &shown) && EqualRect(&shown, &frame)) << "panel " << step.panel;
        saveShot(step.shot);
    }

    const std::wstring folder = file(L"saved");
    const std::wstring saved = folder + L"\\adapter.txt";
    ASSERT_TRUE(freshFolder(folder));
    tool_.command(ID_FILE_SAVE_SETTINGS);
    HWND dialog = tool_.waitForDialog(L"Save settings file as...", 15000);
    ASSERT_NE(dialog, nullptr) << diagnostics();
    ASSERT_TRUE(tool_.chooseFile(dialog, saved));
    ASSERT_TRUE(waitUntil([&] { return unixLines(readFile(saved)) == kSettingsAfterGetInfo; }, 15000))
        << "saved:\n" << readFile(saved) << diagnostics();

    // Loading what was just saved changes nothing; an edited file programs
    // its differences, the baud rate first.
    std::string edited = replaceLine(kSettingsAfterGetInfo, "Baud = 9600", "Baud = 115200");
    edited = replaceLine(edited, "Name = Serial Adapter", "Name = Loaded Name");
    edited = replaceLine(edited, "EchoMode = On", "EchoMode = Off");
    const std::vector<std::string> loads[] = {{}, {"AT+BAUD17\r", "AT+NAME=Loaded Name\r", "AT+ECHO-\r"}};
    for (size_t load = 0; load < 2; ++load) {
        SCOPED_TRACE(load ? "edited" : "as saved");
        ASSERT_TRUE(sim_.clear());
        ASSERT_TRUE(!load || writeFile(saved, edited));
        tool_.command(ID_FILE_LOAD_SETTINGS);
        dialog = tool_.waitForDialog(L"Select settings file", 15000);
        ASSERT_NE(dialog, nullptr) << diagnostics();
        ASSERT_TRUE(tool_.chooseFile(dialog, saved));
        ASSERT_TRUE(waitForLog(L"Adapter programmed with loaded settings.", load + 1, 60000)) << diagnostics();
        EXPECT_TRUE(waitForLog(L"Programming the adapter with the loaded settings...", load + 1));
        EXPECT_EQ(sim_.received(), loads[load]);
    }
    EXPECT_TRUE(waitUntil(
        [&] {
            return ldText(IDC_LD_DEVICE_NAME) == L"Loaded Name" && ldCheck(IDC_LD_ECHO_MODE) == BST_UNCHECKED &&
                   ldText(IDC_LD_BAUD_RATE) == L"115200";
        },
        10000))
        << diagnostics();
    EXPECT_TRUE(tool_.boxesSeen().empty());

    // Program Device sends only what changed: nothing, then the baud rate
    // alone; the port follows the adapter to its new rate, as the next
    // command shows.
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_PROGRAM_DEVICE), 60000)) << diagnostics();
    EXPECT_EQ(sim_.received(), std::vector<std::string>{});
    ASSERT_TRUE(ui::selectComboText(ld(IDC_LD_BAUD_RATE), L"9600"));
    ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_PROGRAM_DEVICE), 60000)) << diagnostics();
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+BAUD13\r"});

    // Send AT Command upper-cases what was typed; the answer reaches the panel.
    ASSERT_TRUE(sim_.set("version", "RZ310 FW 3.02"));
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(sendAt(L"at+ver")) << diagnostics();
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+VER\r"});
    EXPECT_TRUE(waitForLog(L"Sending command AT+VER")) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return ldText(IDC_LD_FW_VERSION) == L"RZ310 FW 3.02"; }, 10000)) << diagnostics();
    // Disable Authentication acts at once; pressed again it restores the PIN.
    const std::pair<bool, const char*> authSteps[] = {{true, "AT+PIN-\r"}, {false, "AT+PIN=8642\r"}};
    for (auto [disabled, command] : authSteps) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(sim_.clear());
        ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_DISABLE_AUTH), 30000)) << diagnostics();
        EXPECT_EQ(sim_.received(), std::vector<std::string>{command});
        EXPECT_TRUE(waitUntil(
            [&, disabled = disabled] {
                return ldText(IDC_LD_PIN_CODE) == (disabled ? L"" : L"8642") &&
                       ldCheck(IDC_LD_DISABLE_AUTH) == (disabled ? BST_CHECKED : BST_UNCHECKED);
            },
            10000))
            << diagnostics();
    }

    // Typing stops at the adapter's field sizes and the command buffer's
    // (narrow letters, so that the box's width does not stop it first).
    const std::pair<int, size_t> limits[] = {{IDC_LD_DEVICE_NAME, 15}, {IDC_LD_PIN_CODE, 7}, {IDC_LD_AT_COMMAND, 28}};
    for (auto [id, limit] : limits) {
        ASSERT_TRUE(ui::type(ld(id), std::wstring(40, L'i')));
        EXPECT_EQ(ldText(id), std::wstring(limit, L'i')) << "box " << id;
    }

    // Reset Device: the adapter's factory settings, at 19200, in the panel
    // (over what was typed) and on the port.
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(ld(IDC_LD_RESET_DEVICE), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+RESET\r"});
    EXPECT_TRUE(waitForLog(L"Local Device reset successful")) << diagnostics();
    EXPECT_TRUE(waitUntil(
        [&] { return ldText(IDC_LD_BAUD_RATE) == L"19200" && ldText(IDC_LD_DEVICE_NAME) == L"Serial Adapter"; }, 10000))
        << diagnostics();
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(sendAt(L"at"));
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT\r"});

    // The trace and settings.txt still go to the start-up folder.
    ASSERT_NO_FATAL_FAILURE(exitAndExpect(replaceLine(kSettingsAfterGetInfo, "Baud = 9600", "Baud = 19200")));
    EXPECT_FALSE(fileExists(folder + L"\\Debug.txt"));
    EXPECT_FALSE(fileExists(folder + L"\\settings.txt"));

    // The next run starts from the line settings the last one saved.
    ASSERT_NO_FATAL_FAILURE(startTool(0));
    EXPECT_TRUE(tool_.boxesSeen().empty());
    EXPECT_EQ(ldText(IDC_LD_BAUD_RATE), L"19200");
    EXPECT_EQ(ldCheck(IDC_LD_STOP_ONE), BST_CHECKED);
    EXPECT_EQ(ldCheck(IDC_LD_FLOW_ENABLED), BST_CHECKED);
}

// Device 1 at 19200 and Device 2 at 2400 on the same COM port: the
// operator moves the cable whenever a box asks for it. Pairing searches
// Device 2's line settings, bonds it to Device 1 as a slave and puts the
// port back for Device 1, which it bonds to Device 2 as a master.
// Unpairing undoes both bonds.
TEST_F(ToolTest, PairsWithADevice2AtOtherLineSettingsThenUnpairs)
{
    ASSERT_TRUE(sim_.ok("attach 2"));
    ASSERT_TRUE(sim_.setLine(2400, "none", 1, true));
    ASSERT_TRUE(sim_.set("name", "Pair Partner"));
    ASSERT_TRUE(sim_.ok("attach 1"));
    ASSERT_NO_FATAL_FAILURE(startTool(19200));
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(ui::clickAndWait(tool_.item(IDC_PAIR_DEVICE), 10000));
    HWND pair = tool_.panel(PairDevicePanel);
    ASSERT_NE(pair, nullptr);

    // What Device 2 has when the operator is asked to unplug it.
    std::map<std::string, std::string> device2;
    std::vector<std::string> device2Heard;
    SimTty portWhenDevice1Asked;
    auto moveCable = [&](const std::wstring& box) {
        if (box.rfind(L"Connect Device 2", 0) == 0) {
            ASSERT_TRUE(sim_.ok("attach 2"));
        } else if (box.rfind(L"Connect Device 1", 0) == 0 || box.rfind(L"Unpairing completed", 0) == 0) {
            device2 = sim_.state();
            device2Heard = sim_.received();
            portWhenDevice1Asked = sim_.tty();
            ASSERT_TRUE(sim_.ok("attach 1"));
        }
    };
    auto expectBoxes = [&](const std::vector<std::wstring>& boxes) {
        for (const std::wstring& expected : boxes) {
            std::wstring text;
            ASSERT_TRUE(tool_.answerMessageBox(text, 60000, moveCable)) << diagnostics();
            EXPECT_EQ(text, expected);
        }
    };
    const std::wstring connect2 = L"Connect Device 2 to COM" + std::to_wstring(com_) + L" and then Press OK";

    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(pair, IDC_PD_PAIR));
    ASSERT_NO_FATAL_FAILURE(expectBoxes(
        {connect2, L"Connect Device 1 to COM" + std::to_wstring(com_) + L" and then Press OK",
         L"Pairing completed successfully"}));
    // Device 2 heard only what reached it at its own settings.
    EXPECT_EQ(device2Heard, (std::vector<std::string>{"AT\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r",
                                                      "AT+BOND=00126F123456\r"}));
    EXPECT_EQ(device2["role"], "S");
    EXPECT_EQ(device2["bond"], "00126F123456");
    EXPECT_EQ(portWhenDevice1Asked.baud, 19200) << "port set back before Device 1 is asked for";
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+ROLEM\r", "AT+BOND=00126F654321\r"}));
    std::map<std::string, std::string> device1 = sim_.state();
    EXPECT_EQ(device1["role"], "M");
    EXPECT_EQ(device1["bond"], "00126F654321");

    ASSERT_TRUE(tool_.sync()) << diagnostics();
    const std::pair<int, const wchar_t*> boxes[] = {{IDC_PD_DEVICE1_ADDRESS, L"0012-6F-123456"},
                                                    {IDC_PD_DEVICE1_NAME, L"Serial Adapter"},
                                                    {IDC_PD_DEVICE2_ADDRESS, L"0012-6F-654321"},
                                                    {IDC_PD_DEVICE2_NAME, L"Pair Partner"}};
    for (auto [id, text] : boxes)
        EXPECT_EQ(ui::textOf(GetDlgItem(pair, id)), text) << "box " << id;
    // The search showed each setting it tried.
    EXPECT_TRUE(waitForLog(L"Trying 1200 baud, parity None, 1 stop bit(s), flow control On")) << diagnostics();
    EXPECT_TRUE(waitForLog(L"Trying 2400 baud, parity None, 1 stop bit(s), flow control On")) << diagnostics();
    saveShot(L"pair-device-paired");

    ASSERT_TRUE(sim_.clear());
    ui::click(GetDlgItem(pair, IDC_PD_UNPAIR));
    ASSERT_NO_FATAL_FAILURE(expectBoxes({connect2, L"Unpairing completed successfully. Connect back Device 1"}));
    EXPECT_EQ(device2Heard, std::vector<std::string>{"AT+BOND-\r"});
    EXPECT_EQ(device2["bonded"], "0");
    EXPECT_EQ(portWhenDevice1Asked.baud, 19200);
    EXPECT_EQ(sim_.received(), std::vector<std::string>{"AT+BOND-\r"});
    EXPECT_EQ(sim_.state()["bonded"], "0");
    EXPECT_TRUE(tool_.sync()) << "the user-interface thread is free again" << diagnostics();
}

}  // namespace
