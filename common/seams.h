// Test seams: tests and benchmarks replace these to run the engine, the
// driver and the windows without a port, an operator, the shell or a 600 ms
// settle per setting. Each is empty (or the system's function) in the tool.
#pragma once
#include <windows.h>
#include <cstdint>
#include <cstdio>

struct tagOFNW;

using MessageBoxHook = int (*)(const wchar_t* text, UINT type);
using UartReceiveHook = void (*)(const uint8_t* data, uint32_t count);
using UartWriteFn = int (*)(const uint8_t* buffer, uint32_t length);
using UartChangeSettingsFn = int (*)();
using SetTimerFn = UINT_PTR(WINAPI*)(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc);
using FileDialogHook = int (*)(tagOFNW* dialog, bool save, unsigned long* error);
using SettingsFileWriteFn = size_t (*)(const void* data, size_t size, size_t count, FILE* file);
using ShellOpenHook = INT_PTR (*)(const wchar_t* file);
using LoadLibraryExFn = HMODULE(WINAPI*)(LPCWSTR name, HANDLE file, DWORD flags);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);

struct Seams {
    // Instead of the system message box; returns the button "pressed".
    MessageBoxHook messageBox = nullptr;
    // Every received block goes to the engine's dispatch unless this is set.
    UartReceiveHook uartReceive = nullptr;
    // The engine's writes and port changes; empty: the serial driver's.
    UartWriteFn uartWrite = nullptr;
    UartChangeSettingsFn uartChangeSettings = nullptr;
    // The engine's one-shot timers of the main window.
    SetTimerFn setTimer = &SetTimer;
    // How long a blocking send waits for its answer before re-sending.
    DWORD atCommandWaitMs = 2000;
    // Instead of the open-file (save false) or save-file (save true) dialog,
    // with the record the menu command filled in; returns what the dialog
    // would, and on FALSE its extended error code in *error.
    FileDialogHook fileDialog = nullptr;
    // Writes the settings file's text as fwrite does; short when the disk is full.
    SettingsFileWriteFn settingsFileWrite = &fwrite;
    // Instead of the shell's "open" verb on a document; returns what
    // ShellExecuteW would (above 32 = success).
    ShellOpenHook shellOpen = nullptr;
    // Where system libraries are searched and loaded from (common/systemdll).
    LoadLibraryExFn loadLibraryEx = &LoadLibraryExW;
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = &SetDefaultDllDirectories;
};

extern Seams seams;
