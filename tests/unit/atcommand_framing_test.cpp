// Framing answers out of blocks that may end anywhere, reports, and the
// evaluation of timer-sent answers.
#include "atcommand_fixture.h"
#include "receive_fuzz.h"
#include "trace_capture.h"

class Framing : public EngineTest {
protected:
    void run(const char* command, uint32_t expectsReply, const std::string& bytes, size_t chunk = 200)
    {
        ResetEvent(atCommandEvent);
        pend(command, expectsReply);
        feed(bytes, chunk);
    }
};

TEST_F(Framing, CompletesOnTheLastByteInAnySplitWithAndWithoutEcho)
{
    const struct {
        const char* command;
        uint32_t expectsReply;
        int responseOn;
        std::string answer;  // complete on its last byte, not before
        UINT handled;        // what its handling posts, exactly once
    } rows[] = {
        {"AT+VER\r", 1, 1, "\r\nRZ310 F/W V1.0\r\nOK\r\n", ID_NOTIFY_FIRMWARE_VERSION},
        {"AT+STOP?\r", 1, 1, "\r\nSTOP2\r\nOK\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+STOP2\r", 0, 1, "\r\nERROR\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+RESP-\r", 0, 1, "\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+RESP-\r", 0, 0, "\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+RESP+\r", 0, 0, "\r\nOK\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"+++", 0, 0, "\r\nOK\r\n", ID_NOTIFY_LOG},
        {"AT+AUTO\r", 0, 0, "\r\nOK\r\n", ID_NOTIFY_LOG},
        {"AT+ECHO?\r", 1, 0, "\r\nECHO-\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+RESP?\r", 1, 0, "\r\nRESP+\r\nOK\r\n", ID_NOTIFY_LOCAL_DEVICE},
        {"AT+ECHO-\r", 0, 0, "\r\n", ID_NOTIFY_LOCAL_DEVICE},
    };
    for (const auto& row : rows) {
        for (bool echo : {false, true}) {
            for (size_t chunk : {1, 3, 200}) {
                SCOPED_TRACE(testing::Message() << row.command << " resp " << row.responseOn << " echo " << echo
                                                << " chunk " << chunk);
                device.responseOn = row.responseOn;
                window.clear();
                // The adapter does not echo the escape sequence.
                std::string bytes = (echo && strcmp(row.command, "+++") != 0 ? row.command : "") + row.answer;
                run(row.command, row.expectsReply, bytes.substr(0, bytes.size() - 1), chunk);
                EXPECT_FALSE(eventSet()) << "complete too early";
                feed(bytes.substr(bytes.size() - 1));
                EXPECT_TRUE(eventSet()) << "not complete";
                EXPECT_STREQ(atCommand.command, "");
                window.pump(0);
                EXPECT_EQ(window.countOf(row.handled), 1u) << "handled once";
            }
        }
    }
    EXPECT_STREQ(device.version, "RZ310 F/W V1.0");
}

TEST_F(Framing, ReportsWithAndWithoutAPendingCommand)
{
    for (int responseOn : {1, 0}) {
        for (size_t chunk : {1, 200}) {
            SCOPED_TRACE(testing::Message() << "resp " << responseOn << " chunk " << chunk);
            resetEngineState();
            device.responseOn = responseOn;
            handshakeState = HANDSHAKE_COMPLETE;
            boxes.clear();
            ResetEvent(atCommandEvent);
            feed("\r\nCONNECT Attempt Fail!!\r\n", chunk);
            feed("\r\nCONNECT \"0012-6F-654321\"\r\n", chunk);
            EXPECT_STREQ(remoteAddress, "0012-6F-654321");
            EXPECT_EQ(device.isConnected + device.isDataMode, 2);
            feed("\r\nDISCONNECT\r\n", chunk);
            EXPECT_EQ(device.isConnected + device.isDataMode + handshakeState, 0);
            EXPECT_STREQ(remoteAddress, "");
            EXPECT_EQ(posted(), (std::vector<UINT>{ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE,
                                                   ID_NOTIFY_STATUS, ID_NOTIFY_INQUIRY_END, ID_NOTIFY_REMOTE_DEVICE}));
            EXPECT_EQ(boxes.texts(),
                      (std::vector<std::wstring>{
                          L"Local Device failed to connect to remote device. Attempt Fail!!",
                          L"Local Device connected to remote device with address \"0012-6F-654321\"",
                          L"Local Device disconnected from remote device with address "}));
            EXPECT_FALSE(eventSet()) << "a report releases no sender";
        }
    }
    // A report takes a pending command's place for a moment; its answer still
    // counts.
    device.responseOn = 1;
    run("AT+VER\r", 1, "\r\nCONNECT 00126f654321\r\n");
    EXPECT_STREQ(remoteAddress, "00126f654321");
    EXPECT_FALSE(eventSet());
    feed("\r\nRZ310 F/W V2.0\r\nOK\r\n", 4);
    EXPECT_TRUE(eventSet());
    EXPECT_STREQ(device.version, "RZ310 F/W V2.0");

    // An answer and a report in one block: both are handled.
    device.isConnected = 0;
    run("AT+CONN=0012-6F-654321\r", 0, "\r\nOK\r\n\r\nCONNECT 0012-6F-654321\r\n");
    EXPECT_TRUE(eventSet());
    EXPECT_EQ(device.isConnected, 1);
    EXPECT_STREQ(atCommand.command, "");
}

// A line is a report only in a report's form; an answer ends where it is
// complete, and the rest of its block is read as if it had come on its own.
// Every split of the bytes gives the same result.
TEST_F(Framing, OnlyReportsAreReportsAndAnAnswerEndsWhereItIsComplete)
{
    const std::wstring dropped = L"Local Device disconnected from remote device with address ";
    const struct {
        const char* command;
        uint32_t expectsReply;
        std::string bytes;
        const char* name;  // device.name afterwards, "old" before
        std::vector<std::wstring> boxes;
        int inquiry;       // device.isInquiryActive afterwards
        int results = 0;   // inquiry.resultCount afterwards
    } rows[] = {
        {"AT+NAME?\r", 1, "\r\nCONNECTOR\r\nOK\r\n", "CONNECTOR", {}, 0},
        {"AT+NAME?\r", 1, "\r\nDISCONNECT ME\r\nOK\r\n", "DISCONNECT ME", {}, 0},
        {"AT+NAME?\r", 1, "\r\nCONNECT 0012-6F-65432\r\nOK\r\n", "CONNECT 0012-6F", {}, 0},
        {"AT+NAME?\r", 1, "\r\nMyName\r\nOK\r\n\r\nDISCONNECT\r\n", "MyName", {dropped}, 0},
        {"AT+NAME=New\r", 0, "\r\nERROR\r\n\r\nDISCONNECT\r\n", "old", {dropped}, 0},
        {"AT+NAME?\r", 1, "\r\nOK\r\nOK\r\n", "old", {}, 0},
        {"AT+NAME?\r", 1, "X\r\nMyName\r\nOK\r\n", "MyName", {}, 0},        // a stray byte is no echo
        {"AT+NAME?\r", 1, "XAT+NAME?\r\r\nMyName\r\nOK\r\n", "MyName", {}, 0},
        {"AT+FIND?\r", 0, "\r\nOK\r\n\r\nRZ310 Porch\r\n", "old", {}, 1, 1},  // the first result counts
    };
    for (const auto& row : rows) {
        for (size_t chunk : {1, 3, 200}) {
            SCOPED_TRACE(testing::Message() << row.bytes.substr(0, 24) << " chunk " << chunk);
            resetEngineState();
            device.isDeviceInitialised = device.responseOn = 1;
            strcpy(device.name, "old");
            boxes.clear();
            run(row.command, row.expectsReply, row.bytes, chunk);
            EXPECT_TRUE(eventSet());
            EXPECT_STREQ(device.name, row.name);
            EXPECT_EQ(device.isConnected, 0);
            EXPECT_EQ(boxes.texts(), row.boxes);
            EXPECT_EQ(device.isInquiryActive, row.inquiry);
            EXPECT_EQ(inquiry.resultCount, row.results);
            EXPECT_STREQ(atCommand.command, "");
        }
    }
    // A late answer with nothing pending is no one's: it releases no sender.
    ResetEvent(atCommandEvent);
    feed("\r\nRESP+\r\nOK\r\n");
    EXPECT_FALSE(eventSet());
    EXPECT_FALSE(logged("Invalid Command "));
}

// The short run of the randomized check; bench_receive_fuzz makes the long one.
TEST_F(Framing, RandomBlocksKeepFieldsTerminatedAndAnswersAsHandled)
{
    ReceiveFuzzResult result = runReceiveFuzz(20000, 11, [&] {
        window.pump(0);
        window.clear();
        boxes.clear();
    });
    printf("receive path: %llu random blocks, %llu commands answered\n",
           static_cast<unsigned long long>(result.blocks), static_cast<unsigned long long>(result.answers));
    EXPECT_EQ(result.failure, "");
    EXPECT_GE(result.blocks, 20000u);
}

TEST_F(Framing, OverlongLinesDoNotSpill)
{
    for (size_t chunk : {1, 200}) {
        run("AT+NAME?\r", 1, "\r\n" + std::string(1000, 'n') + "\r\nOK\r\n", chunk);
        EXPECT_TRUE(eventSet()) << "the command still ends";
        EXPECT_STREQ(device.name, std::string(15, 'n').c_str());
    }
}

TEST_F(Framing, TimerSentAnswersAreStoredThenEvaluated)
{
    // Echo and ERROR while bringing the adapter up: try again at these settings.
    device.isDeviceInitialised = 0;
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
    EXPECT_TRUE(logged("Local Device initialised successfully"));

    // Longer than the record: the excess is dropped and the command ends.
    posted();
    pend("AT+ENQ\r", 0, 1);
    std::string enquiry = "AT+ENQ\r\r\nOK\r\n";
    for (int i = 0; i < 100; ++i)
        enquiry += "\r\nSETTING" + std::to_string(i) + "\r\n";
    feed(enquiry, 37);
    EXPECT_EQ(atCommand.respLength, static_cast<uint32_t>(RESPONSE_SIZE - 1));
    EXPECT_EQ(atCommand.respState, static_cast<uint32_t>(RESP_WAIT_START)) << "next field intact";
    processTimedResponse();
    EXPECT_EQ(posted(), std::vector<UINT>{ID_NOTIFY_LOCAL_DEVICE});
    EXPECT_STREQ(atCommand.command, "");
}

// While an inquiry runs, lines cut at CR are devices, the end line or
// reports; split anywhere they give the same record, and nothing is written
// past it.
TEST_F(Framing, InquiryLinesAreResultsTheEndOrReports)
{
    using Results = std::vector<std::string>;
    std::string eleven;
    Results tenDevices;
    for (int i = 0; i < 11; ++i)
        eleven += "\r\nDEVICE " + std::to_string(i);
    for (int i = 0; i < 10; ++i)
        tenDevices.push_back("DEVICE " + std::to_string(i));
    const std::string longLine(1000, 'L');
    const struct {
        const char* name;
        std::string stream;
        Results results;  // the record afterwards, in order
        size_t resultPosts, endPosts;
        int active, connected;
        const wchar_t* box;  // the report's message box, if any
    } rows[] = {
        {"three devices and the end", "\r\nA 0012-6F-000001\r\nB\r\nC\r\nInquiry End\r\n",
         {"A 0012-6F-000001", "B", "C", "Inquiry End"}, 4, 1, 0, 0, nullptr},
        {"a connection meanwhile", "\r\nA\r\nCONNECT 0012-6F-34AB56\r\n\r\nB\r", {"A", "B"}, 2, 1, 1, 1,
         L"Local Device connected to remote device with address 0012-6F-34AB56"},
        {"a disconnection meanwhile", "\r\nDISCONNECT 0012-6F-34AB56\r\n\r\nA\r", {"A"}, 1, 1, 1, 0,
         L"Local Device disconnected from remote device with address  0012-6F-34AB56"},
        {"devices named like reports", "\r\nCONNECTOR\r\nDISCONNECT ME 0012-6F-34AB56\r\nInquiry End\r\n",
         {"CONNECTOR", "DISCONNECT ME 0012-6F-34AB56", "Inquiry End"}, 3, 1, 0, 0, nullptr},
        {"an eleventh result", eleven + "\r\nInquiry End\r\n", {}, 10, 1, 0, 0, nullptr},
        {"an over-long line", "\r\n" + longLine + "\r\nB\r", {std::string(RESPONSE_SIZE - 3, 'L'), "B"}, 2, 0, 1, 0,
         nullptr},
    };
    for (const auto& row : rows) {
        for (size_t chunk : {1, 7, 200}) {
            SCOPED_TRACE(testing::Message() << row.name << " chunk " << chunk);
            TraceCapture trace;
            resetEngineState();
            device.isDeviceInitialised = device.responseOn = 1;
            // Only the disconnection row starts connected.
            device.isConnected = device.isDataMode = row.connected == 0 && row.box ? 1 : 0;
            answer("AT+FIND?\r", "\r\nOK\r\n");
            memset(&atCommand, 0, sizeof atCommand);
            window.clear();
            boxes.clear();
            feed(row.stream, chunk);

            const Results expected = row.results.empty() ? tenDevices : row.results;
            ASSERT_EQ(inquiry.resultCount, static_cast<int32_t>(expected.size()));
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_EQ(inquiry.results[i], expected[i]) << i;
            EXPECT_LT(inquiry.lineLength, RESPONSE_SIZE);
            EXPECT_EQ(device.isInquiryActive, row.active);
            EXPECT_EQ(device.isConnected, row.connected);
            window.pump(0);
            EXPECT_EQ(window.countOf(ID_NOTIFY_INQUIRY_RESULT), row.resultPosts);
            EXPECT_EQ(window.countOf(ID_NOTIFY_INQUIRY_END), row.endPosts);
            EXPECT_EQ(std::count(window.logLines.begin(), window.logLines.end(), "Inquiry Complete."),
                      row.active ? 0 : 1);
            EXPECT_EQ(boxes.texts(), row.box ? std::vector<std::wstring>{row.box} : std::vector<std::wstring>{});
            EXPECT_STREQ(atCommand.command, "") << "a report leaves no command behind";
            EXPECT_EQ(trace.countPrefix("ATCOMMAND: Inquiry results full"), row.results.empty() ? 1u : 0u);
        }
    }
}
