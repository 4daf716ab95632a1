// The command catalogue, the engine's records and the text helpers that the
// rest of the tool shares.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "common/text.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

// Table order matters: the first row found inside a text wins.
// clang-format off
constexpr CommandEntry commandTable[COMMAND_TABLE_ROWS + 1] = {
    {Family::Attention, "AT\r"},
    {Family::Version, "AT+VER\r"},
    {Family::Enquire, "AT+ENQ\r"},
    {Family::Reset, "AT+RESET\r"},
    {Family::Baud, "AT+BAUD10\r"}, {Family::Baud, "AT+BAUD11\r"},
    {Family::Baud, "AT+BAUD12\r"}, {Family::Baud, "AT+BAUD13\r"},
    {Family::Baud, "AT+BAUD14\r"}, {Family::Baud, "AT+BAUD15\r"},
    {Family::Baud, "AT+BAUD16\r"}, {Family::Baud, "AT+BAUD17\r"},
    {Family::Baud, "AT+BAUD18\r"}, {Family::Baud, "AT+BAUD19\r"}, {Family::Baud, "AT+BAUD?\r"},
    {Family::StopBits, "AT+STOP1\r"}, {Family::StopBits, "AT+STOP2\r"}, {Family::StopBits, "AT+STOP?\r"},
    {Family::Parity, "AT+PAR0\r"}, {Family::Parity, "AT+PAR1\r"},
    {Family::Parity, "AT+PAR2\r"}, {Family::Parity, "AT+PAR?\r"},
    {Family::Flow, "AT+FLOW+\r"}, {Family::Flow, "AT+FLOW-\r"}, {Family::Flow, "AT+FLOW?\r"},
    {Family::Echo, "AT+ECHO+\r"}, {Family::Echo, "AT+ECHO-\r"}, {Family::Echo, "AT+ECHO?\r"},
    {Family::Response, "AT+RESP+\r"}, {Family::Response, "AT+RESP-\r"}, {Family::Response, "AT+RESP?\r"},
    {Family::Role, "AT+ROLEM\r"}, {Family::Role, "AT+ROLES\r"}, {Family::Role, "AT+ROLE?\r"},
    {Family::Address, "AT+ADDR\r"}, {Family::Address, "AT+ADDR?\r"},
    {Family::Find, "AT+FIND?\r"}, {Family::Find, "AT+FIND-\r"},
    {Family::SignalStrength, "AT+RSSI\r"},
    {Family::Name, "AT+NAME\r"}, {Family::Name, "AT+NAME?\r"},
    {Family::Pin, "AT+PIN\r"}, {Family::Pin, "AT+PIN-\r"}, {Family::Pin, "AT+PIN?\r"},
    {Family::Discoverable, "AT+DCOV+\r"}, {Family::Discoverable, "AT+DCOV-\r"}, {Family::Discoverable, "AT+DCOV?\r"},
    {Family::Connect, "AT+CONN1\r"}, {Family::Connect, "AT+CONN2\r"},
    {Family::Connect, "AT+CONN3\r"}, {Family::Connect, "AT+CONN4\r"},
    {Family::Connect, "AT+CONN5\r"}, {Family::Connect, "AT+CONN6\r"},
    {Family::Connect, "AT+CONN7\r"}, {Family::Connect, "AT+CONN8\r"},
    {Family::Connect, "AT+CONN\r"},
    {Family::Drop, "AT+DROP\r"},
    {Family::Bond, "AT+BOND\r"}, {Family::Bond, "AT+BOND-\r"}, {Family::Bond, "AT+BOND?\r"},
    {Family::AutoConnect, "AT+ACON+\r"}, {Family::AutoConnect, "AT+ACON-\r"}, {Family::AutoConnect, "AT+ACON?\r"},
    {Family::Escape, "AT+ESC+\r"}, {Family::Escape, "AT+ESC-\r"}, {Family::Escape, "AT+ESC?\r"},
    {Family::DataMode, "AT+AUTO\r"},
    {Family::RemoteConfig, "AT+RCFG?\r"}, {Family::RemoteConfig, "AT+RCFG+\r"}, {Family::RemoteConfig, "AT+RCFG-\r"},
    {Family::Sleep, "AT+SLEEP+\r"}, {Family::Sleep, "AT+SLEEP-\r"}, {Family::Sleep, "AT+SLEEP?\r"},
    {Family::EscapeSequence, "+++"},
    {Family::ConnectReport, "\r\nCONNECT"},
    {Family::DisconnectReport, "\r\nDISCONNECT"},
    {Family::Upgrade, "AT+UPGRADE\r"},
    {Family::None, ""},
};
// clang-format on

