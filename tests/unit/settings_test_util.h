// Helpers of the settings tests: a scratch folder, raw file bytes, a stand-in
// file dialog, the trace written meanwhile and the example file's records.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commdlg.h>
#include "common/debuglog.h"
#include "atcommand/atcommand.h"
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
    CreateDirectoryA(folder.c_str(), nullptr);   // fails harmlessly once it is there
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

inline std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// `text` with its first `from` replaced by `to`; a marker when `from` is absent.
inline std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    return at == std::string::npos ? "<no " + from + ">" : text.replace(at, from.size(), to);
}

// Stands in for the file dialog: "chooses" chosenFile in the scratch folder,
// titled chosenTitle when that is set. The current folder stays, as with the
// system dialog when the operator types a path to another folder.
inline std::wstring chosenFile, chosenTitle;
inline int chooseScratchFile(tagOFNW* dialog, bool, unsigned long*)
{
    std::string folder = settingsTestPath("");
    lstrcpynW(dialog->lpstrFile, (widen(folder) + chosenFile).c_str(), dialog->nMaxFile);
    dialog->nFileOffset = static_cast<WORD>(folder.size());
    lstrcpynW(dialog->lpstrFileTitle, (chosenTitle.empty() ? chosenFile : chosenTitle).c_str(), dialog->nMaxFileTitle);
    return TRUE;
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

const std::vector<std::string> programmedLog = {"Programming the adapter with the loaded settings...",
                                                "Adapter programmed with loaded settings."};

// The unit tests start from the example's records and leave them cleared,
// with the current folder and the file dialog as they found them.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, startDir);
        setExampleRecords();
    }
    void TearDown() override
    {
        seams.fileDialog = nullptr;
        SetCurrentDirectoryW(startDir);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
    }
    wchar_t startDir[MAX_PATH];
    std::string path = settingsTestPath("settings.txt");
    MessageBoxRecorder boxes;
    StandInMainWindow window;
};
