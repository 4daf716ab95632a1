// Brings the adapter into line with a loaded settings file: one command for
// each setting that differs from what the adapter is known to hold.
#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"
#include "settings/settings.h"

#include <cstring>

namespace {

const char programmingText[] = "Programming the adapter with the loaded settings...";
const char programmedText[] = "Adapter programmed with loaded settings.";

// Settings of this run that the adapter did not take.
int failures = 0;

// Every command is blocking and kept out of the log window; a failure has
// been reported by the send and the next setting follows regardless.
void send(const char* command)
{
    uint16_t result = sendAndWait(command);
    if (result != SEND_OK && result != SEND_PENDING)
        ++failures;
}

void sendSwitch(char* command, const char* family, int32_t loaded, int32_t held)
{
    if (loaded == held)
        return;
    formatCommand(command, "%s%c\r", family, loaded ? '+' : '-');
    send(command);
}

// A terminated copy of a text field: the command buffer holds the longest
// name (15) and PIN (7) with their command, and nothing longer gets in.
template <size_t N>
void copyText(char (&out)[N], const char* field)
{
    size_t length = strnlen(field, N - 1);
    memcpy(out, field, length);
    out[length] = '\0';
}

// Sends "<family>=<value>" when the loaded text field differs from the held one.
template <size_t N, size_t M>
void sendTextIfChanged(char* command, const char* family, const char (&loadedField)[N], const char (&heldField)[M])
{
    char loaded[N];
    char held[M];
    copyText(loaded, loadedField);
    copyText(held, heldField);
    if (strcmp(loaded, held) == 0)
        return;
    formatCommand(command, "%s=%s\r", family, loaded);
    send(command);
}

// AT+PAR's digit: the parity's row, none's for a code no row has.
int parityDigit(int32_t parity)
{
    int row = parityRowOfCode(parity);
    return row >= 0 ? row : DEFAULT_PARITY_ROW;
}

} // namespace

void programLoadedSettings()
{
    postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(programmingText));
    failures = 0;

    char command[COMMAND_SIZE];
    const LoadedSettings& file = loadedSettings;

    // The line settings go first: each accepted one moves the port along,
    // so the rest reach the adapter at its new settings.
    if (file.baud != uart.baud) {
        formatCommand(command, "AT+BAUD%d\r", kBaudSettings[baudRateToIndex(file.baud)].code);
        send(command);
    }
    if (file.stopBits != uart.stopBits) {
        formatCommand(command, "AT+STOP%d\r", file.stopBits);
        send(command);
    }
    if (file.parity != uart.parity) {
        formatCommand(command, "AT+PAR%d\r", parityDigit(file.parity));
        send(command);
    }

    sendTextIfChanged(command, "AT+NAME", file.name, device.name);
    sendTextIfChanged(command, "AT+PIN", file.pin, device.pin);

    // Only ever removes the PIN; a PIN comes back through the Pin line.
    if (file.disablePin == 1 && device.pinDisabled != 1) {
        formatCommand(command, "%s%c\r", "AT+PIN", '-');
        send(command);
    }

    sendSwitch(command, "AT+ESC", file.escapeMode, device.escapeOn);
    sendSwitch(command, "AT+ECHO", file.echoMode, device.echoOn);
    sendSwitch(command, "AT+SLEEP", file.autoPower, device.sleepOn);
    sendSwitch(command, "AT+RESP", file.commandResponse, device.responseOn);
    sendSwitch(command, "AT+RCFG", file.remoteConfig, device.remoteConfig);
    sendSwitch(command, "AT+DCOV", file.discoverable, device.discoverable);

    if (file.role != device.role) {
        if (file.role == ROLE_MASTER)
            formatCommand(command, "%sM\r", "AT+ROLE");
        else
            formatCommand(command, "%sS\r", "AT+ROLE");
        send(command);
    }

    sendSwitch(command, "AT+ACON", file.autoConnect, device.autoConnect);
    sendSwitch(command, "AT+FLOW", file.flowControl, uart.flow);

    if (failures == 0) {
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>(programmedText));
        return;
    }
    char text[TEXT_SIZE];
    formatText(text, "Adapter not fully programmed: %d of the loaded settings failed.", failures);
    postLogText(text);
}
