// The serial driver against the simulated adapter behind its COM port. The
// completions the platform gives rarely or never on its own (a read done at
// once, a failed read, writes that stay pending) come from stand-ins for the
// port's read and write calls on the really open port.
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "serial/uart_internal.h"
#include "support/sim_client.h"
#include "support/sim_port.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

// Everything the receive hook saw.
struct Received {
    std::mutex lock;
    std::string bytes;
    std::vector<DWORD> threads;
    std::atomic<int> inHook{0};
    std::atomic<int> afterClose{0};
    std::atomic<DWORD> holdMs{0};
} received;

void receiveHook(const uint8_t* data, uint32_t count)
{
    received.inHook++;
    // UartDeinit clears the record only once no block can come any more.
    if (uart.eventCallback == nullptr)
        received.afterClose++;
    {
        std::lock_guard<std::mutex> guard(received.lock);
        received.bytes.append(reinterpret_cast<const char*>(data), count);
        received.threads.push_back(GetCurrentThreadId());
    }
    if (DWORD ms = received.holdMs.load())
        Sleep(ms);
    received.inHook--;
}

std::string receivedBytes()
{
    std::lock_guard<std::mutex> guard(received.lock);
    return received.bytes;
}

int write(const std::string& text)
{
    return UartWrite(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

std::string token(int i)
{
    char text[16];
    snprintf(text, sizeof text, "<%06d>", i);
    return text;
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset") && sim.ok("pace off"));
        sim.clear();
        clear();
        seams.uartReceive = receiveHook;
    }
    void TearDown() override
    {
        UartDeinit();
        seams.uartReceive = nullptr;
        uartReadFile = ReadFile;
        uartWriteFile = WriteFile;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(received.lock);
        received.bytes.clear();
        received.threads.clear();
        received.afterClose = 0;
        received.holdMs = 0;
    }
    int open(int baud, int parity = PARITY_NONE, int stopBits = 1, int flow = 1)
    {
        return openSimPort(baud, parity, stopBits, flow);
    }
    // Waits until what the hook got ends in `ending`.
    bool waitFor(const std::string& ending, DWORD ms = 3000)
    {
        return window.pumpUntil(
            [&] {
                std::string got = receivedBytes();
                return got.size() >= ending.size() && got.compare(got.size() - ending.size(), ending.size(), ending) == 0;
            },
            ms);
    }

    SimClient sim;
    StandInMainWindow window;
    MessageBoxRecorder boxes;
};

// Each setting as the simulator's tty sees it. Parity never reaches a pty,
// so the parity code is read from the trace; values outside the lists fall
// back to 19200, no parity, one stop bit and no flow control.
TEST_F(SerialPort, LineSettingsReachThePort)
{
    struct Row { int baud, parity, stop, flow, ttyBaud, ttyStop; bool crtscts; const char* parityCode; };
    const Row rows[] = {
        {1200, PARITY_NONE, 1, 0, 1200, 1, false, "0"},    {2400, PARITY_ODD, 2, 0, 2400, 2, false, "1"},
        {4800, PARITY_EVEN, 1, 1, 4800, 1, true, "2"},     {9600, PARITY_NONE, 2, 1, 9600, 2, true, "0"},
        {19200, PARITY_ODD, 1, 0, 19200, 1, false, "1"},   {38400, PARITY_EVEN, 2, 0, 38400, 2, false, "2"},
        {57600, PARITY_NONE, 1, 1, 57600, 1, true, "0"},   {115200, PARITY_ODD, 2, 1, 115200, 2, true, "1"},
        {230400, PARITY_EVEN, 1, 0, 230400, 1, false, "2"}, {0, 0, 0, 7, 19200, 1, false, "0"},
        {57600, PARITY_MARK, 3, 1, 57600, 1, true, "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baud);
        TraceCapture trace;
        ASSERT_EQ(open(row.baud, row.parity, row.stop, row.flow), 0);
        SimTty tty = sim.tty();
        EXPECT_EQ(tty.baud, row.ttyBaud);
        EXPECT_EQ(tty.stop, row.ttyStop);
        EXPECT_EQ(tty.crtscts, row.crtscts);
        UartDeinit();
        EXPECT_TRUE(trace.contains(std::string("UART: Setting parity to ") + row.parityCode));
    }
    // 14400 is used as it stands, though no list offers it (a pty has no
    // such rate, so only the trace shows it).
    TraceCapture trace;
    ASSERT_EQ(open(14400), 0);
    UartDeinit();
    EXPECT_TRUE(trace.contains("UART: Setting baudrate to 14400"));
    EXPECT_EQ(boxes.count(), 0u);
}

// Numbered tokens stream in while the port is opened and closed again and
// again, so that data waits for the first read and closing meets a block in
// hand (half the rounds hold the hook). No block comes twice or out of
// order, none after UartDeinit, and every read thread ends with its port.
TEST_F(SerialPort, CloseAndReopenWhileDataStreams)
{
    TraceCapture trace;
    std::atomic<bool> stop{false};
    std::thread injector([&] {
        SimClient feed;
        for (int i = 0; !stop.load(); ++i)
            feed.inject(token(i));
    });
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        clear();
        received.holdMs = round % 2 ? 30 : 0;
        EXPECT_EQ(open(19200), 0);
        window.pumpUntil([&] { return !receivedBytes().empty(); }, 3000);
        window.pump(round * 7);
        UartDeinit();
        EXPECT_EQ(received.inHook.load(), 0);
        EXPECT_EQ(hComPort, nullptr);

        std::string got = receivedBytes();
        int last = -1;
        for (size_t at = got.find('<'); at != std::string::npos && at + 8 <= got.size(); at = got.find('<', at + 1)) {
            int number = atoi(got.c_str() + at + 1);
            EXPECT_GT(number, last) << "twice or out of order: " << got.substr(at, 8);
            last = number;
        }
        EXPECT_GE(last, 0) << "nothing received";
        window.pump(120);
        EXPECT_EQ(received.afterClose.load(), 0);
    }
    stop = true;
    injector.join();
    EXPECT_EQ(trace.count("UART: Started tReadThread"), 10u);
    EXPECT_EQ(trace.count("UART: tReadThread Exiting...."), 10u);
}

constexpr ULONG_PTR STATUS_OK = 0;
constexpr ULONG_PTR STATUS_STILL_PENDING = 0x103;
constexpr ULONG_PTR STATUS_DEVICE_ERROR = 0xC0000185;   // ERROR_IO_DEVICE

std::atomic<int> immediateReads{0};
std::atomic<int> immediateIssued{0};
std::atomic<bool> failNextRead{false};

// Completes at once the way the system does, with the event signalled too;
// or fails once; otherwise reads for real.
BOOL WINAPI readStandIn(HANDLE port, LPVOID buffer, DWORD size, LPDWORD count, LPOVERLAPPED overlapped)
{
    if (immediateReads.load() > 0) {
        // The first waits until the read thread is surely in its wait.
        if (immediateIssued.load() == 0)
            Sleep(100);
        std::string text = token(immediateIssued++);
        memcpy(buffer, text.data(), text.size());   // no terminator
        overlapped->Internal = STATUS_OK;
        overlapped->InternalHigh = text.size();
        SetEvent(overlapped->hEvent);
        *count = static_cast<DWORD>(text.size());
        if (--immediateReads == 0) {
            // Time for the read thread to wake on the last signal, and the
            // last block is held while it is awake.
            received.holdMs = 100;
            Sleep(50);
        }
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

// A run of reads done at once is handed over by the thread that issued
// them, before UartInit returns, each block once, without deepening the
// stack; the read thread does not hand the last one over again.
TEST_F(SerialPort, ReadsDoneAtOnce)
{
    constexpr int RUN = 200;
    immediateReads = RUN;
    immediateIssued = 0;
    static std::atomic<uintptr_t> low, high;
    low = UINTPTR_MAX;
    high = 0;
    seams.uartReceive = [](const uint8_t* data, uint32_t count) {
        volatile char mark = 0;
        low = std::min<uintptr_t>(low, reinterpret_cast<uintptr_t>(&mark));
        high = std::max<uintptr_t>(high, reinterpret_cast<uintptr_t>(&mark));
        receiveHook(data, count);
    };
    uartReadFile = readStandIn;
    memset(rxBuffer, 'Z', sizeof rxBuffer);
    TraceCapture trace;
    ASSERT_EQ(open(19200), 0);
    received.holdMs = 0;
    seams.uartReceive = receiveHook;

    std::string expected;
    for (int i = 0; i < RUN; ++i)
        expected += token(i);
    EXPECT_EQ(receivedBytes(), expected);
    {
        std::lock_guard<std::mutex> guard(received.lock);
        EXPECT_EQ(std::count(received.threads.begin(), received.threads.end(), GetCurrentThreadId()), RUN);
    }
    EXPECT_LT(high - low, 4096u);
    // Reading goes on as usual after the run.
    write("AT\r");
    ASSERT_TRUE(waitFor("\r\nOK\r\n")) << simEscape(receivedBytes());
    EXPECT_EQ(receivedBytes(), expected + "AT\r\r\nOK\r\n");
    // The trace shows the bytes read, not the rest of the buffer.
    EXPECT_TRUE(trace.contains("UART: Read 8 bytes from UART. buffer <000000> len 200"));
}

TEST_F(SerialPort, FailedReadIsReportedOnceAndReadingStops)
{
    TraceCapture trace;
    failNextRead = true;
    uartReadFile = readStandIn;
    ASSERT_EQ(open(19200), 0);
    window.pump(1700);
    sim.inject("late\r\n");
    window.pump(300);
    UartDeinit();
    EXPECT_EQ(trace.count("UART: Failed to ReadData. Error 1117"), 1u);
    EXPECT_EQ(trace.countPrefix("UART: WaitForSingleObject failed."), 0u);
    EXPECT_EQ(receivedBytes(), "");
}

struct StuckWrite {
    OVERLAPPED* overlapped;
    HANDLE event;
    const char* bytes;
};
std::vector<StuckWrite> stuckWrites;

BOOL WINAPI writeStaysPending(HANDLE, LPCVOID buffer, DWORD, LPDWORD, LPOVERLAPPED overlapped)
{
    stuckWrites.push_back({overlapped, overlapped->hEvent, static_cast<const char*>(buffer)});
    overlapped->Internal = STATUS_STILL_PENDING;
    ResetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

void finish(const StuckWrite& stuck)
{
    stuck.overlapped->Internal = STATUS_OK;
    SetEvent(stuck.event);
}

// Each write in flight keeps its own request and its own copy of the bytes
// while the caller reuses its buffer; a request is taken again only once it
// has ended, and with none ended a write is refused rather than overwritten.
TEST_F(SerialPort, PendingWritesNeverShareTheirState)
{
    ASSERT_EQ(open(19200), 0);
    stuckWrites.clear();
    uartWriteFile = writeStaysPending;
    char buffer[16];
    for (int i = 0; i < WRITE_REQUESTS; ++i) {
        snprintf(buffer, sizeof buffer, "AT+W%d\r", i);
        EXPECT_EQ(UartWrite(reinterpret_cast<const uint8_t*>(buffer), 6), 2);
        memset(buffer, '#', sizeof buffer);
    }
    ASSERT_EQ(stuckWrites.size(), static_cast<size_t>(WRITE_REQUESTS));
    auto intact = [](int i) { return std::string(stuckWrites[i].bytes, 6) == "AT+W" + std::to_string(i) + "\r"; };
    for (int i = 0; i < WRITE_REQUESTS; ++i) {
        EXPECT_TRUE(intact(i)) << i;
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(stuckWrites[i].overlapped, stuckWrites[j].overlapped);
            EXPECT_NE(stuckWrites[i].event, stuckWrites[j].event);
            EXPECT_NE(stuckWrites[i].bytes, stuckWrites[j].bytes);
        }
    }

    finish(stuckWrites[1]);
    EXPECT_EQ(write("AT+NEXT\r"), 2);
    ASSERT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    EXPECT_EQ(stuckWrites.back().overlapped, stuckWrites[1].overlapped);
    EXPECT_TRUE(intact(0) && intact(2) && intact(3));

    EXPECT_EQ(write("AT+MORE\r"), 1);
    EXPECT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    for (size_t i : {0u, 2u, 3u, 4u})
        finish(stuckWrites[i]);
}

} // namespace
