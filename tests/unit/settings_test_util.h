// Helpers of the settings, panel and main window tests: a scratch folder,
// raw file bytes, window texts, the trace and the example file's records.
#pragma once
#include "atcommand/atcommand.h"
#include "atcommand/program.h"
#include "serial/uart.h"
#include "settings/settings.h"
#include "support/test_env.h"
#include "trace_capture.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A folder of this test program's own, under the temporary folder.
inline std::string settingsTestPath(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "rz310-settings-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr); // fails harmlessly once it is there
    return folder + name;
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// `text` with its first `from` replaced by `to`; a marker when `from` is absent.
inline std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    return at == std::string::npos ? "<no " + from + ">" : text.replace(at, from.size(), to);
}

inline std::wstring textOf(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

// Runs `step` with the trace on; returns what it traced, a line end after each line.
template <typename Step>
std::string traced(Step step)
{
    TraceCapture trace;
    step();
    std::string text;
    for (const std::string& line : trace.lines())
        text += line + "\n";
    return text;
}

// The records of the example file: COM3 at 9600 8N1 with flow control, an
// initialised adapter in its reset state.
inline void setExampleRecords()
{
    memset(&uart, 0, sizeof uart);
    memset(&device, 0, sizeof device);
    uart.port = 3;
    uart.baud = 9600;
    uart.stopBits = uart.flow = 1;
    uart.parity = PARITY_NONE;
    strcpy(device.name, "Serial Adapter");
    strcpy(device.pin, "8642");
    device.role = 2;
    device.isDeviceInitialised = device.discoverable = device.autoConnect = device.escapeOn = device.echoOn = 1;
    device.responseOn = device.remoteConfig = 1;
}

// The file those records are saved as.
inline const std::string exampleFile =
    "# RZ310 Configuration Utility Settings\r\n"
    "Port = COM3\r\n"
    "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\r\n"
    "Baud = 9600\r\n"
    "StopBits = 1\r\n"
    "FlowControl = On\r\n"
    "# Valid parity values are none, odd, even\r\n"
    "Parity = None\r\n"
    "Name = Serial Adapter\r\n"
    "Pin = 8642\r\n"
    "Discoverable = On\r\n"
    "DisablePin = Off\r\n"
    "Role = Slave\r\n"
    "AutoConnect = On\r\n"
    "EscapeMode = On\r\n"
    "EchoMode = On\r\n"
    "AutoPower = Off\r\n"
    "CommandResponse = On\r\n"
    "RemoteConfig = On\r\n";
