// Sending a command: timer-sent (answer evaluated when a main-window timer
// expires) or blocking (the read thread frames the answer and sets
// atCommandEvent).
#include "atcommand/internal.h"
#include "common/busywait.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "serial/uart.h"
#include <cstring>

HANDLE atCommandEvent = nullptr;
volatile LONG answerFailed = 0;

int portWrite(const uint8_t* buffer, uint32_t length)
{
    return seams.uartWrite ? seams.uartWrite(buffer, length) : UartWrite(buffer, length);
}

int portChangeSettings() { return seams.uartChangeSettings ? seams.uartChangeSettings() : UartChangeSettings(); }

namespace {

// Commands whose answer carries a line of its own besides the status.
bool expectsReply(const char* text)
{
    if (strchr(text, '?') && strcmp(text, "AT+FIND?\r") != 0)
        return true;
    return strcmp(text, "AT+VER\r") == 0 || strcmp(text, "+++") == 0 || strcmp(text, "AT+FIND-\r") == 0;
}

// Nothing is sent while the port is lost; the trace says why.
bool portLost(const char* text)
{
    int32_t port = UartLostPort();
    if (port != 0)
        debugLog("ATCOMMAND: COM%d is lost. Command %s not sent", port, text);
    return port != 0;
}

int writeCommand(const char* text, uint32_t length)
{
    return portWrite(reinterpret_cast<const uint8_t*>(text), length);
}

bool inDataMode()
{
    EngineLock lock;
    return device.isDataMode == 1;
}

// The escape sequence is sent as a pending command of its own, framed from
// scratch: bytes of an earlier answer must not be judged with its answer.
// False, and nothing recorded, when data mode has ended meanwhile.
bool recordEscape()
{
    EngineLock lock;
    if (device.isDataMode != 1)
        return false;
    // Reset before the command is pending, so that its answer, however
    // fast, is never erased.
    ResetEvent(atCommandEvent);
    answerFailed = 0;
    copyText(atCommand.command, COMMAND_SIZE, "+++");
    atCommand.timerMode = 0;
    resetFraming();
    ++commandGeneration;
    return true;
}

enum class Record { Done, DataMode, Lost };

// Records the command as pending unless the adapter is in data mode: judged
// under the same hold of the lock, so that a connection report cannot come
// between the judgement and the record.
Record recordCommand(const char* text, int32_t showInLog, int32_t timerMode)
{
    EngineLock lock;
    if (device.isDataMode == 1)
        return Record::DataMode;
    if (timerMode != SEND_TIMED) {
        // Reset before the command is pending, so that its answer,
        // however fast, is never erased.
        ResetEvent(atCommandEvent);
        answerFailed = 0;
    }
    copyText(atCommand.command, COMMAND_SIZE, text);
    atCommand.showInLog = static_cast<uint32_t>(showInLog);
    atCommand.timerMode = timerMode == SEND_TIMED ? SEND_TIMED : SEND_BLOCKING;
    atCommand.expectsReplyLine = expectsReply(text) ? 1 : 0;
    // A replaced timer-sent command or stray bytes may have left framing
    // state behind; this command's answer starts after its send.
    resetFraming();
    ++commandGeneration;
    // Lost since the first check: the release may have come before the
    // reset and would be missed.
    if (portLost(text)) {
        clearAtCommand();
        return Record::Lost;
    }
    if (showInLog == LOG_SHOWN)
        logFormatted(logText, "Sending command %s", atCommand.command);
    return Record::Done;
}

} // namespace

bool clearHandshakeActive()
{
    EngineLock lock;
    bool active = device.isHandshakeActive == 1;
    device.isHandshakeActive = 0;
    return active;
}

void forgetRemainingLink()
{
    EngineLock lock;
    linkMayRemain = 0;
}

namespace {

// What is checked before anything is recorded: SEND_OK when the text may be
// sent, with its length.
uint16_t checkSendable(const char* text, size_t& length)
{
    if (text == nullptr || text[0] == '\0') {
        debugLog("ATCOMMAND: trying to send a command %s with 0 length", text ? text : "");
        return SEND_FAILED;
    }
    if (portLost(text))
        return SEND_FAILED;
    {
        EngineLock lock;
        if (atCommand.timerMode == SEND_TIMED && strcmp(atCommand.command, "AT+ENQ\r") == 0) {
            debugLog("Command %s Processing in progress.Send command failed. Please resend again", atCommand.command);
            return SEND_BUSY;
        }
    }
    // The record holds 29 characters; a cut text would be another command.
    length = strnlen(text, COMMAND_SIZE + 1);
    if (length > COMMAND_SIZE - 1) {
        debugLog("ATCOMMAND: Command %.*s... longer than %d characters. Not sent", COMMAND_SIZE - 1, text,
                 COMMAND_SIZE - 1);
        return SEND_FAILED;
    }
    if (findCommand(text) == Family::None) {
        EngineLock lock;
        logFormatted(logText, "Sending Invalid command %s failed.", text);
        clearAtCommand();
        return SEND_FAILED;
    }
    return SEND_OK;
}

// Records the command as pending. In data mode the operator is asked for the
// escape sequence first; data mode may begin or end while the box is up, so
// it is judged again each time. False when nothing is to be sent.
bool recordAfterEscape(const char* text, int32_t showInLog, int32_t timerMode)
{
    Record record;
    while ((record = recordCommand(text, showInLog, timerMode)) == Record::DataMode) {
        int answer = showMessageBox(
            L"Local Device is in datamode. Do you want to Send Escape Sequence before sending the command",
            MB_OKCANCEL);
        // Declined: nothing was sent, which is no success.
        if (answer != IDOK)
            return false;
        if (!recordEscape())
            continue;
        sendBlockingCommand("+++", 3);
        if (inDataMode()) {
            showMessageBox(L"ESCAPE Sequence failed.");
            return false;
        }
    }
    return record != Record::Lost;
}

} // namespace

