// Brings the adapter into line with wanted settings: one command for each
// setting that differs from what the adapter is known to hold.
#include "atcommand/program.h"
#include "serial/uart.h"
#include "settings/settings.h"

#include <cstring>
#include <initializer_list>

namespace {

// A text field up to its NUL or its last character, whichever comes first:
// the command buffer holds the longest name (15) and PIN (7) with their
// command, and nothing longer gets in.
template <size_t N>
std::string fieldText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N - 1));
}

template <size_t N>
bool textCommand(char* command, const char* family, const std::optional<std::string>& wanted, const char (&held)[N])
{
    if (!wanted)
        return false;
    const std::string text = wanted->substr(0, N - 1);
    if (text == fieldText(held))
        return false;
    formatCommand(command, "%s=%s\r", family, text.c_str());
    return true;
}

// The on/off switches: "<family>+" or "<family>-".
struct Switch {
    Setting setting;
    const char* family;
    int32_t WantedSettings::*wanted;
    int32_t Device::*held;
};

const Switch kSwitches[] = {
    {Setting::Echo, "AT+ECHO", &WantedSettings::echo, &Device::echoOn},
    {Setting::Escape, "AT+ESC", &WantedSettings::escape, &Device::escapeOn},
    {Setting::Sleep, "AT+SLEEP", &WantedSettings::sleep, &Device::sleepOn},
    {Setting::Response, "AT+RESP", &WantedSettings::response, &Device::responseOn},
    {Setting::RemoteConfig, "AT+RCFG", &WantedSettings::remoteConfig, &Device::remoteConfig},
    {Setting::Discoverable, "AT+DCOV", &WantedSettings::discoverable, &Device::discoverable},
    {Setting::AutoConnect, "AT+ACON", &WantedSettings::autoConnect, &Device::autoConnect},
};

bool switchCommand(char* command, const Switch& row, const WantedSettings& settings)
{
    const int32_t wanted = settings.*row.wanted;
    const int32_t held = device.*row.held;
    if (wanted == KEEP || (held != 0 && held != 1) || (wanted != 0) == (held != 0))
        return false;
    formatCommand(command, "%s%c\r", row.family, wanted ? '+' : '-');
    return true;
}

} // namespace

bool settingCommand(const WantedSettings& wanted, Setting setting, char* command)
{
    for (const Switch& row : kSwitches)
        if (row.setting == setting)
            return switchCommand(command, row, wanted);
    switch (setting) {
    case Setting::Baud:
        if (wanted.baud == KEEP || wanted.baud == uart.baud)
            return false;
        formatCommand(command, "AT+BAUD%d\r", kBaudSettings[baudRateToIndex(wanted.baud)].code);
        return true;
    case Setting::StopBits:
        if (wanted.stopBits == KEEP || wanted.stopBits == uart.stopBits)
            return false;
        formatCommand(command, "AT+STOP%d\r", wanted.stopBits);
        return true;
    case Setting::Parity: {
        if (wanted.parity == KEEP || wanted.parity == uart.parity)
            return false;
        int row = parityRowOfCode(wanted.parity);
        formatCommand(command, "AT+PAR%d\r", row >= 0 ? row : DEFAULT_PARITY_ROW);
        return true;
    }
    case Setting::Flow:
        if (wanted.flow == KEEP || wanted.flow == uart.flow)
            return false;
        formatCommand(command, "AT+FLOW%c\r", wanted.flow ? '+' : '-');
        return true;
    case Setting::Name:
        return textCommand(command, "AT+NAME", wanted.name, device.name);
    case Setting::Pin:
        return textCommand(command, "AT+PIN", wanted.pin, device.pin);
    case Setting::RemovePin:
        if (!wanted.removePin || device.pinDisabled == 1)
            return false;
        formatCommand(command, "%s%c\r", "AT+PIN", '-');
        return true;
    default:   // a switch, above
        break;
    case Setting::Role:
        if (wanted.role == KEEP || (device.role != ROLE_MASTER && device.role != ROLE_SLAVE) ||
            wanted.role == device.role)
            return false;
        formatCommand(command, "%s%c\r", "AT+ROLE", wanted.role == ROLE_MASTER ? 'M' : 'S');
        return true;
    }
    return false;
}

namespace {

const char programmingText[] = "Programming the adapter with the loaded settings...";
const char programmedText[] = "Adapter programmed with loaded settings.";

} // namespace

WantedSettings loadedWantedSettings()
{
    // Only the settings that the file holds: a missing line keeps what the
    // adapter has.
    const LoadedSettings& file = loadedSettings;
    auto has = [](SettingsKey key) { return loadedSettingPresent(key); };
    auto onOff = [&](SettingsKey key, int32_t value) { return has(key) ? (value ? 1 : 0) : KEEP; };
    WantedSettings wanted;
    if (has(KEY_BAUD))
        wanted.baud = file.baud;
    if (has(KEY_STOP_BITS))
        wanted.stopBits = file.stopBits;
    if (has(KEY_PARITY))
        wanted.parity = file.parity;
    wanted.flow = onOff(KEY_FLOW_CONTROL, file.flowControl);
    if (has(KEY_NAME))
        wanted.name = fieldText(file.name);
    if (has(KEY_PIN))
        wanted.pin = fieldText(file.pin);
    // Only ever removes the PIN; a PIN comes back through the Pin line.
    wanted.removePin = has(KEY_DISABLE_PIN) && file.disablePin == 1;
    wanted.escape = onOff(KEY_ESCAPE_MODE, file.escapeMode);
    wanted.echo = onOff(KEY_ECHO_MODE, file.echoMode);
    wanted.sleep = onOff(KEY_AUTO_POWER, file.autoPower);
    wanted.response = onOff(KEY_COMMAND_RESPONSE, file.commandResponse);
    wanted.remoteConfig = onOff(KEY_REMOTE_CONFIG, file.remoteConfig);
    wanted.discoverable = onOff(KEY_DISCOVERABLE, file.discoverable);
    if (has(KEY_ROLE))
        wanted.role = file.role == ROLE_MASTER ? ROLE_MASTER : ROLE_SLAVE;
    wanted.autoConnect = onOff(KEY_AUTO_CONNECT, file.autoConnect);
    return wanted;
}

void programLoadedSettings()
{
    postLogText(programmingText);
    const WantedSettings wanted = loadedWantedSettings();

    // The line settings go first: each accepted one moves the port along,
    // so the rest reach the adapter at its new settings.
    int failures = 0;
    char command[COMMAND_SIZE];
    for (Setting setting : kLoadedSettingsOrder) {
        if (!settingCommand(wanted, setting, command))
            continue;
        // Blocking and kept out of the log window; a failure has been
        // reported by the send and the next setting follows regardless.
        uint16_t result = sendAndWait(command);
        if (result != SEND_OK && result != SEND_PENDING)
            ++failures;
    }

    if (failures == 0) {
        postLogText(programmedText);
        return;
    }
    char text[TEXT_SIZE];
    formatText(text, "Adapter not fully programmed: %d of the loaded settings failed.", failures);
    postLogText(text);
}
