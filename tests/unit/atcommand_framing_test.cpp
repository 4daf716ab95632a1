// Framing answers out of blocks that may end anywhere, reports, and the
// evaluation of timer-sent answers.
#include "atcommand_fixture.h"
#include "receive_fuzz.h"

using Framing = EngineTest;

// A line is a report only in a report's form; an answer ends where it is
// complete, the rest of its block read on its own (the randomized check cuts
// blocks anywhere). A report, or a late answer, with nothing pending releases
// no sender.
TEST_F(Framing, OnlyReportsAreReportsAndAnAnswerEndsWhereItIsComplete)
{
    // clang-format off
    const struct {
        const char* command;
        uint32_t expectsReply;
        std::string bytes;
        std::string name;  // device.name afterwards, "old" before
        size_t reports;    // message boxes of reports handled
        int connected;     // device.isConnected afterwards
        int results = 0;   // inquiry.resultCount afterwards
        int responseOn = 1;
        uint32_t timerMode = 0;  // judged when its timer expires
    } rows[] = {
        {"AT+NAME?\r", 1, "\r\nCONNECTOR\r\nOK\r\n", "CONNECTOR", 0, 0},
        {"AT+NAME?\r", 1, "\r\nCONNECT 0012-6F-65432\r\nOK\r\n", "CONNECT 0012-6F", 0, 0},
        {"AT+NAME?\r", 1, "\r\nMyName\r\nOK\r\n\r\nDISCONNECT\r\n", "MyName", 1, 0},
        {"AT+NAME=New\r", 0, "\r\nERROR\r\n\r\nDISCONNECT\r\n", "old", 1, 0},
        {"AT+NAME?\r", 1, "\r\nOK\r\nOK\r\n", "old", 0, 0},
        // Bytes before a CR are the echo only when they are the whole command.
        {"AT+NAME?\r", 1, "X#X#X#X#\r\nMyName\r\nOK\r\n", "MyName", 0, 0},
        {"AT+NAME?\r", 1, "A\r\nMyName\r\nOK\r\n", "MyName", 0, 0},
        {"AT+NAME?\r", 1, "ME?\r\r\nMyName\r\n", "MyName", 0, 0, 0, 0},
        {"AT+NAME=New\r", 0, "A\r\nOK\r\n", "New", 0, 0, 0, 1, 1},
        {"AT+NAME?\r", 1, "\r\n" + std::string(1000, 'n') + "\r\nOK\r\n", std::string(15, 'n'), 0, 0},
        // A report takes the pending command's place for a moment; its answer still counts.
        {"AT+NAME?\r", 1, "\r\nCONNECT 0012-6F-654321\r\n\r\nMyName\r\nOK\r\n", "MyName", 1, 1},
        {"AT+CONN=0012-6F-654321\r", 0, "\r\nOK\r\n\r\nCONNECT 0012-6F-654321\r\n", "old", 1, 1},
        // A bare CR LF that opens a report in its block answers only after it.
        {"AT+ECHO+\r", 0, "\r\nCONNECT 0012-6F-654321\r\n\r\n", "old", 1, 1, 0, 0},
        {"AT+FIND?\r", 0, "\r\nOK\r\n\r\nRZ310 Porch\r\n", "old", 0, 0, 1},  // the first result counts
        {"", 0, "\r\nCONNECT Attempt Fail!!\r\n", "old", 1, 0},
        {"", 0, "\r\nCONNECT \"0012-6F-654321\"\r\n\r\nDISCONNECT\r\n", "old", 2, 0},
        {"", 0, "\r\nRESP+\r\nOK\r\n", "old", 0, 0},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes.substr(0, 24));
        resetEngineState();
        device.isDeviceInitialised = 1;
        device.responseOn = row.responseOn;
        strcpy(device.name, "old");
        const size_t boxesBefore = boxes.count();
        ResetEvent(atCommandEvent);
        pend(row.command, row.expectsReply, row.timerMode);
        feed(row.bytes);
        if (row.timerMode == 1)
            processTimedResponse();
        EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0) == WAIT_OBJECT_0, row.command[0] != '\0' && !row.timerMode);
        EXPECT_EQ(device.name, row.name);
        EXPECT_EQ(device.isConnected, row.connected);
        EXPECT_EQ(boxes.count() - boxesBefore, row.reports);
        EXPECT_EQ(inquiry.resultCount, row.results);
        EXPECT_STREQ(atCommand.command, "");
    }
}

