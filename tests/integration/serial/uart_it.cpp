// The serial driver against the simulated adapter behind its COM port. The
// completions the platform gives rarely or never on its own (a read done at
// once, a failed read, writes that stay pending) come from stand-ins for the
// port's read and write calls on the really open port.
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "atcommand/atcommand.h"
#include "common/notify.h"
#include "serial/uart_internal.h"
#include "support/sim_client.h"
#include "support/sim_port.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {

// Everything the receive hook saw.
struct Received {
    std::mutex lock;
    std::string bytes;
    std::vector<DWORD> threads;
    std::atomic<DWORD> holdMs{0};
    std::atomic<uintptr_t> lowStack{UINTPTR_MAX}, highStack{0}; // a handler that recursed shows
} received;

void receiveHook(const uint8_t* data, uint32_t count)
{
    volatile char mark = 0;
    received.lowStack = std::min<uintptr_t>(received.lowStack, reinterpret_cast<uintptr_t>(&mark));
    received.highStack = std::max<uintptr_t>(received.highStack, reinterpret_cast<uintptr_t>(&mark));
    {
        std::lock_guard<std::mutex> guard(received.lock);
        received.bytes.append(reinterpret_cast<const char*>(data), count);
        received.threads.push_back(GetCurrentThreadId());
    }
    if (DWORD ms = received.holdMs.load())
        Sleep(ms);
}

std::string receivedBytes()
{
    std::lock_guard<std::mutex> guard(received.lock);
    return received.bytes;
}

// Whether every other thread the hook ran on (the read thread) has ended:
// then no block is in hand and none can come any more.
bool readThreadEnded()
{
    std::lock_guard<std::mutex> guard(received.lock);
    bool ended = true;
    for (DWORD id : received.threads)
        if (HANDLE thread = id == GetCurrentThreadId() ? nullptr : OpenThread(SYNCHRONIZE, FALSE, id)) {
            ended = ended && WaitForSingleObject(thread, 0) != WAIT_TIMEOUT;
            CloseHandle(thread);
        }
    return ended;
}

int write(const std::string& text) { return UartWrite(reinterpret_cast<const uint8_t*>(text.c_str()), text.size()); }
std::string token(int i) { return "<" + std::to_string(1000000 + i).substr(1) + ">"; } // "<000042>"

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset") && sim.ok("pace off"));
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
        received.bytes.clear(), received.threads.clear();
        received.holdMs = 0, received.lowStack = UINTPTR_MAX, received.highStack = 0;
    }
    bool waitFor(const std::string& all)
    {
        return window.pumpUntil([&] { return receivedBytes() == all; }, 3000);
    }

    SimClient sim;
    StandInMainWindow window;
    MessageBoxRecorder boxes;
};

// Each setting as the simulator's tty sees it, and the rate and parity code
// the trace shows (parity never reaches a pty, nor does 14400, which is used
// as it stands though no list offers it). Values outside the lists fall back
// to 19200, no parity, one stop bit and no flow control.
TEST_F(SerialPort, LineSettingsReachThePort)
{
    // clang-format off
    struct Row { int baud, parity, stop, flow, used, ttyStop; bool crtscts; int parityCode; };
    const Row rows[] = {
        {1200, PARITY_NONE, 1, 0, 1200, 1, false, 0},    {2400, PARITY_ODD, 2, 0, 2400, 2, false, 1},
        {4800, PARITY_EVEN, 1, 1, 4800, 1, true, 2},     {9600, PARITY_NONE, 2, 1, 9600, 2, true, 0},
        {19200, PARITY_ODD, 1, 0, 19200, 1, false, 1},   {38400, PARITY_EVEN, 2, 0, 38400, 2, false, 2},
        {57600, PARITY_NONE, 1, 1, 57600, 1, true, 0},   {115200, PARITY_ODD, 2, 1, 115200, 2, true, 1},
        {230400, PARITY_EVEN, 1, 0, 230400, 1, false, 2}, {0, 0, 0, 7, 19200, 1, false, 0},
        {57600, PARITY_MARK, 3, 1, 57600, 1, true, 0},    {14400, PARITY_NONE, 1, 1, 14400, 0, false, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baud);
        TraceCapture trace;
        ASSERT_EQ(openSimPort(row.baud, row.parity, row.stop, row.flow), 0);
        SimTty tty = sim.tty();
        EXPECT_TRUE(row.ttyStop == 0 || (tty.baud == row.used && tty.stop == row.ttyStop && tty.crtscts == row.crtscts))
            << tty.baud << " baud, " << tty.stop << " stop bits, RTS/CTS " << tty.crtscts;
        UartDeinit();
        EXPECT_TRUE(trace.contains("UART: Setting baudrate to " + std::to_string(row.used)));
        EXPECT_TRUE(trace.contains("UART: Setting parity to " + std::to_string(row.parityCode)));
    }
}

