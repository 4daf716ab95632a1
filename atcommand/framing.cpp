// Receive dispatch and the framing of answers into a status line and a
// reply line.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "serial/uart.h"
#include <cstring>
#include <initializer_list>

namespace {

const char CONNECT_KEYWORD[] = "\r\nCONNECT";
const char DISCONNECT_KEYWORD[] = "\r\nDISCONNECT";

bool commandIs(const char* text) { return strcmp(atCommand.command, text) == 0; }

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

// Handles a complete answer, then ends the command and releases the sender
// with the outcome: an ERROR or a rejected answer is no success.
void finishAnswer()
{
    uint32_t generation = commandGeneration;
    bool failed = strcmp(atCommand.response, "\r\nERROR\r\n") == 0;
    failed = handleAndTrace() == 0 || failed;
    // A box of the handling lets the sender run: if it gave up or sent
    // another command meanwhile, the record and the event are no longer ours.
    if (generation != commandGeneration)
        return;
    clearAtCommand();
    answerFailed = failed ? 1 : 0;
    debugLog("ATCOMMAND: Setting atCommandEvent");
    if (atCommandEvent)
        SetEvent(atCommandEvent);
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// A Bluetooth address as the adapter reports it: "0012-6F-654321" or
// "00126F654321", possibly in double quotes.
bool isAddress(const char* text, size_t length)
{
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
        ++text;
        length -= 2;
    }
    if (length != 12 && length != 14)
        return false;
    for (size_t i = 0; i < length; ++i) {
        bool dash = length == 14 && (i == 4 || i == 7);
        if (dash ? text[i] != '-' : !isHexDigit(text[i]))
            return false;
    }
    return true;
}

// The keyword (with its CR LF) when the line just completed is a connection
// or disconnection report: the keyword as a whole word at the start of the
// line, then nothing, " Attempt Fail!!" or a blank and an address. A name
// or an inquiry result that merely contains the word is no report.
const char* reportKeyword(const char* line)
{
    size_t length = strlen(line);
    if (length < 2 || line[0] != '\r' || line[1] != '\n')
        return nullptr;
    if (length >= 4 && line[length - 2] == '\r' && line[length - 1] == '\n')
        length -= 2;
    else if (line[length - 1] == '\n')
        length -= 1;
    for (const char* keyword : {DISCONNECT_KEYWORD, CONNECT_KEYWORD}) {
        size_t k = strlen(keyword);
        if (length < k || strncmp(line, keyword, k) != 0)
            continue;
        const char* rest = line + k;
        size_t restLength = length - k;
        static const char attemptFail[] = " Attempt Fail!!";
        if (restLength == 0 || (restLength == sizeof attemptFail - 1 && strncmp(rest, attemptFail, restLength) == 0) ||
            (rest[0] == ' ' && isAddress(rest + 1, restLength - 1)))
            return keyword;
    }
    return nullptr;
}

// A connection or disconnection report, the whole line just completed. It
// is handled at once in place of the pending command, whose sender is not
// released (it times out and sends again); the command's record is put back
// afterwards so that its answer is still recognised.
void handleReport(const char* keyword)
{
    bool disconnect = keyword == DISCONNECT_KEYWORD;
    char line[RESPONSE_SIZE];
    copyText(line, sizeof line, atCommand.response);

    char displaced[COMMAND_SIZE];
    copyText(displaced, sizeof displaced, atCommand.command);
    uint32_t showInLog = atCommand.showInLog;
    uint32_t expectsReplyLine = atCommand.expectsReplyLine;
    uint32_t generation = commandGeneration;

    size_t keywordLength = strlen(keyword);
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

// The CR LF that ended a line opens the next one.
void openNextLine()
{
    memset(atCommand.response, 0, sizeof atCommand.response);
    atCommand.response[0] = '\r';
    atCommand.response[1] = '\n';
    atCommand.respLength = 2;
}

// A line ended with LF: judge the whole of what has been collected.
void judgeLine()
{
    if (const char* keyword = reportKeyword(atCommand.response)) {
        handleReport(keyword);
        return;
    }
    if (atCommand.command[0] == '\0') {
        // Nothing is pending: a late or stray answer is no one's, and must
        // not release a sender that has not yet sent.
        debugLog("ATCOMMAND: No command pending. Dropped %s", atCommand.response);
        openNextLine();
        return;
    }
    if (strcmp(atCommand.response, "\r\nERROR\r\n") == 0 || strcmp(atCommand.response, "\r\nOK\r\n") == 0) {
        atCommand.respComplete = 1;
        return;
    }
    // A reply line; its closing CR LF opens the status line that follows.
    copyText(atCommand.param, RESPONSE_SIZE, atCommand.response);
    openNextLine();
    // Without response mode no OK follows, except after the adapter said
    // that response mode is on.
    if (device.responseOn == 0 && strcmp(atCommand.param, "\r\nRESP+\r\n") != 0)
        atCommand.respComplete = 1;
}

// True when the bytes that follow in the block begin a report's keyword.
bool reportFollows(const uint8_t* next, int32_t left)
{
    for (const char* keyword : {CONNECT_KEYWORD + 2, DISCONNECT_KEYWORD + 2}) {
        size_t k = strlen(keyword);
        if (left >= static_cast<int32_t>(k) && memcmp(next, keyword, k) == 0)
            return true;
    }
    return false;
}

// `next` and `left`: the bytes that follow in the block.
void collectByte(char byte, const uint8_t* next, int32_t left)
{
    // A line starts with CR LF: bytes before it are stray, and of several
    // CRs only the last opens the line.
    if (atCommand.respLength == 0 && byte != '\r')
        return;
    if (atCommand.respLength == 1 && byte != '\n') {
        if (byte != '\r')
            atCommand.respLength = 0;
        return;
    }
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
            debugLog("ATCOMMAND: %s received while response is disabled. Will get a response here", atCommand.command);
            return;
        }
    }
    // A bare CR LF answers a command that has no reply line and no OK. Only
    // for a pending command: with none, a report must still be read whole.
    if (atCommand.respLength == 2 && atCommand.command[0] != '\0' &&
        (commandIs("AT+RESP-\r") || (device.responseOn == 0 && atCommand.expectsReplyLine == 0))) {
        // Unless it opens a report that follows in the block: the report is
        // handled first and the command stays pending.
        if (reportFollows(next, left))
            return;
        atCommand.respComplete = 1;
        atCommand.response[2] = '\0';
        atCommand.respLength = 3;
    }
}

