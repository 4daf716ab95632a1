// What each family of answers does to the records, the port and the windows.
#include "atcommand_fixture.h"
#include "app/notify.h"

class Handling : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        device.isDeviceInitialised = 1;
    }
    // Notifications other than log texts, since the last call.
    std::vector<UINT> posted()
    {
        window.pump(0);
        std::vector<UINT> ids;
        for (const auto& note : window.notifications)
            if (note.first != ID_NOTIFY_LOG)
                ids.push_back(note.first);
        window.clear();
        return ids;
    }
};

TEST_F(Handling, StatusLineIsJudgedFirst)
{
    pairing.pairState = 3;
    EXPECT_EQ(answer("AT+STOP2\r", "\r\nERROR\r\n"), 1);
    EXPECT_EQ(pairing.pairFailed, 1);
    EXPECT_EQ(uart.stopBits, 0) << "an ERROR changes nothing";
    EXPECT_TRUE(logged("Command AT+STOP2\r failed. Response ERROR"));
    EXPECT_EQ(posted(), std::vector<UINT>{ID_NOTIFY_LOCAL_DEVICE});
    EXPECT_EQ(answer("AT+STOP2\r", "\r\nBUSY\r\n"), 0);
    EXPECT_TRUE(logged("Command AT+STOP2\r failed. Response Invalid"));
    EXPECT_EQ(answer("AT+FOO\r", "\r\nOK\r\n"), 0);
    EXPECT_TRUE(logged("Invalid Command AT+FOO\r"));
    EXPECT_EQ(answer("AT+UPGRADE\r", "\r\n"), 1) << "bare CR LF of response mode off";
    device.isDeviceInitialised = 0;
    uart.parity = PARITY_ODD;
    EXPECT_EQ(answer("AT\r", "\r\nBUSY\r\n"), 0);
    EXPECT_TRUE(logged("Device Initialzation Failed. Cmd AT\r Response Invalid. baud 0 flow 0 parity 512 stopbits 0"));
}

TEST_F(Handling, SettingFamiliesOnReplyAndOnAcknowledgement)
{
    const struct {
        const char* command;
        const char* param;
        int32_t* field;
        int32_t value;
        bool reapplied;
    } cases[] = {
        {"AT+STOP2\r", "", &uart.stopBits, 2, true},
        {"AT+STOP?\r", "\r\nSTOP1\r\n", &uart.stopBits, 1, false},
        {"AT+PAR2\r", "", &uart.parity, PARITY_EVEN, true},
        {"AT+PAR?\r", "\r\nPAR1\r\n", &uart.parity, PARITY_ODD, false},
        {"AT+FLOW-\r", "", &uart.flow, 0, true},
        {"AT+FLOW?\r", "\r\nFLOW+\r\n", &uart.flow, 1, false},
        {"AT+BAUD17\r", "", &uart.baud, 115200, true},
        {"AT+BAUD?\r", "\r\nBAUD13\r\n", &uart.baud, 9600, false},
        {"AT+ECHO+\r", "", &device.echoOn, 1, false},
        {"AT+ECHO?\r", "\r\nECHO-\r\n", &device.echoOn, 0, false},
        {"AT+RESP-\r", "", &device.responseOn, 0, false},
        {"AT+RESP?\r", "\r\nRESP+\r\n", &device.responseOn, 1, false},
        {"AT+ROLEM\r", "", &device.role, 1, false},
        {"AT+ROLE?\r", "\r\nROLES\r\n", &device.role, 2, false},
        {"AT+DCOV-\r", "", &device.discoverable, 0, false},
        {"AT+ACON?\r", "\r\nACON+\r\n", &device.autoConnect, 1, false},
        {"AT+ESC-\r", "", &device.escapeOn, 0, false},
        {"AT+RCFG?\r", "\r\nRCFG-\r\n", &device.remoteConfig, 0, false},
        {"AT+SLEEP+\r", "", &device.sleepOn, 1, false},
    };
    for (const auto& c : cases) {
        *c.field = -1;
        settingsApplied.clear();
        EXPECT_EQ(answer(c.command, "\r\nOK\r\n", c.param), 1);
        EXPECT_EQ(*c.field, c.value) << c.command;
        EXPECT_EQ(settingsApplied.size(), c.reapplied ? 1u : 0u) << c.command;
        EXPECT_EQ(posted(), std::vector<UINT>{ID_NOTIFY_LOCAL_DEVICE}) << c.command;
    }
    EXPECT_EQ(device.baudCode, 13);

    // Unknown replies and commands change nothing and leave the port alone.
    settingsApplied.clear();
    answer("AT+STOP?\r", "\r\nOK\r\n", "\r\nSTOP9\r\n");
    answer("AT+BAUD?\r", "\r\nOK\r\n", "\r\nBAUDXY\r\n");
    answer("AT+BAUD?\r", "\r\nOK\r\n");
    EXPECT_EQ(uart.stopBits, 1);
    EXPECT_EQ(device.baudCode, 13);
    EXPECT_TRUE(settingsApplied.empty());
    posted();

    // Role, flow, discoverable and auto-connect answers end a connection.
    device.isConnected = device.isDataMode = device.isHandshakeActive = 1;
    answer("AT+ROLEM\r", "\r\nOK\r\n");
    EXPECT_EQ(device.isConnected + device.isDataMode + device.isHandshakeActive, 0);
    EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_STATUS, ID_NOTIFY_LOCAL_DEVICE}));
}

