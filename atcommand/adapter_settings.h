// The adapter's settings, one row each: how the adapter spells them, where
// the records keep them, how the settings file writes them and which panel
// control shows them. The answer handling, both programming orders, the
// settings reader and writer and the Local Device panel all work from it, so
// a new on/off setting is a row here, a field of Device and LoadedSettings,
// its key, its control id and its line in the resource script.
#pragma once
#include "atcommand/atcommand.h"
#include "atcommand/program.h"
#include "settings/settings.h"
#include <cstddef>

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
    Setting setting;              // the programming's name (Port has none)
    AtCommandId family;
    const char* word;             // "ECHO": "AT+ECHO+\r", "\r\nECHO+\r\n"
    SettingWord words[SETTING_WORDS]; // the first is "On"; unused ones empty
    void* held;                   // the field of device or uart
    size_t size;                  // its size
    SettingsKey key;
    const char* fileKey;
    size_t loaded;                // the field's offset in LoadedSettings
    const char* refused;          // the reader's complaint about another word
    int32_t fallback;             // and the value it uses then
    const wchar_t* reapplyFailure; // a line setting: the port follows a change
    bool endsConnection;          // its change ends an open connection
    int32_t WantedSettings::*wanted;
    int control;                  // the Local Device panel's check box or the
    int otherControl;             // radio buttons of its first and second word

    int32_t& value() const { return *static_cast<int32_t*>(held); }
    char* text() const { return static_cast<char*>(held); }
    bool isText() const { return kind == SettingKind::Name || kind == SettingKind::Pin; }
    int wordCount() const;
};

// In the order the settings file writes them.
extern const AdapterSetting kAdapterSettings[KEY_COUNT];

// The row of a family or a programming name; nullptr when none.
const AdapterSetting* settingOfFamily(AtCommandId family);
const AdapterSetting* settingOf(Setting setting);

// The programming orders: Program Device's and the loaded file's.
extern const Setting kPanelOrder[14];
extern const Setting kLoadedOrder[15];
