// Figures for the AT command engine, printed, not judged:
//  1. the receive path's cost per byte (dispatch, framing and the handling
//     of each completed answer) over a few MB of mixed answers;
//  2. the inquiry handling's cost per byte: inquiries of nine devices and the
//     end line (a full record), over and over;
//  3. a complete Get Device Info against the simulated adapter at 115200
//     baud, next to its floor: 16 round trips of the 10 ms read interval
//     plus the wire time of every byte both ways;
//  4. remote configuration round trips over a connection at 115200 baud:
//     the handshake and a baud change, each from the write of the request
//     to its reply handled on the read thread.
// The last two run only under tools/with-sim (RZ310_SIM_CONTROL set).
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "support/sim_client.h"
#include "support/sim_port.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double nowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int noSettle() { return 0; }

struct Exchange {
    const char* command;
    uint32_t expectsReply;
    std::string answer;
};

std::vector<Exchange> mixedAnswers()
{
    std::vector<Exchange> list;
    auto query = [&](const char* command, const std::string& text, bool echo) {
        list.push_back({command, 1, (echo ? std::string(command) : "") + "\r\n" + text + "\r\nOK\r\n"});
    };
    auto setting = [&](const char* command, bool echo) {
        list.push_back({command, 0, (echo ? std::string(command) : "") + "\r\nOK\r\n"});
    };
    for (bool echo : {true, false}) {
        query("AT+VER\r", "RZ310 F/W V1.0", echo);
        query("AT+NAME?\r", "Serial Adapter", echo);
        query("AT+ADDR?\r", "0012-6F-123456", echo);
        query("AT+BAUD?\r", "BAUD17", echo);
        query("AT+STOP?\r", "STOP1", echo);
        setting("AT+ECHO+\r", echo);
        setting("AT+NAME=Workshop\r", echo);
        setting("AT+STOP1\r", echo);
        setting("AT+DCOV+\r", echo);
    }
    return list;
}

void benchFraming()
{
    seams.uartChangeSettings = noSettle;
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    device.isDeviceInitialised = 1;
    device.responseOn = 1;
    const std::vector<Exchange> exchanges = mixedAnswers();

    const size_t target = 4u << 20;
    size_t bytes = 0;
    size_t answers = 0;
    double start = nowMs();
    while (bytes < target) {
        for (const Exchange& e : exchanges) {
            // The pending command, as sendAtCommand records it.
            strcpy(atCommand.command, e.command);
            atCommand.expectsReplyLine = e.expectsReply;
            for (size_t at = 0; at < e.answer.size(); at += RX_BUFFER_SIZE) {
                size_t n = std::min<size_t>(RX_BUFFER_SIZE, e.answer.size() - at);
                memcpy(rxBuffer, e.answer.data() + at, n);
                dispatchUartData(static_cast<int32_t>(n));
            }
            bytes += e.answer.size();
            ++answers;
        }
    }
    double elapsed = nowMs() - start;
    printf("receive path: %zu bytes in %zu answers, %.1f ms: %.1f ns/byte, %.2f us/answer\n", bytes, answers, elapsed,
           elapsed * 1e6 / static_cast<double>(bytes), elapsed * 1e3 / static_cast<double>(answers));
    if (atCommand.command[0] != '\0')
        printf("receive path: an answer was left unfinished (%s)\n", atCommand.command);

    // The same bytes in one-byte blocks: the framing keeps its state across blocks.
    size_t small = 0;
    start = nowMs();
    while (small < target / 8) {
        for (const Exchange& e : exchanges) {
            strcpy(atCommand.command, e.command);
            atCommand.expectsReplyLine = e.expectsReply;
            for (char c : e.answer) {
                rxBuffer[0] = static_cast<uint8_t>(c);
                dispatchUartData(1);
            }
            small += e.answer.size();
        }
    }
    elapsed = nowMs() - start;
    printf("receive path, one byte per block: %zu bytes, %.1f ns/byte\n", small,
           elapsed * 1e6 / static_cast<double>(small));

    // The framing alone: reply lines that never complete, so nothing is handled.
    std::string lines;
    while (lines.size() < RX_BUFFER_SIZE * 1000)
        lines += "\r\nRZ310 F/W V1.0\r\n";
    strcpy(atCommand.command, "AT+VER\r");
    atCommand.expectsReplyLine = 1;
    size_t framed = 0;
    start = nowMs();
    for (int round = 0; round < 20; ++round) {
        for (size_t at = 0; at + RX_BUFFER_SIZE <= lines.size(); at += RX_BUFFER_SIZE) {
            memcpy(rxBuffer, lines.data() + at, RX_BUFFER_SIZE);
            dispatchUartData(RX_BUFFER_SIZE);
            framed += RX_BUFFER_SIZE;
        }
    }
    elapsed = nowMs() - start;
    printf("framing alone (reply lines, nothing handled): %zu bytes, %.1f ns/byte\n", framed,
           elapsed * 1e6 / static_cast<double>(framed));
    memset(&atCommand, 0, sizeof atCommand);

    // Answers without the event: what the wake-up of the sender costs under Wine.
    CloseHandle(atCommandEvent);
    atCommandEvent = nullptr;
    size_t quiet = 0;
    start = nowMs();
    while (quiet < target / 8) {
        for (const Exchange& e : exchanges) {
            strcpy(atCommand.command, e.command);
            atCommand.expectsReplyLine = e.expectsReply;
            memcpy(rxBuffer, e.answer.data(), e.answer.size());
            dispatchUartData(static_cast<int32_t>(e.answer.size()));
            quiet += e.answer.size();
        }
    }
    elapsed = nowMs() - start;
    printf("receive path without setting the event: %zu bytes, %.1f ns/byte\n", quiet,
           elapsed * 1e6 / static_cast<double>(quiet));
    seams.uartChangeSettings = UartChangeSettings;
}

