#include "sim_client.h"

// winsock2.h must come before anything that pulls in windows.h.
#include <winsock2.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// A reply that does not come within this time means the simulator is gone
// or stuck; the test should fail rather than hang.
const DWORD kReplyTimeoutMs = 5000;

SOCKET asSocket(unsigned long long s) { return static_cast<SOCKET>(s); }

} // namespace

int simComPort()
{
    const char* com = std::getenv("RZ310_SIM_COM");
    return com ? std::atoi(com) : 0;
}

SimClient::SimClient() : socket_(static_cast<unsigned long long>(INVALID_SOCKET))
{
    const char* control = std::getenv("RZ310_SIM_CONTROL");
    const char* colon = control ? std::strrchr(control, ':') : nullptr;
    if (!colon) {
        error_ = "RZ310_SIM_CONTROL is not set";
        return;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        error_ = "WSAStartup failed";
        return;
    }
    wsaStarted_ = true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(colon + 1)));
    address.sin_addr.s_addr = inet_addr(std::string(control, colon).c_str());
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    if (s == INVALID_SOCKET) {
        error_ = std::string("cannot connect to ") + control;
        return;
    }
    DWORD timeout = kReplyTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    socket_ = static_cast<unsigned long long>(s);
}

SimClient::~SimClient()
{
    if (connected())
        closesocket(asSocket(socket_));
    if (wsaStarted_)
        WSACleanup();
}

bool SimClient::connected() const { return asSocket(socket_) != INVALID_SOCKET; }

// Drops the channel: after a failure a late reply would answer the next request.
std::string SimClient::fail(const std::string& why)
{
    error_ = why;
    closesocket(asSocket(socket_));
    socket_ = static_cast<unsigned long long>(INVALID_SOCKET);
    return "ERR " + error_;
}

std::string SimClient::request(const std::string& line)
{
    if (!connected())
        return "ERR not connected: " + error_;
    std::string out = line + "\n";
    for (size_t sent = 0; sent < out.size();) {
        int n = send(asSocket(socket_), out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n <= 0)
            return fail("send failed");
        sent += static_cast<size_t>(n);
    }
    size_t nl;
    while ((nl = pending_.find('\n')) == std::string::npos) {
        char buf[4096];
        int n = recv(asSocket(socket_), buf, sizeof buf, 0);
        if (n <= 0)
            return fail(n == 0 ? "simulator closed the channel" : "no reply to " + line);
        pending_.append(buf, static_cast<size_t>(n));
    }
    std::string reply = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    error_.clear();
    return reply;
}

bool SimClient::ok(const std::string& line)
{
    std::string reply = request(line);
    bool good = reply == "OK" || reply.compare(0, 3, "OK ") == 0;
    if (!good && error_.empty())
        error_ = line + ": " + reply;
    return good;
}

std::vector<std::string> SimClient::words(const std::string& line)
{
    std::vector<std::string> result;
    std::string reply = request(line);
    if (reply.compare(0, 3, "OK ") != 0)
        return result;
    std::istringstream in(reply.substr(3));
    for (std::string word; in >> word;)
        result.push_back(word);
    return result;
}

std::map<std::string, std::string> SimClient::pairs(const std::string& line)
{
    std::map<std::string, std::string> result;
    for (const std::string& kv : words(line)) {
        size_t eq = kv.find('=');
        std::string value;
        if (eq != std::string::npos && sim::unescape(kv.substr(eq + 1), value))
            result[kv.substr(0, eq)] = value;
    }
    return result;
}

std::vector<std::string> SimClient::received()
{
    std::vector<std::string> result;
    for (const std::string& word : words("received")) {
        std::string command;
        if (sim::unescape(word, command))
            result.push_back(command);
    }
    return result;
}

std::string SimClient::data()
{
    std::vector<std::string> escaped = words("data");
    std::string bytes;
    if (!escaped.empty())
        sim::unescape(escaped[0], bytes);
    return bytes;
}

SimTty SimClient::tty()
{
    std::map<std::string, std::string> t = pairs("tty");
    return SimTty{std::atoi(t["baud"].c_str()), std::atoi(t["stop"].c_str()), std::atoi(t["crtscts"].c_str()) != 0};
}
