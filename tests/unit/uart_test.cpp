#include <gtest/gtest.h>
#include "serial/uart.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <windows.h>
#include <tlhelp32.h>
#include <cstring>
#include <string>

namespace {

size_t threadCount()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t n = 0;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

DWORD handleCount()
{
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

bool isZero(const Uart& record)
{
    Uart zero;
    memset(&zero, 0, sizeof zero);
    return memcmp(&record, &zero, sizeof record) == 0;
}

TEST(UartDriver, DeinitWithoutInitLeavesZeroedRecord)
{
    TraceCapture trace;
    memset(&uart, 0x5A, sizeof uart);
    EXPECT_EQ(UartDeinit(), 0);
    EXPECT_TRUE(isZero(uart));
    // Twice in a row is as harmless as once.
    EXPECT_EQ(UartDeinit(), 0);
    EXPECT_TRUE(isZero(uart));
    EXPECT_EQ(trace.count("UART: +UartDeinit"), 2u);
    EXPECT_EQ(trace.count("UART: Setting isUartActive to FALSE."), 1u);
    EXPECT_EQ(trace.count("UART: -UartDeinit"), 2u);
}

TEST(UartDriver, MissingPortGivesFourOneBoxNoThreadNoLeak)
{
    MessageBoxRecorder boxes;
    TraceCapture trace;
    memset(&uart, 0, sizeof uart);
    uart.port = 42;
    uart.baud = 115200;
    uart.stopBits = 1;
    uart.parity = PARITY_NONE;

    size_t threadsBefore = threadCount();
    EXPECT_EQ(UartInit(), 4);
    EXPECT_EQ(uart.isUartActive, 0);
    EXPECT_EQ(threadCount(), threadsBefore);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(narrow(boxes.texts()[0]),
              "Failed to open COM42. Please check no other application is using the port or the right port is selected");
    EXPECT_EQ(boxes.threads()[0], GetCurrentThreadId());

    // Whatever a failed open created is released again.
    DWORD handlesBefore = handleCount();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(UartInit(), 4);
    EXPECT_EQ(handleCount(), handlesBefore);
    EXPECT_EQ(boxes.count(), 6u);

    EXPECT_TRUE(trace.contains("Opening Port \\\\?\\COM42 \\\\?\\COM42"));
    EXPECT_EQ(trace.countPrefix("UART: Failed to open COM42. Error "), 6u);
    EXPECT_EQ(trace.countPrefix("UART: Started tReadThread"), 0u);
    UartDeinit();
}

TEST(UartDriver, WriteTraceStopsAtByteCount)
{
    TraceCapture trace;
    memset(&uart, 0, sizeof uart);
    const uint8_t bytes[] = {'A', 'T', 'Z', 'Z', 'Z', 'Z'};   // no terminator
    EXPECT_EQ(UartWrite(bytes, 2), 1);

    std::string big(5000, 'w');
    EXPECT_EQ(UartWrite(reinterpret_cast<const uint8_t*>(big.data()), 5000), 1);
    UartDeinit();

    EXPECT_EQ(trace.countPrefix("UART: WriteFile failed to write buffer AT len 2 to UART. Error "), 1u);
    bool sawBig = false;
    for (const auto& line : trace.lines()) {
        EXPECT_LE(line.size(), 1023u);
        const std::string start = "UART: WriteFile failed to write buffer wwwww";
        sawBig |= line.compare(0, start.size(), start) == 0;
    }
    EXPECT_TRUE(sawBig);
}

} // namespace
