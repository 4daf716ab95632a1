// AT command engine: catalogue, the pending command, the local adapter's
// record, sending, framing and per-command handling.
#pragma once
#include "atcommand/line_settings.h"
#include "common/seams.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

using AtCommandId = uint32_t;

// The command families of the catalogue: every command and report of a
// family is handled alike. The values are the catalogue's ids.
namespace Family {
enum : AtCommandId {
    None = 0,
    Attention = 1,         // AT
    Version = 2,           // AT+VER
    Enquire = 3,           // AT+ENQ
    Reset = 4,             // AT+RESET
    Baud = 5,              // AT+BAUD<code>
    StopBits = 6,          // AT+STOP<n>
    Parity = 7,            // AT+PAR<digit>
    Flow = 8,              // AT+FLOW
    Echo = 9,              // AT+ECHO
    Response = 10,         // AT+RESP
    Role = 11,             // AT+ROLE
    Address = 12,          // AT+ADDR
    Find = 13,             // AT+FIND
    SignalStrength = 14,   // AT+RSSI
    Name = 15,             // AT+NAME
    Pin = 16,              // AT+PIN
    Discoverable = 17,     // AT+DCOV
    Connect = 18,          // AT+CONN
    Drop = 19,             // AT+DROP
    Bond = 20,             // AT+BOND
    AutoConnect = 21,      // AT+ACON
    Escape = 22,           // AT+ESC
    DataMode = 23,         // AT+AUTO
    RemoteConfig = 24,     // AT+RCFG
    Sleep = 25,            // AT+SLEEP
    EscapeSequence = 26,   // +++
    ConnectReport = 27,    // CONNECT
    DisconnectReport = 28, // DISCONNECT
    Upgrade = 29,          // AT+UPGRADE
};
}

struct CommandEntry {
    AtCommandId id;
    char text[32];
};

constexpr int COMMAND_TABLE_ROWS = 77;
constexpr int DEVICE_INFO_QUERIES = 16;
extern const CommandEntry commandTable[COMMAND_TABLE_ROWS + 1];     // ends with id 0
extern const CommandEntry DeviceInfoQuery[DEVICE_INFO_QUERIES + 1]; // ends with id 0

enum : uint32_t { RESP_WAIT_START = 0, RESP_COLLECT = 2 };

constexpr int COMMAND_SIZE = 30;
constexpr int RESPONSE_SIZE = 600;

struct AtCommand {
    char command[COMMAND_SIZE];
    char response[RESPONSE_SIZE];
    uint32_t respState;
    char param[RESPONSE_SIZE];
    uint32_t respComplete;
    uint32_t startSeen;
    uint32_t respLength;
    uint32_t showInLog;
    uint32_t expectsReplyLine;
    uint32_t timerMode;
};

struct Device {
    int32_t isDeviceInitialised;
    int32_t echoOn;
    int32_t role; // a Role
    int32_t responseOn;
    int32_t discoverable;
    int32_t escapeOn;
    int32_t sleepOn;
    int32_t autoConnect;
    int32_t baudCode;
    int32_t initRetry;
    int32_t pinDisabled;
    int32_t bonded;
    int32_t isConnected;
    int32_t isDataMode;
    int32_t isInquiryActive;
    int32_t remoteConfig;
    int32_t isHandshakeActive;
    char name[16];
    char address[15];
    char pin[8];
    char version[41];
};

// The adapter's role; 0 until it has reported one.
enum Role : int32_t { ROLE_UNKNOWN = 0, ROLE_MASTER = 1, ROLE_SLAVE = 2 };

// The steps of pairing (1 to 4) and unpairing (5, 6), each reached when the
// answer that ends the step before has been handled.
enum PairStep : int32_t {
    PAIR_IDLE = 0,
    PAIR_SEARCHING_DEVICE2 = 1, // AT to the second adapter
    PAIR_DEVICE2_FOUND = 2,     // it answered: read its address and name
    PAIR_DEVICE2_BONDED = 3,    // it holds the first adapter's address
    PAIR_COMPLETE = 4,          // the first adapter holds the second's
    UNPAIR_DEVICE1 = 5,         // AT+BOND- to the first adapter
    UNPAIR_DEVICE2 = 6,         // the first has forgotten: AT+BOND- to the second
};

