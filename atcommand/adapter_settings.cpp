#include "atcommand/adapter_settings.h"
#include "atcommand/internal.h"
#include "panels/panel_ids.h"
#include "serial/uart.h"
#include <cstring>

LoadedSettings loadedSettings;
uint32_t loadedSettingsPresent = 0;

namespace {

using K = SettingKind;
using W = WantedSettings;
using L = LoadedSettings;

// clang-format off
#define ON_OFF {{"+", "On", 1}, {"-", "Off", 0}, {}}
// clang-format on
#define FIELD(record, field) &record.field, sizeof record.field

} // namespace

// The refusal texts are the reader's own: each names its default.
// clang-format off
const AdapterSetting kAdapterSettings[KEY_COUNT] = {
    {K::Port, Setting::Baud, Family::None, "", {}, FIELD(uart, port), KEY_PORT, "Port = COM%d\n", offsetof(L, port),
     nullptr, 0, nullptr, false, nullptr, 0, 0},
    {K::Baud, Setting::Baud, Family::Baud, "BAUD", {}, FIELD(uart, baud), KEY_BAUD, "Baud = %d\n", offsetof(L, baud),
     nullptr, 0, nullptr, false, &W::baud, 0, 0},
    {K::StopBits, Setting::StopBits, Family::StopBits, "STOP", {{"1", nullptr, 1}, {"2", nullptr, 2}, {}},
     FIELD(uart, stopBits), KEY_STOP_BITS, "StopBits = %d\n", offsetof(L, stopBits), nullptr, 0,
     L"Failed to set stopBits %d", false, &W::stopBits, 0, 0},
    {K::Flow, Setting::Flow, Family::Flow, "FLOW", ON_OFF, FIELD(uart, flow), KEY_FLOW_CONTROL, "FlowControl = %s\n",
     offsetof(L, flowControl), "Invalid value for flow control in Line %s. Using Default flow control ON", 1,
     L"Failed to set flow control %d", true, &W::flow, 0, 0},
    // The digit is the row of the parity table.
    {K::Parity, Setting::Parity, Family::Parity, "PAR",
     {{"0", kParitySettings[0].word, kParitySettings[0].code}, {"1", kParitySettings[1].word, kParitySettings[1].code},
      {"2", kParitySettings[2].word, kParitySettings[2].code}},
     FIELD(uart, parity), KEY_PARITY, "Parity = %s\n", offsetof(L, parity), nullptr, 0, L"Failed to set parity %d", false,
     &W::parity, 0, 0},
    {K::Name, Setting::Name, Family::Name, "NAME", {}, FIELD(device, name), KEY_NAME, "Name = %s\n", offsetof(L, name),
     nullptr, 0, nullptr, false, nullptr, 0, 0},
    {K::Pin, Setting::Pin, Family::Pin, "PIN", {}, FIELD(device, pin), KEY_PIN, "Pin = %s\n", offsetof(L, pin), nullptr, 0,
     nullptr, false, nullptr, 0, 0},
    {K::Switch, Setting::Discoverable, Family::Discoverable, "DCOV", ON_OFF, FIELD(device, discoverable),
     KEY_DISCOVERABLE, "Discoverable = %s\n", offsetof(L, discoverable),
     "Invalid value for discoverability in Line %s. Using Default discoverability ON", 1, nullptr, true,
     &W::discoverable, IDC_LD_DISCOVERABLE, IDC_LD_NON_DISCOVERABLE},
    // On is "AT+PIN-\r"; a PIN comes back through the Pin row.
    {K::DisablePin, Setting::RemovePin, Family::Pin, "PIN", {{"-", "On", 1}, {"", "Off", 0}, {}},
     FIELD(device, pinDisabled), KEY_DISABLE_PIN,
     "DisablePin = %s\n", offsetof(L, disablePin), "Invalid value for disable pin in Line %s. Using Default value OFF", 0,
     nullptr, false, nullptr, IDC_LD_DISABLE_AUTH, 0},
    {K::Role, Setting::Role, Family::Role, "ROLE", {{"M", "Master", ROLE_MASTER}, {"S", "Slave", ROLE_SLAVE}, {}},
     FIELD(device, role), KEY_ROLE, "Role = %s\n", offsetof(L, role),
     "Invalid value for role in Line %s. Using Default role Slave", ROLE_SLAVE, nullptr, true, &W::role,
     IDC_LD_MASTER, IDC_LD_SLAVE},
    {K::Switch, Setting::AutoConnect, Family::AutoConnect, "ACON", ON_OFF, FIELD(device, autoConnect),
     KEY_AUTO_CONNECT, "AutoConnect = %s\n", offsetof(L, autoConnect),
     "Invalid value for auto connect in Line %s. Using Default value ON", 1, nullptr, true, &W::autoConnect,
     IDC_LD_AUTO_CONNECT, 0},
    {K::Switch, Setting::Escape, Family::Escape, "ESC", ON_OFF, FIELD(device, escapeOn), KEY_ESCAPE_MODE,
     "EscapeMode = %s\n", offsetof(L, escapeMode), "Invalid value for Escape Mode in Line %s. Using Default value ON", 1,
     nullptr, false, &W::escape, IDC_LD_ESCAPE_MODE, 0},
    {K::Switch, Setting::Echo, Family::Echo, "ECHO", ON_OFF, FIELD(device, echoOn), KEY_ECHO_MODE, "EchoMode = %s\n",
     offsetof(L, echoMode), "Invalid value for Echo Mode in Line %s. Using Default value ON", 1, nullptr, false,
     &W::echo, IDC_LD_ECHO_MODE, 0},
    {K::Switch, Setting::Sleep, Family::Sleep, "SLEEP", ON_OFF, FIELD(device, sleepOn), KEY_AUTO_POWER, "AutoPower = %s\n",
     offsetof(L, autoPower), "Invalid value for Auto Power in Line %s. Using Default value OFF", 0, nullptr, false,
     &W::sleep, IDC_LD_AUTO_POWER, 0},
    {K::Switch, Setting::Response, Family::Response, "RESP", ON_OFF, FIELD(device, responseOn),
     KEY_COMMAND_RESPONSE, "CommandResponse = %s\n", offsetof(L, commandResponse),
     "Invalid value for Command Response in Line %s. Using Default value ON", 1, nullptr, false, &W::response,
     IDC_LD_COMMAND_RESPONSE, 0},
    {K::Switch, Setting::RemoteConfig, Family::RemoteConfig, "RCFG", ON_OFF, FIELD(device, remoteConfig),
     KEY_REMOTE_CONFIG, "RemoteConfig = %s\n", offsetof(L, remoteConfig),
     "Invalid value for Remote Config in Line %s. Using Default value ON", 1, nullptr, false, &W::remoteConfig,
     IDC_LD_REMOTE_CONFIG, 0},
};
// clang-format on

