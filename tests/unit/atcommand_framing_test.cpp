// Framing answers out of blocks that may end anywhere, reports, and the
// evaluation of timer-sent answers.
#include "atcommand_fixture.h"
#include "app/notify.h"

class Framing : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        device.responseOn = 1;
    }
    void run(const char* command, uint32_t expectsReply, const std::string& bytes, size_t chunk = 200)
    {
        ResetEvent(atCommandEvent);
        pend(command, expectsReply);
        feed(bytes, chunk);
    }
};

TEST_F(Framing, ReplyAndStatusInAnySplitWithAndWithoutEcho)
{
    for (bool echo : {false, true}) {
        for (size_t chunk : {1, 2, 3, 5, 200}) {
            memset(device.version, 0, sizeof device.version);
            window.clear();
            run("AT+VER\r", 1, std::string(echo ? "AT+VER\r" : "") + "\r\nRZ310 F/W V1.0\r\nOK\r\n", chunk);
            EXPECT_TRUE(eventSet());
            EXPECT_STREQ(device.version, "RZ310 F/W V1.0") << echo << " " << chunk;
            window.pump(0);
            EXPECT_EQ(window.countOf(ID_NOTIFY_FIRMWARE_VERSION), 1u) << "handled once";
            EXPECT_STREQ(atCommand.command, "");
        }
    }
}

TEST_F(Framing, CompletesWhereTheResponseModeSays)
{
    const struct {
        const char* command;
        uint32_t expectsReply;
        int responseOn;
        std::string answer;  // complete on its last byte, not before
    } rows[] = {
        {"AT+STOP?\r", 1, 1, "\r\nSTOP2\r\nOK\r\n"}, {"AT+STOP2\r", 0, 1, "\r\nERROR\r\n"},
        {"AT+RESP-\r", 0, 1, "\r\n"},                {"AT+RESP-\r", 0, 0, "\r\n"},
        {"AT+RESP+\r", 0, 0, "\r\nOK\r\n"},          {"+++", 1, 0, "\r\nOK\r\n"},
        {"AT+AUTO\r", 0, 0, "\r\nOK\r\n"},           {"AT+ECHO?\r", 1, 0, "\r\nECHO-\r\n"},
        {"AT+RESP?\r", 1, 0, "\r\nRESP+\r\nOK\r\n"}, {"AT+ECHO-\r", 0, 0, "\r\n"},
    };
    for (const auto& row : rows) {
        for (bool echo : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.command << " resp " << row.responseOn << " echo " << echo);
            device.responseOn = row.responseOn;
            // The adapter does not echo the escape sequence.
            std::string echoed = echo && strcmp(row.command, "+++") != 0 ? row.command : "";
            run(row.command, row.expectsReply, echoed + row.answer.substr(0, row.answer.size() - 1), 1);
            EXPECT_FALSE(eventSet()) << "complete too early";
            feed(row.answer.substr(row.answer.size() - 1));
            EXPECT_TRUE(eventSet()) << "not complete";
        }
    }
}

TEST_F(Framing, ReportsWithAndWithoutAPendingCommand)
{
    for (int responseOn : {1, 0}) {
        for (size_t chunk : {1, 200}) {
            resetEngineState();
            device.responseOn = responseOn;
            boxes.clear();
            ResetEvent(atCommandEvent);
            feed("\r\nCONNECT \"0012-6F-654321\"\r\n", chunk);
            EXPECT_STREQ(remoteAddress, "0012-6F-654321") << responseOn << " " << chunk;
            feed("\r\nDISCONNECT\r\n", chunk);
            EXPECT_EQ(boxes.texts(),
                      (std::vector<std::wstring>{
                          L"Local Device connected to remote device with address \"0012-6F-654321\"",
                          L"Local Device disconnected from remote device with address "}));
            EXPECT_FALSE(eventSet()) << "a report releases no sender";
        }
    }
    // A report takes a pending command's place for a moment; its answer still counts.
    device.responseOn = 1;
    run("AT+VER\r", 1, "\r\nCONNECT 0012-6F-654321\r\n");
    EXPECT_EQ(device.isConnected, 1);
    EXPECT_FALSE(eventSet());
    feed("\r\nRZ310 F/W V2.0\r\nOK\r\n", 4);
    EXPECT_TRUE(eventSet());
    EXPECT_STREQ(device.version, "RZ310 F/W V2.0");

    // An answer and a report in one block: both are handled, the answer first.
    device.isConnected = 0;
    run("AT+CONN=0012-6F-654321\r", 0, "\r\nOK\r\n\r\nCONNECT 0012-6F-654321\r\n");
    EXPECT_TRUE(eventSet());
    EXPECT_EQ(device.isConnected, 1);
    EXPECT_STREQ(atCommand.command, "");
}

TEST_F(Framing, OverlongLinesAndStrayBytesDoNotSpill)
{
    for (size_t chunk : {1, 200}) {
        run("AT+NAME?\r", 1, "\r\n" + std::string(1000, 'n') + "\r\nOK\r\n", chunk);
        EXPECT_TRUE(eventSet()) << "the command still ends";
        EXPECT_STREQ(device.name, std::string(15, 'n').c_str());
    }
    // Junk and half a status line between commands do not reach the next answer.
    device.isDeviceInitialised = 1;
    feed("\r\n" + std::string(1500, 'x') + "\r\n\r\nOK");
    EXPECT_LT(atCommand.respLength, static_cast<uint32_t>(RESPONSE_SIZE));
    script("AT+VER\r", "\r\nRZ310 F/W V3.0\r\nOK\r\n");
    EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_OK);
    EXPECT_STREQ(device.version, "RZ310 F/W V3.0");
}

TEST_F(Framing, TimerSentAnswersAreStoredThenEvaluated)
{
    // Echo and ERROR while bringing the adapter up: try again at these settings.
    pend("AT\r", 0, 1);
    feed("AT\r\r\nERR", 3);
    feed("OR\r\n");
    EXPECT_EQ(atCommand.respLength, 12u) << "stored, not framed";
    processTimedResponse();
    EXPECT_EQ(device.initRetry, 1);
    EXPECT_TRUE(logged("Device Initialzation Failed. Cmd AT\r Response ERROR"));
    EXPECT_STREQ(atCommand.command, "");
    pend("AT\r", 0, 1);
    feed("\r\nOK\r\n");
    processTimedResponse();
    EXPECT_EQ(device.isDeviceInitialised, 1);

    // Longer than the record: the excess is dropped and the command ends.
    window.clear();
    pend("AT+ENQ\r", 0, 1);
    std::string enquiry = "AT+ENQ\r\r\nOK\r\n";
    for (int i = 0; i < 100; ++i)
        enquiry += "\r\nSETTING" + std::to_string(i) + "\r\n";
    feed(enquiry, 37);
    EXPECT_EQ(atCommand.respLength, static_cast<uint32_t>(RESPONSE_SIZE - 1));
    EXPECT_EQ(atCommand.respState, static_cast<uint32_t>(RESP_WAIT_START)) << "next field intact";
    processTimedResponse();
    window.pump(0);
    EXPECT_EQ(window.countOf(ID_NOTIFY_LOCAL_DEVICE), 1u);

    // Nothing arrived: the command just ends.
    pend("AT+ENQ\r", 0, 1);
    processTimedResponse();
    EXPECT_STREQ(atCommand.command, "");
}
