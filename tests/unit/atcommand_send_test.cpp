// Sending: refusals, the timers of timer-sent commands, blocking retries and
// the escape from data mode.
#include "atcommand_fixture.h"
#include "app/notify.h"

class Sending : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        device.isDeviceInitialised = 1;
        device.responseOn = 1;
    }
};

TEST_F(Sending, RefusedTextsAreNotWritten)
{
    EXPECT_EQ(sendAtCommand("", 1, 0), SEND_FAILED);
    // Too long for the record: refused whole, never cut into another command.
    pend("AT+VER\r", 1);
    EXPECT_EQ(sendAtCommand(("AT+NAME=" + std::string(21, 'n') + "\r").c_str(), 0, 0), SEND_FAILED);
    EXPECT_STREQ(atCommand.command, "AT+VER\r") << "the pending record is left alone";
    // Not in the catalogue: the pending record goes too.
    EXPECT_EQ(sendAtCommand("AT+FOO\r", 0, 0), SEND_FAILED);
    EXPECT_STREQ(atCommand.command, "");
    EXPECT_TRUE(logged("Sending Invalid command AT+FOO\r failed."));
    EXPECT_TRUE(writes().empty());

    const std::string longest = "AT+NAME=" + std::string(20, 'n') + "\r";
    script(longest, "\r\nOK\r\n");
    EXPECT_EQ(sendAtCommand(longest.c_str(), 0, 0), SEND_OK) << "29 characters fit";
    EXPECT_EQ(writes(), std::vector<std::string>{longest});
}

TEST_F(Sending, TimerSentCommandsArmTheTimerOfTheirState)
{
    const struct {
        int initialised, baudCode;
        UINT_PTR timer;
        UINT ms;
    } rows[] = {{1, 10, ATCommandTimer, 5000}, {1, 11, ATCommandTimer, 3000}, {1, 12, ATCommandTimer, 2000},
                {1, 14, ATCommandTimer, 1000}, {0, 10, DevInitTimer, 1000}};
    for (const auto& row : rows) {
        device.isDeviceInitialised = row.initialised;
        device.baudCode = row.baudCode;
        timersArmed.clear();
        EXPECT_EQ(sendAtCommand("AT\r", 0, 1), SEND_OK);
        EXPECT_EQ(timersArmed, (std::vector<std::pair<UINT_PTR, UINT>>{{row.timer, row.ms}}));
    }
    // The record tells the framing which answers carry a line of their own.
    for (auto [command, expects] : {std::pair<const char*, uint32_t>{"AT+FIND?\r", 0}, {"AT+FIND-\r", 1},
                                    {"AT+BAUD?\r", 1}, {"AT+VER\r", 1}, {"AT+STOP2\r", 0}}) {
        sendAtCommand(command, 0, 1);
        EXPECT_EQ(atCommand.expectsReplyLine, expects) << command;
    }
    // A pending enquiry makes every send busy, silently, until its timer.
    EXPECT_EQ(sendAtCommand("AT+ENQ\r", 1, 1), SEND_OK);
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_BUSY);
    EXPECT_EQ(sendAtCommand("AT+FOO\r", 0, 1), SEND_BUSY);
    EXPECT_EQ(writes().back(), "AT+ENQ\r");
    processTimedResponse();
    script("AT+VER\r", "\r\nV\r\nOK\r\n");
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(Sending, BlockingSendIsAnsweredOrRetriedTwiceThenReported)
{
    script("AT+STOP2\r", "AT+STOP2\r\r\nOK\r\n");
    EXPECT_EQ(sendAtCommand("AT+STOP2\r", 1, 0), SEND_OK);
    EXPECT_EQ(uart.stopBits, 2);
    EXPECT_TRUE(logged("Sending command AT+STOP2\r"));
    EXPECT_TRUE(logged("Received Response \r\nOK\r\n  for command AT+STOP2\r"));

    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED);
    EXPECT_EQ(writes(), (std::vector<std::string>{"AT+STOP2\r", "AT+VER\r", "AT+VER\r", "AT+VER\r"}));
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Failed to send command AT+VER\r. Response not received correctly"});
    EXPECT_STREQ(atCommand.command, "");
    // While the pairing procedure probes for a second adapter, silence is expected.
    for (int state : {1, 6}) {
        pairing.pairState = state;
        EXPECT_EQ(sendAtCommand("AT\r", 0, 0), SEND_FAILED);
    }
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_EQ(writes().size(), 10u);
}

TEST_F(Sending, DataModeAsksForTheEscapeSequenceFirst)
{
    device.isDataMode = 1;
    boxes.setAnswer(IDCANCEL);
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(narrow(boxes.texts().at(0)),
              "Local Device is in datamode. Do you want to Send Escape Sequence before sending the command");

    // Confirmed: "+++" first, then the command.
    boxes.setAnswer(IDOK);
    script("+++", "\r\nOK\r\n");
    script("AT+VER\r", "\r\nRZ310 F/W V1.0\r\nOK\r\n");
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_EQ(writes(), (std::vector<std::string>{"+++", "AT+VER\r"}));
    EXPECT_EQ(device.isDataMode, 0);
    EXPECT_STREQ(device.version, "RZ310 F/W V1.0");

    // "+++" unanswered: the command is not sent.
    device.isDataMode = 1;
    script("+++", "");
    boxes.clear();
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED);
    EXPECT_EQ(writes().size(), 5u);
    EXPECT_EQ(writes().back(), "+++");
    EXPECT_EQ(boxes.texts().back(), L"ESCAPE Sequence failed.");
}

TEST_F(Sending, LogTextsSurviveUntilTheWindowReadsThem)
{
    for (int i = 0; i < 40; ++i)
        sendAtCommand(("AT+X" + std::to_string(i) + "\r").c_str(), 0, 0);
    window.pump(0);
    ASSERT_EQ(window.logLines.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(window.logLines[i], "Sending Invalid command AT+X" + std::to_string(i) + "\r failed.");
}