uint16_t sendAtCommand(const char* text, int32_t showInLog, int32_t timerMode)
{
    size_t length = 0;
    if (uint16_t refused = checkSendable(text, length); refused != SEND_OK)
        return refused;
    if (!recordAfterEscape(text, showInLog, timerMode))
        return SEND_FAILED;

    uint16_t result = timerMode == SEND_TIMED ? sendTimerCommand(text, static_cast<uint32_t>(length))
                                              : sendBlockingCommand(text, static_cast<uint32_t>(length));
    if (sendSucceeded(result))
        return result;
    debugLog("ATCOMMAND: Failed to send ATCommand %s", text);
    return SEND_FAILED;
}

uint16_t sendTimerCommand(const char* text, uint32_t length)
{
    {
        EngineLock lock;
        debugLog("ATCOMMAND: +sendTimerCommand buff %s len %d", atCommand.command, static_cast<int>(length));
    }
    int result = writeCommand(text, length);
    // Armed whatever the write gave: the expiry ends the command either way.
    UINT_PTR timer = DevInitTimer;
    UINT period = 1000;
    {
        EngineLock lock;
        if (device.isDeviceInitialised != 0) {
            int row = baudRowOfCode(device.baudCode);
            timer = ATCommandTimer;
            period = kBaudSettings[row >= 0 ? row : DEFAULT_BAUD_ROW].answerTimerMs;
        }
    }
    seams.setTimer(mainHwnd, timer, period, nullptr);
    return static_cast<uint16_t>(result);
}

namespace {

constexpr int NO_ANSWER = -1;
constexpr int LAST_TRY = -2;
constexpr int SEND_TRIES = 3;

// Waits for the pending blocking command's answer: 0 when it was accepted,
// 1 when it failed or the wait ended otherwise, NO_ANSWER on the time-out.
int waitForAnswer(const char* text)
{
    // Repaints meanwhile when a long procedure holds the user-interface thread.
    DWORD wait = waitRepainting(atCommandEvent, seams.atCommandWaitMs);
    if (wait == WAIT_OBJECT_0)
        return answerFailed ? 1 : 0;
    if (wait == WAIT_STOPPED) {
        // The operator stopped the procedure: no re-send, no box, and a
        // late answer is not taken for a pending command.
        debugLog("ATCOMMAND: Command %s abandoned: stopped by the operator", text);
        clearAtCommand();
        return 1;
    }
    if (wait != WAIT_TIMEOUT) {
        debugLog("ATCOMMAND: WaitForSingleObject(atCommandEvent,1000) returned error %d",
                 static_cast<int>(GetLastError()));
        // Abandoned: a late answer must not be taken for a pending command.
        clearAtCommand();
        return 1;
    }
    return NO_ANSWER;
}

// After a time-out: the answer's result when it was handled while we waited
// for the lock; otherwise the try is counted, and unless it was the last
// (LAST_TRY) the framing starts over for the re-send (NO_ANSWER).
int countTry(int& tries)
{
    EngineLock lock;
    if (WaitForSingleObject(atCommandEvent, 0) == WAIT_OBJECT_0)
        return answerFailed ? 1 : 0;
    ++tries;
    debugLog("ATCOMMAND: Response to command %s was not received. Retry count %d", atCommand.command, tries);
    if (tries == SEND_TRIES)
        return LAST_TRY;
    resetFraming();
    return NO_ANSWER;
}

// No answer after one send and two re-sends: the operator is told, unless
// the pairing procedure probes for a second adapter and expects silence or
// a lost port has been reported already.
uint16_t giveUpSend()
{
    wchar_t box[512];
    bool quiet;
    {
        EngineLock lock;
        quiet =
            pairing.pairState == PAIR_SEARCHING_DEVICE2 || pairing.pairState == UNPAIR_DEVICE2 || UartLostPort() != 0;
        if (!quiet) {
            formatText(errorText, "Failed to send command %s. Response not received correctly", atCommand.command);
            toWideText(errorText, wideText, 512);
            memcpy(box, wideText, sizeof box);
        }
        clearAtCommand();
    }
    if (!quiet)
        showMessageBox(box);
    return SEND_FAILED;
}

} // namespace

// The event was reset when the command was recorded.
uint16_t sendBlockingCommand(const char* text, uint32_t length)
{
    {
        EngineLock lock;
        debugLog("ATCOMMAND: +sendBlockingCommand buff %s len %d", atCommand.command, static_cast<int>(length));
    }
    // A failed first write shows up as a time-out.
    writeCommand(text, length);

    int tries = 0;
    for (;;) {
        int answer = waitForAnswer(text);
        if (answer == NO_ANSWER)
            answer = countTry(tries);
        if (answer == LAST_TRY)
            return giveUpSend();
        if (answer != NO_ANSWER)
            return static_cast<uint16_t>(answer);
        int result = writeCommand(text, length);
        if (!sendSucceeded(static_cast<uint16_t>(result))) {
            debugLog("ATCOMMAND: Failed to send ATCommand %s", text);
            clearAtCommand();
            return static_cast<uint16_t>(result);
        }
        {
            EngineLock lock;
            debugLog("ATCOMMAND: Retry command %s", atCommand.command);
        }
    }
}

void releaseBlockingSend()
{
    EngineLock lock;
    answerFailed = 1;
    // A pending timer-sent command ends too: its timer is killed.
    clearAtCommand();
    if (atCommandEvent)
        SetEvent(atCommandEvent);
}
