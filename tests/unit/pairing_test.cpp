// Pairing's failures, with a scripted Device 2 that answers only at Device 1's
// line settings once a box has asked for it (the successful runs are e2e).
#include "atcommand_fixture.h"

#include "common/msgbox.h"
#include "framework/wnd.h"
#include "panels/PairDevice.h"

#include <memory>

namespace {

using Trail = std::vector<std::string>;

const LineSetting kDevice1Line = {115200, PARITY_NONE, 1, 1};
const std::string kConnect2 = "box Connect Device 2 to COM3 and then Press OK";

// The port's writes, line settings and message boxes, in order.
class PairingTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        self = this;
        seams.uartWrite = [](const uint8_t* buffer, uint32_t length) {
            std::string text(reinterpret_cast<const char*>(buffer), length);
            self->trail.push_back(text);
            auto answer = self->device2.find(text);
            if (self->attached && line() == kDevice1Line && answer != self->device2.end())
                feed(answer->second);
            return 0;
        };
        seams.uartChangeSettings = [] {
            LineSetting s = line();
            std::string parity = s[1] == PARITY_NONE ? "none" : std::to_string(s[1]);
            self->trail.push_back("@" + std::to_string(s[0]) + " " + parity + " " + std::to_string(s[2]) + " " +
                                  std::to_string(s[3]));
            return self->changeResult;
        };
        seams.messageBox = [](const wchar_t* text, UINT) {
            const std::wstring wide(text);
            self->trail.push_back("box " + std::string(wide.begin(), wide.end()));
            self->attached = self->trail.back() == kConnect2;
            return IDOK;
        };

        parent.Attach(window.hwnd());
        panel = std::make_unique<CPairDevice>();
        ASSERT_TRUE(panel->Create(IDD_PAIR_DEVICE, &parent));
        // Device 1 is up, its address and name full to their last byte.
        uart.port = 3;
        panel->restoreUartSettings(kDevice1Line[0], kDevice1Line[1], kDevice1Line[3], kDevice1Line[2]);
        memset(device.address, 'A', sizeof device.address);
        memset(device.name, 'N', sizeof device.name);
    }

    void TearDown() override
    {
        panel.reset();
        parent.Detach();
        EngineTest::TearDown();
    }

    static LineSetting line() { return {uart.baud, uart.parity, uart.stopBits, uart.flow}; }

    std::map<std::string, std::string> device2 = {{"AT\r", "\r\nOK\r\n"}, {"AT+ADDR?\r", "\r\n\r\nOK\r\n"}};
    bool attached = false;
    Trail trail;
    CWnd parent;
    std::unique_ptr<CPairDevice> panel;

private:
    static inline PairingTest* self = nullptr;
};

} // namespace

// Every failure puts Device 1's line settings back on the port, searched or
// not, and says so when the port refuses them. Device 1's full fields are
// copied within the pairing record's.
TEST_F(PairingTest, EveryFailureEndsWithDevice1sLineSettings)
{
    // clang-format off
    const struct {
        const char* name;
        const char* atAnswer;
        int portResult;
        Trail expected;
    } runs[] = {
        // Each AT that Device 2 does not hear is sent once and re-sent twice.
        {"ERROR to AT: one search attempt, one retry there, then the communication box", "\r\nERROR\r\n", 0,
         {kConnect2, "AT\r", "@1200 none 1 1", "AT\r", "AT\r", "AT\r", "AT\r", "AT\r", "AT\r",
          "box ERROR: Failed to communicate with Device 2. Please check it is connected properly and "
          "switch is towards the connector. Aborting Pairing",
          "@115200 none 1 1"}},
        {"empty address: aborted, restored although not searched; the port refuses", "\r\nOK\r\n", 1,
         {kConnect2, "AT\r", "AT+ADDR?\r", "box ERROR: Failed to get Device 2 address.Aborting Pairing",
          "@115200 none 1 1", "box ERROR: Failed to restore UART Settings."}},
    };
    // clang-format on
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        trail.clear();
        device2["AT\r"] = run.atAnswer;
        changeResult = run.portResult;

        SendMessageW(GetDlgItem(panel->m_hWnd, IDC_PD_PAIR), BM_CLICK, 0, 0);

        EXPECT_EQ(trail, run.expected);
        EXPECT_EQ(pairing.pairState, 0);
        EXPECT_EQ(line(), kDevice1Line);
        EXPECT_EQ(std::string(pairing.device1Address), std::string(sizeof pairing.device1Address - 1, 'A'));
        EXPECT_EQ(std::string(pairing.device1Name), std::string(sizeof pairing.device1Name - 1, 'N'));
    }
}