// Numbered tokens stream in while the port is opened and closed again and
// again, so that data waits for the first read and closing meets a block in
// hand (half the rounds hold the hook). No block comes twice or out of
// order, none after UartDeinit, and every read thread ends with its port.
TEST_F(SerialPort, CloseAndReopenWhileDataStreams)
{
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
        EXPECT_EQ(openSimPort(19200), 0);
        window.pumpUntil([&] { return !receivedBytes().empty(); }, 3000);
        window.pump(round * 7);
        const HANDLE open = hComPort;
        UartDeinit();
        EXPECT_EQ(GetFileType(open), static_cast<DWORD>(FILE_TYPE_UNKNOWN)) << "the port was left open";
        EXPECT_TRUE(readThreadEnded());

        std::string got = receivedBytes();
        int last = -1;
        for (size_t at = got.find('<'); at != std::string::npos && at + 8 <= got.size(); at = got.find('<', at + 1)) {
            EXPECT_GT(atoi(got.c_str() + at + 1), last) << "twice or out of order: " << got.substr(at, 8);
            last = atoi(got.c_str() + at + 1);
        }
        EXPECT_GE(last, 0) << "nothing received";
    }
    stop = true;
    injector.join();
}

constexpr ULONG_PTR STATUS_OK = 0, STATUS_STILL_PENDING = 0x103;
std::atomic<int> immediateReads{0}, immediateIssued{0};
std::atomic<ULONG_PTR> failNextRead{0}; // the status the next read fails with

// Completes at once the way the system does, with the event signalled too:
// immediateReads of them, more until the read thread has woken on such a
// signal (ten times as many at most); or fails once; otherwise reads for real.
BOOL WINAPI readStandIn(HANDLE port, LPVOID buffer, DWORD size, LPDWORD count, LPOVERLAPPED overlapped)
{
    const int run = immediateReads.load(), issued = immediateIssued.load();
    if (issued < run || (run > 0 && staleReadSignals.load() == 0 && issued < 10 * run)) {
        std::string text = token(immediateIssued++);
        memcpy(buffer, text.data(), text.size()); // no terminator
        overlapped->Internal = STATUS_OK, overlapped->InternalHigh = text.size();
        SetEvent(overlapped->hEvent);
        *count = static_cast<DWORD>(text.size());
        return TRUE;
    }
    if (ULONG_PTR status = failNextRead.exchange(0)) {
        overlapped->Internal = status, overlapped->InternalHigh = 0;
        SetEvent(overlapped->hEvent);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return ReadFile(port, buffer, size, count, overlapped);
}

// A run of reads done at once is handed over by the thread that issued
// them, before UartInit returns, each block once, without deepening the
// stack; the read thread, woken by their signals, hands none over again.
// Closing waits for a block in hand, even one held past its wait for the
// read thread.
TEST_F(SerialPort, ReadsDoneAtOnce)
{
    immediateReads = 200, immediateIssued = 0, staleReadSignals = 0;
    uartReadFile = readStandIn;
    memset(rxBuffer, 'Z', sizeof rxBuffer);
    TraceCapture trace;
    ASSERT_EQ(openSimPort(19200), 0);

    const int run = immediateIssued.load();
    EXPECT_GT(staleReadSignals.load(), 0u) << "the read thread never woke during the run";
    std::string expected;
    for (int i = 0; i < run; ++i)
        expected += token(i);
    EXPECT_EQ(receivedBytes(), expected);
    {
        std::lock_guard<std::mutex> guard(received.lock); // the read thread may still add
        EXPECT_EQ(std::count(received.threads.begin(), received.threads.end(), GetCurrentThreadId()), run);
    }
    EXPECT_LT(received.highStack - received.lowStack, 4096u);
    write("AT\r"); // reading goes on as usual after the run
    EXPECT_TRUE(waitFor(expected + "AT\r\r\nOK\r\n")) << sim::escape(receivedBytes());
    received.holdMs = 3000;
    ASSERT_TRUE(sim.inject("!") && waitFor(expected + "AT\r\r\nOK\r\n!"));
    UartDeinit();
    EXPECT_TRUE(readThreadEnded());
    // The bytes read, not the rest of the buffer.
    EXPECT_TRUE(trace.contains("UART: Read 8 bytes from UART. buffer <000000> len 200"));
}

// A read failing as it does on a live port (a line error, an aborted
// request) is reported once and reading goes on; one failing as drivers do
// when the device is removed ends reading and reports the port lost, once,
// and a blocking send waiting meanwhile fails at once, as does the next.
TEST_F(SerialPort, FailedReadGoesOnUnlessTheDeviceIsGone)
{
    // clang-format off
    struct Row { ULONG_PTR status; int error; bool gone; };
    const Row rows[] = {
        {0xC0000185, 1117, false},   // I/O device error
        {0xC0000120, 995, false},    // cancelled
        {0xC0000184, 22, true},      // invalid device state: bad command
        {0xC00002B6, 1617, true},    // device removed
        {0xC000014B, 109, true},     // broken pipe: Wine's closed tty
    };
    // clang-format on
    uartReadFile = readStandIn;
    atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    seams.atCommandWaitMs = 10000;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        clear();
        window.clear();
        TraceCapture trace;
        ASSERT_EQ(openSimPort(19200), 0);
        // The read issued on the hook's block fails.
        failNextRead = row.status;
        if (row.gone) {
            ASSERT_TRUE(sim.ok("mute") && sim.clear());
            // The device goes once the send waits: the adapter has taken its command.
            bool injected = false;
            std::thread late([&] { // the only user of sim until joined
                for (DWORD start = GetTickCount(); !injected && GetTickCount() - start < 5000;)
                    injected = sim.state()["discarded"] != "0" && sim.inject("x");
            });
            DWORD start = GetTickCount();
            EXPECT_EQ(sendAtCommand("AT+VER\r", 0, 0), SEND_FAILED);
            EXPECT_EQ(sendAtCommand("AT\r", 0, 0), SEND_FAILED);
            EXPECT_LT(GetTickCount() - start, seams.atCommandWaitMs) << "a send waited for a lost port";
            late.join();
            ASSERT_TRUE(injected && sim.ok("unmute")) << "the send never reached the adapter";
        } else {
            ASSERT_TRUE(sim.inject("x"));
        }
        ASSERT_TRUE(waitFor("x") && sim.inject("late\r\n"));
        // A live port reads on at the read thread's next turn; a lost one's read thread ends unasked.
        auto lost = [&] { return readThreadEnded() && window.countOf(ID_NOTIFY_PORT_LOST) > 0; };
        EXPECT_TRUE(row.gone ? window.pumpUntil(lost, 3000) : waitFor("xlate\r\n"));
        EXPECT_EQ(receivedBytes(), row.gone ? "x" : "xlate\r\n");
        EXPECT_EQ(UartLostPort(), row.gone ? simComPort() : 0);
        EXPECT_EQ(window.countOf(ID_NOTIFY_PORT_LOST), row.gone ? 1u : 0u);
        EXPECT_EQ(row.gone, readThreadEnded()) << "the read thread ends with a lost port only";
        UartDeinit(); // the next open forgets the lost port
        EXPECT_TRUE(readThreadEnded()) << "the read thread outlived its port";
        EXPECT_EQ(trace.count("UART: Failed to ReadData. Error " + std::to_string(row.error)), 1u);
        EXPECT_EQ(trace.countPrefix("UART: WaitForSingleObject failed."), 0u);
    }
    seams.atCommandWaitMs = 2000;
    CloseHandle(atCommandEvent);
    atCommandEvent = nullptr;
}

