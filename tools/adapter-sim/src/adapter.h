// The RZ310 adapter as seen from its serial port: AT commands in, answers
// out. No I/O here; the caller applies the line-settings gate and paces the
// output, so everything below can be driven from unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Parity { None, Odd, Even };

struct LineSettings {
    int baud = 19200;
    Parity parity = Parity::None;
    int stopBits = 1;
    bool flow = true;
};

bool operator==(const LineSettings& a, const LineSettings& b);
inline bool operator!=(const LineSettings& a, const LineSettings& b) { return !(a == b); }

// Codes 10..18 name 1200..230400 baud; every other code means 19200.
int baudCodeToRate(int code);
// The code of a rate the adapter supports, or -1.
int baudRateToCode(int rate);
// Bits on the wire per byte: start, 8 data, stop bits, parity bit if any.
int bitsPerByte(const LineSettings& line);

// "0012-6f-34ab56" and "00126F34AB56" name the same device.
std::string addressKey(const std::string& address);

// One inquiry result as the adapter reports it: the device's name in a
// 34-character column, then its address in dash form (characters 34 to 47).
std::string inquiryResultText(const std::string& address, const std::string& name);

// What AT+CONN=... leads to after the event delay.
enum class ConnectOutcome { Connect, Fail, Nothing };

// How the remote adapter behind a connection answers remote configuration:
// as it should, with the wrong bytes, or not at all.
enum class RemoteReply { Ok, Wrong, Silent };

struct AdapterState {
    // Stored settings: kept across a power cycle, restored by AT+RESET.
    bool echoOn = true;
    bool responseOn = true;
    char role = 'S';  // 'M' master, 'S' slave
    bool discoverable = true;
    bool escapeOn = true;
    bool sleepOn = false;
    bool autoConnect = true;
    int baudCode = 14;
    bool remoteConfig = true;
    bool bonded = false;
    std::string bondAddress;
    bool pinDisabled = false;
    std::string name = "Serial Adapter";
    std::string pin = "8642";
    LineSettings line;
    // Fixed in the hardware.
    std::string address;
    std::string version;
    // Run-time state: lost at power-off.
    bool dataMode = false;
    bool connected = false;
    std::string remoteAddress;
    bool inquiryActive = false;
    // The remote adapter at the other end of the connection: in remote
    // access mode after a handshake; the last baud code (1 to 5) a request
    // set on it, 0 for none.
    bool remoteAccess = false;
    int remoteBaudCode = 0;
};

// Longest command line kept; the rest of a longer line is dropped and the
// command answered with ERROR.
constexpr size_t kMaxCommandLine = 128;

class Adapter {
public:
    struct FeedResult {
        std::string output;
        size_t consumed = 0;
    };

    Adapter(const std::string& address, const std::string& version, const LineSettings& line);

    // Takes bytes from the serial line. Stops right after a command that
    // changed the line settings: its answer still goes out at the old ones,
    // and the bytes after it must be gated against the new ones.
    FeedResult feed(const std::string& input, int64_t nowMs);

    // Unsolicited output (connection reports, inquiry lines) due by nowMs.
    std::string poll(int64_t nowMs);
    // When poll() next has something to say; INT64_MAX when nothing waits.
    int64_t nextDue() const;

    // A remote device opened or closed the link (control channel).
    std::string connect(const std::string& remote);
    std::string disconnect();

    // Power cycle: run-time state and the half-received line are lost.
    void powerOn();
    // Bytes that arrived garbled spoil the command being received.
    void discardPartialLine();

    AdapterState& state() { return state_; }
    const AdapterState& state() const { return state_; }
    const std::vector<std::string>& executed() const { return executed_; }
    const std::string& dataReceived() const { return data_; }
    void clearLog();

    // Simulator behaviour, not adapter settings.
    bool errorMode = false;
    ConnectOutcome connectOutcome = ConnectOutcome::Connect;
    int64_t eventDelayMs = 500;
    std::vector<std::string> inquiryResults;
    // Addresses that answer AT+CONN=... with " Attempt Fail!!" whatever
    // connectOutcome says; compared without dashes, case-blind.
    std::vector<std::string> refusedAddresses;
    // A command refused with ERROR: its text before any '=' (AT+PIN refuses
    // "AT+PIN=1234" but not "AT+PIN?"); empty: none.
    std::string refusedCommand;
    RemoteReply remoteReply = RemoteReply::Ok;
    // The remote adapter's 2-byte reply goes out as two writes this far apart.
    bool remoteSplit = false;
    int64_t remoteSplitGapMs = 100;

private:
    enum class EventKind { Connect, ConnectFail, Disconnect, InquiryResult, InquiryEnd, RemoteReply };
    struct Event {
        int64_t due;
        EventKind kind;
        std::string text;
    };

    std::string execute(const std::string& command, int64_t nowMs);
    std::string executeWithValue(const std::string& base, const std::string& value, int64_t nowMs);
    std::string escapeSequence();
    void dataByte(char c);
    std::string remoteByte(char c, int64_t nowMs);
    std::string remoteAnswer(char first, char second, int64_t nowMs);
    void remoteLinkEnds();
    void factoryReset();
    void dropLinkOnChange();
    void cancelEvents(EventKind kind);
    void schedule(int64_t due, EventKind kind, const std::string& text);

    std::string status() const;
    std::string reply(const std::string& text) const;
    static std::string error();
    std::string enquiry() const;

    AdapterState state_;
    std::string line_;
    bool lineOverflow_ = false;
    int pendingPlus_ = 0;
    int remoteHandshakeRun_ = 0;  // 0xAA in a row towards the 8 of a handshake
    std::string remoteRequest_;
    std::vector<std::string> executed_;
    std::string data_;
    std::vector<Event> events_;
};

}  // namespace sim
