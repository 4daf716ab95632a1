#include "adapter.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace sim {

namespace {

const int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

// The data-mode log is for tests; a runaway sender must not eat the memory.
constexpr size_t kMaxDataLog = 1 << 20;

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// "00126F34AB56" as the adapter writes addresses: "0012-6F-34AB56".
std::string dashed(const std::string& address) {
    if (address.size() != 12 || address.find('-') != std::string::npos) return address;
    return address.substr(0, 4) + "-" + address.substr(4, 2) + "-" + address.substr(6);
}

}  // namespace

bool operator==(const LineSettings& a, const LineSettings& b) {
    return a.baud == b.baud && a.parity == b.parity && a.stopBits == b.stopBits && a.flow == b.flow;
}

std::string addressKey(const std::string& address) {
    std::string key;
    for (char c : address)
        if (c != '-') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

std::string inquiryResultText(const std::string& address, const std::string& name) {
    constexpr size_t kNameColumn = 34;
    std::string text = name.substr(0, kNameColumn - 1);
    text.resize(kNameColumn, ' ');
    return text + dashed(addressKey(address));
}

int baudCodeToRate(int code) {
    if (code >= 10 && code <= 18) return kRates[code - 10];
    return 19200;
}

int baudRateToCode(int rate) {
    for (int i = 0; i < 9; ++i)
        if (kRates[i] == rate) return 10 + i;
    return -1;
}

int bitsPerByte(const LineSettings& line) {
    return 10 + (line.stopBits == 2 ? 1 : 0) + (line.parity != Parity::None ? 1 : 0);
}

Adapter::Adapter(const std::string& address, const std::string& version, const LineSettings& line) {
    state_.address = address;
    state_.version = version;
    state_.line = line;
    int code = baudRateToCode(line.baud);
    state_.baudCode = code < 0 ? 14 : code;
}

void Adapter::clearLog() {
    executed_.clear();
    data_.clear();
}

std::string Adapter::status() const { return state_.responseOn ? "\r\nOK\r\n" : "\r\n"; }

// The reply line's closing CR LF opens the status line, so "OK" follows it
// directly.
std::string Adapter::reply(const std::string& text) const {
    return "\r\n" + text + "\r\n" + (state_.responseOn ? "OK\r\n" : "");
}

std::string Adapter::error() { return "\r\nERROR\r\n"; }

Adapter::FeedResult Adapter::feed(const std::string& input, int64_t nowMs) {
    FeedResult r;
    while (r.consumed < input.size()) {
        char c = input[r.consumed++];
        if (state_.dataMode) {
            if (state_.escapeOn && c == '+') {
                if (++pendingPlus_ == 3) {
                    pendingPlus_ = 0;
                    r.output += escapeSequence();
                }
            } else {
                // Held '+' that did not make three are data too.
                std::string carried(static_cast<size_t>(pendingPlus_), '+');
                carried += c;
                dataByte(c);
                if (state_.connected)
                    for (char b : carried) r.output += remoteByte(b, nowMs);
            }
            continue;
        }
        if (c == '\r') {
            std::string command;
            command.swap(line_);
            bool overflow = lineOverflow_;
            lineOverflow_ = false;
            if (state_.echoOn) r.output += command + "\r";
            if (command.empty() && !overflow) continue;
            executed_.push_back(command + "\r");
            LineSettings before = state_.line;
            r.output += overflow ? error() : execute(command, nowMs);
            if (state_.line != before) break;
            continue;
        }
        if (c == '\n' && line_.empty()) continue;
        // The escape sequence has no CR: three '+' opening a line.
        if (c == '+' && !lineOverflow_ && line_.find_first_not_of('+') == std::string::npos) {
            line_ += c;
            if (line_ == "+++") {
                line_.clear();
                r.output += escapeSequence();
            }
            continue;
        }
        if (line_.size() < kMaxCommandLine) line_ += c;
        else lineOverflow_ = true;
    }
    return r;
}

void Adapter::dataByte(char c) {
    if (data_.size() + static_cast<size_t>(pendingPlus_) + 1 > kMaxDataLog) {
        pendingPlus_ = 0;
        return;
    }
    data_.append(static_cast<size_t>(pendingPlus_), '+');
    pendingPlus_ = 0;
    data_ += c;
}

// "+++" is answered with a full status line even with response mode off.
std::string Adapter::escapeSequence() {
    executed_.push_back("+++");
    if (errorMode) return error();
    state_.dataMode = false;
    return "\r\nOK\r\n";
}

// The remote adapter takes the bytes carried over the connection: eight
// 0xAA are a handshake, answered 0xAA 0xAA; after it, 2-byte requests
// (0x01 and a baud code 1 to 5, or 0x00 0x80 to leave remote access mode)
// are answered with the request byte and 0x00. Anything else before a
// handshake is plain data for the remote side's serial port.
std::string Adapter::remoteByte(char c, int64_t nowMs) {
    if (remoteReply == RemoteReply::Silent) return {};
    if (static_cast<unsigned char>(c) == 0xAA && remoteRequest_.empty()) {
        if (++remoteHandshakeRun_ < 8) return {};
        remoteHandshakeRun_ = 0;
        bool ok = remoteReply == RemoteReply::Ok;
        state_.remoteAccess = ok;
        return remoteAnswer('\xAA', ok ? '\xAA' : '\x55', nowMs);
    }
    remoteHandshakeRun_ = 0;
    if (!state_.remoteAccess) return {};
    remoteRequest_ += c;
    if (remoteRequest_.size() < 2) return {};
    std::string request;
    request.swap(remoteRequest_);
    unsigned char command = static_cast<unsigned char>(request[0]);
    unsigned char argument = static_cast<unsigned char>(request[1]);
    bool known = (command == 0x01 && argument >= 1 && argument <= 5) || (command == 0x00 && argument == 0x80);
    bool ok = known && remoteReply == RemoteReply::Ok;
    if (ok && command == 0x01) state_.remoteBaudCode = argument;
    if (ok && command == 0x00) state_.remoteAccess = false;
    return remoteAnswer(request[0], ok ? '\0' : '\x01', nowMs);
}

std::string Adapter::remoteAnswer(char first, char second, int64_t nowMs) {
    if (!remoteSplit) return std::string{first, second};
    schedule(nowMs + remoteSplitGapMs, EventKind::RemoteReply, std::string(1, second));
    return std::string(1, first);
}

// The remote adapter leaves remote access mode when the link goes.
void Adapter::remoteLinkEnds() {
    state_.remoteAccess = false;
    remoteHandshakeRun_ = 0;
    remoteRequest_.clear();
    cancelEvents(EventKind::RemoteReply);
}

void Adapter::discardPartialLine() {
    line_.clear();
    lineOverflow_ = false;
    pendingPlus_ = 0;
}

void Adapter::powerOn() {
    discardPartialLine();
    state_.dataMode = false;
    state_.connected = false;
    state_.remoteAddress.clear();
    state_.inquiryActive = false;
    remoteLinkEnds();
    events_.clear();
}

void Adapter::factoryReset() {
    AdapterState fresh;
    fresh.address = state_.address;
    fresh.version = state_.version;
    fresh.remoteBaudCode = state_.remoteBaudCode;  // the remote adapter's own setting
    state_ = fresh;
    remoteLinkEnds();
    events_.clear();
}

// Changing role, flow control, discoverability or auto-connect restarts the
// radio link, so an open connection ends without a report.
void Adapter::dropLinkOnChange() {
    if (!state_.connected) return;
    state_.connected = false;
    state_.dataMode = false;
    state_.remoteAddress.clear();
    cancelEvents(EventKind::Disconnect);
    remoteLinkEnds();
}

std::string Adapter::execute(const std::string& command, int64_t nowMs) {
    if (errorMode) return error();
    if (!refusedCommand.empty() && command.substr(0, command.find('=')) == refusedCommand) return error();

    size_t eq = command.find('=');
    if (eq != std::string::npos) return executeWithValue(command.substr(0, eq), command.substr(eq + 1), nowMs);

    if (command == "AT") return status();
    if (command == "AT+VER") return reply(state_.version);
    if (command == "AT+ENQ") return enquiry();
    if (command == "AT+RSSI" || command == "AT+UPGRADE") return status();
    if (command == "AT+RESET") {
        std::string answer = status();
        factoryReset();
        return answer;
    }
    if (command == "AT+ADDR?") return reply(state_.address);
    if (command == "AT+NAME?") return reply(state_.name);
    if (command == "AT+PIN?") return reply(state_.pinDisabled ? "NULL" : state_.pin);
    if (command == "AT+PIN-") {
        state_.pinDisabled = true;
        return status();
    }
    if (command == "AT+BAUD?") return reply("BAUD" + std::to_string(state_.baudCode));
    if (startsWith(command, "AT+BAUD") && command.size() == 9) {
        std::string digits = command.substr(7);
        if (!std::isdigit(static_cast<unsigned char>(digits[0])) ||
            !std::isdigit(static_cast<unsigned char>(digits[1])))
            return error();
        int code = std::stoi(digits);
        if (code < 10 || code > 19) return error();
        state_.baudCode = code;
        state_.line.baud = baudCodeToRate(code);
        return status();
    }
    if (command == "AT+STOP?") return reply(state_.line.stopBits == 2 ? "STOP2" : "STOP1");
    if (command == "AT+STOP1" || command == "AT+STOP2") {
        state_.line.stopBits = command.back() - '0';
        return status();
    }
    if (command == "AT+PAR?") {
        const char* codes[] = {"PAR0", "PAR1", "PAR2"};
        return reply(codes[static_cast<int>(state_.line.parity)]);
    }
    if (command == "AT+PAR0" || command == "AT+PAR1" || command == "AT+PAR2") {
        state_.line.parity = static_cast<Parity>(command.back() - '0');
        return status();
    }
    if (command == "AT+ROLE?") return reply(std::string("ROLE") + state_.role);
    if (command == "AT+ROLEM" || command == "AT+ROLES") {
        state_.role = command.back();
        dropLinkOnChange();
        return status();
    }

    // The on/off families: AT+XXX+, AT+XXX-, AT+XXX? answered "XXX+"/"XXX-".
    struct Flag {
        const char* keyword;
        bool AdapterState::*field;
        bool dropsLink;
    };
    static const Flag flags[] = {
        {"ECHO", &AdapterState::echoOn, false},       {"RESP", &AdapterState::responseOn, false},
        {"DCOV", &AdapterState::discoverable, true},  {"ESC", &AdapterState::escapeOn, false},
        {"SLEEP", &AdapterState::sleepOn, false},     {"ACON", &AdapterState::autoConnect, true},
        {"RCFG", &AdapterState::remoteConfig, false},
    };
    for (const Flag& f : flags) {
        std::string base = std::string("AT+") + f.keyword;
        if (command.size() != base.size() + 1 || !startsWith(command, base)) continue;
        bool& value = state_.*f.field;
        switch (command.back()) {
        case '?': return reply(std::string(f.keyword) + (value ? '+' : '-'));
        case '+':
        case '-':
            value = command.back() == '+';
            if (f.dropsLink) dropLinkOnChange();
            // A change of response mode already shapes its own answer.
            return status();
        default: return error();
        }
    }
    if (command == "AT+FLOW?") return reply(state_.line.flow ? "FLOW+" : "FLOW-");
    if (command == "AT+FLOW+" || command == "AT+FLOW-") {
        state_.line.flow = command.back() == '+';
        dropLinkOnChange();
        return status();
    }

    if (command == "AT+BOND?") return reply(state_.bonded ? dashed(state_.bondAddress) : "0000-00-000000");
    if (command == "AT+BOND-") {
        state_.bonded = false;
        state_.bondAddress.clear();
        return status();
    }
    if (command == "AT+AUTO") {
        state_.dataMode = true;
        return "\r\nOK\r\n";  // a full line even with response mode off
    }
    if (command == "AT+DROP") {
        if (!state_.connected) return error();
        schedule(nowMs + eventDelayMs, EventKind::Disconnect, "");
        return status();
    }
    if (command == "AT+CONN") {
        if (!state_.bonded || state_.connected) return error();
        schedule(nowMs + eventDelayMs, EventKind::Connect, dashed(state_.bondAddress));
        return status();
    }
    if (startsWith(command, "AT+CONN") && command.size() == 8 && command[7] >= '1' && command[7] <= '8')
        return status();
    if (command == "AT+FIND?") {
        // Only a master without auto-connect can inquire.
        if (state_.role != 'M' || state_.autoConnect || state_.connected) return error();
        cancelEvents(EventKind::InquiryResult);
        cancelEvents(EventKind::InquiryEnd);
        state_.inquiryActive = true;
        int64_t due = nowMs;
        for (const std::string& result : inquiryResults)
            schedule(due += eventDelayMs, EventKind::InquiryResult, result);
        schedule(due + eventDelayMs, EventKind::InquiryEnd, "");
        return status();
    }
    if (command == "AT+FIND-") {
        if (!state_.inquiryActive) return status();
        cancelEvents(EventKind::InquiryResult);
        cancelEvents(EventKind::InquiryEnd);
        state_.inquiryActive = false;
        return reply("Inquiry Cancelled");
    }
    return error();
}

std::string Adapter::executeWithValue(const std::string& base, const std::string& value, int64_t nowMs) {
    if (base == "AT+NAME") {
        state_.name = value;
        return status();
    }
    if (base == "AT+PIN") {
        if (value.empty()) return error();
        state_.pin = value;
        state_.pinDisabled = false;
        return status();
    }
    if (base == "AT+BOND") {
        if (value.empty()) return error();
        state_.bonded = true;
        state_.bondAddress = value;
        return status();
    }
    if (base == "AT+CONN") {
        if (value.empty() || state_.connected) return error();
        ConnectOutcome outcome = connectOutcome;
        for (const std::string& refused : refusedAddresses)
            if (addressKey(refused) == addressKey(value)) outcome = ConnectOutcome::Fail;
        // The report names the remote device the way the adapter writes
        // addresses, whatever form the command used.
        switch (outcome) {
        case ConnectOutcome::Connect:
            schedule(nowMs + eventDelayMs, EventKind::Connect, dashed(addressKey(value)));
            break;
        case ConnectOutcome::Fail: schedule(nowMs + eventDelayMs, EventKind::ConnectFail, ""); break;
        case ConnectOutcome::Nothing: break;
        }
        return status();
    }
    return error();
}

// Status first, then one line per setting in the order the tool reads them.
std::string Adapter::enquiry() const {
    const AdapterState& s = state_;
    const char* parity[] = {"PAR0", "PAR1", "PAR2"};
    std::vector<std::string> lines = {
        std::string("RESP") + (s.responseOn ? '+' : '-'),
        std::string("ECHO") + (s.echoOn ? '+' : '-'),
        std::string("ROLE") + s.role,
        s.address,
        s.name,
        s.pinDisabled ? "NULL" : s.pin,
        std::string("DCOV") + (s.discoverable ? '+' : '-'),
        std::string("ESC") + (s.escapeOn ? '+' : '-'),
        std::string("SLEEP") + (s.sleepOn ? '+' : '-'),
        std::string("ACON") + (s.autoConnect ? '+' : '-'),
        std::string("RCFG") + (s.remoteConfig ? '+' : '-'),
        s.version,
        "BAUD" + std::to_string(s.baudCode),
        s.line.stopBits == 2 ? "STOP2" : "STOP1",
        parity[static_cast<int>(s.line.parity)],
        s.line.flow ? "FLOW+" : "FLOW-",
    };
    std::string out = status();
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

void Adapter::schedule(int64_t due, EventKind kind, const std::string& text) {
    auto at =
        std::upper_bound(events_.begin(), events_.end(), due, [](int64_t d, const Event& e) { return d < e.due; });
    events_.insert(at, Event{due, kind, text});
}

void Adapter::cancelEvents(EventKind kind) {
    events_.erase(std::remove_if(events_.begin(), events_.end(), [kind](const Event& e) { return e.kind == kind; }),
                  events_.end());
}

int64_t Adapter::nextDue() const { return events_.empty() ? std::numeric_limits<int64_t>::max() : events_.front().due; }

std::string Adapter::poll(int64_t nowMs) {
    std::string out;
    while (!events_.empty() && events_.front().due <= nowMs) {
        Event e = events_.front();
        events_.erase(events_.begin());
        switch (e.kind) {
        case EventKind::Connect:
            if (!state_.connected) out += connect(e.text);
            break;
        case EventKind::ConnectFail: out += "\r\nCONNECT Attempt Fail!!\r\n"; break;
        case EventKind::Disconnect:
            if (state_.connected) out += disconnect();
            break;
        case EventKind::InquiryResult: out += "\r\n" + e.text; break;
        case EventKind::InquiryEnd:
            state_.inquiryActive = false;
            out += "\r\nInquiry End\r\n";
            break;
        case EventKind::RemoteReply:
            if (state_.connected) out += e.text;
            break;
        }
    }
    return out;
}

std::string Adapter::connect(const std::string& remote) {
    cancelEvents(EventKind::Connect);
    cancelEvents(EventKind::ConnectFail);
    remoteLinkEnds();
    state_.connected = true;
    state_.dataMode = true;
    state_.remoteAddress = remote;
    return "\r\nCONNECT " + remote + "\r\n";
}

std::string Adapter::disconnect() {
    cancelEvents(EventKind::Disconnect);
    std::string out = "\r\nDISCONNECT " + state_.remoteAddress + "\r\n";
    state_.connected = false;
    state_.dataMode = false;
    state_.remoteAddress.clear();
    pendingPlus_ = 0;
    remoteLinkEnds();
    return out;
}

}  // namespace sim