struct Pairing {
    int32_t pairState; // a PairStep
    int32_t pairFailed;
    char device1Address[15];
    char device2Address[15];
    char device1Name[16];
    char device2Name[16];
};

constexpr int INQUIRY_RESULTS = 10;
struct Inquiry {
    char results[INQUIRY_RESULTS][RESPONSE_SIZE];
    int32_t resultCount;
    int32_t keepNextByte;
    int32_t lineLength;
    char line[RESPONSE_SIZE];
};

extern AtCommand atCommand;
extern Device device;
extern Pairing pairing;
extern char remoteAddress[16];
// Restart Device forgets a connection that the adapter, only escaped to
// command mode, may still hold: 1 until the link is known to be gone or
// the operator has asked to end it, so that Disconnect stays offered.
extern int32_t linkMayRemain;
extern Inquiry inquiry;

constexpr int TEXT_SIZE = 1024;
extern char logText[TEXT_SIZE];
extern char responseLogText[TEXT_SIZE];
extern char errorText[TEXT_SIZE];
extern wchar_t wideText[512];

// Send results.
enum : uint16_t { SEND_OK = 0, SEND_FAILED = 1, SEND_PENDING = 2, SEND_BUSY = 7 };

extern HANDLE atCommandEvent; // manual-reset; set when a blocking answer was handled

// Search counters of the line-setting search: the baud code tried next
// (BAUD_CODE_FIRST to BAUD_CODE_LAST) and the phase.
extern int32_t bIndex;
extern int32_t bTry;

