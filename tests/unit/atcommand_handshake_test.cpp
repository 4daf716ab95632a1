// The byte protocol with a remote adapter: replies byte by byte, the send
// path through data mode, and the time-out racing a reply. The real read
// thread and timer run in it_engine.
#include "atcommand_fixture.h"
#include "trace_capture.h"

using Handshake = EngineTest;

namespace {
const std::string HANDSHAKE(8, '\xAA');
}

TEST_F(Handshake, RepliesAreTakenByteByByteInTheStateAtThatMoment)
{
    const struct {
        const char* name;
        int32_t state;
        uint8_t command;
        int32_t respLenBefore;
        std::vector<std::string> blocks;
        int32_t stateAfter;
        std::vector<std::string> logs;
        std::vector<UINT> notes;
        int32_t activeAfter;
        size_t idleBytes;   // dropped with a trace line each
        const char* trace;  // a further line expected in the trace
    } rows[] = {
        {"complete", HANDSHAKE_PENDING, 0, 0, {"\xAA\xAA"}, HANDSHAKE_COMPLETE, {"Handshake Complete..."},
         {ID_NOTIFY_REMOTE_DEVICE, ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0, "handshakeResp[0] = 0xAA handshakeResp[1] = 0xAA"},
        {"failed", HANDSHAKE_PENDING, 0, 0, {"\xAA\x55"}, HANDSHAKE_IDLE, {"Handshake Failed..."},
         {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0, "ATCOMMAND: Handshake Failed.."},
        {"two blocks", HANDSHAKE_PENDING, 0, 0, {"\xAA", "\xAA"}, HANDSHAKE_COMPLETE, {"Handshake Complete..."},
         {ID_NOTIFY_REMOTE_DEVICE, ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0, "ATCOMMAND: Handshake Complete.."},
        {"exit, first byte ignored", HANDSHAKE_COMPLETE, REMOTE_CMD_EXIT, 0, {std::string("\x37\x00", 2)},
         HANDSHAKE_IDLE, {"Remote Access Mode Exited."}, {ID_NOTIFY_REMOTE_DEVICE, ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0,
         "Handshake Command handled. Killing Handshake timer"},
        {"exit refused", HANDSHAKE_COMPLETE, REMOTE_CMD_EXIT, 0, {std::string("\x00\x01", 2)}, HANDSHAKE_COMPLETE,
         {"Exit Remote Access Mode failed."}, {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0,
         "ATCOMMAND: Exit Remote Access Mode failed."},
        {"baud changed", HANDSHAKE_COMPLETE, REMOTE_CMD_BAUD, 0, {std::string("\x01\x00", 2)}, HANDSHAKE_COMPLETE,
         {"Remote Device Baud rate changed."}, {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0,
         "ATCOMMAND: Remote Device Baud rate changed."},
        {"baud refused", HANDSHAKE_COMPLETE, REMOTE_CMD_BAUD, 0, {"\x01", "\x01"}, HANDSHAKE_COMPLETE,
         {"Remote Device Baud rate change failed."}, {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0,
         "ATCOMMAND: Remote Device Baud rate change failed."},
        {"unknown command", HANDSHAKE_COMPLETE, 7, 0, {std::string("\x00\x00", 2)}, HANDSHAKE_COMPLETE, {},
         {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 0, "Unknown Handshake Command H7"},
        {"idle", HANDSHAKE_IDLE, 0, 0, {"\x01"}, HANDSHAKE_IDLE, {}, {}, 1, 1, nullptr},
        {"unknown state", 5, 0, 0, {"\x01"}, 5, {}, {}, 1, 0, "ATCOMMAND: Unknown state 5"},
        {"bytes after the reply", HANDSHAKE_PENDING, 0, 0, {"\xAA\x55\x01\x02"}, HANDSHAKE_IDLE,
         {"Handshake Failed..."}, {ID_NOTIFY_HANDSHAKE_HANDLED}, 0, 2, nullptr},
        // A full block of replies from a bad count: never past the 3 bytes.
        {"full block", HANDSHAKE_COMPLETE, REMOTE_CMD_BAUD, 7, {std::string(RX_BUFFER_SIZE, '\x01')},
         HANDSHAKE_COMPLETE, std::vector<std::string>(RX_BUFFER_SIZE / 2, "Remote Device Baud rate change failed."),
         std::vector<UINT>(RX_BUFFER_SIZE / 2, ID_NOTIFY_HANDSHAKE_HANDLED), 0, 0, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window.clear();
        handshakeState = row.state;
        handshakeCommand = row.command;
        handshakeRespLen = row.respLenBefore;
        device.isHandshakeActive = 1;
        TraceCapture trace;
        for (const std::string& block : row.blocks)
            feed(block);
        EXPECT_EQ(handshakeState, row.stateAfter);
        EXPECT_EQ(device.isHandshakeActive, row.activeAfter);
        window.pump(0);
        EXPECT_EQ(window.logLines, row.logs);
        EXPECT_EQ(posted(), row.notes);
        EXPECT_EQ(trace.count("ATCOMMAND: Data received in unexpected state - HANDSHAKE_IDLE"), row.idleBytes);
        if (row.trace) {
            EXPECT_TRUE(trace.contains(row.trace)) << row.trace;
        }
    }
    EXPECT_EQ(handshakeResp[2], 0) << "the spare byte is never written";
}

TEST_F(Handshake, AReplyAndItsTimeOutAreHandledOnce)
{
    device.isDataMode = 1;
    // The reply wins: the expiry that was already on its way does nothing,
    // and the main window is told to kill the timer.
    replies[HANDSHAKE] = "\xAA\xAA";
    startHandshake();
    window.pump(0);
    ASSERT_EQ(window.countOf(ID_NOTIFY_HANDSHAKE_HANDLED), 1u);
    LPARAM arming = window.notifications.back().second;
    EXPECT_TRUE(handshakeTimerSpent(arming));
    EXPECT_EQ(handshakeTimerStep(), nullptr);
    EXPECT_EQ(handshakeState, HANDSHAKE_COMPLETE);

    // A newer request armed the timer again: a late kill must spare it.
    sendRemoteCommand(REMOTE_CMD_BAUD, 5);
    EXPECT_FALSE(handshakeTimerSpent(arming));

    // The time-out wins: the late reply is not taken as one.
    EXPECT_EQ(handshakeTimerStep(), std::string("Handshake command failed."));
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
    EXPECT_EQ(device.isHandshakeActive, 0);
    window.clear();
    feed(std::string("\x01\x00", 2));
    window.pump(0);
    EXPECT_TRUE(window.logLines.empty());
    EXPECT_EQ(window.countOf(ID_NOTIFY_HANDSHAKE_HANDLED), 0u);

    // A handshake that times out says so in its own words.
    replies.clear();
    startHandshake();
    EXPECT_EQ(handshakeTimerStep(), std::string("Handshake failed."));
    EXPECT_EQ(handshakeState, HANDSHAKE_IDLE);
}
