// Brings the adapter into line with wanted settings: one command for each
// setting that differs from what the adapter is known to hold.
#include "atcommand/program.h"
#include "atcommand/adapter_settings.h"
#include "common/text.h"
#include "serial/uart.h"

#include <cstring>

namespace {

// A text field up to its NUL or its last character, whichever comes first:
// the command buffer holds the longest name (15) and PIN (7) with their
// command, and nothing longer gets in.
template <size_t N>
std::string fieldText(const char (&field)[N])
{
    return ::fieldText(field, N - 1);
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

// "AT+<family><word>\r".
void wordCommand(char* command, const AdapterSetting& row, const SettingWord& word)
{
    formatCommand(command, "AT+%s%s\r", row.word, word.command);
}

// An on/off switch or the role: only a value the adapter has reported
// (one of the row's) is changed. A switch compares on and off, the role
// its value.
bool wordsCommand(char* command, const AdapterSetting& row, int32_t wanted)
{
    const int32_t held = row.value();
    const SettingWord& on = row.words[0];
    const SettingWord& off = row.words[1];
    if (wanted == KEEP || (held != on.value && held != off.value))
        return false;
    if (row.kind == SettingKind::Switch ? (wanted != 0) == (held != 0) : wanted == held)
        return false;
    wordCommand(command, row, (row.kind == SettingKind::Switch ? wanted != 0 : wanted == on.value) ? on : off);
    return true;
}

} // namespace

bool settingCommand(const WantedSettings& wanted, Setting setting, char* command)
{
    const AdapterSetting* found = settingOf(setting);
    if (!found)
        return false;
    const AdapterSetting& row = *found;
    const int32_t value = row.wanted ? wanted.*row.wanted : KEEP;
    switch (row.kind) {
    case SettingKind::Switch:
    case SettingKind::Role:
        return wordsCommand(command, row, value);
    case SettingKind::Baud:
        if (value == KEEP || value == row.value())
            return false;
        formatCommand(command, "AT+BAUD%d\r", kBaudSettings[baudRateToIndex(value)].code);
        return true;
    case SettingKind::StopBits:
        // The wanted count as it is: one the catalogue lacks is refused by the send.
        if (value == KEEP || value == row.value())
            return false;
        formatCommand(command, "AT+STOP%d\r", value);
        return true;
    case SettingKind::Parity: {
        if (value == KEEP || value == row.value())
            return false;
        int parity = parityRowOfCode(value);
        formatCommand(command, "AT+PAR%d\r", parity >= 0 ? parity : DEFAULT_PARITY_ROW);
        return true;
    }
    case SettingKind::Flow:
        if (value == KEEP || value == row.value())
            return false;
        formatCommand(command, "AT+FLOW%c\r", value ? '+' : '-');
        return true;
    case SettingKind::Name:
        return textCommand(command, "AT+NAME", wanted.name, device.name);
    case SettingKind::Pin:
        return textCommand(command, "AT+PIN", wanted.pin, device.pin);
    case SettingKind::DisablePin:
        if (!wanted.removePin || row.value() == 1)
            return false;
        wordCommand(command, row, row.words[0]);
        return true;
    case SettingKind::Port:
        break;
    }
    return false;
}

namespace {

const char programmingText[] = "Programming the adapter with the loaded settings...";
const char programmedText[] = "Adapter programmed with loaded settings.";

} // namespace

// Only the settings that the file holds: a missing line keeps what the
// adapter has.
WantedSettings loadedWantedSettings()
{
    const LoadedSettings& file = loadedSettings;
    WantedSettings wanted;
    for (const AdapterSetting& row : kAdapterSettings) {
        if (!loadedSettingPresent(row.key))
            continue;
        const char* field = reinterpret_cast<const char*>(&file) + row.loaded;
        const int32_t value = row.isText() ? 0 : *reinterpret_cast<const int32_t*>(field);
        switch (row.kind) {
        case SettingKind::Baud:
        case SettingKind::StopBits:
        case SettingKind::Parity:
            wanted.*row.wanted = value;
            break;
        case SettingKind::Flow:
        case SettingKind::Switch:
            wanted.*row.wanted = value ? 1 : 0;
            break;
        case SettingKind::Role:
            wanted.role = value == ROLE_MASTER ? ROLE_MASTER : ROLE_SLAVE;
            break;
        case SettingKind::Name:
            wanted.name = fieldText(file.name);
            break;
        case SettingKind::Pin:
            wanted.pin = fieldText(file.pin);
            break;
        case SettingKind::DisablePin:
            // Only ever removes the PIN; a PIN comes back through the Pin line.
            wanted.removePin = value == 1;
            break;
        case SettingKind::Port:
            break;
        }
    }
    return wanted;
}

void programLoadedSettings()
{
    postLogText(programmingText);
    const WantedSettings wanted = loadedWantedSettings();

    int failures = 0;
    char command[COMMAND_SIZE];
    for (Setting setting : kLoadedSettingsOrder) {
        if (!settingCommand(wanted, setting, command))
            continue;
        // Blocking and kept out of the log window; a failure has been
        // reported by the send and the next setting follows regardless.
        uint16_t result = sendAndWait(command);
        if (!sendSucceeded(result))
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
