// Completions the platform gives rarely or never on its own (a read done at
// once, a failed read, writes that stay pending), produced by stand-ins for
// the port's read and write calls on a really open port.
#include "serial_fixture.h"
#include "unit/trace_capture.h"

#include <cstdio>

namespace {

constexpr ULONG_PTR STATUS_OK = 0;
constexpr ULONG_PTR STATUS_STILL_PENDING = 0x103;
constexpr ULONG_PTR STATUS_DEVICE_ERROR = 0xC0000185;   // ERROR_IO_DEVICE

std::atomic<int> immediateReads{0};
std::atomic<int> immediateIssued{0};
std::atomic<bool> failNextRead{false};

// Completes at once the way the system does: the event is signalled as well.
BOOL WINAPI readAtOnce(HANDLE port, LPVOID buffer, DWORD size, LPDWORD count, LPOVERLAPPED overlapped)
{
    if (immediateReads.load() > 0) {
        // The first one waits until the read thread is surely in its wait.
        if (immediateIssued.load() == 0)
            Sleep(100);
        --immediateReads;
        char token[16];
        int n = snprintf(token, sizeof token, "<%06d>", immediateIssued++);
        memcpy(buffer, token, n);
        overlapped->Internal = STATUS_OK;
        overlapped->InternalHigh = n;
        SetEvent(overlapped->hEvent);
        *count = n;
        // Time for the read thread to wake on that signal.
        Sleep(immediateReads.load() == 0 ? 50 : 0);
        return TRUE;
    }
    if (failNextRead.exchange(false)) {
        overlapped->Internal = STATUS_DEVICE_ERROR;
        overlapped->InternalHigh = 0;
        SetEvent(overlapped->hEvent);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return ReadFile(port, buffer, size, count, overlapped);
}

struct StuckWrite {
    OVERLAPPED* overlapped;
    HANDLE event;
    const void* bytes;
    std::string text;
};
std::vector<StuckWrite> stuckWrites;

BOOL WINAPI writeStaysPending(HANDLE, LPCVOID buffer, DWORD length, LPDWORD, LPOVERLAPPED overlapped)
{
    stuckWrites.push_back({overlapped, overlapped->hEvent, buffer,
                           std::string(static_cast<const char*>(buffer), length)});
    overlapped->Internal = STATUS_STILL_PENDING;
    ResetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

void finish(const StuckWrite& write)
{
    write.overlapped->InternalHigh = write.text.size();
    write.overlapped->Internal = STATUS_OK;
    SetEvent(write.event);
}

using Completions = SerialPort;

TEST_F(Completions, ReadDoneAtOnceIsDispatchedOnceByItsIssuer)
{
    immediateReads = 1;
    immediateIssued = 0;
    uartReadFile = readAtOnce;
    // The block is held while the read thread is awake on the signal.
    received.holdMs = 100;
    memset(rxBuffer, 'Z', sizeof rxBuffer);
    TraceCapture trace;
    ASSERT_EQ(open(19200), 0);
    received.holdMs = 0;
    EXPECT_TRUE(trace.contains("UART: Read 8 bytes from UART. buffer <000000> len 200"));
    // Handed over before UartInit returned, on this thread.
    EXPECT_EQ(receivedBytes(), "<000000>");
    {
        std::lock_guard<std::mutex> guard(received.lock);
        ASSERT_EQ(received.threads.size(), 1u);
        EXPECT_EQ(received.threads[0], GetCurrentThreadId());
    }
    window.pump(1200);
    EXPECT_EQ(receivedBytes(), "<000000>");
    write("AT\r");
    ASSERT_TRUE(waitFor("\r\nOK\r\n")) << simEscape(receivedBytes());
    EXPECT_EQ(receivedBytes(), "<000000>AT\r\r\nOK\r\n");
}

TEST_F(Completions, RunOfReadsDoneAtOnceKeepsTheStackFlat)
{
    constexpr int RUN = 400;
    immediateReads = RUN;
    immediateIssued = 0;
    static std::atomic<uintptr_t> low{UINTPTR_MAX}, high{0};
    low = UINTPTR_MAX;
    high = 0;
    uartReceiveHook = [](const uint8_t* data, uint32_t count) {
        volatile char mark = 0;
        uintptr_t here = reinterpret_cast<uintptr_t>(&mark);
        if (here < low)
            low = here;
        if (here > high)
            high = here;
        receiveHook(data, count);
    };
    uartReadFile = readAtOnce;
    ASSERT_EQ(open(19200), 0);
    std::string got = receivedBytes();
    ASSERT_EQ(got.size(), RUN * 8u);
    for (int i = 0; i < RUN; ++i) {
        char token[16];
        snprintf(token, sizeof token, "<%06d>", i);
        ASSERT_EQ(got.compare(i * 8, 8, token), 0) << i;
    }
    EXPECT_LT(high - low, 4096u);
}

TEST_F(Completions, FailedReadIsReportedOnceAndReadingStops)
{
    TraceCapture trace;
    failNextRead = true;
    uartReadFile = readAtOnce;
    ASSERT_EQ(open(19200), 0);
    window.pump(1700);
    sim.inject("late\r\n");
    window.pump(300);
    UartDeinit();
    EXPECT_EQ(trace.count("UART: Failed to ReadData. Error 1117"), 1u);
    EXPECT_EQ(trace.countPrefix("UART: WaitForSingleObject failed."), 0u);
    EXPECT_EQ(receivedBytes(), "");
}

TEST_F(Completions, PendingWritesNeverShareTheirState)
{
    ASSERT_EQ(open(19200), 0);
    TraceCapture trace;
    stuckWrites.clear();
    uartWriteFile = writeStaysPending;

    char buffer[16];
    for (int i = 0; i < WRITE_REQUESTS; ++i) {
        snprintf(buffer, sizeof buffer, "AT+W%d\r", i);
        EXPECT_EQ(UartWrite(reinterpret_cast<const uint8_t*>(buffer), 6), 2);
        memset(buffer, '#', sizeof buffer);
    }
    ASSERT_EQ(stuckWrites.size(), static_cast<size_t>(WRITE_REQUESTS));
    for (int i = 0; i < WRITE_REQUESTS; ++i) {
        EXPECT_NE(stuckWrites[i].bytes, static_cast<const void*>(buffer));
        EXPECT_EQ(std::string(static_cast<const char*>(stuckWrites[i].bytes), 6), "AT+W" + std::to_string(i) + "\r");
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(stuckWrites[i].overlapped, stuckWrites[j].overlapped);
            EXPECT_NE(stuckWrites[i].event, stuckWrites[j].event);
            EXPECT_NE(stuckWrites[i].bytes, stuckWrites[j].bytes);
        }
    }

    // Once one has ended, its state is the one taken next.
    finish(stuckWrites[1]);
    EXPECT_EQ(write("AT+NEXT\r"), 2);
    ASSERT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    EXPECT_EQ(stuckWrites.back().overlapped, stuckWrites[1].overlapped);
    for (int i : {0, 2, 3})
        EXPECT_EQ(std::string(static_cast<const char*>(stuckWrites[i].bytes), 6), "AT+W" + std::to_string(i) + "\r");

    // None ends at all: refused rather than overwritten.
    EXPECT_EQ(write("AT+MORE\r"), 1);
    EXPECT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    for (size_t i : {0u, 2u, 3u, 4u})
        finish(stuckWrites[i]);
    UartDeinit();
    EXPECT_EQ(trace.count("UART: buffer AT+W0\r len 6 Write pending to UART"), 1u);
    EXPECT_EQ(trace.countPrefix("UART: WriteFile failed to write buffer AT+MORE\r len 8 to UART. Error "), 1u);
}

} // namespace
