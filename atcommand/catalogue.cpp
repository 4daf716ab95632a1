// The command catalogue, the engine's records and the text helpers that the
// rest of the tool shares.
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>

// Table order matters: the first row found inside a text wins.
const CommandEntry commandTable[COMMAND_TABLE_ROWS + 1] = {
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

// The response mode comes first: the framing needs it for every later answer.
const CommandEntry DeviceInfoQuery[DEVICE_INFO_QUERIES + 1] = {
    {1, "AT+RESP?\r"},  {2, "AT+ECHO?\r"},   {3, "AT+ROLE?\r"},  {4, "AT+ADDR?\r"},
    {5, "AT+NAME?\r"},  {6, "AT+PIN?\r"},    {7, "AT+DCOV?\r"},  {8, "AT+ESC?\r"},
    {9, "AT+SLEEP?\r"}, {10, "AT+ACON?\r"},  {11, "AT+RCFG?\r"}, {12, "AT+VER\r"},
    {13, "AT+BAUD?\r"}, {14, "AT+STOP?\r"},  {15, "AT+PAR?\r"},  {16, "AT+FLOW?\r"},
    {0, ""},
};

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

// Log texts travel by address to the main window, which reads them when its
// thread is free again; a blocking sequence may post dozens meanwhile.
constexpr int LOG_SLOTS = 128;
char logSlots[LOG_SLOTS][TEXT_SIZE];
volatile LONG nextLogSlot = -1;

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
    LONG slot = InterlockedIncrement(&nextLogSlot);
    char* buffer = logSlots[static_cast<ULONG>(slot) % LOG_SLOTS];
    copyText(buffer, TEXT_SIZE, text);
    postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(buffer));
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

void toWideText(const char* text, wchar_t* wide, int wideSize)
{
    if (wideSize <= 0)
        return;
    // One byte never gives more than one wide character, so converting at
    // most wideSize - 1 bytes always fits.
    size_t length = strlen(text);
    int bytes = length < static_cast<size_t>(wideSize - 1) ? static_cast<int>(length) : wideSize - 1;
    int n = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, text, bytes, wide, wideSize - 1) : 0;
    wide[n > 0 ? n : 0] = L'\0';
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
