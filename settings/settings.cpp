// The settings file: a text file of "Key = Value" lines holding the line
// settings and the adapter's own settings.
#include "settings/settings.h"
#include "app/debuglog.h"
#include "app/msgbox.h"
#include "atcommand/atcommand.h"
#include "serial/uart.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

LoadedSettings loadedSettings;

namespace {

// fgets is given this size, so a line is read at most 1022 characters at a
// time; the rest of a longer line comes back as the next line.
constexpr int LINE_READ_SIZE = 1023;

enum Key {
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

// Tried in this order: the first name found anywhere in the line wins, which
// is why DisablePin comes before Pin.
const char* const keyNames[KEY_COUNT] = {
    "Port", "Baud", "StopBits", "FlowControl", "Parity", "DisablePin", "Name", "Pin",
    "Discoverable", "Role", "AutoConnect", "EscapeMode", "EchoMode", "AutoPower",
    "CommandResponse", "RemoteConfig",
};

// The on/off keys: the field, the complaint about a value that is neither
// "On" (any case) nor "Off", and the value used then.
struct Flag {
    Key key;
    int32_t LoadedSettings::*field;
    const char* invalid;
    int32_t fallback;
};

const Flag flags[] = {
    {KEY_FLOW_CONTROL, &LoadedSettings::flowControl,
     "Invalid value for flow control in Line %s. Using Default flow control ON", 1},
    {KEY_DISABLE_PIN, &LoadedSettings::disablePin,
     "Invalid value for disable pin in Line %s. Using Default value OFF", 0},
    {KEY_DISCOVERABLE, &LoadedSettings::discoverable,
     "Invalid value for discoverability in Line %s. Using Default discoverability ON", 1},
    {KEY_AUTO_CONNECT, &LoadedSettings::autoConnect,
     "Invalid value for auto connect in Line %s. Using Default value ON", 1},
    {KEY_ESCAPE_MODE, &LoadedSettings::escapeMode,
     "Invalid value for Escape Mode in Line %s. Using Default value ON", 1},
    {KEY_ECHO_MODE, &LoadedSettings::echoMode,
     "Invalid value for Echo Mode in Line %s. Using Default value ON", 1},
    {KEY_AUTO_POWER, &LoadedSettings::autoPower,
     "Invalid value for Auto Power in Line %s. Using Default value OFF", 0},
    {KEY_COMMAND_RESPONSE, &LoadedSettings::commandResponse,
     "Invalid value for Command Response in Line %s. Using Default value ON", 1},
    {KEY_REMOTE_CONFIG, &LoadedSettings::remoteConfig,
     "Invalid value for Remote Config in Line %s. Using Default value ON", 1},
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// "On" in any case is 1 and "Off" exactly as written is 0; anything else,
// a trailing blank included, is -1.
int onOff(const char* value)
{
    if (_stricmp(value, "On") == 0)
        return 1;
    if (strcmp(value, "Off") == 0)
        return 0;
    return -1;
}

int32_t leadingNumber(const char* value)
{
    long number = strtol(value, nullptr, 10);
    if (number > INT32_MAX)
        return INT32_MAX;
    if (number < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(number);
}

// Name and Pin values longer than their field are cut to it: refusing the
// line would leave the field empty, and loading would then program an empty
// name or PIN into the adapter.
void storeText(char* field, size_t size, const char* value, const char* key, const char* line)
{
    size_t length = strlen(value);
    if (length >= size) {
        debugLog("%s value longer than %u characters in Line %s. Cut to %u characters", key,
                 static_cast<unsigned>(size - 1), line, static_cast<unsigned>(size - 1));
        length = size - 1;
    }
    memcpy(field, value, length);
    field[length] = '\0';
}

void storeValue(Key key, const char* value, const char* line)
{
    switch (key) {
    case KEY_PORT: {
        int number = 0;
        if (sscanf(value, "COM%d", &number) == 1)
            loadedSettings.port = number;
        return;
    }
    case KEY_BAUD:
        loadedSettings.baud = leadingNumber(value);
        return;
    case KEY_STOP_BITS:
        loadedSettings.stopBits = leadingNumber(value);
        return;
    case KEY_PARITY:
        // The comment line writes these in lower case, but only the
        // capitalised forms count; anything else leaves parity alone.
        if (strcmp(value, "None") == 0)
            loadedSettings.parity = 0x0100;
        else if (strcmp(value, "Odd") == 0)
            loadedSettings.parity = 0x0200;
        else if (strcmp(value, "Even") == 0)
            loadedSettings.parity = 0x0400;
        return;
    case KEY_NAME:
        storeText(loadedSettings.name, sizeof loadedSettings.name, value, "Name", line);
        return;
    case KEY_PIN:
        storeText(loadedSettings.pin, sizeof loadedSettings.pin, value, "Pin", line);
        return;
    case KEY_ROLE:
        if (_stricmp(value, "Master") == 0) {
            loadedSettings.role = 1;
        } else if (strcmp(value, "Slave") == 0) {
            loadedSettings.role = 2;
        } else {
            debugLog("Invalid value for role in Line %s. Using Default role Slave", line);
            loadedSettings.role = 2;
        }
        return;
    default:
        break;
    }
    for (const Flag& flag : flags) {
        if (flag.key != key)
            continue;
        int state = onOff(value);
        if (state < 0) {
            debugLog(flag.invalid, line);
            state = flag.fallback;
        }
        loadedSettings.*flag.field = state;
        return;
    }
}

void readLine(char* line, const char* fileName)
{
    debugLog("Read Line %s", line);

    const char* start = line;
    while (isBlank(*start))
        ++start;
    if (*start == '#')
        return;

    int key = 0;
    while (key < KEY_COUNT && strstr(line, keyNames[key]) == nullptr)
        ++key;
    if (key == KEY_COUNT) {
        debugLog("Unhandled entry %s in %s file", line, fileName);
        return;
    }

    // Split at the first "=" in the line. If there is none, write "line %s format not correct".
    const char* equals = strchr(line, '=');
    if (equals == nullptr) {
        debugLog("line %s format not correct", line);
        return;
    }
    const char* value = equals + 1;
    while (isBlank(*value))
        ++value;

    // The value runs to the line end; blanks before it stay part of it.
    char text[LINE_READ_SIZE];
    size_t length = strlen(value);
    if (length > 0 && value[length - 1] == '\n')
        --length;
    memcpy(text, value, length);
    text[length] = '\0';
    storeValue(static_cast<Key>(key), text, line);
}

void reportOtherError(int error)
{
    char text[64];
    snprintf(text, sizeof text, "Failed to open settings.txt file. Error %d", error);
    showMessageBoxA(text);
}

// The messages name settings.txt whatever file was asked for.
void reportOpenFailure(int error)
{
    switch (error) {
    case EPERM:
        showMessageBoxA("Failed to open settings.txt file.Operation not permitted");
        break;
    case ENOENT:
        showMessageBoxA("Failed to open settings.txt file.No such file present");
        break;
    case EACCES:
        showMessageBoxA("Failed to open settings.txt file.Access Denied");
        break;
    default:
        reportOtherError(error);
        break;
    }
}

void reportCreateFailure(int error)
{
    switch (error) {
    case EPERM:
        showMessageBoxA("Failed to create settings.txt file.Operation not permitted");
        break;
    case ENOMEM:
        showMessageBoxA("Failed to create settings.txt file.No Space in disk left");
        break;
    case EACCES:
        showMessageBoxA("Failed to create settings.txt file.Access Denied");
        break;
    case EBUSY:
        showMessageBoxA("Failed to create settings.txt file.File in use.");
        break;
    case ENAMETOOLONG:
        showMessageBoxA("Failed to create settings.txt file.File name too long");
        break;
    default:
        reportOtherError(error);
        break;
    }
}

const char* onOffText(int32_t flag) { return flag ? "On" : "Off"; }

// A bounded, terminated copy of a record's text field for printing.
template <size_t N>
void copyField(char (&out)[N], const char* field, size_t size)
{
    static_assert(N > 0, "empty buffer");
    size_t length = strnlen(field, size);
    if (length >= N)
        length = N - 1;
    memcpy(out, field, length);
    out[length] = '\0';
}

} // namespace

int readSettingsFile(const char* fileName)
{
    FILE* file = nullptr;
    errno_t error = fopen_s(&file, fileName, "rt");
    if (error != 0 || file == nullptr) {
        reportOpenFailure(error != 0 ? error : EINVAL);
        return 0;
    }

    memset(&loadedSettings, 0, sizeof loadedSettings);
    char line[LINE_READ_SIZE + 1];
    while (fgets(line, LINE_READ_SIZE, file) != nullptr)
        readLine(line, fileName);

    fclose(file);
    return 1;
}

int writeSettingsFile(const char* fileName)
{
    FILE* file = nullptr;
    errno_t error = fopen_s(&file, fileName, "wt");
    if (error != 0 || file == nullptr) {
        reportCreateFailure(error != 0 ? error : EINVAL);
        return 0;
    }

    char name[sizeof device.name];
    char pin[sizeof device.pin];
    copyField(name, device.name, sizeof device.name);
    copyField(pin, device.pin, sizeof device.pin);

    fprintf_s(file, "# RZ310 Configuration Utility Settings\n");
    fprintf_s(file, "Port = COM%d\n", uart.port);
    fprintf_s(file, "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400\n");
    fprintf_s(file, "Baud = %d\n", uart.baud);
    fprintf_s(file, "StopBits = %d\n", uart.stopBits);
    fprintf_s(file, "FlowControl = %s\n", onOffText(uart.flow));
    fprintf_s(file, "# Valid parity values are none, odd, even\n");
    if (uart.parity == 0x0100)
        fprintf_s(file, "Parity = None\n");
    else if (uart.parity == 0x0200)
        fprintf_s(file, "Parity = Odd\n");
    else if (uart.parity == 0x0400)
        fprintf_s(file, "Parity = Even\n");
    fprintf_s(file, "Name = %s\n", name);
    fprintf_s(file, "Pin = %s\n", pin);
    fprintf_s(file, "Discoverable = %s\n", onOffText(device.discoverable));
    fprintf_s(file, "DisablePin = %s\n", onOffText(device.pinDisabled));
    if (device.role == 1)
        fprintf_s(file, "Role = Master\n");
    else if (device.role == 2)
        fprintf_s(file, "Role = Slave\n");
    fprintf_s(file, "AutoConnect = %s\n", onOffText(device.autoConnect));
    fprintf_s(file, "EscapeMode = %s\n", onOffText(device.escapeOn));
    fprintf_s(file, "EchoMode = %s\n", onOffText(device.echoOn));
    fprintf_s(file, "AutoPower = %s\n", onOffText(device.sleepOn));
    fprintf_s(file, "CommandResponse = %s\n", onOffText(device.responseOn));
    fprintf_s(file, "RemoteConfig = %s\n", onOffText(device.remoteConfig));

    // A full disk shows only here; a half-written file is not a saved one.
    bool failed = fflush(file) != 0 || ferror(file) != 0;
    failed = fclose(file) != 0 || failed;
    if (failed) {
        debugLog("Failed to write %s file. Error %d", fileName, errno);
        return 0;
    }
    return 1;
}
