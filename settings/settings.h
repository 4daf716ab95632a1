// The settings file: format, reader, writer and the File menu commands.
#pragma once
#include <cstdint>

struct LoadedSettings {
    int32_t port;
    int32_t baud;
    int32_t stopBits;
    int32_t parity;
    int32_t flowControl;
    int32_t echoMode;
    int32_t role;
    int32_t commandResponse;
    int32_t discoverable;
    int32_t escapeMode;
    int32_t autoPower;
    int32_t autoConnect;
    int32_t disablePin;
    int32_t remoteConfig;
    char name[16];
    char pin[8];
};

extern LoadedSettings loadedSettings;

int readSettingsFile(const char* fileName);
int writeSettingsFile(const char* fileName);
void loadSettingsFile();
void saveSettingsFile();

// Sends one command for every setting of loadedSettings that differs from
// what the adapter holds.
void programLoadedSettings();

// Test seam for the File menu: when set, called instead of the system's
// open-file (save false) or save-file (save true) dialog with the dialog's
// record as the menu command filled it in. Returns what the dialog would; on
// FALSE, *error is the dialog's extended error code.
struct tagOFNW;
using FileDialogHook = int (*)(tagOFNW* dialog, bool save, unsigned long* error);
extern FileDialogHook fileDialogHook;
