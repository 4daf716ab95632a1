// The byte protocol with a remote adapter: replies byte by byte and the
// time-out racing a reply (the real read thread and timer run in it_engine).
#include "atcommand_fixture.h"

using Handshake = EngineTest;

TEST_F(Handshake, RepliesAreTakenByteByByteInTheStateAtThatMoment)
{
    const std::string failedBaud = "Remote Device Baud rate change failed.";
    // clang-format off
    const struct {
        const char* name;
        int32_t state;
        uint8_t command;
        int32_t respLenBefore;
        std::vector<std::string> blocks;
        int32_t stateAfter;
        std::vector<std::string> logs;
        size_t handled;     // ID_NOTIFY_HANDSHAKE_HANDLED posts
        int32_t activeAfter;
        int32_t connectedAfter = 1;
    } rows[] = {
        {"two blocks", HANDSHAKE_PENDING, 0, 0, {"\xAA", "\x55"}, HANDSHAKE_IDLE, {"Handshake Failed..."}, 1, 0},
        {"exit, first byte ignored", HANDSHAKE_COMPLETE, REMOTE_CMD_EXIT, 0, {std::string("\x37\x00", 2)},
         HANDSHAKE_IDLE, {"Remote Access Mode Exited."}, 1, 0},
        {"exit refused", HANDSHAKE_COMPLETE, REMOTE_CMD_EXIT, 0, {std::string("\x00\x01", 2)}, HANDSHAKE_COMPLETE,
         {"Exit Remote Access Mode failed."}, 1, 0},
        {"baud refused", HANDSHAKE_COMPLETE, REMOTE_CMD_BAUD, 0, {"\x01", "\x01"}, HANDSHAKE_COMPLETE, {failedBaud},
         1, 0},
        {"idle", HANDSHAKE_IDLE, 0, 0, {"\x01"}, HANDSHAKE_IDLE, {}, 0, 1},
        // With no request pending, what follows a reply in its block is no reply.
        {"bytes after the reply", HANDSHAKE_PENDING, REMOTE_CMD_EXIT, 0, {std::string("\xAA\xAA\x00\x00", 4)},
         HANDSHAKE_COMPLETE, {"Handshake Complete..."}, 1, 0},
        // The adapter's report is no reply: it ends the request.
        {"a disconnection", HANDSHAKE_PENDING, 0, 0, {"\r\nDISCONNECT\r\n"}, HANDSHAKE_IDLE, {}, 1, 0, 0},
        // A full block after a bad count: never past the 3 bytes.
        {"full block", HANDSHAKE_COMPLETE, REMOTE_CMD_BAUD, 7, {std::string(RX_BUFFER_SIZE, '\x01')},
         HANDSHAKE_COMPLETE, {failedBaud}, 1, 0},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window.clear();
        handshakeState = row.state;
        handshakeCommand = row.command;
        handshakeRespLen = row.respLenBefore;
        device.isHandshakeActive = device.isConnected = device.isDataMode = 1;
        for (const std::string& block : row.blocks)
            feed(block);
        EXPECT_EQ(handshakeState, row.stateAfter);
        EXPECT_EQ(device.isHandshakeActive, row.activeAfter);
        EXPECT_EQ(device.isConnected, row.connectedAfter);
        window.pump(0);
        EXPECT_EQ(window.logLines, row.logs);
        EXPECT_EQ(window.countOf(ID_NOTIFY_HANDSHAKE_HANDLED), row.handled);
    }
    EXPECT_EQ(handshakeResp[2], 0) << "the spare byte is never written";
}

TEST_F(Handshake, AReplyAndItsTimeOutAreHandledOnce)
{
    device.isDataMode = 1;
    // The reply wins: the expiry already on its way does nothing, the window kills the timer.
    replies[std::string(8, '\xAA')] = "\xAA\xAA";
    startHandshake();
    window.pump(0);
    ASSERT_EQ(window.countOf(ID_NOTIFY_HANDSHAKE_HANDLED), 1u);
    LPARAM arming = window.notifications.back().second;
    EXPECT_TRUE(handshakeTimerSpent(arming));
    EXPECT_EQ(handshakeTimerStep(), nullptr);

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
}