// The baud rows are the line-settings list's codes and the code beyond it,
// in order, each "AT+BAUD<code>\r".
constexpr bool baudRowsFollowTheList()
{
    int first = 0;
    while (commandTable[first].id != Family::Baud)
        ++first;
    for (int32_t code = BAUD_CODE_FIRST; code <= BAUD_CODE_LAST; ++code) {
        const int row = code - BAUD_CODE_FIRST;
        if (row < BAUD_SETTINGS && kBaudSettings[row].code != code)
            return false;
        const char* text = commandTable[first + row].text;
        if (commandTable[first + row].id != Family::Baud || text[7] != '0' + code / 10 || text[8] != '0' + code % 10 ||
            text[9] != '\r' || text[10] != '\0')
            return false;
    }
    return true;
}
static_assert(baudRowsFollowTheList(), "the catalogue's baud rows follow the line-settings list");

// The response mode comes first: the framing needs it for every later answer.
// clang-format off
const CommandEntry DeviceInfoQuery[DEVICE_INFO_QUERIES + 1] = {
    {1, "AT+RESP?\r"},  {2, "AT+ECHO?\r"},   {3, "AT+ROLE?\r"},  {4, "AT+ADDR?\r"},
    {5, "AT+NAME?\r"},  {6, "AT+PIN?\r"},    {7, "AT+DCOV?\r"},  {8, "AT+ESC?\r"},
    {9, "AT+SLEEP?\r"}, {10, "AT+ACON?\r"},  {11, "AT+RCFG?\r"}, {12, "AT+VER\r"},
    {13, "AT+BAUD?\r"}, {14, "AT+STOP?\r"},  {15, "AT+PAR?\r"},  {16, "AT+FLOW?\r"},
    {0, ""},
};
// clang-format on

AtCommand atCommand;
Device device;
Pairing pairing;
char remoteAddress[16];
int32_t linkMayRemain = 0;
Inquiry inquiry;
int32_t handshakeState = HANDSHAKE_IDLE;
uint8_t handshakeResp[3];
int32_t handshakeRespLen = 0;
uint8_t handshakeCommand = REMOTE_CMD_EXIT;

char logText[TEXT_SIZE];
char responseLogText[TEXT_SIZE];
char errorText[TEXT_SIZE];
wchar_t wideText[512];

volatile uint32_t commandGeneration = 0;

namespace {

struct EngineSection {
    CRITICAL_SECTION section;
    EngineSection() { InitializeCriticalSection(&section); }
};

// Function-local so that it exists before any caller, whatever the order of
// static initialisation.
CRITICAL_SECTION& engineSection()
{
    static EngineSection instance;
    return instance.section;
}

// How deep this thread holds the engine lock, so that a box can leave it
// entirely and take it back to the same depth.
thread_local int lockDepth = 0;

// Log texts wait in a queue until the main window's thread is free again: a
// blocking sequence, or a flood of stray lines during one, may queue
// thousands meanwhile. A queued text is never overwritten; texts that find
// the queue full are counted, and the count is shown after the queued ones.
// One wake-up at a time is posted, so the window's message queue stays short.
constexpr size_t LOG_QUEUE_LINES = 10000;
SRWLOCK logQueueLock = SRWLOCK_INIT;
std::deque<std::string> logQueue;
unsigned long droppedLogLines = 0;
bool logWakePosted = false;
HWND logQueueWindow = nullptr; // the window the queued texts are for

// Caller holds logQueueLock.
void postLogWake() { logWakePosted = PostMessageW(logQueueWindow, WM_COMMAND, ID_NOTIFY_LOG_QUEUED, 0) != FALSE; }

} // namespace

void lockEngine()
{
    EnterCriticalSection(&engineSection());
    ++lockDepth;
}

void unlockEngine()
{
    --lockDepth;
    LeaveCriticalSection(&engineSection());
}

int engineMessageBox(const wchar_t* text, UINT type)
{
    wchar_t copy[512];
    size_t n = 0;
    for (; text[n] != L'\0' && n < 511; ++n)
        copy[n] = text[n];
    copy[n] = L'\0';
    int depth = lockDepth;
    for (int i = 0; i < depth; ++i)
        unlockEngine();
    int answer = showMessageBox(copy, type);
    for (int i = 0; i < depth; ++i)
        lockEngine();
    return answer;
}

int engineMessageBoxA(const char* text, UINT type)
{
    wchar_t copy[512];
    {
        EngineLock lock;
        toWideText(text, wideText, 512);
        memcpy(copy, wideText, sizeof copy);
    }
    return engineMessageBox(copy, type);
}