TEST_F(Handling, ResetPutsFactoryValuesAndDefaultLineSettings)
{
    memset(&device, 0x55, sizeof device);
    strcpy(device.address, "0012-6F-123456");
    strcpy(device.version, "V1");
    EXPECT_EQ(answer("AT+RESET\r", "\r\nOK\r\n"), 1);
    EXPECT_EQ(settingsApplied, (std::vector<LineSetting>{{19200, PARITY_NONE, 1, 1}}));
    const int32_t actual[] = {device.echoOn,      device.role,         device.responseOn,      device.discoverable,
                              device.escapeOn,    device.sleepOn,      device.autoConnect,     device.baudCode,
                              device.pinDisabled, device.bonded,       device.isConnected,     device.isDataMode,
                              device.isInquiryActive, device.remoteConfig, device.isHandshakeActive};
    const int32_t factory[] = {1, 2, 1, 1, 1, 0, 1, 14, 0, 0, 0, 0, 0, 1, 0};
    EXPECT_TRUE(std::equal(std::begin(actual), std::end(actual), std::begin(factory)));
    EXPECT_STREQ(device.name, "Serial Adapter");
    EXPECT_STREQ(device.pin, "8642");
    EXPECT_STREQ(device.address, "0012-6F-123456") << "kept";
    EXPECT_STREQ(device.version, "V1") << "kept";
    EXPECT_EQ(device.initRetry, 0x55555555) << "kept";
    EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_LOCAL_DEVICE, ID_NOTIFY_STATUS}));

    // A port that does not follow is shown; the records keep the new values.
    changeResult = 1;
    answer("AT+STOP2\r", "\r\nOK\r\n");
    answer("AT+BAUD17\r", "\r\nOK\r\n");
    answer("AT+RESET\r", "\r\nOK\r\n");
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::wstring>{
                  L"Failed to set stopBits 2", L"Failed to set baudrate 17",
                  L"Failed to set default uart settings baud 19200, parity NONE, stopBits 1, flowcontrol ENABLED"}));
}

TEST_F(Handling, TextFamiliesAreCutToTheirFields)
{
    answer("AT+VER\r", "\r\nOK\r\n", "\r\nRZ310 F/W V1.0\r\n");
    answer("AT+VER\r", "\r\nOK\r\n");
    EXPECT_STREQ(device.version, "RZ310 F/W V1.0") << "no reply, no change";
    answer("AT+PIN?\r", "\r\nOK\r\n", "\r\n1234\r\n");
    answer("AT+PIN?\r", "\r\nOK\r\n", "\r\nNULL\r\n");
    EXPECT_EQ(device.pinDisabled, 1);
    EXPECT_STREQ(device.pin, "1234");
    answer("AT+PIN=8642\r", "\r\nOK\r\n");
    EXPECT_EQ(device.pinDisabled, 0);
    answer("AT+BOND?\r", "\r\nOK\r\n", "\r\n0000-00-000000\r\n");
    EXPECT_EQ(device.bonded, 0);
    EXPECT_TRUE(logged("Local Device bonded with 0000-00-000000"));

    // Every text field takes what fits and no more.
    const std::string reply = "\r\n" + std::string(700, 'z') + "\r\n";
    strcpy(device.pin, "PIN");
    answer("AT+NAME?\r", "\r\nOK\r\n", reply.c_str());
    answer("AT+VER\r", "\r\nOK\r\n", reply.c_str());
    EXPECT_EQ(strlen(device.name), 15u);
    EXPECT_EQ(strlen(device.version), 40u);
    EXPECT_STREQ(device.address, "") << "the field after name";
    answer("AT+ADDR?\r", "\r\nOK\r\n", reply.c_str());
    EXPECT_EQ(strlen(device.address), 14u);
    EXPECT_STREQ(device.pin, "PIN") << "the field after address";
    answer("AT+PIN?\r", "\r\nOK\r\n", reply.c_str());
    EXPECT_EQ(strlen(device.pin), 7u);
    answer("AT+NAME=ABCDEFGHIJKLMNOPQ\r", "\r\nOK\r\n");
    EXPECT_STREQ(device.name, "ABCDEFGHIJKLMNO");
    answer("AT+PIN=123456789012\r", "\r\nOK\r\n");
    EXPECT_STREQ(device.pin, "1234567");
    pairing.pairState = 2;
    strcpy(pairing.device1Name, "ONE");
    answer("AT+ADDR?\r", "\r\nOK\r\n", reply.c_str());
    answer("AT+NAME?\r", "\r\nOK\r\n", reply.c_str());
    EXPECT_EQ(strlen(pairing.device2Address), 14u);
    EXPECT_EQ(strlen(pairing.device2Name), 15u);
    EXPECT_STREQ(pairing.device1Name, "ONE") << "the field after device2Address";
    answer("\r\nCONNECT", "\r\nOK\r\n", "\"0012-6F-654321-0012-6F-654321\"");
    EXPECT_STREQ(remoteAddress, "0012-6F-654321-");
}

