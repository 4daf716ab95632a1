// The byte protocol with a remote adapter over an open connection: the
// handshake, the 2-byte requests, their replies and the 4000 ms time-out.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "serial/uart.h"
#include <cstring>

namespace {

constexpr UINT HANDSHAKE_TIMEOUT_MS = 4000;
constexpr int NOTHING_SENT = -1;

// Which arming of HandshakeCommandTimer is the latest, and whether its
// request still waits for a reply. The reply (read thread) and the time-out
// (user-interface thread) each take the request under the engine lock, so
// only one of them handles it.
uint32_t timerArming = 0;
int32_t timerLive = 0;

// Writes the bytes, or returns NOTHING_SENT when the local adapter is not in
// data mode and cannot be put there.
int sendOrRefuse(const uint8_t* data, int32_t count)
{
    if (data == nullptr || count <= 0)
        return NOTHING_SENT;
    if (device.isDataMode == 0) {
        int answer = showMessageBox(
            L"Local Device needs to be set to data mode before sending remote configuration command", MB_OKCANCEL);
        if (answer != IDOK)
            return NOTHING_SENT;
        sendAndWait("AT+AUTO\r");
        if (device.isDataMode == 0) {
            showMessageBox(L"Device failed to switched to Data Mode.");
            return NOTHING_SENT;
        }
    }
    debugLog("ATCOMMAND: Sending %d bytes of data", static_cast<int>(count));
    {
        EngineLock lock;
        ++timerArming;
        timerLive = 1;
    }
    // Armed whatever the write gives: the expiry ends the request either way.
    seams.setTimer(mainHwnd, HandshakeCommandTimer, HANDSHAKE_TIMEOUT_MS, nullptr);
    return portWrite(data, static_cast<uint32_t>(count));
}

// Nothing went out: received data must not keep going to the handshake
// handling with no time-out to end it. A request still awaited from before
// keeps its reply coming here.
void undoRequest(int32_t stateBefore, uint8_t commandBefore)
{
    EngineLock lock;
    if (handshakeState == HANDSHAKE_PENDING)
        handshakeState = stateBefore;
    handshakeCommand = commandBefore;
    device.isHandshakeActive = timerLive;
}

// Adds a reply byte; true when the reply is complete.
bool storeReplyByte(uint8_t byte)
{
    if (handshakeRespLen < 0 || handshakeRespLen > 1)
        handshakeRespLen = 0;
    handshakeResp[handshakeRespLen++] = byte;
    return handshakeRespLen == 2;
}

void replyHandled(const char* trace)
{
    device.isHandshakeActive = 0;
    handshakeRespLen = 0;
    debugLog("%s", trace);
    timerLive = 0;
    postNotify(ID_NOTIFY_HANDSHAKE_HANDLED, static_cast<LPARAM>(timerArming));
}

void handshakeReply()
{
    debugLog("handshakeResp[0] = 0x%X handshakeResp[1] = 0x%X", handshakeResp[0], handshakeResp[1]);
    if (handshakeResp[0] == 0xAA && handshakeResp[1] == 0xAA) {
        handshakeState = HANDSHAKE_COMPLETE;
        debugLog("ATCOMMAND: Handshake Complete..");
        postLogText("Handshake Complete...");
        postNotify(ID_NOTIFY_REMOTE_DEVICE);
    } else {
        handshakeState = HANDSHAKE_IDLE;
        debugLog("ATCOMMAND: Handshake Failed..");
        postLogText("Handshake Failed...");
        postNotify(ID_NOTIFY_REMOTE_DEVICE);
    }
    replyHandled("Handshake response handled. Killing Handshake timer");
}

// Only the second byte tells success (0) from failure.
void commandReply()
{
    bool ok = handshakeResp[1] == 0;
    switch (handshakeCommand) {
    case REMOTE_CMD_EXIT:
        if (ok) {
            handshakeState = HANDSHAKE_IDLE;
            debugLog("ATCOMMAND: Remote Access Mode Exited.");
            postLogText("Remote Access Mode Exited.");
            postNotify(ID_NOTIFY_REMOTE_DEVICE);
        } else {
            debugLog("ATCOMMAND: Exit Remote Access Mode failed.");
            postLogText("Exit Remote Access Mode failed.");
        }
        break;
    case REMOTE_CMD_BAUD:
        if (ok) {
            debugLog("ATCOMMAND: Remote Device Baud rate changed.");
            postLogText("Remote Device Baud rate changed.");
        } else {
            debugLog("ATCOMMAND: Remote Device Baud rate change failed.");
            postLogText("Remote Device Baud rate change failed.");
        }
        break;
    default:
        debugLog("Unknown Handshake Command H%X", static_cast<unsigned>(handshakeCommand));
        break;
    }
    replyHandled("Handshake Command handled. Killing Handshake timer");
}

// True when the block holds a complete line in a report's form: CR LF, the
// keyword, what may follow it, CR LF.
bool blockHoldsReport(int32_t count)
{
    char line[RX_BUFFER_SIZE + 1];
    int32_t start = -1;
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (rxBuffer[i] != '\r' || rxBuffer[i + 1] != '\n')
            continue;
        if (start >= 0) {
            size_t length = static_cast<size_t>(i + 2 - start);
            memcpy(line, rxBuffer + start, length);
            line[length] = '\0';
            if (reportKind(line) != REPORT_NONE)
                return true;
        }
        start = i;
    }
    return false;
}

