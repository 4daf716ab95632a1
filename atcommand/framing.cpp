// Receive dispatch and the framing of answers into a status line and a
// reply line.
#include "atcommand/internal.h"
#include "app/debuglog.h"
#include "serial/uart.h"
#include <cstring>

namespace {

const char CONNECT_KEYWORD[] = "\r\nCONNECT";
const char DISCONNECT_KEYWORD[] = "\r\nDISCONNECT";

bool commandIs(const char* text)
{
    return strcmp(atCommand.command, text) == 0;
}

// Runs the per-command handling on a complete answer; a rejected answer is
// traced with what was framed.
int32_t handleAndTrace()
{
    int32_t accepted = handleCommandResponse();
    if (accepted == 0)
        debugLog("ATCOMMAND: Failed to parse AT Response. command %s, response %s param %s", atCommand.command,
                 atCommand.response, atCommand.param);
    return accepted;
}

// Handles a complete answer, then ends the command and releases the sender.
void finishAnswer()
{
    uint32_t generation = commandGeneration;
    handleAndTrace();
    // A box of the handling lets the sender run: if it gave up or sent
    // another command meanwhile, the record and the event are no longer ours.
    if (generation != commandGeneration)
        return;
    clearAtCommand();
    debugLog("ATCOMMAND: Setting atCommandEvent");
    if (atCommandEvent)
        SetEvent(atCommandEvent);
}

// A connection or disconnection report, at `keyword` inside the line just
// completed. It is handled at once in place of the pending command, whose
// sender is not released (it times out and sends again); the command's
// record is put back afterwards so that its answer is still recognised.
void handleReport(const char* keyword, bool disconnect)
{
    char line[RESPONSE_SIZE];
    size_t start = static_cast<size_t>(keyword - atCommand.response);
    copyText(line, sizeof line, keyword);

    // The pending command's answer ended earlier in this block: it comes first.
    if (atCommand.respComplete == 1 && atCommand.command[0] != '\0') {
        atCommand.response[start > 2 ? start : 2] = '\0';
        finishAnswer();
    }

    char displaced[COMMAND_SIZE];
    copyText(displaced, sizeof displaced, atCommand.command);
    uint32_t showInLog = atCommand.showInLog;
    uint32_t expectsReplyLine = atCommand.expectsReplyLine;
    uint32_t generation = commandGeneration;

    size_t keywordLength = disconnect ? sizeof DISCONNECT_KEYWORD - 1 : sizeof CONNECT_KEYWORD - 1;
    // The blank between CONNECT and the address is skipped.
    size_t paramStart = disconnect ? keywordLength : keywordLength + 1;
    size_t length = strlen(line);
    size_t paramEnd = (length >= 2 && line[length - 2] == '\r') ? length - 2 : length - 1;

    memset(atCommand.command, 0, sizeof atCommand.command);
    copyText(atCommand.command, COMMAND_SIZE, line, keywordLength);
    memset(atCommand.param, 0, sizeof atCommand.param);
    if (paramStart < paramEnd)
        copyText(atCommand.param, RESPONSE_SIZE, line + paramStart, paramEnd - paramStart);
    memset(atCommand.response, 0, sizeof atCommand.response);
    copyText(atCommand.response, RESPONSE_SIZE, "\r\nOK\r\n");
    atCommand.respComplete = 1;

    handleAndTrace();
    if (generation != commandGeneration)
        return;
    clearAtCommand();
    if (displaced[0] != '\0') {
        copyText(atCommand.command, COMMAND_SIZE, displaced);
        atCommand.showInLog = showInLog;
        atCommand.expectsReplyLine = expectsReplyLine;
    }
}

// A line ended with LF: judge the whole of what has been collected.
void judgeLine()
{
    if (strcmp(atCommand.response, "\r\nERROR\r\n") == 0 || strcmp(atCommand.response, "\r\nOK\r\n") == 0) {
        atCommand.respComplete = 1;
        return;
    }
    if (const char* keyword = strstr(atCommand.response, DISCONNECT_KEYWORD)) {
        handleReport(keyword, true);
        return;
    }
    if (const char* keyword = strstr(atCommand.response, CONNECT_KEYWORD)) {
        handleReport(keyword, false);
        return;
    }
    // A reply line; its closing CR LF opens the status line that follows.
    copyText(atCommand.param, RESPONSE_SIZE, atCommand.response);
    memset(atCommand.response, 0, sizeof atCommand.response);
    atCommand.response[0] = '\r';
    atCommand.response[1] = '\n';
    atCommand.respLength = 2;
    // Without response mode no OK follows, except after the adapter said
    // that response mode is on.
    if (device.responseOn == 0 && strcmp(atCommand.param, "\r\nRESP+\r\n") != 0)
        atCommand.respComplete = 1;
}

void collectByte(char byte)
{
    if (atCommand.respLength >= RESPONSE_SIZE - 1) {
        // An overlong line: the excess is dropped, its end is kept.
        if (byte != '\n')
            return;
        atCommand.respLength = RESPONSE_SIZE - 2;
        atCommand.response[atCommand.respLength - 1] = '\r';
    }
    atCommand.response[atCommand.respLength++] = byte;

    if (atCommand.respLength > 2 && byte == '\n') {
        atCommand.response[atCommand.respLength] = '\0';
        judgeLine();
        return;
    }
    if (device.responseOn == 0) {
        if (commandIs("AT+RESP+\r")) {
            debugLog("ATCOMMAND: Going from RESP- to RESP+ . Will get a response here");
            return;
        }
        if (commandIs("+++") || commandIs("AT+AUTO\r")) {
            debugLog("ATCOMMAND: %s received while response is disabled. Will get a response here",
                     atCommand.command);
            return;
        }
    }
    // A bare CR LF answers a command that has no reply line and no OK. Only
    // for a pending command: with none, a report must still be read whole.
    if (atCommand.respLength == 2 && atCommand.command[0] != '\0' &&
        (commandIs("AT+RESP-\r") || (device.responseOn == 0 && atCommand.expectsReplyLine == 0))) {
        atCommand.respComplete = 1;
        atCommand.response[2] = '\0';
        atCommand.respLength = 3;
    }
}

void frameByte(char byte)
{
    switch (atCommand.respState) {
    case RESP_WAIT_START:
        if (atCommand.startSeen == 0) {
            atCommand.startSeen = 1;
            if (byte == '\r') {
                // No echo: the answer starts with this CR.
                atCommand.respState = RESP_COLLECT;
                collectByte(byte);
            }
        } else if (byte == '\r') {
            // End of the echo.
            atCommand.respState = RESP_COLLECT;
            atCommand.respComplete = 0;
            atCommand.respLength = 0;
        }
        break;
    case RESP_COLLECT:
        collectByte(byte);
        break;
    default:
        debugLog("ATCOMMAND: %s, unknown state %d", "processCmdResponse", static_cast<int>(atCommand.respState));
        break;
    }
}

} // namespace

