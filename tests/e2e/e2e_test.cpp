// End-to-end tests: RZ310_Config.exe started for real, driven through its
// windows from this process, against the simulated adapter behind COM3.
#include "e2e/gui_driver.h"
#include "support/sim_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace e2e;

namespace {

// Main window.
enum : int {
    kPanelFrame = 1000,
    kLogWindow = 1002,
    kLocalDeviceButton = 1005,
    kRemoteDeviceButton = 1006,
    kConnectionButton = 1007,
    kPairDeviceButton = 1012,
    kUartLight = 1024,
    kDeviceLight = 1025,
    kConnectionLight = 1026,
};

// Menu commands.
enum : UINT {
    kMenuSave = 32771,
    kMenuLoad = 32772,
    kMenuExit = 32776,
    kMenuDebug = 32777,
    kMenuUserManual = 32779,
    kMenuAbout = 32784,
    kMenuAtManual = 32785,
    kSysMenuAbout = 16,
};

// Local Device panel.
enum : int {
    kBaud = 1005,
    kParity = 1006,
    kFlowOn = 1008,
    kFlowOff = 1009,
    kStopOne = 1011,
    kStopTwo = 1012,
    kName = 1013,
    kAtCommand = 1014,
    kComPort = 1016,
    kDiscoverable = 1019,
    kNonDiscoverable = 1020,
    kSlave = 1022,
    kMaster = 1023,
    kEscape = 1027,
    kEcho = 1028,
    kAutoPower = 1029,
    kResponse = 1030,
    kRemoteConfig = 1031,
    kPin = 1039,
    kAddress = 1044,
    kDisableAuth = 1045,
    kFirmware = 1046,
    kAutoConnect = 1047,
    kProgram = 1048,
    kReset = 1049,
    kGetInfo = 1050,
    kRestart = 1051,
    kSendAt = 1052,
};

// Disabled until the adapter is up.
const int kAdapterControls[] = {kName,       kPin,          kAtCommand, kEcho,    kResponse, kEscape, kAutoConnect,
                                kAutoPower,  kDisableAuth,  kRemoteConfig, kProgram, kReset,  kRestart, kSendAt,
                                kNonDiscoverable, kDiscoverable, kMaster, kSlave};
// Usable at any time.
const int kLineControls[] = {kComPort, kBaud, kParity, kFlowOn, kFlowOff, kStopOne, kStopTwo, kGetInfo};

const std::vector<std::string> kDeviceInfoQueries = {
    "AT+RESP?\r", "AT+ECHO?\r", "AT+ROLE?\r",  "AT+ADDR?\r", "AT+NAME?\r", "AT+PIN?\r",  "AT+DCOV?\r", "AT+ESC?\r",
    "AT+SLEEP?\r", "AT+ACON?\r", "AT+RCFG?\r", "AT+VER\r",   "AT+BAUD?\r", "AT+STOP?\r", "AT+PAR?\r",  "AT+FLOW?\r"};

// What the tool writes at exit for an adapter in its reset state at 9600
// baud, no parity, one stop bit, flow control on, behind COM3.
const char kSettingsAfterGetInfo[] =
    "# RZ310 Configuration Utility Settings\n"
    "Port = COM3\n"
    "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
    "Baud = 9600\n"
    "StopBits = 1\n"
    "FlowControl = On\n"
    "# Valid parity values are none, odd, even\n"
    "Parity = None\n"
    "Name = Serial Adapter\n"
    "Pin = 8642\n"
    "Discoverable = On\n"
    "DisablePin = Off\n"
    "Role = Slave\n"
    "AutoConnect = On\n"
    "EscapeMode = On\n"
    "EchoMode = On\n"
    "AutoPower = Off\n"
    "CommandResponse = On\n"
    "RemoteConfig = On\n";

std::string replaceLine(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from + "\n");
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string show(const std::vector<std::string>& commands)
{
    std::string out = "{";
    for (const std::string& command : commands)
        out += " \"" + simEscape(command) + "\"";
    return out + " }";
}

size_t occurrences(const std::wstring& text, const std::wstring& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
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
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        work_ = windowsPath(RZ310_E2E_WORK) + L"\\" + widen(info->name());
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

    void writeSettings(int baud, int stopBits, bool flow)
    {
        std::string text = "# written by the end-to-end test\nPort = COM" + std::to_string(com_) +
                           "\nBaud = " + std::to_string(baud) + "\nStopBits = " + std::to_string(stopBits) +
                           "\nFlowControl = " + (flow ? "On" : "Off") + "\nParity = None\n";
        ASSERT_TRUE(writeFile(file(L"settings.txt"), text));
    }

    void startTool()
    {
        ASSERT_TRUE(tool_.start(exe_, work_)) << "main window not shown; open: " << tool_.openDialogs();
        panel_ = tool_.panel(LocalDevicePanel);
        ASSERT_NE(panel_, nullptr) << "no Local Device panel in the main window";
    }

    // Adapter and tool agree on 9600 8N1 with flow control: found at once.
    void startAtMatchingSettings()
    {
        ASSERT_TRUE(sim_.setLine(9600, "none", 1, true));
        ASSERT_NO_FATAL_FAILURE(writeSettings(9600, 1, true));
        ASSERT_NO_FATAL_FAILURE(startTool());
        ASSERT_TRUE(tool_.boxesSeen().empty()) << utf8(tool_.boxesSeen().front());
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
        ui::click(ld(kGetInfo));
        ASSERT_NO_FATAL_FAILURE(waitUp());
    }

    // Waits until the panel shows what the adapter holds and its controls
    // are enabled.
    void waitUp(DWORD timeoutMs = 60000)
    {
        std::map<std::string, std::string> adapter = sim_.state();
        bool up = waitUntil(
            [&] {
                return IsWindowEnabled(ld(kProgram)) && ldText(kName) == widen(adapter["name"]) &&
                       ldText(kAddress) == widen(adapter["address"]) &&
                       ldText(kFirmware) == widen(adapter["version"]);
            },
            timeoutMs, 100);
        ASSERT_TRUE(up) << "adapter not brought up" << diagnostics();
        // Redisplays still queued would undo what the test does next.
        ASSERT_TRUE(tool_.sync()) << diagnostics();
    }

    bool waitForLog(const std::wstring& text, size_t count = 1, DWORD timeoutMs = 15000)
    {
        return waitUntil([&] { return occurrences(tool_.log(), text) >= count; }, timeoutMs, 100);
    }

    // True when no other window covers the light on the screen.
    bool uncovered(HWND light) const
    {
        RECT rect;
        if (!GetWindowRect(light, &rect))
            return false;
        HWND top = WindowFromPoint(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
        return top == tool_.mainWindow() || IsChild(tool_.mainWindow(), top);
    }

    // The lights change colour on the screen a moment after the state.
    void expectLights(Light uart, Light device, Light connection)
    {
        Capture shot;
        auto matches = [&] {
            return uncovered(tool_.item(kUartLight)) && uncovered(tool_.item(kDeviceLight)) &&
                   uncovered(tool_.item(kConnectionLight)) && shot.grab(tool_.mainWindow()) &&
                   lightState(shot, tool_.item(kUartLight)) == uart &&
                   lightState(shot, tool_.item(kDeviceLight)) == device &&
                   lightState(shot, tool_.item(kConnectionLight)) == connection;
        };
        waitUntil(matches, 15000, 100);
        EXPECT_STREQ(lightName(lightState(shot, tool_.item(kUartLight))), lightName(uart)) << "UART light";
        EXPECT_STREQ(lightName(lightState(shot, tool_.item(kDeviceLight))), lightName(device)) << "Device light";
        EXPECT_STREQ(lightName(lightState(shot, tool_.item(kConnectionLight))), lightName(connection))
            << "Connection light";
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

    std::string settingsWritten() { return unixLines(readFile(file(L"settings.txt"))); }

    std::wstring exe_;
    std::wstring work_;
    std::wstring shots_;
    int com_ = 0;
    SimClient sim_;
    ToolProcess tool_;
    HWND panel_ = nullptr;
};

TEST_F(ToolTest, StartsWithoutSettingsFileOnThePanelDefaults)
{
    ASSERT_NO_FATAL_FAILURE(startTool());
    ASSERT_EQ(tool_.boxesSeen().size(), 1u);
    EXPECT_EQ(utf8(tool_.boxesSeen()[0]), "Failed to open settings.txt file.No such file present");
    EXPECT_EQ(tool_.visiblePanel(), panel_);

    std::vector<std::wstring> ports = ui::comboItems(ld(kComPort));
    EXPECT_NE(std::find(ports.begin(), ports.end(), L"COM" + std::to_wstring(com_)), ports.end());
    EXPECT_EQ(ui::comboSelection(ld(kComPort)), 0);
    EXPECT_EQ(ui::comboItems(ld(kBaud)), (std::vector<std::wstring>{L"1200", L"2400", L"4800", L"9600", L"19200",
                                                                      L"38400", L"57600", L"115200", L"230400"}));
    EXPECT_EQ(ui::comboSelectedText(ld(kBaud)), L"19200");
    EXPECT_EQ(ui::comboItems(ld(kParity)), (std::vector<std::wstring>{L"None", L"Odd", L"Even"}));
    EXPECT_EQ(ui::comboSelectedText(ld(kParity)), L"None");
    EXPECT_EQ(ldCheck(kStopOne), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kStopTwo), BST_CHECKED);
    EXPECT_EQ(ldCheck(kFlowOn), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kFlowOff), BST_CHECKED);
    EXPECT_EQ(ldText(kFirmware), L"F/W VERSION:");
    for (int id : kAdapterControls)
        EXPECT_FALSE(IsWindowEnabled(ld(id))) << "control " << id << " enabled before the adapter is up";
    for (int id : kLineControls)
        EXPECT_TRUE(IsWindowEnabled(ld(id))) << "control " << id << " disabled";
    expectLights(Light::Dark, Light::Dark, Light::Dark);

    // Start-up leaves the port closed; exit writes the zeroed line settings.
    tool_.command(kMenuExit);
    ASSERT_TRUE(tool_.waitForExit(15000)) << diagnostics();
    EXPECT_TRUE(sim_.received().empty());
    EXPECT_EQ(settingsWritten(),
              "# RZ310 Configuration Utility Settings\n"
              "Port = COM0\n"
              "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n"
              "Baud = 0\n"
              "StopBits = 0\n"
              "FlowControl = Off\n"
              "# Valid parity values are none, odd, even\n"
              "Name = \n"
              "Pin = \n"
              "Discoverable = Off\n"
              "DisablePin = Off\n"
              "AutoConnect = Off\n"
              "EscapeMode = Off\n"
              "EchoMode = Off\n"
              "AutoPower = Off\n"
              "CommandResponse = Off\n"
              "RemoteConfig = Off\n");
}

TEST_F(ToolTest, GetDeviceInfoSearchesTheLineSettingsAndFillsThePanel)
{
    // The tool starts at 19200; the adapter listens at 2400, the third try.
    ASSERT_TRUE(sim_.setLine(2400, "none", 1, true));
    ASSERT_TRUE(sim_.set("name", "E2E Adapter 7"));
    ASSERT_TRUE(sim_.set("pin", "4321"));
    ASSERT_TRUE(sim_.set("version", "RZ310 FW 2.17"));
    ASSERT_TRUE(sim_.set("role", "M"));
    ASSERT_TRUE(sim_.set("discoverable", "0"));
    ASSERT_TRUE(sim_.set("escape", "0"));
    ASSERT_TRUE(sim_.set("sleep", "1"));
    ASSERT_TRUE(sim_.set("autoconnect", "0"));
    ASSERT_NO_FATAL_FAILURE(writeSettings(19200, 1, true));
    ASSERT_NO_FATAL_FAILURE(startTool());
    EXPECT_TRUE(tool_.boxesSeen().empty());
    expectLights(Light::Dark, Light::Dark, Light::Dark);

    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(ldText(kName), L"E2E Adapter 7");
    EXPECT_EQ(ldText(kPin), L"4321");
    EXPECT_EQ(ldText(kFirmware), L"RZ310 FW 2.17");
    EXPECT_EQ(ldCheck(kMaster), BST_CHECKED);
    EXPECT_EQ(ldCheck(kSlave), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kNonDiscoverable), BST_CHECKED);
    EXPECT_EQ(ldCheck(kDiscoverable), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kEcho), BST_CHECKED);
    EXPECT_EQ(ldCheck(kResponse), BST_CHECKED);
    EXPECT_EQ(ldCheck(kEscape), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kAutoPower), BST_CHECKED);
    EXPECT_EQ(ldCheck(kAutoConnect), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kRemoteConfig), BST_CHECKED);
    EXPECT_EQ(ldCheck(kDisableAuth), BST_UNCHECKED);
    EXPECT_EQ(ui::comboSelectedText(ld(kBaud)), L"2400");
    EXPECT_EQ(ui::comboSelectedText(ld(kParity)), L"None");
    EXPECT_EQ(ldCheck(kStopOne), BST_CHECKED);
    EXPECT_EQ(ldCheck(kFlowOn), BST_CHECKED);
    for (int id : kAdapterControls)
        EXPECT_TRUE(IsWindowEnabled(ld(id))) << "control " << id << " still disabled";
    EXPECT_FALSE(IsWindowEnabled(ld(kAddress))) << "the address is never edited";

    // Only commands heard at the adapter's own settings count: the tries at
    // 19200 and 1200 were noise to it.
    std::vector<std::string> expected = {"AT\r"};
    expected.insert(expected.end(), kDeviceInfoQueries.begin(), kDeviceInfoQueries.end());
    EXPECT_EQ(sim_.received(), expected) << show(sim_.received());
    SimTty tty = sim_.tty();
    EXPECT_EQ(tty.baud, 2400);
    EXPECT_EQ(tty.stop, 1);
    EXPECT_TRUE(tty.crtscts);
    std::wstring log = tool_.log();
    EXPECT_NE(log.find(L"UART initialised successfully"), std::wstring::npos) << utf8(log);
    EXPECT_NE(log.find(L"Local Device initialised successfully"), std::wstring::npos) << utf8(log);
    expectLights(Light::Lit, Light::Lit, Light::Dark);
    saveShot(L"local-device-after-search");
}