AtCommandId findCommand(const char* text);
int formatText(char* buffer /*[TEXT_SIZE]*/, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
int formatCommand(char* buffer /*[COMMAND_SIZE]*/, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
void toWideText(const char* text, wchar_t* wide, int wideSize);

// The engine's entry point: records the command as pending and sends it,
// either waiting for its answer (SEND_BLOCKING) or leaving the answer to
// ATCommandTimer or DevInitTimer (SEND_TIMED); LOG_SHOWN puts the answer in
// the log window.
enum : int32_t { LOG_QUIET = 0, LOG_SHOWN = 1 };
enum : int32_t { SEND_BLOCKING = 0, SEND_TIMED = 1 };
uint16_t sendAtCommand(const char* text, int32_t showInLog, int32_t timerMode);
// What nearly every caller sends: quiet, blocking or timed.
inline uint16_t sendAndWait(const char* text) { return sendAtCommand(text, LOG_QUIET, SEND_BLOCKING); }
inline uint16_t sendTimed(const char* text) { return sendAtCommand(text, LOG_QUIET, SEND_TIMED); }
// A send that went out (SEND_OK) or is waiting for its timer (SEND_PENDING).
inline bool sendSucceeded(uint16_t result) { return result == SEND_OK || result == SEND_PENDING; }
uint16_t sendTimerCommand(const char* text, uint32_t length);
uint16_t sendBlockingCommand(const char* text, uint32_t length);

void dispatchUartData(int32_t count);
void processCmdResponse(int32_t count);
void processTimedResponse();
int32_t handleCommandResponse();
void processInquiryData(int32_t count);
void processHandshakeData(int32_t count);

int tryIterations(const char* command, int32_t timerMode);
void getDeviceInfo();
// Opens the port of uart as Get Device Info does: a fresh atCommandEvent,
// then UartInit (quiet: no box when it fails). Returns UartInit's code (0 opened).
int openAdapterPort(bool quiet = false);

// The DevInitTimer branch of the main window's timer handler (after the
// timer has been killed by the caller or here).
void devInitTimerStep();

// Clears device, pairing, inquiry, remoteAddress and the handshake globals.
void resetEngineState();
// The adapter went with its port: nothing of its live state holds (what it
// was last known to hold stays for the settings file).
void forgetAdapterLiveState();

// State of the byte protocol with a remote adapter; a disconnection ends it.
enum : int32_t { HANDSHAKE_IDLE = 0, HANDSHAKE_PENDING = 1, HANDSHAKE_COMPLETE = 2 };
extern int32_t handshakeState;
// The reply bytes received so far (0 to 2 of them) and the 2-byte request
// whose reply is awaited once the handshake is complete.
enum : uint8_t { REMOTE_CMD_EXIT = 0, REMOTE_CMD_BAUD = 1 };
extern uint8_t handshakeResp[3];
extern int32_t handshakeRespLen;
extern uint8_t handshakeCommand;

// Writes raw bytes to the remote adapter, switching the local adapter to data
// mode first (asking the operator), and arms HandshakeCommandTimer. Returns
// UartWrite's code, or 1 when nothing was sent.
int sendRemoteData(const uint8_t* data, int32_t count);
// The 8-byte handshake; any earlier handshake is started over.
void startHandshake();
// A 2-byte request (REMOTE_CMD_BAUD with a code 1 to 5, REMOTE_CMD_EXIT
// with 0x80), understood only after a completed handshake.
void sendRemoteCommand(uint8_t command, uint8_t argument);

// The HandshakeCommandTimer step, after the caller killed the timer: the
// text for the log window, or nullptr when the reply was handled meanwhile
// and the expiry is stale.
const char* handshakeTimerStep();
// The read thread cannot kill a timer of the main window, so a handled reply
// is posted as ID_NOTIFY_HANDSHAKE_HANDLED with the arming it answered; true
// when the main window should kill HandshakeCommandTimer for it (no newer
// request armed the timer again since).
bool handshakeTimerSpent(LPARAM arming);

// Queues a text for the log window and wakes the window with
// ID_NOTIFY_LOG_QUEUED. The text is copied, so a text formatted into logText
// and friends stays intact even when the buffer is reused before the window
// gets to it. Texts that find 10,000 waiting are counted instead, and the
// count follows the waiting ones as a line of its own.
void postLogText(const char* text);
// The window's side, on ID_NOTIFY_LOG_QUEUED: moves up to `most` queued texts
// (and the count of dropped ones, once the queue is empty) to `texts`, in
// order. Texts left in the queue get a wake-up of their own.
void takeLogTexts(std::vector<std::string>& texts, size_t most);

// The pairing procedure's touches of the engine's records (the Pair Device
// panel drives it while the read thread advances its step), each under the
// engine lock.
struct LineSnapshot {
    int32_t baud;
    int32_t parity;
    int32_t flow;
    int32_t stopBits;
};
LineSnapshot currentLineSettings();
// Puts line settings into uart; the caller applies them to the port.
void setLineSettings(const LineSnapshot& line);
// Step 1, with Device 1's address and name noted and the rest cleared.
void startPairing();
// Step 5, a failure left from an earlier procedure forgotten.
void startUnpairing();
int32_t pairingStep();
void setPairingStep(int32_t step);
// Whether an answer failed ("ERROR") during the procedure; take clears it.
bool pairingFailed();
bool takePairingFailure();
// The operator stopped the search: no step, no failure, and the next search
// starts from the first line setting.
void stopPairing();
// A text field of the records as it stands, up to its NUL or its end.
std::string engineText(const char* field, size_t size);

// The windows' touches of the engine's records, each under the engine lock.
// Ends the record of an active handshake (the operator disconnects); true
// when one was active.
bool clearHandshakeActive();
// The operator ends a link that a restart may have left on the adapter.
void forgetRemainingLink();

// The serial driver's UartWrite and UartChangeSettings, or the test seams'
// stand-ins (common/seams.h).
int portWrite(const uint8_t* buffer, uint32_t length);
int portChangeSettings();
