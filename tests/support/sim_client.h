// Client for the adapter simulator's control channel, for Windows test
// programs run under Wine by tools/with-sim. One request line, one reply
// line: "OK", "OK <payload>" or "ERR <reason>".
#pragma once

#include "tools/adapter-sim/src/escape.h"

#include <map>
#include <string>
#include <vector>

struct SimTty {
    int baud = 0;
    int stop = 0;
    bool crtscts = false;
};

class SimClient {
public:
    // Connects to RZ310_SIM_CONTROL ("127.0.0.1:PORT").
    SimClient();
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool connected() const;
    // Why the last request or the connection failed; empty when it did not.
    const std::string& lastError() const { return error_; }

    // The reply line without its newline; "ERR ..." when the channel failed.
    std::string request(const std::string& line);
    // True when the request was answered "OK" (with or without payload).
    bool ok(const std::string& line);

    std::map<std::string, std::string> state() { return pairs("state"); }
    std::vector<std::string> received();
    // The bytes the adapter took in data mode.
    std::string data();
    bool clear() { return ok("clear"); }
    SimTty tty();
    // Parity "none", "odd" or "even".
    bool setLine(int baud, const std::string& parity, int stop, bool flow)
    {
        return ok("line " + std::to_string(baud) + " " + parity + " " + std::to_string(stop) + (flow ? " on" : " off"));
    }
    // `value` is escaped on the way, so it may hold any bytes.
    bool set(const std::string& key, const std::string& value) { return ok("set " + key + " " + sim::escape(value)); }
    bool inject(const std::string& bytes) { return ok("inject " + sim::escape(bytes)); }

private:
    // The escaped words after "OK " in the reply; empty when there are none.
    std::vector<std::string> words(const std::string& line);
    // The "key=value" words of the reply, values unescaped.
    std::map<std::string, std::string> pairs(const std::string& line);
    std::string fail(const std::string& why);

    unsigned long long socket_;
    bool wsaStarted_ = false;
    std::string pending_;
    std::string error_;
};

// RZ310_SIM_COM as a number; 0 when it is not set.
int simComPort();
