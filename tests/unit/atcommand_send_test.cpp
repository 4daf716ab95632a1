// Sending: refusals, a pending enquiry, blocking sends and the escape from data mode.
#include "atcommand_fixture.h"

using Sending = EngineTest;

// Empty, too long or not in the catalogue: nothing is written, nothing is cut
// into another command. A pending enquiry makes every send busy until its timer.
TEST_F(Sending, RefusedTextsAreNotWritten)
{
    EXPECT_EQ(sendAtCommand("", 1, 0), SEND_FAILED);
    pend("AT+VER\r", 1);
    EXPECT_EQ(sendAtCommand(("AT+NAME=" + std::string(21, 'n') + "\r").c_str(), 0, 0), SEND_FAILED);
    EXPECT_STREQ(atCommand.command, "AT+VER\r") << "the pending record is left alone";
    EXPECT_EQ(sendAtCommand("AT+FOO\r", 0, 0), SEND_FAILED);
    EXPECT_STREQ(atCommand.command, "");
    EXPECT_TRUE(written.empty());

    const std::string longest = "AT+NAME=" + std::string(20, 'n') + "\r";
    device.baudCode = 10; // at 1200 baud the enquiry's answer takes 5 s
    EXPECT_EQ(sendAtCommand("AT+ENQ\r", 1, 1), SEND_OK);
    EXPECT_EQ(timersArmed, (Timers{{ATCommandTimer, 5000}}));
    EXPECT_EQ(sendAtCommand(longest.c_str(), 0, 0), SEND_BUSY);
    engineTimerExpired(window.hwnd(), ATCommandTimer);
    replies[longest] = "\r\nOK\r\n";
    EXPECT_EQ(sendAtCommand(longest.c_str(), 0, 0), SEND_OK) << "29 characters fit";
    EXPECT_EQ(written, (std::vector<std::string>{"AT+ENQ\r", longest}));
}

TEST_F(Sending, BlockingSendWaitsForItsAnswer)
{
    // An ERROR answer is a failure, as no answer is, and changes nothing.
    replies["AT+STOP2\r"] = "AT+STOP2\r\r\nERROR\r\n";
    EXPECT_EQ(sendAtCommand("AT+STOP2\r", 0, 0), SEND_FAILED);
    EXPECT_EQ(uart.stopBits, 0);
    written.clear();
    // Unanswered: sent three times, then a box, except while the pairing
    // procedure probes for a second adapter and expects silence.
    for (int state : {0, 1, 6}) {
        pairing.pairState = state;
        EXPECT_EQ(sendAtCommand("AT\r", 0, 0), SEND_FAILED);
        EXPECT_STREQ(atCommand.command, "");
    }
    EXPECT_EQ(written, std::vector<std::string>(9, "AT\r"));
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Failed to send command AT\r. Response not received correctly"});

    // An answer handled as soon as the command was recorded is not erased
    // by the send that follows.
    pairing.pairState = 0;
    pend("AT+VER\r", 1);
    ResetEvent(atCommandEvent);
    feed("\r\nRZ310 F/W V1.0\r\nOK\r\n");
    EXPECT_EQ(sendBlockingCommand("AT+VER\r", 7), SEND_OK);
}

TEST_F(Sending, DataModeAsksForTheEscapeSequenceFirst)
{
    device.isDataMode = 1;
    boxes.answer = IDCANCEL;
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED) << "nothing sent is no success";
    EXPECT_TRUE(written.empty());

    // Confirmed (the end-to-end disconnection answers it so), but "+++" unanswered:
    // the command is not sent.
    boxes.answer = IDOK;
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED);
    EXPECT_EQ(written, std::vector<std::string>(3, "+++"));

    // The connection dropped while the box was up: no escape, the command goes.
    acceptAll = true;
    seams.messageBox = [](const wchar_t* text, UINT) {
        return wcsstr(text, L"datamode") ? (feed("\r\nDISCONNECT\r\n"), IDOK) : IDOK;
    };
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_EQ(written, (std::vector<std::string>{"+++", "+++", "+++", "AT+VER\r"}));
}

// A flood of log texts while the window reads none: up to 10,000 arrive
// intact and in order, and the rest are counted in one line.
TEST_F(Sending, LogTextsSurviveUntilTheWindowReadsThem)
{
    std::vector<std::string> lines;
    for (int i = 0; i < 10003; ++i)
        postLogText(lines.emplace_back("stray line " + std::to_string(i)).c_str());
    lines.resize(10000);
    lines.push_back("Log lines dropped: 3. The log window could not keep up.");
    window.pump(0);
    EXPECT_TRUE(window.logLines == lines) << window.logLines.size() << " lines";
}
