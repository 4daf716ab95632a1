#include "simulator.h"

#include <limits>
#include <sstream>

#include "escape.h"

namespace sim {

namespace {

// Longest garbled answer sent back for one garbled input.
constexpr size_t kMaxGarbage = 64;

bool parseBool(const std::string& text, bool& value) {
    if (text == "on" || text == "1" || text == "+" || text == "true" || text == "yes") {
        value = true;
        return true;
    }
    if (text == "off" || text == "0" || text == "-" || text == "false" || text == "no") {
        value = false;
        return true;
    }
    return false;
}

bool parseInt(const std::string& text, long& value) {
    if (text.empty() || text.size() > 12) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = text[0] == '-' ? -v : v;
    return true;
}

bool parseParity(const std::string& text, Parity& parity) {
    if (text == "none" || text == "n" || text == "0") parity = Parity::None;
    else if (text == "odd" || text == "o" || text == "1") parity = Parity::Odd;
    else if (text == "even" || text == "e" || text == "2") parity = Parity::Even;
    else return false;
    return true;
}

const char* parityName(Parity p) {
    switch (p) {
    case Parity::Odd: return "odd";
    case Parity::Even: return "even";
    default: return "none";
    }
}

bool parseRole(const std::string& text, char& role) {
    if (text == "M" || text == "m" || text == "master" || text == "1") role = 'M';
    else if (text == "S" || text == "s" || text == "slave" || text == "2") role = 'S';
    else return false;
    return true;
}

bool parseOutcome(const std::string& text, ConnectOutcome& outcome) {
    if (text == "ok") outcome = ConnectOutcome::Connect;
    else if (text == "fail") outcome = ConnectOutcome::Fail;
    else if (text == "none") outcome = ConnectOutcome::Nothing;
    else return false;
    return true;
}

bool parseRemoteReply(const std::string& text, RemoteReply& reply) {
    if (text == "ok") reply = RemoteReply::Ok;
    else if (text == "wrong") reply = RemoteReply::Wrong;
    else if (text == "silent") reply = RemoteReply::Silent;
    else return false;
    return true;
}

const char* remoteReplyName(RemoteReply r) {
    switch (r) {
    case RemoteReply::Wrong: return "wrong";
    case RemoteReply::Silent: return "silent";
    default: return "ok";
    }
}

const char* outcomeName(ConnectOutcome o) {
    switch (o) {
    case ConnectOutcome::Fail: return "fail";
    case ConnectOutcome::Nothing: return "none";
    default: return "ok";
    }
}

}  // namespace

bool lineMatches(const LineSettings& line, const Tty& tty) {
    return line.baud == tty.baud && line.stopBits == tty.stopBits && line.flow == tty.crtscts;
}

Simulator::Simulator(const Options& options) : options_(options) {
    powerOnState();
    outputDropped_ = false;
}

void Simulator::powerOnState() {
    adapters_.clear();
    adapters_.emplace_back(options_.address, options_.version, options_.line);
    adapters_.emplace_back(options_.address2, options_.version, options_.line);
    attached_ = 0;
    muted_ = false;
    unplugged_ = false;
    vanished_ = false;
    garbageOnMismatch_ = false;
    pace_ = options_.pace;
    garbled_ = 0;
    discarded_ = 0;
    out_.clear();
    outputDropped_ = true;
}

void Simulator::emit(const std::string& bytes, const LineSettings& line) {
    if (bytes.empty() || muted_ || absent()) return;
    double perByte = pace_ ? static_cast<double>(bitsPerByte(line)) / line.baud : 0.0;
    out_.push_back(Chunk{bytes, perByte});
}

// Bytes sent at the adapter's rate and read at another arrive mangled: a
// fixed scramble with the top bit set, so they never look like CR, LF or
// text.
std::string Simulator::garbage(const std::string& input) const {
    std::string out;
    for (size_t i = 0; i < input.size() && i < kMaxGarbage; ++i) {
        unsigned char b = static_cast<unsigned char>(input[i]);
        out += static_cast<char>(0x80 | ((b * 37 + i * 11) & 0x7f));
    }
    return out;
}

void Simulator::input(const std::string& bytes, const Tty& tty, int64_t nowMs) {
    if (bytes.empty()) return;
    if (absent() || muted_) {
        ++discarded_;
        return;
    }
    Adapter& a = adapter();
    size_t pos = 0;
    while (pos < bytes.size()) {
        LineSettings line = a.state().line;
        if (!lineMatches(line, tty)) {
            ++garbled_;
            a.discardPartialLine();
            if (garbageOnMismatch_) emit(garbage(bytes.substr(pos)), line);
            return;
        }
        Adapter::FeedResult r = a.feed(bytes.substr(pos), nowMs);
        emit(r.output, line);  // at the settings the command came in at
        pos += r.consumed;
    }
}

void Simulator::emitUnsolicited(const std::string& bytes, const Tty& tty) {
    if (bytes.empty()) return;
    const LineSettings& line = adapter().state().line;
    if (lineMatches(line, tty)) emit(bytes, line);
    else if (garbageOnMismatch_) emit(garbage(bytes), line);
}

void Simulator::tick(const Tty& tty, int64_t nowMs) {
    if (absent()) return;
    emitUnsolicited(adapter().poll(nowMs), tty);
}

int64_t Simulator::nextDue() const {
    return absent() ? std::numeric_limits<int64_t>::max() : adapters_[attached_].nextDue();
}

bool Simulator::takeOutputDropped() {
    bool dropped = outputDropped_;
    outputDropped_ = false;
    return dropped;
}

std::deque<Chunk> Simulator::takeOutput() {
    std::deque<Chunk> out;
    out.swap(out_);
    return out;
}

std::string Simulator::stateText() {
    const Adapter& a = adapter();
    const AdapterState& s = a.state();
    std::ostringstream o;
    auto kv = [&o](const char* key, const std::string& value) { o << ' ' << key << '=' << escape(value); };
    auto flag = [&kv](const char* key, bool value) { kv(key, value ? "1" : "0"); };
    o << "OK";
    flag("echo", s.echoOn);
    flag("resp", s.responseOn);
    kv("role", std::string(1, s.role));
    kv("name", s.name);
    kv("pin", s.pin);
    flag("pindisabled", s.pinDisabled);
    kv("address", s.address);
    kv("version", s.version);
    flag("discoverable", s.discoverable);
    flag("escape", s.escapeOn);
    flag("sleep", s.sleepOn);
    flag("autoconnect", s.autoConnect);
    flag("remoteconfig", s.remoteConfig);
    flag("bonded", s.bonded);
    kv("bond", s.bondAddress);
    kv("baudcode", std::to_string(s.baudCode));
    kv("baud", std::to_string(s.line.baud));
    kv("parity", parityName(s.line.parity));
    kv("stop", std::to_string(s.line.stopBits));
    flag("flow", s.line.flow);
    flag("datamode", s.dataMode);
    flag("connected", s.connected);
    kv("remote", s.remoteAddress);
    flag("inquiry", s.inquiryActive);
    flag("remoteaccess", s.remoteAccess);
    kv("remotebaud", std::to_string(s.remoteBaudCode));
    kv("remotereply", remoteReplyName(a.remoteReply));
    flag("remotesplit", a.remoteSplit);
    flag("error", a.errorMode);
    kv("connresult", outcomeName(a.connectOutcome));
    kv("eventdelay", std::to_string(a.eventDelayMs));
    kv("inquiryresults", std::to_string(a.inquiryResults.size()));
    kv("refused", std::to_string(a.refusedAddresses.size()));
    kv("attached", std::to_string(attached_ + 1));
    flag("muted", muted_);
    flag("unplugged", unplugged_);
    flag("vanished", vanished_);
    kv("mismatch", garbageOnMismatch_ ? "garbage" : "silent");
    flag("pace", pace_);
    kv("executed", std::to_string(a.executed().size()));
    kv("garbled", std::to_string(garbled_));
    kv("discarded", std::to_string(discarded_));
    return o.str();
}

std::string Simulator::set(const std::string& key, const std::string& raw) {
    std::string value;
    if (!unescape(raw, value)) return "ERR bad escape";
    Adapter& a = adapter();
    AdapterState& s = a.state();

    struct BoolKey {
        const char* key;
        bool AdapterState::*field;
    };
    // clang-format off
    static const BoolKey boolKeys[] = {
        {"echo", &AdapterState::echoOn},         {"resp", &AdapterState::responseOn},
        {"pindisabled", &AdapterState::pinDisabled}, {"discoverable", &AdapterState::discoverable},
        {"escape", &AdapterState::escapeOn},     {"sleep", &AdapterState::sleepOn},
        {"autoconnect", &AdapterState::autoConnect}, {"remoteconfig", &AdapterState::remoteConfig},
        {"bonded", &AdapterState::bonded},       {"datamode", &AdapterState::dataMode},
        {"connected", &AdapterState::connected}, {"inquiry", &AdapterState::inquiryActive},
        {"remoteaccess", &AdapterState::remoteAccess},
    };
    // clang-format on
    for (const BoolKey& k : boolKeys) {
        if (key != k.key) continue;
        if (!parseBool(value, s.*k.field)) return "ERR bad value";
        return "OK";
    }
    struct TextKey {
        const char* key;
        std::string AdapterState::*field;
    };
    // clang-format off
    static const TextKey textKeys[] = {
        {"name", &AdapterState::name},       {"pin", &AdapterState::pin},
        {"address", &AdapterState::address}, {"version", &AdapterState::version},
        {"bond", &AdapterState::bondAddress}, {"remote", &AdapterState::remoteAddress},
    };
    // clang-format on
    for (const TextKey& k : textKeys) {
        if (key != k.key) continue;
        s.*k.field = value;
        return "OK";
    }

    long n = 0;
    if (key == "role") return parseRole(value, s.role) ? "OK" : "ERR bad value";
    if (key == "error") return parseBool(value, a.errorMode) ? "OK" : "ERR bad value";
    if (key == "refusecommand") {
        a.refusedCommand = value;
        return "OK";
    }
    if (key == "connresult") return parseOutcome(value, a.connectOutcome) ? "OK" : "ERR bad value";
    if (key == "remotereply") return parseRemoteReply(value, a.remoteReply) ? "OK" : "ERR bad value";
    if (key == "remotesplit") return parseBool(value, a.remoteSplit) ? "OK" : "ERR bad value";
    if (key == "parity") return parseParity(value, s.line.parity) ? "OK" : "ERR bad value";
    if (key == "flow") return parseBool(value, s.line.flow) ? "OK" : "ERR bad value";
    if (key == "stop") {
        if (!parseInt(value, n) || (n != 1 && n != 2)) return "ERR bad value";
        s.line.stopBits = static_cast<int>(n);
        return "OK";
    }
    if (key == "baudcode") {
        if (!parseInt(value, n) || n < 0 || n > 99) return "ERR bad value";
        s.baudCode = static_cast<int>(n);
        s.line.baud = baudCodeToRate(s.baudCode);
        return "OK";
    }
    if (key == "baud") {
        if (!parseInt(value, n) || baudRateToCode(static_cast<int>(n)) < 0) return "ERR unsupported baud";
        s.line.baud = static_cast<int>(n);
        s.baudCode = baudRateToCode(s.line.baud);
        return "OK";
    }
    if (key == "eventdelay") {
        if (!parseInt(value, n) || n < 0) return "ERR bad value";
        a.eventDelayMs = n;
        return "OK";
    }
    return "ERR unknown key " + key;
}

std::string Simulator::control(const std::string& request, const Tty& tty) {
    std::string line = request;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    std::istringstream words(rest);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    Adapter& a = adapter();

    if (verb == "ping") return "OK";
    if (verb == "mute" || verb == "unmute") {
        muted_ = verb == "mute";
        return "OK";
    }
    if (verb == "unplug") {
        unplugged_ = true;
        out_.clear();
        outputDropped_ = true;
        return "OK";
    }
    if (verb == "replug") {
        if (unplugged_) a.powerOn();
        unplugged_ = false;
        return "OK";
    }
    // The port itself goes (main closes the pty and removes the link) and
    // comes back behind the same link with the adapter powered on again.
    if (verb == "vanish") {
        vanished_ = true;
        out_.clear();
        outputDropped_ = true;
        return "OK";
    }
    if (verb == "reappear") {
        if (vanished_) a.powerOn();
        vanished_ = false;
        return "OK";
    }
    if (verb == "attach") {
        long n = 0;
        if (args.size() != 1 || !parseInt(args[0], n) || n < 1 || n > static_cast<long>(adapters_.size()))
            return "ERR usage: attach 1|2";
        attached_ = static_cast<size_t>(n - 1);
        adapter().powerOn();
        out_.clear();
        outputDropped_ = true;
        return "OK";
    }
    if (verb == "line") {
        long baud = 0, stop = 0;
        LineSettings next;
        if (args.size() != 4 || !parseInt(args[0], baud) || !parseParity(args[1], next.parity) ||
            !parseInt(args[2], stop) || (stop != 1 && stop != 2) || !parseBool(args[3], next.flow))
            return "ERR usage: line BAUD none|odd|even 1|2 on|off";
        if (baudRateToCode(static_cast<int>(baud)) < 0) return "ERR unsupported baud";
        next.baud = static_cast<int>(baud);
        next.stopBits = static_cast<int>(stop);
        a.state().line = next;
        a.state().baudCode = baudRateToCode(next.baud);
        return "OK";
    }
    if (verb == "mismatch") {
        if (rest != "silent" && rest != "garbage") return "ERR usage: mismatch silent|garbage";
        garbageOnMismatch_ = rest == "garbage";
        return "OK";
    }
    if (verb == "error") return parseBool(rest, a.errorMode) ? "OK" : "ERR usage: error on|off";
    if (verb == "pace") return parseBool(rest, pace_) ? "OK" : "ERR usage: pace on|off";
    if (verb == "set") {
        size_t sp = rest.find(' ');
        if (rest.empty()) return "ERR usage: set KEY VALUE";
        return set(rest.substr(0, sp), sp == std::string::npos ? "" : rest.substr(sp + 1));
    }
    if (verb == "inject") {
        std::string bytes;
        if (!unescape(rest, bytes)) return "ERR bad escape";
        if (!bytes.empty()) out_.push_back(Chunk{bytes, 0});
        return "OK";
    }
    if (verb == "connect") {
        if (rest.empty()) return "ERR usage: connect ADDR";
        if (a.state().connected) return "ERR already connected";
        emitUnsolicited(a.connect(rest), tty);
        return "OK";
    }
    if (verb == "disconnect") {
        if (!a.state().connected) return "ERR not connected";
        emitUnsolicited(a.disconnect(), tty);
        return "OK";
    }
    if (verb == "refuse") {
        if (args.size() != 1) return "ERR usage: refuse ADDR|clear";
        if (args[0] == "clear") a.refusedAddresses.clear();
        else a.refusedAddresses.push_back(args[0]);
        return "OK";
    }
    if (verb == "inquiry") {
        if (rest == "clear") {
            a.inquiryResults.clear();
            return "OK";
        }
        if (rest.compare(0, 4, "add ") == 0) {
            std::string text;
            if (!unescape(rest.substr(4), text)) return "ERR bad escape";
            a.inquiryResults.push_back(text);
            return "OK";
        }
        if (rest.compare(0, 7, "device ") == 0 && args.size() >= 3) {
            // The name is the rest of the line after the address.
            std::string name;
            if (!unescape(rest.substr(rest.find(args[1], 7) + args[1].size() + 1), name)) return "ERR bad escape";
            a.inquiryResults.push_back(inquiryResultText(args[1], name));
            return "OK";
        }
        return "ERR usage: inquiry add TEXT|device ADDR NAME|clear";
    }
    if (verb == "state") return stateText();
    if (verb == "tty") {
        std::ostringstream o;
        o << "OK baud=" << tty.baud << " stop=" << tty.stopBits << " crtscts=" << (tty.crtscts ? 1 : 0);
        return o.str();
    }
    if (verb == "received") {
        std::string reply = "OK";
        for (const std::string& c : a.executed()) reply += " " + escape(c);
        return reply;
    }
    if (verb == "data") return a.dataReceived().empty() ? "OK" : "OK " + escape(a.dataReceived());
    if (verb == "clear") {
        for (Adapter& each : adapters_) each.clearLog();
        garbled_ = 0;
        discarded_ = 0;
        return "OK";
    }
    if (verb == "reset") {
        powerOnState();
        return "OK";
    }
    if (verb == "quit") {
        quit_ = true;
        return "OK";
    }
    return "ERR unknown request " + verb;
}

}  // namespace sim