void frameByte(char byte, const uint8_t* next, int32_t left)
{
    switch (atCommand.respState) {
    case RESP_WAIT_START: {
        // Waiting for the answer to begin. Bytes before it are the echo only
        // when they are the pending command's whole text (startSeen of its
        // characters have come, in this block or earlier ones); any other
        // byte is stray and dropped, and a CR short of the whole echo is the
        // answer's own.
        const char* command = atCommand.command;
        uint32_t seen = atCommand.startSeen;
        if (seen < COMMAND_SIZE - 1 && command[seen] != '\0' && byte == command[seen]) {
            atCommand.startSeen = ++seen;
            if (seen < COMMAND_SIZE && command[seen] == '\0') {
                // The whole echo, its CR included.
                atCommand.respState = RESP_COLLECT;
                atCommand.respComplete = 0;
                atCommand.respLength = 0;
            }
        } else if (byte == '\r') {
            atCommand.respState = RESP_COLLECT;
            atCommand.respComplete = 0;
            atCommand.respLength = 0;
            collectByte(byte, next, left);
        } else {
            atCommand.startSeen = (command[0] != '\0' && byte == command[0]) ? 1 : 0;
        }
        break;
    }
    case RESP_COLLECT:
        collectByte(byte, next, left);
        break;
    default:
        debugLog("ATCOMMAND: %s, unknown state %d", "processCmdResponse", static_cast<int>(atCommand.respState));
        break;
    }
}

// Routes the first `count` bytes of rxBuffer by what is pending.
void routeBlock(int32_t count)
{
    if (atCommand.timerMode == SEND_TIMED) {
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

} // namespace

ReportKind reportKind(const char* line)
{
    const char* keyword = reportKeyword(line);
    if (keyword == nullptr)
        return REPORT_NONE;
    return keyword == DISCONNECT_KEYWORD ? REPORT_DISCONNECT : REPORT_CONNECT;
}

void dispatchUartData(int32_t count)
{
    if (count <= 0)
        return;
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    routeBlock(count);
}

void dispatchRest(int32_t from, int32_t count)
{
    int32_t rest = count - from;
    if (from < 0 || rest <= 0)
        return;
    memmove(rxBuffer, rxBuffer + from, static_cast<size_t>(rest));
    routeBlock(rest);
}

void processCmdResponse(int32_t count)
{
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    for (int32_t i = 0; i < count; ++i) {
        frameByte(static_cast<char>(rxBuffer[i]), rxBuffer + i + 1, count - i - 1);
        if (atCommand.respComplete != 1)
            continue;
        // The answer ends here and is handled as it stands. What follows in
        // the block is dispatched as if it had come on its own: a report, or
        // the first result of the inquiry this answer started.
        finishAnswer();
        int32_t rest = count - i - 1;
        if (rest > 0) {
            memmove(rxBuffer, rxBuffer + i + 1, static_cast<size_t>(rest));
            routeBlock(rest);
        }
        return;
    }
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
    // The answer starts at its CR LF: what comes before is the echo or stray
    // bytes, and neither may shift it.
    uint32_t pos = length;
    for (uint32_t i = 0; i + 1 < length; ++i)
        if (atCommand.response[i] == '\r' && atCommand.response[i + 1] == '\n') {
            pos = i;
            break;
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