TEST_F(ToolTest, PanelButtonsShowEachPanelInsideTheFrame)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    RECT frame;
    ASSERT_TRUE(GetWindowRect(tool_.item(kPanelFrame), &frame));
    struct Step {
        int button;
        Panel panel;
        const wchar_t* shot;
    };
    const Step steps[] = {
        {kPairDeviceButton, PairDevicePanel, L"pair-device"},
        {kConnectionButton, ConnectionPanel, L"connection"},
        {kRemoteDeviceButton, RemoteDevicePanel, L"remote-device"},
        {kLocalDeviceButton, LocalDevicePanel, L"local-device"},
    };
    for (const Step& step : steps) {
        HWND wanted = tool_.panel(step.panel);
        ASSERT_NE(wanted, nullptr) << "panel " << step.panel << " missing";
        ASSERT_TRUE(ui::clickAndWait(tool_.item(step.button), 10000));
        ASSERT_TRUE(waitUntil([&] { return tool_.visiblePanel() == wanted && IsWindowVisible(wanted); }, 10000))
            << "panel " << step.panel << " not shown";
        for (Panel other : {LocalDevicePanel, RemoteDevicePanel, ConnectionPanel, PairDevicePanel}) {
            if (other != step.panel) {
                EXPECT_FALSE(IsWindowVisible(tool_.panel(other))) << "panel " << other << " still shown";
            }
        }
        RECT shown;
        ASSERT_TRUE(GetWindowRect(wanted, &shown));
        EXPECT_EQ(shown.left, frame.left + 1) << "panel " << step.panel;
        EXPECT_EQ(shown.top, frame.top + 1) << "panel " << step.panel;
        EXPECT_EQ(shown.right, frame.right - 1) << "panel " << step.panel;
        EXPECT_EQ(shown.bottom, frame.bottom - 1) << "panel " << step.panel;
        saveShot(step.shot);
    }
}