void clearAtCommand()
{
    EngineLock lock;
    memset(&atCommand, 0, sizeof atCommand);
    ++commandGeneration;
}

void resetFraming()
{
    EngineLock lock;
    memset(atCommand.response, 0, sizeof atCommand.response);
    memset(atCommand.param, 0, sizeof atCommand.param);
    atCommand.respState = RESP_WAIT_START;
    atCommand.respComplete = 0;
    atCommand.startSeen = 0;
    atCommand.respLength = 0;
}

void copyText(char* field, size_t size, const char* text, size_t length)
{
    if (size == 0)
        return;
    size_t n = 0;
    while (n < length && n + 1 < size && text[n] != '\0') {
        field[n] = text[n];
        ++n;
    }
    field[n] = '\0';
}

void postLogText(const char* text)
{
    HWND window = mainHwnd;
    AcquireSRWLockExclusive(&logQueueLock);
    // Texts queued for a window that is gone are nobody's.
    if (window != logQueueWindow) {
        logQueue.clear();
        droppedLogLines = 0;
        logWakePosted = false;
        logQueueWindow = window;
    }
    if (window != nullptr) {
        try {
            if (logQueue.size() < LOG_QUEUE_LINES)
                logQueue.emplace_back(text, strnlen(text, TEXT_SIZE - 1));
            else
                ++droppedLogLines;
        } catch (...) {
            ++droppedLogLines;
        }
        if (!logWakePosted)
            postLogWake();
    }
    ReleaseSRWLockExclusive(&logQueueLock);
}

void takeLogTexts(std::vector<std::string>& texts, size_t most)
{
    AcquireSRWLockExclusive(&logQueueLock);
    try {
        for (; most > 0 && !logQueue.empty(); --most) {
            texts.push_back(std::move(logQueue.front()));
            logQueue.pop_front();
        }
        if (logQueue.empty() && droppedLogLines > 0) {
            char note[64];
            snprintf(note, sizeof note, "Log lines dropped: %lu. The log window could not keep up.", droppedLogLines);
            texts.emplace_back(note);
            droppedLogLines = 0;
        }
    } catch (...) {
        // Out of memory: what is still queued comes with the next wake-up.
    }
    // What is left comes with a wake-up of its own, after the window's other work.
    if (logQueue.empty())
        logWakePosted = false;
    else
        postLogWake();
    ReleaseSRWLockExclusive(&logQueueLock);
}

void logFormatted(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, TEXT_SIZE, format, args);
    va_end(args);
    postLogText(buffer);
}

AtCommandId findCommand(const char* text)
{
    char copy[COMMAND_SIZE];
    copyText(copy, sizeof copy, text);
    // A command with a value is found by its family text: "AT+NAME=x\r" is "AT+NAME\r".
    if (char* equals = strchr(copy, '=')) {
        equals[0] = '\r';
        equals[1] = '\0';
    }
    for (const CommandEntry* row = commandTable; row->id != 0; ++row) {
        if (strstr(copy, row->text)) {
            debugLog("ATCOMMAND: Found command %d %s", static_cast<int>(row->id), row->text);
            return row->id;
        }
    }
    return 0;
}

int formatText(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, TEXT_SIZE, format, args);
    va_end(args);
    return n;
}

int formatCommand(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, COMMAND_SIZE, format, args);
    va_end(args);
    // A cut command would be a different command: leave nothing to send.
    if (n < 0 || n >= COMMAND_SIZE)
        buffer[0] = '\0';
    return n;
}

void toWideText(const char* text, wchar_t* wide, int wideSize) { ansiToWide(text, WHOLE_TEXT, wide, wideSize); }

void forgetAdapterLiveState()
{
    EngineLock lock;
    device.isDeviceInitialised = 0;
    device.initRetry = 0;
    device.isConnected = 0;
    device.isDataMode = 0;
    device.isInquiryActive = 0;
    device.isHandshakeActive = 0;
    handshakeState = HANDSHAKE_IDLE;
}

void resetEngineState()
{
    EngineLock lock;
    memset(&device, 0, sizeof device);
    memset(&pairing, 0, sizeof pairing);
    memset(&inquiry, 0, sizeof inquiry);
    memset(remoteAddress, 0, sizeof remoteAddress);
    linkMayRemain = 0;
    handshakeState = HANDSHAKE_IDLE;
    memset(handshakeResp, 0, sizeof handshakeResp);
    handshakeRespLen = 0;
    handshakeCommand = REMOTE_CMD_EXIT;
}