void handshakeByte(uint8_t byte)
{
    switch (handshakeState) {
    case HANDSHAKE_IDLE:
        debugLog("ATCOMMAND: Data received in unexpected state - HANDSHAKE_IDLE");
        break;
    case HANDSHAKE_PENDING:
        if (storeReplyByte(byte))
            handshakeReply();
        break;
    case HANDSHAKE_COMPLETE:
        if (storeReplyByte(byte))
            commandReply();
        break;
    default:
        debugLog("ATCOMMAND: Unknown state %d", static_cast<int>(handshakeState));
        break;
    }
}

} // namespace

int sendRemoteData(const uint8_t* data, int32_t count)
{
    int result = sendOrRefuse(data, count);
    return result == NOTHING_SENT ? 1 : result;
}

void startHandshake()
{
    static const uint8_t pattern[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    int32_t stateBefore;
    uint8_t commandBefore;
    {
        // Set before the bytes go out: the reply may come at once.
        EngineLock lock;
        stateBefore = handshakeState;
        commandBefore = handshakeCommand;
        device.isHandshakeActive = 1;
        handshakeState = HANDSHAKE_PENDING;
        memset(handshakeResp, 0, sizeof handshakeResp);
        handshakeRespLen = 0;
    }
    if (sendOrRefuse(pattern, sizeof pattern) == NOTHING_SENT)
        undoRequest(stateBefore, commandBefore);
}

void sendRemoteCommand(uint8_t command, uint8_t argument)
{
    const uint8_t request[2] = {command, argument};
    int32_t stateBefore;
    uint8_t commandBefore;
    {
        EngineLock lock;
        stateBefore = handshakeState;
        commandBefore = handshakeCommand;
        handshakeCommand = command;
        device.isHandshakeActive = 1;
        // A reply starts afresh: a stray byte left from before must not
        // become the first byte of this one.
        handshakeRespLen = 0;
    }
    if (sendOrRefuse(request, sizeof request) == NOTHING_SENT)
        undoRequest(stateBefore, commandBefore);
}

void processHandshakeData(int32_t count)
{
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    if (blockHoldsReport(count)) {
        // The adapter's own report, not the remote's reply: it ends the
        // request as a disconnection does and is handled as outside one.
        handshakeState = HANDSHAKE_IDLE;
        replyHandled("ATCOMMAND: Connection report while a handshake reply was awaited. Killing Handshake timer");
        dispatchRest(0, count);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        handshakeByte(rxBuffer[i]);
        if (device.isHandshakeActive == 0) {
            // The reply is handled and no request is pending: what follows
            // in the block is no reply.
            dispatchRest(i + 1, count);
            return;
        }
    }
}

const char* handshakeTimerStep()
{
    EngineLock lock;
    if (timerLive == 0) {
        debugLog("ATCOMMAND: Handshake reply already handled. Expiry ignored");
        return nullptr;
    }
    timerLive = 0;
    const char* text = handshakeState == HANDSHAKE_PENDING ? "Handshake failed." : "Handshake command failed.";
    handshakeState = HANDSHAKE_IDLE;
    device.isHandshakeActive = 0;
    // The Remote Device panel offers the handshake again, not the commands.
    postNotify(ID_NOTIFY_REMOTE_DEVICE);
    return text;
}

bool handshakeTimerSpent(LPARAM arming)
{
    EngineLock lock;
    return timerLive == 0 && static_cast<uint32_t>(arming) == timerArming;
}