#undef ON_OFF
#undef FIELD

int AdapterSetting::wordCount() const
{
    int n = 0;
    while (n < SETTING_WORDS && words[n].command)
        ++n;
    return n;
}

const AdapterSetting* settingOfFamily(AtCommandId family)
{
    // DisablePin shares the PIN's family; the PIN's row comes first.
    for (const AdapterSetting& row : kAdapterSettings)
        if (row.family == family && family != Family::None)
            return &row;
    return nullptr;
}

const AdapterSetting* settingOf(Setting setting)
{
    for (const AdapterSetting& row : kAdapterSettings)
        if (row.kind != SettingKind::Port && row.setting == setting)
            return &row;
    return nullptr;
}

namespace {

// Every setting of the file can be made known by a value from the adapter.
constexpr size_t KNOWN_FIELDS = sizeof kAdapterSettings / sizeof kAdapterSettings[0];
static_assert(sizeof device.name == sizeof LoadedSettings::name && sizeof device.pin == sizeof LoadedSettings::pin,
              "the file's texts and the adapter's have one size");

LoadedSettings knownValues;
bool known[KNOWN_FIELDS];

void noteField(size_t i)
{
    const AdapterSetting& field = kAdapterSettings[i];
    char* target = reinterpret_cast<char*>(&knownValues) + field.loaded;
    memcpy(target, field.held, field.size);
    if (field.isText())
        target[field.size - 1] = '\0';
    known[i] = true;
}

// Copies each setting's field into the file's record.
void copyHeld(LoadedSettings& values)
{
    for (const AdapterSetting& row : kAdapterSettings) {
        char* field = reinterpret_cast<char*>(&values) + row.loaded;
        if (row.isText())
            copyText(field, row.size, row.text());
        else
            memcpy(field, row.held, row.size);
    }
}

} // namespace

void noteKnownSetting(const void* field)
{
    EngineLock lock;
    for (size_t i = 0; i < KNOWN_FIELDS; ++i)
        if (kAdapterSettings[i].held == field)
            noteField(i);
}

void noteAllKnownSettings()
{
    EngineLock lock;
    for (size_t i = 0; i < KNOWN_FIELDS; ++i)
        noteField(i);
}

void forgetKnownSettings()
{
    EngineLock lock;
    memset(&knownValues, 0, sizeof knownValues);
    memset(known, 0, sizeof known);
    memset(&loadedSettings, 0, sizeof loadedSettings);
    loadedSettingsPresent = 0;
}

LoadedSettings lastKnownSettings()
{
    EngineLock lock;
    LoadedSettings values = loadedSettings;
    for (size_t i = 0; i < KNOWN_FIELDS; ++i) {
        if (known[i])
            memcpy(reinterpret_cast<char*>(&values) + kAdapterSettings[i].loaded,
                   reinterpret_cast<const char*>(&knownValues) + kAdapterSettings[i].loaded, kAdapterSettings[i].size);
    }
    return values;
}

LoadedSettings heldSettings()
{
    LoadedSettings values{};
    EngineLock lock;
    copyHeld(values);
    return values;
}