TEST_F(ToolTest, ProgramDeviceSendsOnlyWhatChanged)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(sim_.clear());

    ASSERT_TRUE(ui::clickAndWait(ld(kProgram), 60000)) << diagnostics();
    EXPECT_TRUE(sim_.received().empty()) << show(sim_.received());

    ASSERT_TRUE(ui::selectComboText(ld(kBaud), L"115200"));
    ASSERT_TRUE(ui::clickAndWait(ld(kProgram), 60000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+BAUD17\r"})) << show(sim_.received());
    EXPECT_EQ(sim_.state()["baud"], "115200");
    EXPECT_TRUE(waitUntil([&] { return sim_.tty().baud == 115200; }, 10000)) << "port did not follow the adapter";

    // The next command reaches the adapter at its new rate.
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::type(ld(kAtCommand), L"at"));
    ASSERT_TRUE(ui::clickAndWait(ld(kSendAt), 30000));
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT\r"})) << show(sim_.received());
    EXPECT_TRUE(waitUntil([&] { return ui::comboSelectedText(ld(kBaud)) == L"115200"; }, 10000));
}

TEST_F(ToolTest, ProgramDeviceKeepsTypedNameAndPinWithinTheAdapterFields)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(sim_.clear());

    ASSERT_TRUE(ui::type(ld(kName), L"ABCDEFGHIJKLMNOPQRST"));
    ASSERT_TRUE(ui::type(ld(kPin), L"123456789"));
    EXPECT_EQ(ldText(kName), L"ABCDEFGHIJKLMNO");
    EXPECT_EQ(ldText(kPin), L"1234567");
    // Slave and Master clicks move only their own pair.
    ASSERT_TRUE(ui::clickAndWait(ld(kMaster), 10000));
    EXPECT_EQ(ldCheck(kSlave), BST_UNCHECKED);
    EXPECT_EQ(ldCheck(kDiscoverable), BST_CHECKED);
    EXPECT_EQ(ldCheck(kStopOne), BST_CHECKED);
    EXPECT_EQ(ldCheck(kFlowOn), BST_CHECKED);

    ASSERT_TRUE(ui::clickAndWait(ld(kProgram), 60000)) << diagnostics();
    EXPECT_EQ(sim_.received(),
              (std::vector<std::string>{"AT+NAME=ABCDEFGHIJKLMNO\r", "AT+PIN=1234567\r", "AT+ROLEM\r"}))
        << show(sim_.received());
    std::map<std::string, std::string> adapter = sim_.state();
    EXPECT_EQ(adapter["name"], "ABCDEFGHIJKLMNO");
    EXPECT_EQ(adapter["pin"], "1234567");
    EXPECT_EQ(adapter["role"], "M");
}