TEST_F(Handling, PairingStepsMoveOnTheirAnswers)
{
    bIndex = 15;
    bTry = 4;
    pairing.pairState = 1;
    answer("AT\r", "\r\nOK\r\n");
    EXPECT_EQ(pairing.pairState, 2);
    EXPECT_EQ(bIndex * 100 + bTry, 1000) << "search counters reset";

    // The second adapter's answers fill the pairing record.
    device.role = 1;
    answer("AT+ADDR?\r", "\r\nOK\r\n", "\r\n0012-6F-654321\r\n");
    answer("AT+NAME?\r", "\r\nOK\r\n", "\r\nSecond\r\n");
    answer("AT+ROLES\r", "\r\nOK\r\n");
    EXPECT_STREQ(pairing.device2Address, "0012-6F-654321");
    EXPECT_STREQ(pairing.device2Name, "Second");
    EXPECT_STREQ(device.name, "");
    EXPECT_EQ(device.role, 1) << "role answers ignored while pairing";
    EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_PAIR_DEVICE, ID_NOTIFY_PAIR_DEVICE, ID_NOTIFY_LOCAL_DEVICE}));

    const struct {
        const char* command;
        int32_t stateBefore, stateAfter, bonded;
    } steps[] = {{"AT+BOND=0012-6F-654321\r", 0, 0, 1}, {"AT+BOND-\r", 0, 0, 0},
                 {"AT+BOND=0012-6F-123456\r", 2, 3, 0}, {"AT+BOND=0012-6F-654321\r", 3, 4, 1},
                 {"AT+BOND-\r", 5, 6, 0}, {"AT+BOND-\r", 6, 0, 0}};
    for (const auto& step : steps) {
        pairing.pairState = step.stateBefore;
        bIndex = 13;
        answer(step.command, "\r\nOK\r\n");
        EXPECT_EQ(pairing.pairState, step.stateAfter) << step.command << " from " << step.stateBefore;
        EXPECT_EQ(device.bonded, step.bonded) << step.command << " from " << step.stateBefore;
    }
    EXPECT_EQ(bIndex, 10) << "unbonding done: counters reset";
}

TEST_F(Handling, InquiryDataModeAndConnections)
{
    inquiry.resultCount = 4;
    answer("AT+FIND?\r", "\r\nOK\r\n");
    EXPECT_EQ(device.isInquiryActive, 1);
    EXPECT_EQ(inquiry.resultCount, 0);
    EXPECT_EQ(inquiry.keepNextByte, 1);
    EXPECT_EQ(posted(), std::vector<UINT>{ID_NOTIFY_INQUIRY_CLEAR});
    answer("AT+FIND-\r", "\r\nOK\r\n", "\r\nInquiry Cancelled");
    EXPECT_EQ(device.isInquiryActive, 0);
    EXPECT_TRUE(logged("Inquiry cancelled."));

    answer("AT+AUTO\r", "\r\nOK\r\n");
    EXPECT_EQ(device.isDataMode, 1);
    answer("+++", "\r\nOK\r\n");
    EXPECT_EQ(device.isDataMode, 0);

    handshakeState = HANDSHAKE_COMPLETE;
    answer("\r\nCONNECT", "\r\nOK\r\n", "Attempt Fail!!");
    EXPECT_TRUE(posted().empty());
    answer("\r\nCONNECT", "\r\nOK\r\n", "0012-6F-654321");
    EXPECT_EQ(device.isConnected + device.isDataMode, 2);
    EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE}));
    answer("\r\nDISCONNECT", "\r\nOK\r\n", " 0012-6F-654321");
    EXPECT_EQ(device.isConnected + device.isDataMode, 0);
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    EXPECT_STREQ(remoteAddress, "");
    EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE}));
    EXPECT_EQ(boxes.texts(), (std::vector<std::wstring>{
                                 L"Local Device failed to connect to remote device. Attempt Fail!!",
                                 L"Local Device connected to remote device with address 0012-6F-654321",
                                 L"Local Device disconnected from remote device with address  0012-6F-654321"}));
}