void benchInquiry()
{
    std::string one;
    for (int i = 0; i < 9; ++i)
        one += "\r\nDevice " + std::to_string(i) + std::string(26, ' ') + "0012-6F-00000" + std::to_string(i);
    one += "\r\nInquiry End\r\n";
    size_t bytes = 0;
    double start = nowMs();
    while (bytes < (4u << 20)) {
        // What the OK to AT+FIND? leaves behind.
        memset(&inquiry, 0, sizeof inquiry);
        inquiry.keepNextByte = 1;
        device.isInquiryActive = 1;
        for (size_t at = 0; at < one.size(); at += RX_BUFFER_SIZE) {
            size_t n = std::min<size_t>(RX_BUFFER_SIZE, one.size() - at);
            memcpy(rxBuffer, one.data() + at, n);
            dispatchUartData(static_cast<int32_t>(n));
        }
        bytes += one.size();
    }
    double elapsed = nowMs() - start;
    printf("inquiry handling: %zu bytes in inquiries of 9 devices, %.1f ns/byte, %.2f us/inquiry\n", bytes,
           elapsed * 1e6 / static_cast<double>(bytes), elapsed * 1e3 * static_cast<double>(one.size()) / bytes);
    if (inquiry.resultCount != INQUIRY_RESULTS || device.isInquiryActive != 0)
        printf("inquiry handling: the last inquiry ended with %d results, active %d\n", inquiry.resultCount,
               device.isInquiryActive);
    resetEngineState();
}

size_t receivedBytes = 0;
void countAndDispatch(const uint8_t*, uint32_t count)
{
    receivedBytes += count;
    dispatchUartData(static_cast<int32_t>(count));
}

size_t sentBytes = 0;
int countAndWrite(const uint8_t* buffer, uint32_t length)
{
    sentBytes += length;
    return UartWrite(buffer, length);
}

