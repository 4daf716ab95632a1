// A randomized check of the receive path, short in the unit tests and long in
// bench_receive_fuzz. Each round pends a command, then hands the engine the
// adapter's answer (echoed or not, after a stray byte or not) and random bytes
// in random blocks. After every block each text field ends within its size and
// the event is set at most once; a handled answer is what the adapter said.
#pragma once
#include "atcommand/atcommand.h"
#include "serial/uart.h"

#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

struct ReceiveFuzzResult {
    uint64_t blocks = 0;
    uint64_t rounds = 0;
    uint64_t answers = 0;   // answers handled for a pending blocking command
    std::string failure;    // the first broken rule, empty when none
};

namespace receive_fuzz {

struct Kind {
    const char* command;   // empty: nothing pending
    uint32_t expectsReply;
    uint32_t timerMode;
    char* field;           // the field a reply fills, nullptr when none
    size_t size;
};

inline const char* unterminatedField()
{
    const struct {
        const char* name;
        const char* field;
        size_t size;
    } fields[] = {
        {"device.name", device.name, sizeof device.name},
        {"device.address", device.address, sizeof device.address},
        {"device.pin", device.pin, sizeof device.pin},
        {"device.version", device.version, sizeof device.version},
        {"remoteAddress", remoteAddress, sizeof remoteAddress},
        {"atCommand.command", atCommand.command, sizeof atCommand.command},
        {"atCommand.response", atCommand.response, sizeof atCommand.response},
        {"atCommand.param", atCommand.param, sizeof atCommand.param},
    };
    for (const auto& f : fields)
        if (!memchr(f.field, '\0', f.size))
            return f.name;
    for (const auto& result : inquiry.results)
        if (!memchr(result, '\0', sizeof result))
            return "inquiry.results";
    return nullptr;
}

} // namespace receive_fuzz

// Runs rounds until `blocks` blocks have been dispatched or a rule breaks.
// `between` runs after every round (the unit test pumps its stand-in window).
template <typename Between>
ReceiveFuzzResult runReceiveFuzz(uint64_t blocks, uint32_t seed, Between between)
{
    using namespace receive_fuzz;
    const Kind kinds[] = {
        {"AT+NAME?\r", 1, 0, device.name, sizeof device.name},
        {"AT+ADDR?\r", 1, 0, device.address, sizeof device.address},
        {"AT+PIN?\r", 1, 0, device.pin, sizeof device.pin},
        {"AT+VER\r", 1, 0, device.version, sizeof device.version},
        {"AT+ECHO+\r", 0, 0, nullptr, 0},
        {"AT+STOP2\r", 0, 0, nullptr, 0},
        {"AT+RESP-\r", 0, 0, nullptr, 0},
        {"+++", 1, 0, nullptr, 0},
        {"AT+FIND?\r", 0, 0, nullptr, 0},
        {"AT+ENQ\r", 0, 1, nullptr, 0},
        {"", 0, 0, nullptr, 0},
    };
    // Reply texts start so that they are neither a status word nor a report,
    // but they may hold both.
    const char* const replyStarts[] = {"n", "CONNECTOR", "DISCONNECT ME", "CONNECT 0012-6F-65432Z", "x OK"};
    const std::string tokens[] = {
        "\r\n", "\r", "\n", "CONNECT", "DISCONNECT", " 0012-6F-654321", " 00126F654321", " \"0012-6F-654321\"",
        " Attempt Fail!!", "OK", "ERROR", "RESP+", std::string(1, '\0'), "Inquiry End", " ", "AT+NAME?\r",
        std::string(700, 'L'), "\xff\x80", "MyName"};
    std::mt19937 rng(seed);
    auto pickOf = [&](size_t n) { return static_cast<size_t>(rng() % n); };

    ReceiveFuzzResult result;
    while (result.blocks < blocks && result.failure.empty()) {
        ++result.rounds;
        const Kind& kind = kinds[pickOf(sizeof kinds / sizeof kinds[0])];
        const bool blocking = kind.command[0] != '\0' && kind.timerMode == 0;
        device.responseOn = static_cast<int32_t>(rng() % 2);
        device.isInquiryActive = 0;
        device.isHandshakeActive = 0;
        memset(&atCommand, 0, sizeof atCommand);
        strcpy(atCommand.command, kind.command);
        atCommand.expectsReplyLine = kind.expectsReply;
        atCommand.timerMode = kind.timerMode;
        ResetEvent(atCommandEvent);
        if (kind.field)
            strcpy(kind.field, "before");

        std::string bytes;
        if (rng() % 4 == 0)
            bytes += "X#\x01"[pickOf(3)];   // a stray byte before the answer
        if (rng() % 2 == 0 && kind.command[0] != '\0' && strcmp(kind.command, "+++") != 0)
            bytes += kind.command;   // the echo
        std::string expected;
        if (kind.field) {
            expected = replyStarts[pickOf(5)];
            for (size_t n = pickOf(4); n > 0; --n)
                expected += "0123 CONNECT OK"[pickOf(15)];
            bytes += "\r\n" + expected + "\r\n" + (device.responseOn ? "OK\r\n" : "");
            expected = expected.substr(0, kind.size - 1);
        } else if (blocking) {
            bool bare = strcmp(kind.command, "AT+RESP-\r") == 0 ||
                        (device.responseOn == 0 && kind.expectsReply == 0);
            bytes += bare ? "\r\n" : (rng() % 4 == 0 ? "\r\nERROR\r\n" : "\r\nOK\r\n");
        }
        for (size_t n = pickOf(12); n > 0; --n) {
            if (rng() % 3 == 0)
                bytes += static_cast<char>(rng() % 256);
            else
                bytes += tokens[pickOf(sizeof tokens / sizeof tokens[0])];
        }

        int sets = 0;
        for (size_t at = 0; at < bytes.size() && result.failure.empty();) {
            size_t n = std::min(bytes.size() - at, 1 + pickOf(rng() % 2 ? 8 : RX_BUFFER_SIZE));
            memcpy(rxBuffer, bytes.data() + at, n);
            dispatchUartData(static_cast<int32_t>(n));
            at += n;
            ++result.blocks;
            if (WaitForSingleObject(atCommandEvent, 0) == WAIT_OBJECT_0) {
                ++sets;
                ResetEvent(atCommandEvent);
            }
            if (const char* field = unterminatedField())
                result.failure = std::string(field) + " not terminated";
            else if (sets > (blocking ? 1 : 0))
                result.failure = "event set twice or with nothing pending";
        }
        if (kind.timerMode == 1)
            processTimedResponse();
        if (result.failure.empty() && blocking) {
            if (sets != 1)
                result.failure = "answer not handled once";
            else if (kind.field && expected != kind.field)
                result.failure = "handled answer changed to \"" + std::string(kind.field) + "\"";
            ++result.answers;
        }
        if (!result.failure.empty())
            result.failure += " (round " + std::to_string(result.rounds) + ", " + kind.command + ")";
        between();
    }
    return result;
}
