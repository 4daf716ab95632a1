// A randomized check of the receive path, short in the unit tests and long in
// bench_receive_fuzz. Each round pends a command (or runs an inquiry, or
// awaits a handshake reply), then hands the engine the adapter's answer
// (echoed or not, with stray bytes around it that hold none of the command's
// characters) and random bytes, twice from the same records, cut into
// different random blocks; both runs must end in the same records. Every box
// may let the window record a command. After every block each text field
// ends within its size and the event is set only for a waiting sender; a
// handled answer is what the adapter said, and a recorded command survives
// until its answer.
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
#include <vector>

struct ReceiveFuzzResult {
    uint64_t blocks = 0;
    uint64_t rounds = 0;
    uint64_t answers = 0;   // answers handled for a pending blocking command
    uint64_t boxes = 0;
    uint64_t recorded = 0;  // commands the window recorded at a box
    std::string failure;    // the first broken rule, empty when none
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

inline std::function<void()> onBox;
inline int boxHook(const wchar_t*, UINT)
{
    if (onBox)
        onBox();
    return IDOK;
}

// The records a received block may change, as bytes.
inline std::string records()
{
    std::string s;
    auto add = [&](const void* p, size_t n) { s.append(static_cast<const char*>(p), n); };
    add(&atCommand, sizeof atCommand), add(&device, sizeof device), add(&inquiry, sizeof inquiry);
    add(&pairing, sizeof pairing), add(&uart, sizeof uart), add(remoteAddress, sizeof remoteAddress);
    add(&handshakeState, sizeof handshakeState), add(&handshakeRespLen, sizeof handshakeRespLen);
    add(handshakeResp, sizeof handshakeResp), add(&handshakeCommand, sizeof handshakeCommand);
    return s;
}

inline void restore(const std::string& s)
{
    size_t at = 0;
    auto take = [&](void* p, size_t n) { memcpy(p, s.data() + at, n), at += n; };
    take(&atCommand, sizeof atCommand), take(&device, sizeof device), take(&inquiry, sizeof inquiry);
    take(&pairing, sizeof pairing), take(&uart, sizeof uart), take(remoteAddress, sizeof remoteAddress);
    take(&handshakeState, sizeof handshakeState), take(&handshakeRespLen, sizeof handshakeRespLen);
    take(handshakeResp, sizeof handshakeResp), take(&handshakeCommand, sizeof handshakeCommand);
}

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
    enum Setup { COMMAND, INQUIRY, HANDSHAKE };
    const struct {
        const char* command;   // empty: nothing pending
        uint32_t expectsReply, timerMode;
        char* field;           // the field a reply fills, nullptr when none
        size_t size;
        Setup setup = COMMAND;
    } kinds[] = {
        {"AT+NAME?\r", 1, 0, device.name, sizeof device.name},
        {"AT+ADDR?\r", 1, 0, device.address, sizeof device.address},
        {"AT+PIN?\r", 1, 0, device.pin, sizeof device.pin},
        {"AT+ECHO+\r", 0, 0, nullptr, 0},
        {"AT+STOP2\r", 0, 0, nullptr, 0},
        {"AT+RESP-\r", 0, 0, nullptr, 0},
        {"+++", 1, 0, nullptr, 0},
        {"AT+FIND?\r", 0, 0, nullptr, 0},
        {"AT+ENQ\r", 0, 1, nullptr, 0},
        {"", 0, 0, nullptr, 0},
        {"", 0, 0, nullptr, 0, INQUIRY},
        {"", 0, 0, nullptr, 0, HANDSHAKE},
    };
    // The window's command at a box: its version reply fills a field that no
    // round's own answer fills.
    const char* const recordedCommand = "AT+VER\r";
    // Reply texts start so that they are neither a status word nor a report,
    // but they may hold both.
    const char* const replyStarts[] = {"n", "CONNECTOR", "DISCONNECT ME", "CONNECT 0012-6F-65432Z", "x OK"};
    const std::string tokens[] = {
        "\r\n", "\r", "\n", "CONNECT", "DISCONNECT", " 0012-6F-654321", " 00126F654321", " \"0012-6F-654321\"",
        " Attempt Fail!!", "OK", "ERROR", "RESP+", std::string(1, '\0'), "Inquiry End", " ", "AT+NAME?\r",
        std::string(700, 'L'), "\xff\x80", "MyName"};
    // While a handshake reply is awaited, a report line comes in a block of
    // its own (a block holding one is a report); the rest are reply bytes.
    const std::string handshakeTokens[] = {"\xAA", std::string(1, '\0'), "\x55", "\r\n", "x"};
    const std::string reportLines[] = {"\r\nDISCONNECT\r\n", "\r\nCONNECT 0012-6F-654321\r\n"};
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
        device.isInquiryActive = kind.setup == INQUIRY;
        device.isHandshakeActive = kind.setup == HANDSHAKE;
        handshakeState = kind.setup == HANDSHAKE ? HANDSHAKE_PENDING + static_cast<int32_t>(rng() % 2) : 0;
        handshakeRespLen = 0;
        memset(&atCommand, 0, sizeof atCommand);
        if (kind.setup == INQUIRY) {
            memset(&inquiry, 0, sizeof inquiry);
            inquiry.keepNextByte = 1;
        }
        strcpy(atCommand.command, kind.command);
        atCommand.expectsReplyLine = kind.expectsReply;
        atCommand.timerMode = kind.timerMode;
        if (kind.field)
            strcpy(kind.field, "before");

