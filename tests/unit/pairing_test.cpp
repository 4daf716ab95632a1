// Pairing and unpairing against the engine, with two scripted adapters on
// one port: each answers only at its own line settings, and the cable
// moves to the adapter a message box asks for when the operator presses
// OK. The run through the real program against the simulator is e2e.
#include "atcommand_fixture.h"
#include "gui_test_util.h"

#include "common/msgbox.h"
#include "framework/wnd.h"
#include "panels/PairDevice.h"

#include <memory>

namespace {

using Trail = std::vector<std::string>;

struct ScriptedAdapter {
    LineSetting line;                             // baud, parity, stop bits, flow
    std::map<std::string, std::string> answers;   // to each command heard
};

std::string settingText(const LineSetting& s)
{
    const char* parity = s[1] == PARITY_ODD ? "odd" : s[1] == PARITY_EVEN ? "even" : "none";
    return "@" + std::to_string(s[0]) + " " + parity + " " + std::to_string(s[2]) + " " + std::to_string(s[3]);
}

// A command the adapter does not hear: sent once and re-sent twice.
Trail unanswered(const std::string& command) { return Trail(3, command); }

Trail operator+(Trail a, const Trail& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const LineSetting kDevice1Line = {115200, PARITY_NONE, 1, 1};
const std::string kConnect2 = "box Connect Device 2 to COM3 and then Press OK";
const std::string kConnect1 = "box Connect Device 1 to COM3 and then Press OK";

class PairingTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        self = this;
        seams.uartWrite = [](const uint8_t* buffer, uint32_t length) {
            std::string text(reinterpret_cast<const char*>(buffer), length);
            self->trail.push_back(text);
            const ScriptedAdapter& adapter = self->adapters[self->attached];
            auto answer = adapter.answers.find(text);
            if (LineSetting{uart.baud, uart.parity, uart.stopBits, uart.flow} == adapter.line &&
                answer != adapter.answers.end())
                feed(answer->second);
            return 0;
        };
        seams.uartChangeSettings = [] {
            self->trail.push_back(settingText({uart.baud, uart.parity, uart.stopBits, uart.flow}));
            return self->changeResult;
        };
        seams.messageBox = [](const wchar_t* text, UINT) {
            std::string box = "box " + narrow(text);
            self->trail.push_back(box);
            if (box == kConnect2)
                self->attached = 1;
            else if (box == kConnect1)
                self->attached = 0;
            return IDOK;
        };

        // Device 1 is up, as Get Device Info left it.
        uart.port = 3;
        uart.baud = kDevice1Line[0];
        uart.parity = kDevice1Line[1];
        uart.stopBits = kDevice1Line[2];
        uart.flow = kDevice1Line[3];
        strcpy(device.address, "0012-6F-123456");
        strcpy(device.name, "Device One");
        adapters[0] = {kDevice1Line,
                       {{"AT+ROLEM\r", "\r\nOK\r\n"}, {"AT+BOND=00126F654321\r", "\r\nOK\r\n"},
                        {"AT+BOND-\r", "\r\nOK\r\n"}}};
        adapters[1] = {kDevice1Line,
                       {{"AT\r", "\r\nOK\r\n"},
                        {"AT+ADDR?\r", "\r\n0012-6F-654321\r\nOK\r\n"},
                        {"AT+NAME?\r", "\r\nDevice Two\r\nOK\r\n"},
                        {"AT+ROLES\r", "\r\nOK\r\n"},
                        {"AT+BOND=00126F123456\r", "\r\nOK\r\n"},
                        {"AT+BOND-\r", "\r\nOK\r\n"}}};

        parent.Attach(window.hwnd());
        panel = std::make_unique<CPairDevice>();
        ASSERT_TRUE(panel->Create(IDD_PAIR_DEVICE, &parent));
    }

    void TearDown() override
    {
        panel.reset();
        parent.Detach();
        EngineTest::TearDown();
    }

    void click(int button) { SendMessageW(GetDlgItem(panel->m_hWnd, button), BM_CLICK, 0, 0); }

    std::vector<std::string> attempts()
    {
        window.pump(0);
        std::vector<std::string> lines;
        for (const std::string& line : window.logLines)
            if (line.compare(0, 7, "Trying ") == 0)
                lines.push_back(line);
        return lines;
    }

    ScriptedAdapter adapters[2];
    size_t attached = 0;
    Trail trail;
    CWnd parent;
    std::unique_ptr<CPairDevice> panel;

private:
    static inline PairingTest* self = nullptr;
};

}  // namespace

