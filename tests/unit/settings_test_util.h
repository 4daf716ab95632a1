// Helpers of the settings file tests: a scratch folder, raw file bytes and
// the diagnostic lines written meanwhile.
#pragma once
#include <windows.h>
#include "app/debuglog.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"

#include <cstdio>
#include <cstring>
#include <string>

// A fresh folder per test program, under the temporary folder; 8-bit path.
inline std::string settingsTestPath(const std::string& name)
{
    static std::string folder = [] {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        std::string path = std::string(temp) + "rz310-settings-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path.c_str(), nullptr);
        return path + "\\";
    }();
    return folder + name;
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

inline std::string readBytes(const std::string& path)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, n);
    fclose(file);
    return bytes;
}

inline size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

// Turns the trace on into a scratch file for its lifetime; the trace as it
// was comes back afterwards.
class DiagnosticCapture {
public:
    DiagnosticCapture()
    {
        path_ = settingsTestPath("diagnostic-" + std::to_string(counter()++) + ".txt");
        file_ = fopen(path_.c_str(), "w");
        savedFlag_ = debugFlag;
        savedFile_ = debugFile;
        debugFile = file_;
        debugFlag = 1;
    }
    ~DiagnosticCapture() { stop(); }
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    // Everything traced so far; ends the capture.
    std::string text()
    {
        stop();
        std::string bytes = readBytes(path_);
        std::string lines;
        for (char c : bytes)
            if (c != '\r')
                lines.push_back(c);
        return lines;
    }

private:
    void stop()
    {
        if (!file_)
            return;
        debugFlag = savedFlag_;
        debugFile = savedFile_;
        fclose(file_);
        file_ = nullptr;
    }
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    std::string path_;
    FILE* file_ = nullptr;
    int savedFlag_ = 0;
    FILE* savedFile_ = nullptr;
};

// The records of the example file: COM3 at 9600 8N1 with flow control, an
// adapter in its reset state.
inline void setExampleRecords()
{
    uart.port = 3;
    uart.baud = 9600;
    uart.stopBits = 1;
    uart.flow = 1;
    uart.parity = 0x0100;
    strcpy(device.name, "Serial Adapter");
    strcpy(device.pin, "8642");
    device.role = 2;
    device.discoverable = 1;
    device.autoConnect = 1;
    device.escapeOn = 1;
    device.echoOn = 1;
    device.responseOn = 1;
    device.remoteConfig = 1;
    device.sleepOn = 0;
    device.pinDisabled = 0;
    device.baudCode = 13;
}