        // Segments of the stream; a whole one is a block of its own.
        std::vector<std::pair<std::string, bool>> segments;
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
            bytes += kind.command + stray(2);   // the echo
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
        if (blocking)
            bytes += stray(1).substr(0, 1) + "x";   // no report right after a bare CR LF
        segments.emplace_back(bytes, false);
        for (size_t n = pickOf(12); n > 0; --n) {
            if (kind.setup == HANDSHAKE)
                segments.emplace_back(rng() % 5 ? handshakeTokens[pickOf(5)] : reportLines[pickOf(2)], false);
            else if (rng() % 3 == 0)
                segments.emplace_back(std::string(1, static_cast<char>(rng() % 256)), false);
            else if (rng() % 4 == 0)
                segments.emplace_back(reportLines[pickOf(2)], false);
            else
                segments.emplace_back(tokens[pickOf(sizeof tokens / sizeof tokens[0])], false);
            segments.back().second = segments.back().first.size() > 4 && kind.setup == HANDSHAKE;
        }
        auto cut = [&] {
            std::vector<std::string> out;
            std::string run;
            auto flush = [&] {
                for (size_t at = 0; at < run.size();) {
                    size_t n = std::min(run.size() - at, 1 + pickOf(rng() % 2 ? 8 : RX_BUFFER_SIZE));
                    out.push_back(run.substr(at, n));
                    at += n;
                }
                run.clear();
            };
            for (const auto& segment : segments) {
                if (segment.second)
                    flush(), out.push_back(segment.first);
                else
                    run += segment.first;
            }
            flush();
            return out;
        };

        const uint32_t recordAtBox = rng();   // bit k: the window records at box k
        const std::string before = records();
        std::string after;
        for (int pass = 0; pass < 2 && result.failure.empty(); ++pass) {
            restore(before);
            ResetEvent(atCommandEvent);
            const char* waiting = blocking ? kind.command : nullptr;   // whose sender waits
            bool answered = false, uiBusy = false;
            int box = 0;
            auto poll = [&] {
                if (WaitForSingleObject(atCommandEvent, 0) != WAIT_OBJECT_0)
                    return;
                ResetEvent(atCommandEvent);
                if (waiting == nullptr && result.failure.empty())
                    result.failure = "event set with no sender waiting";
                answered = answered || waiting == kind.command;
                waiting = nullptr;
            };
            onBox = [&] {
                ++result.boxes;
                poll();
                if (waiting || uiBusy || !((recordAtBox >> (box++ % 32)) & 1))
                    return;
                recordCommand(recordedCommand, 1);
                waiting = recordedCommand;
                ++result.recorded;
            };
            for (const std::string& block : cut()) {
                memcpy(rxBuffer, block.data(), block.size());
                dispatchUartData(static_cast<int32_t>(block.size()));
                ++result.blocks;
                poll();
                if (const char* field = unterminatedField())
                    result.failure = std::string(field) + " not terminated";
                if (!result.failure.empty())
                    break;
            }
            uiBusy = true;
            if (kind.timerMode == 1)
                processTimedResponse();
            if (!result.failure.empty())
                break;
            if (blocking && !answered)
                result.failure = "answer not handled once";
            else if (kind.field && expected != kind.field)
                result.failure = "handled answer changed to \"" + std::string(kind.field) + "\"";
            else if (waiting == recordedCommand && strcmp(atCommand.command, recordedCommand) != 0)
                result.failure = "a command recorded at a box was lost";
            else if (pass == 1 && records() != after)
                result.failure = "records differ when the same bytes are cut elsewhere";
            after = records();
            if (waiting == recordedCommand && result.failure.empty()) {
                // Its answer, after a re-send: the sender re-frames from scratch.
                resetFraming();
                std::string version = "\r\nV7.3\r\n" + std::string(device.responseOn ? "OK\r\n" : "");
                memcpy(rxBuffer, version.data(), version.size());
                dispatchUartData(static_cast<int32_t>(version.size()));
                if (WaitForSingleObject(atCommandEvent, 0) != WAIT_OBJECT_0 || strcmp(device.version, "V7.3") != 0)
                    result.failure = "a command recorded at a box lost its answer";
            }
            result.answers += blocking;
        }
        onBox = nullptr;
        if (!result.failure.empty())
            result.failure += " (round " + std::to_string(result.rounds) + ", " + kind.command +
                              (kind.setup == INQUIRY ? "inquiry" : kind.setup == HANDSHAKE ? "handshake" : "") + ")";
        between();
    }
    seams.messageBox = savedHook;
    return result;
}