TEST_F(ToolTest, SendAtCommandUpperCasesAndLogsIt)
{
    ASSERT_TRUE(sim_.set("version", "RZ310 FW 3.02"));
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::setText(ld(kFirmware), L"F/W VERSION:"));

    ASSERT_TRUE(ui::type(ld(kAtCommand), L"at+ver"));
    ASSERT_TRUE(ui::clickAndWait(ld(kSendAt), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+VER\r"})) << show(sim_.received());
    EXPECT_TRUE(waitForLog(L"Sending command AT+VER")) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return ldText(kFirmware) == L"RZ310 FW 3.02"; }, 10000)) << diagnostics();

    // The box takes 28 characters (narrow ones, so that its width does not
    // stop the typing first): with its carriage return the command fits the
    // tool's command buffer.
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::type(ld(kAtCommand), L"at+name=" + std::wstring(30, L'i')));
    EXPECT_EQ(ldText(kAtCommand), L"at+name=" + std::wstring(20, L'i'));
    ASSERT_TRUE(ui::clickAndWait(ld(kSendAt), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+NAME=" + std::string(20, 'I') + "\r"}))
        << show(sim_.received());
    // Whatever the adapter did with a name that long, the panel's field
    // holds no more than the adapter's 15 characters.
    Sleep(500);
    EXPECT_LE(ldText(kName).size(), 15u);
    EXPECT_TRUE(tool_.running());
}

TEST_F(ToolTest, ResetDeviceRestoresFactorySettingsAndFollowsTheLine)
{
    ASSERT_TRUE(sim_.set("name", "Before Reset"));
    ASSERT_TRUE(sim_.set("sleep", "1"));
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    EXPECT_EQ(ldCheck(kAutoPower), BST_CHECKED);
    ASSERT_TRUE(sim_.clear());

    ASSERT_TRUE(ui::clickAndWait(ld(kReset), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+RESET\r"})) << show(sim_.received());
    std::map<std::string, std::string> adapter = sim_.state();
    EXPECT_EQ(adapter["name"], "Serial Adapter");
    EXPECT_EQ(adapter["baud"], "19200");
    EXPECT_TRUE(waitUntil(
        [&] {
            return ldText(kName) == L"Serial Adapter" && ldCheck(kAutoPower) == BST_UNCHECKED &&
                   ui::comboSelectedText(ld(kBaud)) == L"19200";
        },
        10000))
        << diagnostics();
    EXPECT_TRUE(waitForLog(L"Local Device reset successful")) << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return sim_.tty().baud == 19200; }, 10000));

    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::type(ld(kAtCommand), L"at"));
    ASSERT_TRUE(ui::clickAndWait(ld(kSendAt), 30000));
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT\r"})) << show(sim_.received());
}

