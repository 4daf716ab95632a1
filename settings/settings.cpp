// The settings file: a text file of "Key = Value" lines holding the line
// settings and the adapter's own settings.
#include "settings/settings.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "atcommand/internal.h"
#include "serial/uart.h"

#include <cerrno>
#include <cstddef>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

LoadedSettings loadedSettings;
uint32_t loadedSettingsPresent = 0;

namespace {

using Key = SettingsKey;

// Lines are read with this size, so a line is read at most 1022 characters at a
// time; the rest of a longer line comes back as the next line.
constexpr int LINE_READ_SIZE = 1023;

// The key of a line is the text before its "=", compared whole: a value may
// hold any of these words ("Name = Baud Box").
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

// False when the value is ignored, the field left as it was.
bool storeValue(Key key, const char* value, const char* line)
{
    switch (key) {
    case KEY_PORT: {
        int number = 0;
        if (sscanf(value, "COM%d", &number) != 1)
            return false;
        loadedSettings.port = number;
        return true;
    }
    case KEY_BAUD:
        loadedSettings.baud = leadingNumber(value);
        return true;
    case KEY_STOP_BITS:
        loadedSettings.stopBits = leadingNumber(value);
        return true;
    case KEY_PARITY: {
        // The comment line writes these in lower case, but only the
        // capitalised forms count; anything else leaves parity alone.
        int row = parityRowOfWord(value);
        if (row < 0)
            return false;
        loadedSettings.parity = kParitySettings[row].code;
        return true;
    }
    case KEY_NAME:
        storeText(loadedSettings.name, sizeof loadedSettings.name, value, "Name", line);
        return true;
    case KEY_PIN:
        storeText(loadedSettings.pin, sizeof loadedSettings.pin, value, "Pin", line);
        return true;
    case KEY_ROLE:
        if (_stricmp(value, "Master") == 0) {
            loadedSettings.role = ROLE_MASTER;
        } else if (strcmp(value, "Slave") == 0) {
            loadedSettings.role = ROLE_SLAVE;
        } else {
            debugLog("Invalid value for role in Line %s. Using Default role Slave", line);
            loadedSettings.role = ROLE_SLAVE;
        }
        return true;
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
        return true;
    }
    return false;
}

void readLine(char* line, const char* fileName)
{
    debugLog("Read Line %s", line);

    const char* start = line;
    while (isBlank(*start))
        ++start;
    if (*start == '#')
        return;

    // The text before the first "=", blanks and tabs around it left out; a
    // line without "=" is judged by its first word.
    const char* equals = strchr(start, '=');
    const char* keyEnd = equals ? equals : start + strcspn(start, " \t\r\n");
    while (keyEnd > start && isBlank(keyEnd[-1]))
        --keyEnd;
    size_t keyLength = static_cast<size_t>(keyEnd - start);
    int key = 0;
    while (key < KEY_COUNT && (strlen(keyNames[key]) != keyLength || strncmp(start, keyNames[key], keyLength) != 0))
        ++key;
    if (key == KEY_COUNT) {
        debugLog("Unhandled entry %s in %s file", line, fileName);
        return;
    }
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
    if (storeValue(static_cast<Key>(key), text, line))
        loadedSettingsPresent |= 1u << key;
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

// Reads a file opened in binary mode as text mode reads it, CR LF as LF,
// except that a 0x1A byte (which text mode takes for the end of the file)
// is a character like any other: a name may hold one. Only a 0x1A followed
// by nothing but line ends, an old editor's end-of-file mark, ends the file.
class TextReader {
public:
    explicit TextReader(FILE* file) : file_(file) {}

    // As fgets: at most size - 1 characters, up to and with a line feed.
    bool readLine(char* line, int size)
    {
        int n = 0;
        while (n < size - 1) {
            int c = next();
            if (c == EOF)
                break;
            line[n++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        line[n] = '\0';
        return n > 0;
    }

private:
    int next()
    {
        int c = getc(file_);
        if (c == '\r') {
            int after = getc(file_);
            if (after == '\n')
                return '\n';
            if (after != EOF)
                ungetc(after, file_);
            return c;
        }
        long at = c == 0x1A ? ftell(file_) : -1;
        if (at < 0)
            return c;
        int after;
        while ((after = getc(file_)) == '\r' || after == '\n') {
        }
        // Only line ends up to the end: the end mark. Otherwise the line ends are read again.
        if (after == EOF)
            return EOF;
        fseek(file_, at, SEEK_SET);
        return c;
    }

    FILE* file_;
};

} // namespace

int readSettingsFile(const char* fileName)
{
    FILE* file = nullptr;
    errno_t error = fopen_s(&file, fileName, "rb");
    if (error != 0 || file == nullptr) {
        reportOpenFailure(error != 0 ? error : EINVAL);
        return 0;
    }

    memset(&loadedSettings, 0, sizeof loadedSettings);
    loadedSettingsPresent = 0;
    TextReader reader(file);
    char line[LINE_READ_SIZE + 1];
    while (reader.readLine(line, LINE_READ_SIZE))
        readLine(line, fileName);

    fclose(file);
    return 1;
}

namespace {

// The file's text, line by line, from a record of its values.
std::string settingsText(const LoadedSettings& values)
{
    char name[sizeof values.name];
    char pin[sizeof values.pin];
    copyField(name, values.name, sizeof values.name);
    copyField(pin, values.pin, sizeof values.pin);

    std::string text;
    char line[128];
    auto add = [&](const char* format, auto value) {
        snprintf(line, sizeof line, format, value);
        text += line;
    };
    text += "# RZ310 Configuration Utility Settings\n";
    add("Port = COM%d\n", values.port);
    text += "# Valid baudrate values ";
    for (const BaudSetting& row : kBaudSettings)
        add(&row == kBaudSettings ? "%d" : ",%d", row.rate);
    text += "\n";
    add("Baud = %d\n", values.baud);
    add("StopBits = %d\n", values.stopBits);
    add("FlowControl = %s\n", onOffText(values.flowControl));
    text += "# Valid parity values are none, odd, even\n";
    if (int row = parityRowOfCode(values.parity); row >= 0)
        text += kParitySettings[row].fileLine;
    add("Name = %s\n", name);
    add("Pin = %s\n", pin);
    add("Discoverable = %s\n", onOffText(values.discoverable));
    add("DisablePin = %s\n", onOffText(values.disablePin));
    if (values.role == ROLE_MASTER)
        text += "Role = Master\n";
    else if (values.role == ROLE_SLAVE)
        text += "Role = Slave\n";
    add("AutoConnect = %s\n", onOffText(values.autoConnect));
    add("EscapeMode = %s\n", onOffText(values.escapeMode));
    add("EchoMode = %s\n", onOffText(values.echoMode));
    add("AutoPower = %s\n", onOffText(values.autoPower));
    add("CommandResponse = %s\n", onOffText(values.commandResponse));
    add("RemoteConfig = %s\n", onOffText(values.remoteConfig));
    return text;
}

int errnoOfWin32(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return static_cast<int>(error);
    }
}

// Writes the whole text into a temporary file beside `path`, then puts it in
// the old file's place: a full disk or a failed write leaves the old file.
int writeWhole(const std::wstring& path, const std::string& text)
{
    const std::wstring temporary = path + L".tmp";
    FILE* file = nullptr;
    errno_t error = _wfopen_s(&file, temporary.c_str(), L"wt");
    if (error != 0 || file == nullptr) {
        reportCreateFailure(error != 0 ? error : EINVAL);
        return 0;
    }
    bool failed = seams.settingsFileWrite(text.data(), 1, text.size(), file) != text.size();
    // A full disk shows only here; a half-written file is not a saved one.
    failed = fflush(file) != 0 || ferror(file) != 0 || failed;
    failed = fclose(file) != 0 || failed;
    if (failed) {
        debugLog("Failed to write %ls file. Error %d", path.c_str(), errno);
        DeleteFileW(temporary.c_str());
        return 0;
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD moveError = GetLastError();
        debugLog("Failed to replace %ls file. Error %lu", path.c_str(), moveError);
        DeleteFileW(temporary.c_str());
        reportCreateFailure(errnoOfWin32(moveError));
        return 0;
    }
    return 1;
}

// The settings file's fields that a value from the adapter can make known,
// with where the engine keeps them.
struct KnownField {
    const void* source;
    size_t size;
    size_t offset;   // in LoadedSettings
    bool text;
};

const KnownField knownFields[] = {
    {&uart.port, sizeof uart.port, offsetof(LoadedSettings, port), false},
    {&uart.baud, sizeof uart.baud, offsetof(LoadedSettings, baud), false},
    {&uart.stopBits, sizeof uart.stopBits, offsetof(LoadedSettings, stopBits), false},
    {&uart.parity, sizeof uart.parity, offsetof(LoadedSettings, parity), false},
    {&uart.flow, sizeof uart.flow, offsetof(LoadedSettings, flowControl), false},
    {&device.echoOn, sizeof device.echoOn, offsetof(LoadedSettings, echoMode), false},
    {&device.role, sizeof device.role, offsetof(LoadedSettings, role), false},
    {&device.responseOn, sizeof device.responseOn, offsetof(LoadedSettings, commandResponse), false},
    {&device.discoverable, sizeof device.discoverable, offsetof(LoadedSettings, discoverable), false},
    {&device.escapeOn, sizeof device.escapeOn, offsetof(LoadedSettings, escapeMode), false},
    {&device.sleepOn, sizeof device.sleepOn, offsetof(LoadedSettings, autoPower), false},
    {&device.autoConnect, sizeof device.autoConnect, offsetof(LoadedSettings, autoConnect), false},
    {&device.pinDisabled, sizeof device.pinDisabled, offsetof(LoadedSettings, disablePin), false},
    {&device.remoteConfig, sizeof device.remoteConfig, offsetof(LoadedSettings, remoteConfig), false},
    {device.name, sizeof device.name, offsetof(LoadedSettings, name), true},
    {device.pin, sizeof device.pin, offsetof(LoadedSettings, pin), true},
};
constexpr size_t KNOWN_FIELDS = sizeof knownFields / sizeof knownFields[0];
static_assert(sizeof device.name == sizeof LoadedSettings::name && sizeof device.pin == sizeof LoadedSettings::pin,
              "the file's texts and the adapter's have one size");

LoadedSettings knownValues;
bool known[KNOWN_FIELDS];

void noteField(size_t i)
{
    const KnownField& field = knownFields[i];
    char* target = reinterpret_cast<char*>(&knownValues) + field.offset;
    memcpy(target, field.source, field.size);
    if (field.text)
        target[field.size - 1] = '\0';
    known[i] = true;
}

} // namespace

void noteKnownSetting(const void* field)
{
    EngineLock lock;
    for (size_t i = 0; i < KNOWN_FIELDS; ++i)
        if (knownFields[i].source == field)
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

int writeLastKnownSettings(const wchar_t* path)
{
    LoadedSettings values;
    {
        // A snapshot: the read thread may be storing an answer right now.
        EngineLock lock;
        values = loadedSettings;
        for (size_t i = 0; i < KNOWN_FIELDS; ++i) {
            if (known[i])
                memcpy(reinterpret_cast<char*>(&values) + knownFields[i].offset,
                       reinterpret_cast<const char*>(&knownValues) + knownFields[i].offset, knownFields[i].size);
        }
    }
    return writeWhole(path, settingsText(values));
}

std::string adapterSettingsText()
{
    LoadedSettings values{};
    {
        EngineLock lock;
        values.port = uart.port;
        values.baud = uart.baud;
        values.stopBits = uart.stopBits;
        values.parity = uart.parity;
        values.flowControl = uart.flow;
        values.echoMode = device.echoOn;
        values.role = device.role;
        values.commandResponse = device.responseOn;
        values.discoverable = device.discoverable;
        values.escapeMode = device.escapeOn;
        values.autoPower = device.sleepOn;
        values.autoConnect = device.autoConnect;
        values.disablePin = device.pinDisabled;
        values.remoteConfig = device.remoteConfig;
        copyField(values.name, device.name, sizeof device.name);
        copyField(values.pin, device.pin, sizeof device.pin);
    }
    return settingsText(values);
}

int writeSettingsFile(const char* fileName)
{
    // The name as the file dialog and the callers give it: ANSI code page.
    int n = MultiByteToWideChar(CP_ACP, 0, fileName, -1, nullptr, 0);
    if (n <= 0) {
        reportCreateFailure(EINVAL);
        return 0;
    }
    std::wstring path(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, fileName, -1, &path[0], n);
    path.resize(static_cast<size_t>(n - 1));
    return writeWhole(path, adapterSettingsText());
}