// The short run of the randomized check; bench_receive_fuzz makes the long one.
TEST_F(Framing, RandomBlocksKeepFieldsTerminatedAndAnswersAsHandled)
{
    ReceiveFuzzResult result = runReceiveFuzz(20000, 11, [&] {
        window.pump(0);
        window.clear();
    });
    EXPECT_EQ(result.failure, "");
    EXPECT_GT(result.recorded, 0u) << "no command recorded at a box: the boxes' rules went unchecked";
}

// While an inquiry runs, lines cut at CR are devices, the end line or reports,
// and nothing goes past the record. A command the window records at a box
// takes the rest of the block, and its answer counts.
TEST_F(Framing, InquiryLinesAreResultsTheEndOrReports)
{
    using Results = std::vector<std::string>;
    std::string eleven;
    Results tenDevices;
    for (int i = 0; i < 11; ++i)
        eleven += "\r\nDEVICE " + std::to_string(i);
    for (int i = 0; i < 10; ++i)
        tenDevices.push_back("DEVICE " + std::to_string(i));
    // clang-format off
    const struct {
        const char* name;
        std::string stream;
        Results results;  // the record afterwards, in order
        size_t endPosts;
        int active, connectedBefore, connected;
        const char* recorded = nullptr;  // by the window at the first box, then answered OK
    } rows[] = {
        {"three devices and the end", "\r\nA 0012-6F-000001\r\nB\r\nC\r\nInquiry End\r\n",
         {"A 0012-6F-000001", "B", "C", "Inquiry End"}, 1, 0, 0, 0},
        {"a connection meanwhile", "\r\nA\r\nCONNECT 0012-6F-34AB56\r\n\r\nB\r", {"A", "B"}, 1, 1, 0, 1},
        {"a disconnection meanwhile", "\r\nDISCONNECT 0012-6F-34AB56\r\n\r\nA\r", {"A"}, 1, 1, 1, 0},
        {"the end, then an answer", "\r\nInquiry End\r\nOK\r\n", {"Inquiry End"}, 1, 0, 0, 0},
        {"a command recorded at a report's box", "\r\nCONNECT 0012-6F-654321\r\nDISCONNECT\r\n", {}, 2, 0, 0, 0,
         "AT+FIND-\r"},
        {"an eleventh result", eleven + "\r\nInquiry End\r\n", tenDevices, 1, 0, 0, 0},
        {"an over-long line", "\r\n" + std::string(1000, 'L') + "\r\nB\r", {std::string(RESPONSE_SIZE - 3, 'L'), "B"},
         0, 1, 0, 0},
    };
    // clang-format on
    seams.messageBox = receive_fuzz::boxHook;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        resetEngineState();
        device.isDeviceInitialised = device.responseOn = 1;
        device.isConnected = device.isDataMode = row.connectedBefore;
        answer("AT+FIND?\r", "\r\nOK\r\n");
        memset(&atCommand, 0, sizeof atCommand);
        window.clear();
        bool record = row.recorded != nullptr;
        receive_fuzz::onBox = [&] {
            if (std::exchange(record, false))
                receive_fuzz::recordCommand(row.recorded, 1);
        };
        feed(row.stream);
        if (row.recorded) {
            EXPECT_STREQ(atCommand.command, row.recorded);
            feed("\r\nOK\r\n");
            EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0), WAIT_OBJECT_0);
        }
        ASSERT_EQ(inquiry.resultCount, static_cast<int32_t>(row.results.size()));
        for (size_t i = 0; i < row.results.size(); ++i)
            EXPECT_EQ(inquiry.results[i], row.results[i]) << i;
        EXPECT_LT(inquiry.lineLength, RESPONSE_SIZE);
        EXPECT_EQ(device.isInquiryActive, row.active);
        EXPECT_EQ(device.isConnected, row.connected);
        window.pump(0);
        EXPECT_EQ(window.countOf(ID_NOTIFY_INQUIRY_RESULT), row.results.size());
        EXPECT_EQ(window.countOf(ID_NOTIFY_INQUIRY_END), row.endPosts);
    }
    receive_fuzz::onBox = nullptr;
}
