#include "sim_client.h"

// winsock2.h must come before anything that pulls in windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>

namespace {

// A reply that does not come within this time means the simulator is gone
// or stuck; the test should fail rather than hang.
const DWORD kReplyTimeoutMs = 5000;

SOCKET asSocket(unsigned long long s) { return static_cast<SOCKET>(s); }

}  // namespace

int simComPort() {
    const char* com = std::getenv("RZ310_SIM_COM");
    return com ? std::atoi(com) : 0;
}

SimClient::SimClient() : socket_(static_cast<unsigned long long>(INVALID_SOCKET)) {
    const char* control = std::getenv("RZ310_SIM_CONTROL");
    if (!control) {
        error_ = "RZ310_SIM_CONTROL is not set";
        return;
    }
    open(control);
}

SimClient::~SimClient() {
    if (connected()) closesocket(asSocket(socket_));
    if (wsaStarted_) WSACleanup();
}

bool SimClient::connected() const { return asSocket(socket_) != INVALID_SOCKET; }

void SimClient::open(const std::string& hostPort) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        error_ = "WSAStartup failed";
        return;
    }
    wsaStarted_ = true;
    size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) {
        error_ = "bad control address " + hostPort;
        return;
    }
    std::string host = hostPort.substr(0, colon);
    std::string port = hostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        error_ = "cannot resolve " + hostPort;
        return;
    }
    SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    if (s == INVALID_SOCKET) {
        error_ = "cannot connect to " + hostPort;
        return;
    }
    DWORD timeout = kReplyTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    socket_ = static_cast<unsigned long long>(s);
    error_.clear();
}

std::string SimClient::request(const std::string& line) {
    if (!connected()) return "ERR not connected: " + error_;
    std::string out = line + "\n";
    size_t sent = 0;
    while (sent < out.size()) {
        int n = send(asSocket(socket_), out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n <= 0) {
            error_ = "send failed";
            closesocket(asSocket(socket_));
            socket_ = static_cast<unsigned long long>(INVALID_SOCKET);
            return "ERR " + error_;
        }
        sent += static_cast<size_t>(n);
    }
    size_t nl;
    while ((nl = pending_.find('\n')) == std::string::npos) {
        char buf[4096];
        int n = recv(asSocket(socket_), buf, sizeof buf, 0);
        if (n <= 0) {
            // After a time-out a late reply would answer the next request:
            // drop the channel instead.
            error_ = n == 0 ? "simulator closed the channel" : "no reply to " + line;
            closesocket(asSocket(socket_));
            socket_ = static_cast<unsigned long long>(INVALID_SOCKET);
            return "ERR " + error_;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
    std::string reply = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    error_.clear();
    return reply;
}

bool SimClient::ok(const std::string& line) {
    std::string reply = request(line);
    bool good = reply == "OK" || reply.compare(0, 3, "OK ") == 0;
    if (!good && error_.empty()) error_ = line + ": " + reply;
    return good;
}

std::map<std::string, std::string> SimClient::state() { return pairs("state"); }

std::map<std::string, std::string> SimClient::pairs(const std::string& line) {
    std::map<std::string, std::string> result;
    std::string reply = request(line);
    if (reply.compare(0, 3, "OK ") != 0) return result;
    std::istringstream in(reply.substr(3));
    for (std::string kv; in >> kv;) {
        size_t eq = kv.find('=');
        if (eq == std::string::npos) continue;
        std::string value;
        if (sim::unescape(kv.substr(eq + 1), value)) result[kv.substr(0, eq)] = value;
    }
    return result;
}

std::vector<std::string> SimClient::received() {
    std::vector<std::string> result;
    std::string reply = request("received");
    if (reply.compare(0, 3, "OK ") != 0) return result;
    std::istringstream in(reply.substr(3));
    for (std::string word; in >> word;) {
        std::string command;
        if (sim::unescape(word, command)) result.push_back(command);
    }
    return result;
}

std::string SimClient::data() {
    std::string reply = request("data");
    std::string bytes;
    if (reply.compare(0, 3, "OK ") == 0 && sim::unescape(reply.substr(3), bytes)) return bytes;
    return std::string();
}

bool SimClient::clear() { return ok("clear"); }

SimTty SimClient::tty() {
    std::map<std::string, std::string> t = pairs("tty");
    return SimTty{std::atoi(t["baud"].c_str()), std::atoi(t["stop"].c_str()), std::atoi(t["crtscts"].c_str()) != 0};
}

bool SimClient::setLine(int baud, const std::string& parity, int stop, bool flow) {
    std::ostringstream o;
    o << "line " << baud << ' ' << parity << ' ' << stop << ' ' << (flow ? "on" : "off");
    return ok(o.str());
}

bool SimClient::set(const std::string& key, const std::string& value) {
    return ok("set " + key + " " + sim::escape(value));
}

bool SimClient::inject(const std::string& bytes) { return ok("inject " + sim::escape(bytes)); }
