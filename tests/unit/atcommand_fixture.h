// The engine without a port: writes, settings changes and timers are recorded.
// The scripted adapter answers inside the write, as if its reply were already
// waiting in the driver (the real read thread runs in it_engine).
#pragma once
#include "common/notify.h"
#include "app/engine_events.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "support/test_env.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using LineSetting = std::array<int, 4>; // baud, parity, stop bits, flow
using Timers = std::vector<std::pair<UINT_PTR, UINT>>;

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
    snprintf(atCommand.command, sizeof atCommand.command, "%s", command);
    atCommand.expectsReplyLine = expectsReplyLine;
    atCommand.timerMode = timerMode;
}

// Runs the handling on a complete answer.
inline int32_t answer(const char* command, const char* response, const char* param = "")
{
    pend(command);
    snprintf(atCommand.response, sizeof atCommand.response, "%s", response);
    snprintf(atCommand.param, sizeof atCommand.param, "%s", param);
    return handleCommandResponse();
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        current = this;
        savedSeams = seams;
        seams.uartWrite = [](const uint8_t* buffer, uint32_t length) {
            std::string text(reinterpret_cast<const char*>(buffer), length);
            current->written.push_back(text);
            auto reply = current->replies.find(text);
            if (reply != current->replies.end())
                feed(reply->second);
            else if (current->acceptAll)
                SetEvent(atCommandEvent);
            return 0;
        };
        seams.uartChangeSettings = [] {
            current->settingsApplied.push_back({uart.baud, uart.parity, uart.stopBits, uart.flow});
            return current->changeResult;
        };
        seams.setTimer = [](HWND, UINT_PTR id, UINT ms, TIMERPROC) -> UINT_PTR {
            current->timersArmed.emplace_back(id, ms);
            return id;
        };
        seams.atCommandWaitMs = 100;
        atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        resetEngineState();
        // An adapter that is up and in response mode, unless a test says otherwise.
        device.isDeviceInitialised = 1;
        device.responseOn = 1;
        bIndex = 10;
        bTry = 0;
    }

    void TearDown() override
    {
        seams = savedSeams;
        CloseHandle(atCommandEvent);
        atCommandEvent = nullptr;
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        resetEngineState();
    }

    // Notifications other than log texts since the last call.
    std::vector<UINT> posted()
    {
        window.pump(0);
        std::vector<UINT> ids;
        for (const auto& note : window.notifications)
            if (note.first != ID_NOTIFY_LOG)
                ids.push_back(note.first);
        window.notifications.clear();
        return ids;
    }

    StandInMainWindow window;
    MessageBoxRecorder boxes;
    std::map<std::string, std::string> replies; // the adapter's answer to each text written
    bool acceptAll = false;                     // a text without an answer there is taken as accepted at once
    std::vector<std::string> written;
    std::vector<LineSetting> settingsApplied;
    Timers timersArmed;
    int changeResult = 0;

private:
    static inline EngineTest* current = nullptr;
    Seams savedSeams;
};
