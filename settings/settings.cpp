// The settings file: a text file of "Key = Value" lines holding the line
// settings and the adapter's own settings.
#include "settings/settings.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "atcommand/adapter_settings.h"
#include "serial/uart.h"

#include <cerrno>
#include <cstddef>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Lines are read with this size, so a line is read at most 1022 characters at a
// time; the rest of a longer line comes back as the next line.
constexpr int LINE_READ_SIZE = 1023;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

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
void storeText(char* field, size_t size, const char* value, const AdapterSetting& row, const char* line)
{
    const std::string key(row.fileLine, row.keyLength());
    size_t length = strlen(value);
    if (length >= size) {
        debugLog("%s value longer than %u characters in Line %s. Cut to %u characters", key.c_str(),
                 static_cast<unsigned>(size - 1), line, static_cast<unsigned>(size - 1));
        length = size - 1;
    }
    memcpy(field, value, length);
    field[length] = '\0';
}

// A word of the row's two: the first in any case, the second exactly as
// written; anything else, a trailing blank included, is -1.
int wordRow(const AdapterSetting& row, const char* value)
{
    if (_stricmp(value, row.words[0].file) == 0)
        return 0;
    if (strcmp(value, row.words[1].file) == 0)
        return 1;
    return -1;
}

// False when the value is ignored, the field left as it was.
bool storeValue(const AdapterSetting& row, const char* value, const char* line)
{
    char* field = reinterpret_cast<char*>(&loadedSettings) + row.loaded;
    int32_t& number = *reinterpret_cast<int32_t*>(field);
    switch (row.kind) {
    case SettingKind::Port: {
        int port = 0;
        if (sscanf(value, "COM%d", &port) != 1)
            return false;
        number = port;
        return true;
    }
    case SettingKind::Baud:
    case SettingKind::StopBits:
        number = leadingNumber(value);
        return true;
    case SettingKind::Parity: {
        // The comment line writes these in lower case, but only the
        // capitalised forms count; anything else leaves parity alone.
        int parity = parityRowOfWord(value);
        if (parity < 0)
            return false;
        number = kParitySettings[parity].code;
        return true;
    }
    case SettingKind::Name:
    case SettingKind::Pin:
        storeText(field, row.size, value, row, line);
        return true;
    case SettingKind::Flow:
    case SettingKind::Switch:
    case SettingKind::Role:
    case SettingKind::DisablePin:
        break;
    }
    int word = wordRow(row, value);
    if (word < 0) {
        debugLog(row.refused, line);
        number = row.fallback;
    } else {
        number = row.words[word].value;
    }
    return true;
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
    const AdapterSetting* row = nullptr;
    for (const AdapterSetting& candidate : kAdapterSettings) {
        if (candidate.keyLength() == keyLength && strncmp(start, candidate.fileLine, keyLength) == 0) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) {
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
    if (storeValue(*row, text, line))
        loadedSettingsPresent |= 1u << row->key;
}

// The messages name settings.txt whatever file was asked for.
void reportOpenFailure(int error) { showFileError("settings.txt", false, error); }

void reportCreateFailure(int error) { showFileError("settings.txt", true, error); }

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

// The file word of a value: "On" for any value but zero; a parity or a role
// only for a value of the row's own (nullptr: no line).
const char* fileWord(const AdapterSetting& row, int32_t value)
{
    if (row.kind != SettingKind::Parity && row.kind != SettingKind::Role)
        return row.words[value ? 0 : 1].file;
    for (int word = 0; word < row.wordCount(); ++word)
        if (row.words[word].value == value)
            return row.words[word].file;
    return nullptr;
}

// The file's text, line by line, from a record of its values.
std::string settingsText(const LoadedSettings& values)
{
    std::string text;
    char line[128];
    auto add = [&](const char* format, auto value) {
        snprintf(line, sizeof line, format, value);
        text += line;
    };
    text += "# RZ310 Configuration Utility Settings\n";
    for (const AdapterSetting& row : kAdapterSettings) {
        const char* field = reinterpret_cast<const char*>(&values) + row.loaded;
        const int32_t number = row.isText() ? 0 : *reinterpret_cast<const int32_t*>(field);
        if (row.kind == SettingKind::Baud) {
            text += "# Valid baudrate values ";
            for (const BaudSetting& baud : kBaudSettings)
                add(&baud == kBaudSettings ? "%d" : ",%d", baud.rate);
            text += "\n";
        } else if (row.kind == SettingKind::Parity) {
            text += "# Valid parity values are none, odd, even\n";
        }
        if (row.kind == SettingKind::Port || row.kind == SettingKind::Baud || row.kind == SettingKind::StopBits) {
            add(row.fileLine, number);
        } else if (row.isText()) {
            char copy[sizeof values.name];
            copyField(copy, field, row.size);
            add(row.fileLine, copy);
        } else if (const char* word = fileWord(row, number)) {
            add(row.fileLine, word);
        }
    }
    return text;
}

int errnoOfWin32(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return static_cast<int>(error);
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

} // namespace

int writeLastKnownSettings(const wchar_t* path) { return writeWhole(path, settingsText(lastKnownSettings())); }

std::string adapterSettingsText() { return settingsText(heldSettings()); }

int writeSettingsFile(const char* fileName)
{
    // The name as the file dialog and the callers give it: ANSI code page.
    const std::wstring path = ansiToWide(fileName);
    if (path.empty() && fileName[0] != '\0') {
        reportCreateFailure(EINVAL);
        return 0;
    }
    return writeWhole(path, adapterSettingsText());
}