void dispatchUartData(int32_t count)
{
    if (count <= 0)
        return;
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    if (atCommand.timerMode == 1) {
        // Stored until the timer expires; what does not fit is dropped.
        uint32_t room = atCommand.respLength < RESPONSE_SIZE - 1 ? RESPONSE_SIZE - 1 - atCommand.respLength : 0;
        uint32_t n = static_cast<uint32_t>(count) < room ? static_cast<uint32_t>(count) : room;
        memcpy(atCommand.response + atCommand.respLength, rxBuffer, n);
        atCommand.respLength += n;
        return;
    }
    if (atCommand.command[0] == '\0' && device.isInquiryActive == 1) {
        processInquiryData(count);
        return;
    }
    if (atCommand.command[0] == '\0' && device.isHandshakeActive == 1) {
        processHandshakeData(count);
        return;
    }
    processCmdResponse(count);
}

void processCmdResponse(int32_t count)
{
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    for (int32_t i = 0; i < count; ++i)
        frameByte(static_cast<char>(rxBuffer[i]));
    // The rest of a block after a complete answer is judged too, so the
    // answer is handled only now.
    if (atCommand.respComplete == 1)
        finishAnswer();
}

void processTimedResponse()
{
    EngineLock lock;
    if (atCommand.respLength == 0) {
        debugLog("No Response Received for AT. Device initalisation failed");
        clearAtCommand();
        return;
    }
    uint32_t length = atCommand.respLength < RESPONSE_SIZE - 1 ? atCommand.respLength : RESPONSE_SIZE - 1;
    uint32_t pos = 0;
    if (atCommand.response[0] != '\r') {
        // Skip the echo, up to and including its CR.
        const void* cr = memchr(atCommand.response, '\r', length);
        pos = cr ? static_cast<uint32_t>(static_cast<const char*>(cr) - atCommand.response) + 1 : length;
    }
    char line[RESPONSE_SIZE];
    uint32_t n = 0;
    while (pos < length) {
        char c = atCommand.response[pos++];
        line[n++] = c;
        if (c == '\n' && n >= 3)
            break;
    }
    line[n] = '\0';
    memset(atCommand.param, 0, sizeof atCommand.param);
    for (uint32_t m = 0; pos < length; ++pos) {
        if (atCommand.response[pos] != '\0' && m < RESPONSE_SIZE - 1)
            atCommand.param[m++] = atCommand.response[pos];
    }
    memset(atCommand.response, 0, sizeof atCommand.response);
    copyText(atCommand.response, RESPONSE_SIZE, line, n);

    if (handleAndTrace() != 0 && device.isDeviceInitialised == 0 && commandIs("AT\r")) {
        // "AT\r" was answered but not with OK: try once more at these settings.
        debugLog("ATCOMMAND: Setting retry to TRUE");
        device.initRetry = 1;
    }
    clearAtCommand();
}