TEST_F(PairingTest, EachRunTakesItsStepsInOrderAndEndsWithDevice1sLineSettings)
{
    const std::string success = "box Pairing completed successfully";
    const struct {
        const char* name;
        int button;
        LineSetting device2Line;
        std::map<std::string, std::string> device2Answers;   // over the defaults
        int32_t bIndexBefore, bTryBefore, pairFailedBefore;
        bool portRefuses;
        Trail expected;
        std::vector<std::string> attempts;
        int32_t pairStateAfter;
    } runs[] = {
        {"device 2 at the same settings: no search, no restore", IDC_PD_PAIR, kDevice1Line, {}, 10, 0, 0, false,
         {kConnect2, "AT\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r", "AT+BOND=00126F123456\r", kConnect1,
          "AT+ROLEM\r", "AT+BOND=00126F654321\r", success},
         {}, 4},
        {"device 2 at 9600: searched from where the search stands, restored before device 1 is asked back",
         IDC_PD_PAIR, {9600, PARITY_NONE, 1, 1}, {}, 12, 0, 0, false,
         Trail{kConnect2} + unanswered("AT\r") + Trail{"@4800 none 1 1"} + unanswered("AT\r") +
             Trail{"@9600 none 1 1", "AT\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r", "AT+BOND=00126F123456\r",
                   "@115200 none 1 1", kConnect1, "AT+ROLEM\r", "AT+BOND=00126F654321\r", success},
         {"Trying 4800 baud, parity None, 1 stop bit(s), flow control On",
          "Trying 9600 baud, parity None, 1 stop bit(s), flow control On"},
         4},
        {"ERROR to AT: one search attempt, one retry there, then the communication box", IDC_PD_PAIR,
         kDevice1Line, {{"AT\r", "\r\nERROR\r\n"}}, 10, 0, 0, false,
         Trail{kConnect2, "AT\r", "@1200 none 1 1"} + unanswered("AT\r") + unanswered("AT\r") +
             Trail{"box ERROR: Failed to communicate with Device 2. Please check it is connected properly and "
                   "switch is towards the connector. Aborting Pairing",
                   "@115200 none 1 1"},
         {"Trying 1200 baud, parity None, 1 stop bit(s), flow control On"}, 0},
        {"empty address: aborted, restored although not searched; the port refuses", IDC_PD_PAIR,
         kDevice1Line, {{"AT+ADDR?\r", "\r\n\r\nOK\r\n"}}, 10, 0, 0, true,
         {kConnect2, "AT\r", "AT+ADDR?\r", "box ERROR: Failed to get Device 2 address.Aborting Pairing",
          "@115200 none 1 1", "box ERROR: Failed to restore UART Settings."},
         {}, 0},
        {"unpairing, device 2 at 9600 odd without flow control; a failure left from before is forgotten",
         IDC_PD_UNPAIR, {9600, PARITY_ODD, 1, 0}, {}, 12, 3, 1, false,
         Trail{"AT+BOND-\r", kConnect2} + unanswered("AT+BOND-\r") + Trail{"@4800 odd 1 0"} +
             unanswered("AT+BOND-\r") +
             Trail{"@9600 odd 1 0", "AT+BOND-\r", "@115200 none 1 1",
                   "box Unpairing completed successfully. Connect back Device 1"},
         {"Trying 4800 baud, parity Odd, 1 stop bit(s), flow control Off",
          "Trying 9600 baud, parity Odd, 1 stop bit(s), flow control Off"},
         0},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        trail.clear();
        window.clear();
        attached = 0;
        adapters[1].line = run.device2Line;
        ScriptedAdapter device2 = adapters[1];
        for (const auto& answer : run.device2Answers)
            adapters[1].answers[answer.first] = answer.second;
        device.isDeviceInitialised = 1;
        bIndex = run.bIndexBefore;
        bTry = run.bTryBefore;
        pairing.pairFailed = run.pairFailedBefore;
        changeResult = run.portRefuses ? 1 : 0;

        click(run.button);

        EXPECT_EQ(trail, run.expected);
        EXPECT_EQ(attempts(), run.attempts);
        EXPECT_EQ(pairing.pairState, run.pairStateAfter);
        EXPECT_EQ(pairing.pairFailed, 0);
        EXPECT_EQ((LineSetting{uart.baud, uart.parity, uart.stopBits, uart.flow}), kDevice1Line);
        adapters[1] = device2;
        uart.baud = kDevice1Line[0];
        uart.parity = kDevice1Line[1];
        uart.stopBits = kDevice1Line[2];
        uart.flow = kDevice1Line[3];
    }
}

// What a completed pairing leaves behind, and fields of Device 1 that fill
// their whole size are copied within the pairing record's.
TEST_F(PairingTest, PairingRecordsBothAdaptersWithinTheirFields)
{
    device.isDeviceInitialised = 1;
    click(IDC_PD_PAIR);
    EXPECT_STREQ(pairing.device1Address, "0012-6F-123456");
    EXPECT_STREQ(pairing.device1Name, "Device One");
    EXPECT_STREQ(pairing.device2Address, "0012-6F-654321");
    EXPECT_STREQ(pairing.device2Name, "Device Two");
    EXPECT_EQ(device.bonded, 1);
    EXPECT_EQ(device.role, 1) << "device 1 is the master";
    window.pump(0);
    EXPECT_EQ(window.countOf(ID_NOTIFY_PAIR_DEVICE), 2u) << "address and name of device 2";

    memset(device.address, 'A', sizeof device.address);   // no terminators
    memset(device.name, 'N', sizeof device.name);
    adapters[1].answers["AT+ADDR?\r"] = "\r\n\r\nOK\r\n";
    click(IDC_PD_PAIR);
    EXPECT_EQ(std::string(pairing.device1Address), std::string(sizeof pairing.device1Address - 1, 'A'));
    EXPECT_EQ(std::string(pairing.device1Name), std::string(sizeof pairing.device1Name - 1, 'N'));
}

