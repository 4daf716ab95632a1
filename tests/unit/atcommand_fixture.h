// The engine without a port: writes, settings changes and timers are
// recorded, and a scripted adapter answers from a thread of its own, as the
// serial read thread would.
#pragma once
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "support/test_env.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LineSetting {
    int baud, parity, stopBits, flow;
    bool operator==(const LineSetting& o) const
    {
        return baud == o.baud && parity == o.parity && stopBits == o.stopBits && flow == o.flow;
    }
};

// Hands bytes to the engine in blocks of `chunk`, as the driver does.
inline void feed(const std::string& bytes, size_t chunk = RX_BUFFER_SIZE)
{
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        size_t n = std::min(chunk, bytes.size() - at);
        memcpy(rxBuffer, bytes.data() + at, n);
        dispatchUartData(static_cast<int32_t>(n));
    }
}

// Puts a command in the record as sendAtCommand would, without sending it.
inline void pend(const char* command, uint32_t expectsReplyLine = 0, uint32_t timerMode = 0)
{
    memset(&atCommand, 0, sizeof atCommand);
    strcpy(atCommand.command, command);
    atCommand.expectsReplyLine = expectsReplyLine;
    atCommand.timerMode = timerMode;
}

// Runs the handling on a complete answer.
inline int32_t answer(const char* command, const char* response, const char* param = "")
{
    pend(command);
    strcpy(atCommand.response, response);
    strcpy(atCommand.param, param);
    return handleCommandResponse();
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        current = this;
        uartWriteHook = [](const uint8_t* buffer, uint32_t length) { return current->write(buffer, length); };
        uartChangeSettingsHook = [] {
            current->settingsApplied.push_back({uart.baud, uart.parity, uart.stopBits, uart.flow});
            return current->changeResult;
        };
        setTimerHook = [](HWND, UINT_PTR id, UINT ms, TIMERPROC) -> UINT_PTR {
            current->timersArmed.emplace_back(id, ms);
            return id;
        };
        atCommandWaitMs = 100;
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        resetEngineState();
        bIndex = 10;
        bTry = 0;
        worker = std::thread([this] { answerLoop(); });
    }

    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        worker.join();
        uartWriteHook = UartWrite;
        uartChangeSettingsHook = UartChangeSettings;
        setTimerHook = SetTimer;
        atCommandWaitMs = 2000;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
    }

    // The adapter answers each write of `command` with `reply`.
    void script(const std::string& command, const std::string& reply)
    {
        std::lock_guard<std::mutex> guard(lock);
        answers[command] = reply;
    }
    std::vector<std::string> writes()
    {
        std::lock_guard<std::mutex> guard(lock);
        return written;
    }
    bool logged(const std::string& text)
    {
        window.pump(0);
        return std::count(window.logLines.begin(), window.logLines.end(), text) > 0;
    }
    bool eventSet() { return WaitForSingleObject(atCommandEvent, 0) == WAIT_OBJECT_0; }

    StandInMainWindow window;
    MessageBoxRecorder boxes;
    std::vector<LineSetting> settingsApplied;
    std::vector<std::pair<UINT_PTR, UINT>> timersArmed;
    int changeResult = 0;

private:
    int write(const uint8_t* buffer, uint32_t length)
    {
        std::lock_guard<std::mutex> guard(lock);
        written.emplace_back(reinterpret_cast<const char*>(buffer), length);
        auto it = answers.find(written.back());
        if (it != answers.end()) {
            queue.push_back(it->second);
            wake.notify_all();
        }
        return 0;
    }
    void answerLoop()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            std::string reply = queue.front();
            queue.pop_front();
            guard.unlock();
            feed(reply);
            guard.lock();
        }
    }

    static inline EngineTest* current = nullptr;
    std::mutex lock;
    std::condition_variable wake;
    std::map<std::string, std::string> answers;
    std::deque<std::string> queue;
    std::vector<std::string> written;
    bool stopping = false;
    std::thread worker;
};
