// The settings file: format, reader, writer and the File menu commands.
#pragma once
#include "common/seams.h"
#include <cstdint>
#include <cstdio>
#include <string>

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

// The keys of the settings file, in the order the reader tries them.
enum SettingsKey : int {
    KEY_PORT,
    KEY_BAUD,
    KEY_STOP_BITS,
    KEY_FLOW_CONTROL,
    KEY_PARITY,
    KEY_DISABLE_PIN,
    KEY_NAME,
    KEY_PIN,
    KEY_DISCOVERABLE,
    KEY_ROLE,
    KEY_AUTO_CONNECT,
    KEY_ESCAPE_MODE,
    KEY_ECHO_MODE,
    KEY_AUTO_POWER,
    KEY_COMMAND_RESPONSE,
    KEY_REMOTE_CONFIG,
    KEY_COUNT
};
// Which settings the file read last holds: bit (1 << key) is set when the
// key's line gave loadedSettings a value, the file's own or the default
// that the reader names for a value it does not take. Loading programs
// only those; a missing line leaves its field zero or empty.
extern uint32_t loadedSettingsPresent;
inline bool loadedSettingPresent(SettingsKey key) { return (loadedSettingsPresent >> key) & 1u; }

int readSettingsFile(const char* fileName);
// Writes uart and device to the file: all of it or, on any failure, nothing
// (a temporary file in the same folder takes the place of the old one).
int writeSettingsFile(const char* fileName);
// The text writeSettingsFile writes, line ends as "\n".
std::string adapterSettingsText();

// What the tool last knew of each setting, for settings.txt at exit: the
// value the adapter reported or accepted, or else the one of the file read
// last (settings.txt at start-up, or a loaded file). The engine notes a
// field of uart or device each time it stores a value from the adapter;
// clearing the records (Restart Device) forgets nothing. Engine lock held
// by the caller, or taken here.
void noteKnownSetting(const void* field);
void noteAllKnownSettings();
// Start-up: nothing known from an adapter and nothing loaded yet.
void forgetKnownSettings();
// Writes the last known settings to `path` (a full path), completely or not
// at all. Returns 1 when written, 0 otherwise.
int writeLastKnownSettings(const wchar_t* path);
void loadSettingsFile();
void saveSettingsFile();

// Sends one command for every setting of loadedSettings that differs from
// what the adapter holds.
void programLoadedSettings();


