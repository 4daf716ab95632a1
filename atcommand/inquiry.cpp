// Inquiry results: while an inquiry runs and no command is pending, the
// adapter's lines are devices found, the end of the inquiry, or connection
// reports that arrive meanwhile.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/notify.h"
#include "serial/uart.h"
#include <cstring>

namespace {

enum InquiryLine { INQUIRY_LINE_END, INQUIRY_LINE_DISCONNECT, INQUIRY_LINE_CONNECT, INQUIRY_LINE_RESULT };

// What a complete line is. The end line wins; a report is one only in a
// report's form, so a device named "CONNECTOR" is a device found.
InquiryLine classifyLine(const char* line)
{
    if (strstr(line, "Inquiry End"))
        return INQUIRY_LINE_END;
    switch (reportKind(line)) {
    case REPORT_DISCONNECT:
        return INQUIRY_LINE_DISCONNECT;
    case REPORT_CONNECT:
        return INQUIRY_LINE_CONNECT;
    default:
        return INQUIRY_LINE_RESULT;
    }
}

// Set once the eleventh result of an inquiry has been dropped, so that the
// trace says so once; a cleared record starts a new inquiry.
bool resultsFullTraced = false;

// A connection report: the keyword's `commandLength` characters become the
// command, the rest of the line from `paramStart` the parameter, and it is
// handled as outside an inquiry.
void handleInquiryReport(const char* line, size_t commandLength, size_t paramStart)
{
    uint32_t generation = commandGeneration;
    memset(&atCommand, 0, sizeof atCommand);
    copyText(atCommand.command, COMMAND_SIZE, line, commandLength);
    if (strlen(line) > paramStart)
        copyText(atCommand.param, RESPONSE_SIZE, line + paramStart);
    copyText(atCommand.response, RESPONSE_SIZE, "\r\nOK\r\n");
    atCommand.respComplete = 1;
    if (handleCommandResponse() == 0)
        debugLog("ATCOMMAND: Failed to parse AT Response. command %s, response %s param %s", atCommand.command,
                 atCommand.response, atCommand.param);
    // The handling's message box lets the user-interface thread run: a
    // command it recorded meanwhile is not ours to clear.
    if (generation == commandGeneration)
        clearAtCommand();
}

// A device found (or the end line): the line without its leading CR LF.
void storeResult(const char* line)
{
    if (line[0] == '\r')
        ++line;
    if (line[0] == '\n')
        ++line;
    // The CR LF that closes a report or the end line makes an empty line:
    // no device.
    if (line[0] == '\0')
        return;
    if (inquiry.resultCount < 0 || inquiry.resultCount >= INQUIRY_RESULTS) {
        if (!resultsFullTraced)
            debugLog("ATCOMMAND: Inquiry results full (%d). Dropped %s", INQUIRY_RESULTS, line);
        resultsFullTraced = true;
        return;
    }
    copyText(inquiry.results[inquiry.resultCount], RESPONSE_SIZE, line);
    ++inquiry.resultCount;
    postNotify(ID_NOTIFY_INQUIRY_RESULT);
}

void judgeInquiryLine()
{
    const char* line = inquiry.line;
    switch (classifyLine(line)) {
    case INQUIRY_LINE_END:
        debugLog("ATCOMMAND: Inquiry Ended. Received %s", line);
        device.isInquiryActive = 0;
        postLogText("Inquiry Complete.");
        postNotify(ID_NOTIFY_INQUIRY_END);
        storeResult(line);
        break;
    case INQUIRY_LINE_DISCONNECT:
        debugLog("ATCOMMAND: Got a disconnect request while inquiry is Active. Received %s", line);
        handleInquiryReport(line, 12, 12);
        break;
    case INQUIRY_LINE_CONNECT:
        debugLog("ATCOMMAND: Got a connect request while inquiry is Active. Received %s", line);
        // The blank between the keyword and the address is skipped.
        handleInquiryReport(line, 9, 10);
        break;
    case INQUIRY_LINE_RESULT:
        storeResult(line);
        break;
    }
}

// An over-long line keeps its start; the rest up to its CR is dropped.
void storeByte(char byte)
{
    if (inquiry.lineLength < 0)
        inquiry.lineLength = 0;
    if (inquiry.lineLength < RESPONSE_SIZE - 1)
        inquiry.line[inquiry.lineLength++] = byte;
}

} // namespace

void processInquiryData(int32_t count)
{
    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    EngineLock lock;
    for (int32_t i = 0; i < count; ++i) {
        char byte = static_cast<char>(rxBuffer[i]);
        if (inquiry.keepNextByte == 1) {
            // The first byte of an inquiry: its CR opens the first line.
            inquiry.keepNextByte = 0;
            resultsFullTraced = false;
            storeByte(byte);
            continue;
        }
        if (byte != '\r') {
            storeByte(byte);
            continue;
        }
        int32_t end = inquiry.lineLength;
        inquiry.line[end < 0 ? 0 : (end < RESPONSE_SIZE ? end : RESPONSE_SIZE - 1)] = '\0';
        judgeInquiryLine();
        inquiry.lineLength = 0;
        if (device.isInquiryActive != 1 || atCommand.command[0] != '\0') {
            // The inquiry ended, or the window recorded a command while a
            // report's box was up: the rest of the block, from this CR, no
            // longer belongs to the inquiry.
            dispatchRest(i, count);
            return;
        }
        storeByte(byte);
    }
}
