// The receive hook and the fixture shared by the serial port tests.
#pragma once
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "serial/uart_internal.h"
#include "support/sim_client.h"
#include "support/test_env.h"

#include <windows.h>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// Everything the receive hook saw.
struct Received {
    std::mutex lock;
    std::string bytes;
    std::vector<DWORD> threads;
    std::atomic<int> inHook{0};
    std::atomic<int> afterClose{0};
    std::atomic<bool> closed{false};
    std::atomic<DWORD> holdMs{0};
};
inline Received received;

inline void receiveHook(const uint8_t* data, uint32_t count)
{
    received.inHook++;
    if (received.closed.load() || uart.eventCallback == nullptr)
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

inline std::string receivedBytes()
{
    std::lock_guard<std::mutex> guard(received.lock);
    return received.bytes;
}

inline void clearReceived()
{
    std::lock_guard<std::mutex> guard(received.lock);
    received.bytes.clear();
    received.threads.clear();
}

inline int write(const std::string& text)
{
    return UartWrite(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.connected()) << sim.lastError();
        ASSERT_TRUE(sim.ok("reset"));
        ASSERT_TRUE(sim.ok("pace off"));
        sim.clear();
        clearReceived();
        received.closed = false;
        received.afterClose = 0;
        received.holdMs = 0;
        uartReceiveHook = receiveHook;
    }
    void TearDown() override
    {
        UartDeinit();
        uartReceiveHook = nullptr;
        uartReadFile = ReadFile;
        uartWriteFile = WriteFile;
    }

    int open(int baud, int parity = PARITY_NONE, int stopBits = 1, int flow = 1)
    {
        memset(&uart, 0, sizeof uart);
        uart.port = simComPort();
        uart.baud = baud;
        uart.parity = parity;
        uart.stopBits = stopBits;
        uart.flow = flow;
        return UartInit();
    }

    // Waits until the hook has seen `ending` at the end of what it got.
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
