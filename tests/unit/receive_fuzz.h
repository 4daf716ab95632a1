// A randomized check of the receive path, short in the unit tests and long in
// bench_receive_fuzz. Each round pends a command, runs an inquiry or awaits a
// handshake reply, and hands the engine the answer (echoed or not, amid stray
// bytes that hold none of the command's characters) and random bytes, twice from
// the same records, cut differently; at each box the window may record a command.
// Fields stay terminated, the event is set only for a waiting sender, an answer
// keeps its value, both runs end alike, and a recorded command gets its answer.
#pragma once
#include "atcommand/internal.h"
#include "serial/uart.h"

#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>

struct ReceiveFuzzResult {
    uint64_t blocks = 0, rounds = 0;
    uint64_t answers = 0;             // answers handled for a pending blocking command
    uint64_t boxes = 0, recorded = 0; // boxes, and commands the window recorded at one
    std::string failure;              // the first broken rule, empty when none
};

namespace receive_fuzz {

// Records a blocking command as sendAtCommand does, without sending it.
inline void recordCommand(const char* text, uint32_t expectsReplyLine)
{
    ResetEvent(atCommandEvent);
    copyText(atCommand.command, COMMAND_SIZE, text);
    atCommand.expectsReplyLine = expectsReplyLine;
    atCommand.timerMode = 0;
    resetFraming();
    ++commandGeneration;
}

// What the window does while the read thread shows a box.
inline std::function<void()> onBox;
inline int boxHook(const wchar_t*, UINT)
{
    if (onBox)
        onBox();
    return IDOK;
}

// The records a received block may change, as bytes; put back from `from`.
inline std::string records(const std::string* from = nullptr)
{
    // clang-format off
    const std::pair<void*, size_t> parts[] = {
        {&atCommand, sizeof atCommand}, {&device, sizeof device}, {&inquiry, sizeof inquiry},
        {&pairing, sizeof pairing}, {&uart, sizeof uart}, {remoteAddress, sizeof remoteAddress},
        {&handshakeState, sizeof handshakeState}, {&handshakeRespLen, sizeof handshakeRespLen},
        {handshakeResp, sizeof handshakeResp}, {&handshakeCommand, sizeof handshakeCommand}};
    // clang-format on
    std::string s;
    for (const auto& part : parts) {
        if (from)
            memcpy(part.first, from->data() + s.size(), part.second);
        s.append(static_cast<const char*>(part.first), part.second);
    }
    return s;
}

inline const char* unterminatedField()
{
// clang-format off
#define RZ_FIELD(f) {#f, f, sizeof f}
    // clang-format on
    const struct {
        const char* name;
        const char* field;
        size_t size;
    } fields[] = {RZ_FIELD(device.name),        RZ_FIELD(device.address), RZ_FIELD(device.pin),
                  RZ_FIELD(device.version),     RZ_FIELD(remoteAddress),  RZ_FIELD(atCommand.command),
                  RZ_FIELD(atCommand.response), RZ_FIELD(atCommand.param)};
#undef RZ_FIELD
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
    // clang-format off
    using namespace receive_fuzz;
    const struct {
        const char* command;   // empty: nothing pending
        uint32_t expectsReply, timerMode;
        char* field;           // the field a reply fills, nullptr when none
        size_t size;
        bool handshake = false;   // a handshake reply awaited (AT+FIND? starts inquiries)
    } kinds[] = {
        {"AT+NAME?\r", 1, 0, device.name, sizeof device.name}, {"AT+PIN?\r", 1, 0, device.pin, sizeof device.pin},
        {"AT+ADDR?\r", 1, 0, device.address, sizeof device.address}, {"AT+ECHO+\r", 0, 0, nullptr, 0},
        {"AT+STOP2\r", 0, 0, nullptr, 0}, {"AT+RESP-\r", 0, 0, nullptr, 0}, {"+++", 1, 0, nullptr, 0},
        {"AT+FIND?\r", 0, 0, nullptr, 0}, {"AT+ENQ\r", 0, 1, nullptr, 0}, {"", 0, 0, nullptr, 0},
        {"", 0, 0, nullptr, 0, true},
    };
    // clang-format on
    // The window's command at a box; no round's own answer fills its field.
    const char* const windowCommand = "AT+VER\r";
    // Reply texts start so that they are neither a status word nor a report,
    // but they may hold both.
    const char* const replyStarts[] = {"n", "CONNECTOR", "DISCONNECT ME", "CONNECT 0012-6F-65432Z", "x OK"};
    // clang-format off
    const std::string tokens[] = {
        "\r\n", "\r", "\n", "CONNECT", "DISCONNECT", " 0012-6F-654321", " 00126F654321", " \"0012-6F-654321\"",
        " Attempt Fail!!", "OK", "ERROR", "RESP+", std::string(1, '\0'), "Inquiry End", " ", "AT+NAME?\r",
        std::string(700, 'L'), "\xff\x80", "MyName"};
    // clang-format on
    const std::string reports[] = {"\r\nDISCONNECT\r\n", "\r\nCONNECT 0012-6F-654321\r\n"};
    // While a handshake reply is awaited a block holding a report is one, so
    // that round has reply bytes alone.
    const std::string replyBytes[] = {"\xAA", std::string(1, '\0'), "\x55", "\r\n", "x"};
    std::mt19937 rng(seed);
    auto pickOf = [&](size_t n) { return static_cast<size_t>(rng() % n); };

    ReceiveFuzzResult result;
    MessageBoxHook savedHook = seams.messageBox;
    seams.messageBox = boxHook;
    while (result.blocks < blocks && result.failure.empty()) {
        ++result.rounds;
        const auto& kind = kinds[pickOf(sizeof kinds / sizeof kinds[0])];
        const bool blocking = kind.command[0] != '\0' && kind.timerMode == 0;
        device.responseOn = static_cast<int32_t>(rng() % 2);
        device.isInquiryActive = 0;
        device.isHandshakeActive = kind.handshake;
        handshakeState = device.isHandshakeActive ? HANDSHAKE_PENDING + static_cast<int32_t>(rng() % 2) : 0;
        handshakeRespLen = 0;
        memset(&atCommand, 0, sizeof atCommand);
        strcpy(atCommand.command, kind.command);
        atCommand.expectsReplyLine = kind.expectsReply;
        atCommand.timerMode = kind.timerMode;
        if (kind.field)
            strcpy(kind.field, "before");

        auto stray = [&](size_t most) {
            std::string s;
            for (size_t n = pickOf(most + 1); n > 0;) {
                char c = static_cast<char>(rng() % 256);
                if (c != '\r' && !strchr(kind.command, c))
                    s += c, --n;
            }
            return s;
        };
        std::string expected, bytes = stray(4);
        if (rng() % 2 == 0 && kind.command[0] != '\0' && strcmp(kind.command, "+++") != 0)
            bytes += kind.command + stray(2); // the echo
        if (kind.field) {
            expected = replyStarts[pickOf(5)];
            for (size_t n = pickOf(4); n > 0; --n)
                expected += "0123 CONNECT OK"[pickOf(15)];
            bytes += "\r\n" + expected + "\r\n" + (device.responseOn ? "OK\r\n" : "");
            expected = expected.substr(0, kind.size - 1);
        } else if (blocking) {
            bool bare = strcmp(kind.command, "AT+RESP-\r") == 0 || (device.responseOn == 0 && kind.expectsReply == 0);
            bytes += bare ? "\r\n" : (rng() % 4 == 0 ? "\r\nERROR\r\n" : "\r\nOK\r\n");
            bytes += stray(1) + "x"; // a report right after a bare CR LF would come first
        }
        for (size_t n = pickOf(12); n > 0; --n) {
            if (kind.handshake)
                bytes += replyBytes[pickOf(5)];
            else if (rng() % 3 == 0)
                bytes += static_cast<char>(rng() % 256);
            else
                bytes += rng() % 4 == 0 ? reports[pickOf(2)] : tokens[pickOf(sizeof tokens / sizeof tokens[0])];
        }

        const uint32_t recordAt = rng(); // bit k: the window records a command at box k
        const std::string before = records();
        std::string after;
        for (int pass = 0; pass < 2 && result.failure.empty(); ++pass) {
            records(&before);
            ResetEvent(atCommandEvent);
            const char* waiting = blocking ? kind.command : nullptr; // whose sender waits
            bool answered = false, windowBusy = false;
            int box = 0;
            auto poll = [&] {
                if (WaitForSingleObject(atCommandEvent, 0) != WAIT_OBJECT_0)
                    return;
                ResetEvent(atCommandEvent);
                if (!waiting && result.failure.empty())
                    result.failure = "event set with no sender waiting";
                answered = answered || waiting == kind.command;
                waiting = nullptr;
            };
            onBox = [&] {
                ++result.boxes;
                poll();
                if (!waiting && !windowBusy && ((recordAt >> (box++ % 32)) & 1))
                    recordCommand(windowCommand, 1), waiting = windowCommand, ++result.recorded;
            };
            auto dispatch = [&](const std::string& block) {
                dispatchUartData(static_cast<int32_t>(block.copy(reinterpret_cast<char*>(rxBuffer), block.size())));
            };
            for (size_t at = 0; at < bytes.size() && result.failure.empty();) {
                size_t n = std::min(bytes.size() - at, 1 + pickOf(rng() % 2 ? 8 : RX_BUFFER_SIZE));
                dispatch(bytes.substr(at, n));
                at += n;
                ++result.blocks;
                poll();
                if (const char* field = unterminatedField())
                    result.failure = std::string(field) + " not terminated";
            }
            windowBusy = true;
            if (kind.timerMode == 1)
                processTimedResponse();
            if (!result.failure.empty())
                break;
            if (blocking && !answered)
                result.failure = "answer not handled once";
            else if (kind.field && expected != kind.field)
                result.failure = "handled answer changed to \"" + std::string(kind.field) + "\"";
            else if (waiting == windowCommand && strcmp(atCommand.command, windowCommand) != 0)
                result.failure = "a command recorded at a box was lost";
            else if (pass == 1 && records() != after)
                result.failure = "records differ when the same bytes are cut elsewhere";
            after = records();
            if (waiting == windowCommand && result.failure.empty()) {
                // Its answer after a re-send, which frames afresh.
                resetFraming();
                dispatch("\r\nV7.3\r\n" + std::string(device.responseOn ? "OK\r\n" : ""));
                if (WaitForSingleObject(atCommandEvent, 0) != WAIT_OBJECT_0 || strcmp(device.version, "V7.3") != 0)
                    result.failure = "a command recorded at a box lost its answer";
            }
            result.answers += blocking;
        }
        onBox = nullptr;
        if (!result.failure.empty())
            result.failure +=
                " (round " + std::to_string(result.rounds) + ", " + (kind.handshake ? "handshake" : kind.command) + ")";
        between();
    }
    seams.messageBox = savedHook;
    return result;
}
