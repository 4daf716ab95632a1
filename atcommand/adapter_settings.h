// The adapter's settings, one row each: how the adapter spells them, where
// the records keep them, how the settings file writes them and which panel
// control shows them. The answer handling, both programming orders, the
// settings reader and writer and the Local Device panel all work from it, so
// a new on/off setting is a row here, a field of Device and LoadedSettings,
// its key, its control id and its line in the resource script.
#pragma once
#include "atcommand/atcommand.h"
#include "atcommand/program.h"
#include <cstddef>
#include <cstring>

// The settings file's record, filled by its reader (settings/): what loading
// a file programs into the adapter.
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

// The keys of the settings file, a bit each in loadedSettingsPresent.
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
// Consistent snapshots of the records, taken under the engine lock (the read
// thread may be storing an answer meanwhile), in the file's record: what the
// tool last knew of each setting (for settings.txt at exit), and what uart
// and device hold now.
LoadedSettings lastKnownSettings();
LoadedSettings heldSettings();

// How a setting's rows are read and written where they differ.
enum class SettingKind {
    Port,       // the COM port: the file's only, no command
    Baud,       // AT+BAUD<code>, the file holds the rate
    StopBits,   // a number; the programming sends the wanted one as it is
    Parity,     // a row of the parity table
    Flow,       // on/off, a line setting: compared as a number
    Switch,     // on/off of the adapter: changed only from a reported 0 or 1
    Role,       // master or slave, changed only from a reported one
    Name,       // a text
    Pin,        // a text
    DisablePin, // on/off; programming only ever removes the PIN
};

// One value of a setting: the characters after the family word in the
// command and the reply ("+" in "AT+ECHO+\r" and "\r\nECHO+\r\n"), the word of
// the settings file, and the value the record holds.
struct SettingWord {
    const char* command;
    const char* file;
    int32_t value;
};

constexpr int SETTING_WORDS = 3;

struct AdapterSetting {
    SettingKind kind;
    Setting setting; // the programming's name (Port has none)
    AtCommandId family;
    const char* word;                 // "ECHO": "AT+ECHO+\r", "\r\nECHO+\r\n"
    SettingWord words[SETTING_WORDS]; // the first is "On"; unused ones empty
    void* held;                       // the field of device or uart
    size_t size;                      // its size
    SettingsKey key;
    const char* fileLine;          // the file's line: the key, " = " and the value's format
    size_t loaded;                 // the field's offset in LoadedSettings
    const char* refused;           // the reader's complaint about another word
    int32_t fallback;              // and the value it uses then
    const wchar_t* reapplyFailure; // a line setting: the port follows a change
    bool endsConnection;           // its change ends an open connection
    int32_t WantedSettings::*wanted;
    int control;      // the Local Device panel's check box or the
    int otherControl; // radio buttons of its first and second word

    int32_t& value() const { return *static_cast<int32_t*>(held); }
    char* text() const { return static_cast<char*>(held); }
    bool isText() const { return kind == SettingKind::Name || kind == SettingKind::Pin; }
    size_t keyLength() const { return strcspn(fileLine, " "); }
    int wordCount() const;
};

// In the order the settings file writes them.
extern const AdapterSetting kAdapterSettings[KEY_COUNT];

// The row of a family or a programming name; nullptr when none.
const AdapterSetting* settingOfFamily(AtCommandId family);
const AdapterSetting* settingOf(Setting setting);
