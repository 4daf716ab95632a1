// The serial driver without a port: a port that does not exist and the trace of a write.
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <cstring>

// The operator is told once per attempt, on the calling thread, and no read
// thread starts.
TEST(UartDriver, MissingPortGivesFourAndOneBoxAndWritesAreTracedWithinTheirBuffer)
{
    MessageBoxRecorder boxes;
    TraceCapture trace;
    memset(&uart, 0, sizeof uart);
    uart.port = 42;
    uart.baud = 115200;
    EXPECT_EQ(UartInit(), 4);
    EXPECT_EQ(uart.isUartActive, 0);
    EXPECT_EQ(boxes.threads(), std::vector<DWORD>{GetCurrentThreadId()});
    EXPECT_EQ(UartInit(), 4);
    EXPECT_EQ(boxes.count(), 2u);
    UartDeinit();

    // The trace of a write shows the bytes counted, not what follows them, and
    // a write longer than its trace buffer is cut to a line that fits.
    const uint8_t bytes[] = {'A', 'T', 'Z', 'Z', 'Z', 'Z'}; // no terminator
    EXPECT_EQ(UartWrite(bytes, 2), 1);
    std::string big(5000, 'w');
    EXPECT_EQ(UartWrite(reinterpret_cast<const uint8_t*>(big.data()), 5000), 1);

    EXPECT_EQ(trace.countPrefix("UART: WriteFile failed to write buffer AT len 2 to UART. Error "), 1u);
    EXPECT_EQ(trace.countPrefix("UART: WriteFile failed to write buffer wwwww"), 1u);
    for (const auto& line : trace.lines())
        EXPECT_LE(line.size(), 1023u);
    EXPECT_EQ(trace.count("UART: Started tReadThread"), 0u);
}
