// Programming the adapter: what the operator wants compared with what the
// adapter is known to hold, one command per difference. Program Device and
// programming from a loaded file share it and keep their own orders.
#pragma once
#include "atcommand/atcommand.h"
#include <optional>
#include <string>

// A field left at KEEP (or a text left empty) is not compared.
constexpr int32_t KEEP = -1;

struct WantedSettings {
    // Compared with uart.
    int32_t baud = KEEP; // a rate; one no row has stands for the default
    int32_t stopBits = KEEP;
    int32_t parity = KEEP; // a Win32 parity code
    int32_t flow = KEEP;   // 1 = RTS/CTS
    // Compared with device; texts are cut to the adapter's fields.
    std::optional<std::string> name;
    std::optional<std::string> pin;
    bool removePin = false; // AT+PIN- unless the PIN is already off
    // On/off switches and the role change only a value the adapter has
    // reported (0 or 1; master or slave).
    int32_t echo = KEEP;
    int32_t escape = KEEP;
    int32_t sleep = KEEP;
    int32_t response = KEEP;
    int32_t remoteConfig = KEEP;
    int32_t discoverable = KEEP;
    int32_t autoConnect = KEEP;
    int32_t role = KEEP; // a Role
};

enum class Setting {
    Baud,
    StopBits,
    Parity,
    Flow,
    Name,
    Pin,
    RemovePin,
    Echo,
    Escape,
    Sleep,
    Response,
    RemoteConfig,
    Discoverable,
    AutoConnect,
    Role,
};

// The command (COMMAND_SIZE) that brings the held setting to the wanted
// one; false when it is kept or already held.
bool settingCommand(const WantedSettings& wanted, Setting setting, char* command);

// Sends one command for every setting of loadedSettings that differs from
// what the adapter holds.
void programLoadedSettings();

// The order in which Program Device compares and sends the panel's settings.
// clang-format off
constexpr Setting kPanelOrder[] = {
    Setting::Name,         Setting::Pin,  Setting::Echo,        Setting::Escape, Setting::Sleep,
    Setting::RemoteConfig, Setting::Response, Setting::Baud,    Setting::Parity, Setting::StopBits,
    Setting::Discoverable, Setting::Role, Setting::AutoConnect, Setting::Flow,
};
// clang-format on

// The order in which a loaded file's settings are compared and sent: the
// line settings first, so that the rest reach the adapter at its new ones.
// clang-format off
constexpr Setting kLoadedSettingsOrder[] = {
    Setting::Baud, Setting::StopBits, Setting::Parity, Setting::Name, Setting::Pin,
    Setting::RemovePin, Setting::Escape, Setting::Echo, Setting::Sleep, Setting::Response,
    Setting::RemoteConfig, Setting::Discoverable, Setting::Role, Setting::AutoConnect, Setting::Flow,
};
// clang-format on

// The settings of the file read last (loadedSettings), only those it holds.
WantedSettings loadedWantedSettings();