void benchDeviceInfo()
{
    if (!getenv("RZ310_SIM_CONTROL")) {
        printf("get device info: skipped (run under tools/with-sim)\n");
        return;
    }
    SimClient sim;
    if (!sim.connected() || !sim.ok("reset") || !sim.setLine(115200, "none", 1, true)) {
        printf("get device info: simulator not reachable: %s\n", sim.lastError().c_str());
        return;
    }
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    seams.uartReceive = countAndDispatch;
    seams.uartWrite = countAndWrite;
    if (openSimPort(115200) != 0) {
        printf("get device info: COM%d did not open\n", uart.port);
        return;
    }
    const double interval = 10.0; // the read's interval time-out
    const double msPerByte = 10.0 / 115.2;
    std::vector<double> times;
    double floor = 0;
    for (int run = 0; run < 10; ++run) {
        resetEngineState();
        device.isDeviceInitialised = 1;
        sentBytes = 0;
        receivedBytes = 0;
        double start = nowMs();
        getDeviceInfo();
        times.push_back(nowMs() - start);
        floor = DEVICE_INFO_QUERIES * interval + static_cast<double>(sentBytes + receivedBytes) * msPerByte;
    }
    UartDeinit();
    seams.uartReceive = nullptr;
    seams.uartWrite = UartWrite;
    CloseHandle(atCommandEvent);
    atCommandEvent = nullptr;
    std::sort(times.begin(), times.end());
    printf("get device info at 115200: median %.1f ms, best %.1f ms, worst %.1f ms over %zu runs\n",
           times[times.size() / 2], times.front(), times.back(), times.size());
    printf(
        "get device info floor: %.1f ms (16 x %.0f ms interval + %zu bytes sent + %zu received at %.3f ms/byte);"
        " median is %.2fx the floor\n",
        floor, interval, sentBytes, receivedBytes, msPerByte, times[times.size() / 2] / floor);
    if (device.version[0] == '\0')
        printf("get device info: the version was not read\n");
}

HANDLE replyHandled = nullptr;
void dispatchAndSignal(const uint8_t*, uint32_t count)
{
    dispatchUartData(static_cast<int32_t>(count));
    if (device.isHandshakeActive == 0)
        SetEvent(replyHandled);
}

UINT_PTR WINAPI noTimer(HWND, UINT_PTR id, UINT, TIMERPROC) { return id; }

void benchRemote()
{
    if (!getenv("RZ310_SIM_CONTROL"))
        return;
    SimClient sim;
    // Already connected, without the report and its box.
    if (!sim.ok("reset") || !sim.setLine(115200, "none", 1, true) || !sim.set("connected", "on") ||
        !sim.set("datamode", "on")) {
        printf("remote round trips: simulator not reachable: %s\n", sim.lastError().c_str());
        return;
    }
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    replyHandled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    seams.uartReceive = dispatchAndSignal;
    seams.setTimer = noTimer;
    if (openSimPort(115200) != 0) {
        printf("remote round trips: COM%d did not open\n", uart.port);
        return;
    }
    resetEngineState();
    device.isDeviceInitialised = device.isConnected = device.isDataMode = 1;
    const double msPerByte = 10.0 / 115.2;
    std::vector<double> handshakes, bauds;
    int failures = 0;
    for (int run = 0; run < 50; ++run) {
        double start = nowMs();
        startHandshake();
        failures += WaitForSingleObject(replyHandled, 1000) != WAIT_OBJECT_0 || handshakeState != HANDSHAKE_COMPLETE;
        handshakes.push_back(nowMs() - start);
        start = nowMs();
        sendRemoteCommand(REMOTE_CMD_BAUD, static_cast<uint8_t>(1 + run % 5));
        failures += WaitForSingleObject(replyHandled, 1000) != WAIT_OBJECT_0;
        bauds.push_back(nowMs() - start);
    }
    UartDeinit();
    seams.uartReceive = nullptr;
    seams.setTimer = SetTimer;
    CloseHandle(replyHandled);
    CloseHandle(atCommandEvent);
    atCommandEvent = nullptr;
    resetEngineState();
    for (auto* times : {&handshakes, &bauds})
        std::sort(times->begin(), times->end());
    printf("remote handshake at 115200: median %.1f ms, worst %.1f ms (floor 10 ms interval + 10 bytes = %.1f ms)\n",
           handshakes[handshakes.size() / 2], handshakes.back(), 10.0 + 10 * msPerByte);
    printf("remote baud change at 115200: median %.1f ms, worst %.1f ms (floor 10 ms interval + 4 bytes = %.1f ms)\n",
           bauds[bauds.size() / 2], bauds.back(), 10.0 + 4 * msPerByte);
    if (failures)
        printf("remote round trips: %d of 100 replies missing or wrong\n", failures);
}

} // namespace

int main()
{
    benchFraming();
    benchInquiry();
    benchDeviceInfo();
    benchRemote();
    return 0;
}