TEST_F(ToolTest, RestartDeviceReopensThePortWithThePanelSettings)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    // The adapter moves on behind the tool's back; the operator follows it
    // in the panel and restarts.
    ASSERT_TRUE(sim_.setLine(38400, "none", 1, true));
    ASSERT_TRUE(ui::selectComboText(ld(kBaud), L"38400"));
    ASSERT_TRUE(sim_.clear());

    ui::click(ld(kRestart));
    EXPECT_TRUE(waitUntil([&] { return !IsWindowEnabled(ld(kProgram)); }, 10000)) << "controls stayed enabled";
    ASSERT_NO_FATAL_FAILURE(waitUp());
    std::vector<std::string> expected = {"AT\r"};
    expected.insert(expected.end(), kDeviceInfoQueries.begin(), kDeviceInfoQueries.end());
    EXPECT_EQ(sim_.received(), expected) << show(sim_.received());
    EXPECT_EQ(sim_.tty().baud, 38400);
    EXPECT_EQ(ui::comboSelectedText(ld(kBaud)), L"38400");
    expectLights(Light::Lit, Light::Lit, Light::Dark);
}

TEST_F(ToolTest, DisableAuthenticationSwitchesThePinOffAndBack)
{
    ASSERT_TRUE(sim_.set("pin", "4321"));
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    ASSERT_TRUE(sim_.clear());

    ASSERT_TRUE(ui::clickAndWait(ld(kDisableAuth), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+PIN-\r"})) << show(sim_.received());
    EXPECT_EQ(sim_.state()["pindisabled"], "1");
    EXPECT_TRUE(waitUntil([&] { return ldText(kPin).empty() && ldCheck(kDisableAuth) == BST_CHECKED; }, 10000))
        << diagnostics();

    // Switching it back on restores the PIN the adapter had.
    ASSERT_TRUE(sim_.clear());
    ASSERT_TRUE(ui::clickAndWait(ld(kDisableAuth), 30000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+PIN=4321\r"})) << show(sim_.received());
    EXPECT_EQ(sim_.state()["pindisabled"], "0");
    EXPECT_TRUE(waitUntil([&] { return ldText(kPin) == L"4321" && ldCheck(kDisableAuth) == BST_UNCHECKED; }, 10000))
        << diagnostics();
}

TEST_F(ToolTest, SaveAndLoadGoThroughTheFileDialogs)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    ASSERT_NO_FATAL_FAILURE(bringUp());
    const std::wstring folder = file(L"saved");
    ASSERT_TRUE(freshFolder(folder));
    const std::wstring saved = folder + L"\\adapter.txt";

    tool_.command(kMenuSave);
    HWND dialog = tool_.waitForDialog(L"Save settings file as...", 15000);
    ASSERT_NE(dialog, nullptr) << diagnostics();
    ASSERT_TRUE(tool_.chooseFile(dialog, saved));
    ASSERT_TRUE(waitUntil([&] { return unixLines(readFile(saved)) == kSettingsAfterGetInfo; }, 15000))
        << "saved:\n" << readFile(saved) << diagnostics();

    // Loading what was just saved changes nothing.
    ASSERT_TRUE(sim_.clear());
    tool_.command(kMenuLoad);
    dialog = tool_.waitForDialog(L"Select settings file", 15000);
    ASSERT_NE(dialog, nullptr) << diagnostics();
    ASSERT_TRUE(tool_.chooseFile(dialog, saved));
    ASSERT_TRUE(waitForLog(L"Adapter programmed with loaded settings.", 1, 60000)) << diagnostics();
    EXPECT_NE(tool_.log().find(L"Programming the adapter with the loaded settings..."), std::wstring::npos);
    EXPECT_TRUE(sim_.received().empty()) << show(sim_.received());

    // An edited file programs its differences, the baud rate first.
    std::string edited = replaceLine(kSettingsAfterGetInfo, "Baud = 9600", "Baud = 115200");
    edited = replaceLine(edited, "Name = Serial Adapter", "Name = Loaded Name");
    edited = replaceLine(edited, "EchoMode = On", "EchoMode = Off");
    ASSERT_TRUE(writeFile(saved, edited));
    tool_.command(kMenuLoad);
    dialog = tool_.waitForDialog(L"Select settings file", 15000);
    ASSERT_NE(dialog, nullptr) << diagnostics();
    ASSERT_TRUE(tool_.chooseFile(dialog, saved));
    ASSERT_TRUE(waitForLog(L"Adapter programmed with loaded settings.", 2, 60000)) << diagnostics();
    EXPECT_EQ(sim_.received(), (std::vector<std::string>{"AT+BAUD17\r", "AT+NAME=Loaded Name\r", "AT+ECHO-\r"}))
        << show(sim_.received());
    EXPECT_TRUE(waitUntil(
        [&] {
            return ldText(kName) == L"Loaded Name" && ldCheck(kEcho) == BST_UNCHECKED &&
                   ui::comboSelectedText(ld(kBaud)) == L"115200";
        },
        10000))
        << diagnostics();
    EXPECT_TRUE(tool_.boxesSeen().empty());

    // The dialogs moved the working directory; the trace and the exit's
    // settings file still go to the start-up folder.
    tool_.command(kMenuDebug);
    ASSERT_TRUE(waitUntil([&] { return fileExists(file(L"Debug.txt")); }, 10000)) << diagnostics();
    EXPECT_FALSE(fileExists(folder + L"\\Debug.txt"));
    tool_.command(kMenuExit);
    ASSERT_TRUE(tool_.waitForExit(15000)) << diagnostics();
    EXPECT_EQ(settingsWritten(), edited);
    EXPECT_FALSE(fileExists(folder + L"\\settings.txt"));
}

TEST_F(ToolTest, DebugMenuStartsAFreshTraceEachTime)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    const std::wstring trace = file(L"Debug.txt");
    tool_.command(kMenuDebug);
    ASSERT_TRUE(waitUntil([&] { return fileExists(trace); }, 10000)) << diagnostics();
    ASSERT_NO_FATAL_FAILURE(bringUp());
    // Switching off closes the file: everything is on disk.
    tool_.command(kMenuDebug);
    ASSERT_TRUE(waitUntil([&] { return readFile(trace).find("Local Device initialised successfully") !=
                                       std::string::npos; },
                          10000))
        << readFile(trace);
    std::string first = unixLines(readFile(trace));
    EXPECT_EQ(first.substr(0, first.find('\n')), "Setting debugFlag = TRUE");
    EXPECT_NE(first.find("UART initialised successfully"), std::string::npos);

    // On again: a new file with only what came after.
    tool_.command(kMenuDebug);
    ASSERT_TRUE(waitUntil([&] { return readFile(trace).find("Local Device initialised") == std::string::npos; },
                          10000));
    ASSERT_TRUE(ui::type(ld(kAtCommand), L"at"));
    ASSERT_TRUE(ui::clickAndWait(ld(kSendAt), 30000));
    tool_.command(kMenuDebug);
    ASSERT_TRUE(waitUntil([&] { return readFile(trace).find("Sending command AT") != std::string::npos; }, 10000))
        << readFile(trace);
    std::string second = unixLines(readFile(trace));
    EXPECT_EQ(second.substr(0, second.find('\n')), "Setting debugFlag = TRUE");
    EXPECT_EQ(second.find("Local Device initialised successfully"), std::string::npos);
}

TEST_F(ToolTest, HelpDocumentsMissingAndTheAboutBox)
{
    ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
    std::wstring text;
    tool_.command(kMenuUserManual);
    ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
    EXPECT_EQ(utf8(text), "RZ310 Configuration Manual.pdf not found");
    tool_.command(kMenuAtManual);
    ASSERT_TRUE(tool_.answerMessageBox(text)) << diagnostics();
    EXPECT_EQ(utf8(text), "AT Command Manual.pdf not found");

    // The About box, from the Help menu and from the system menu.
    for (bool fromSystemMenu : {false, true}) {
        if (fromSystemMenu)
            PostMessageW(tool_.mainWindow(), WM_SYSCOMMAND, kSysMenuAbout, 0);
        else
            tool_.command(kMenuAbout);
        HWND about = nullptr;
        ASSERT_TRUE(waitUntil(
            [&] {
                std::vector<HWND> open = tool_.dialogs();
                about = open.size() == 1 && !isMessageBox(open[0]) ? open[0] : nullptr;
                return about != nullptr;
            },
            10000))
            << (fromSystemMenu ? "system menu: " : "help menu: ") << diagnostics();
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(waitUntil([&] { return tool_.dialogs().empty(); }, 10000)) << diagnostics();
    }
    EXPECT_TRUE(tool_.running());
}

// Every way out saves the settings and closes the port; the next run opens
// it again and starts from the saved file. Each run changes one adapter
// setting, so each file is new.
TEST_F(ToolTest, ExitCloseBoxAndEscapeSaveSettingsAndClosePort)
{
    enum Way { MenuExit, CloseBox, Escape };
    struct Run {
        Way way;
        const char* name;
        int checkBox;  // clicked before Program Device, or 0
        const char* lineBefore;
        const char* lineAfter;
    };
    const Run runs[] = {
        {MenuExit, "File > Exit", 0, "", ""},
        {CloseBox, "close box", kAutoPower, "AutoPower = Off", "AutoPower = On"},
        {Escape, "Escape", kEcho, "EchoMode = On", "EchoMode = Off"},
    };
    std::string expected = kSettingsAfterGetInfo;
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        DeleteFileW(file(L"Debug.txt").c_str());
        if (run.way == MenuExit) {
            ASSERT_NO_FATAL_FAILURE(startAtMatchingSettings());
        } else {
            // settings.txt is the one the previous run wrote.
            ASSERT_NO_FATAL_FAILURE(startTool());
            EXPECT_TRUE(tool_.boxesSeen().empty());
            EXPECT_EQ(ui::comboSelectedText(ld(kBaud)), L"9600");
            EXPECT_EQ(ldCheck(kStopOne), BST_CHECKED);
            EXPECT_EQ(ldCheck(kFlowOn), BST_CHECKED);
        }
        ASSERT_NO_FATAL_FAILURE(bringUp());
        if (run.checkBox) {
            ASSERT_TRUE(ui::clickAndWait(ld(run.checkBox), 10000));
            ASSERT_TRUE(ui::clickAndWait(ld(kProgram), 30000)) << diagnostics();
            expected = replaceLine(expected, run.lineBefore, run.lineAfter);
        }
        tool_.command(kMenuDebug);
        ASSERT_TRUE(waitUntil([&] { return fileExists(file(L"Debug.txt")); }, 10000)) << diagnostics();

        switch (run.way) {
        case MenuExit: tool_.command(kMenuExit); break;
        case CloseBox: PostMessageW(tool_.mainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0); break;
        case Escape: PostMessageW(tool_.mainWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001); break;
        }
        ASSERT_TRUE(tool_.waitForExit(15000)) << diagnostics();
        EXPECT_EQ(settingsWritten(), expected);
        std::string trace = readFile(file(L"Debug.txt"));
        size_t closed = trace.find("UART: Setting isUartActive to FALSE.");
        EXPECT_NE(closed, std::string::npos) << trace;
        EXPECT_NE(trace.find("Main Application Exiting....", closed == std::string::npos ? 0 : closed),
                  std::string::npos)
            << trace;
        tool_.end();
    }
}

}  // namespace