struct StuckWrite {
    OVERLAPPED* overlapped;
    const char* bytes;
};
std::vector<StuckWrite> stuckWrites;

BOOL WINAPI writeStaysPending(HANDLE, LPCVOID buffer, DWORD, LPDWORD, LPOVERLAPPED overlapped)
{
    stuckWrites.push_back({overlapped, static_cast<const char*>(buffer)});
    overlapped->Internal = STATUS_STILL_PENDING;
    ResetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

void finish(size_t i)
{
    stuckWrites[i].overlapped->Internal = STATUS_OK;
    SetEvent(stuckWrites[i].overlapped->hEvent);
}

// Each write in flight keeps its own request and its own copy of the bytes
// while the caller reuses its buffer; a request is taken again only once it
// has ended, and with none ended a write is refused rather than overwritten.
TEST_F(SerialPort, PendingWritesNeverShareTheirState)
{
    ASSERT_EQ(openSimPort(19200), 0);
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
    std::set<const void*> distinct;
    for (int i = 0; i < WRITE_REQUESTS; ++i) {
        EXPECT_TRUE(intact(i)) << i;
        distinct.insert({stuckWrites[i].overlapped, stuckWrites[i].overlapped->hEvent, stuckWrites[i].bytes});
    }
    EXPECT_EQ(distinct.size(), 3u * WRITE_REQUESTS) << "writes in flight share a request, event or copy";

    finish(1);
    EXPECT_EQ(write("AT+NEXT\r"), 2);
    ASSERT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    EXPECT_EQ(stuckWrites.back().overlapped, stuckWrites[1].overlapped);
    EXPECT_TRUE(intact(0) && intact(2) && intact(3));

    EXPECT_EQ(write("AT+MORE\r"), 1);
    EXPECT_EQ(stuckWrites.size(), WRITE_REQUESTS + 1u);
    for (size_t i : {0u, 2u, 3u, 4u})
        finish(i);
}

} // namespace
