#include "serial/uart.h"
#include "serial/uart_internal.h"
#include "common/debuglog.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD NAME_CHARS = 512; // 1024 bytes
constexpr DWORD DATA_BYTES = 1024;
constexpr DWORD LONGEST_VALUE_NAME = 16384; // the registry's own limit, with the terminator

// Reads value `index` of the key into name and data. A name longer than the
// usual buffer is read again into one that holds any value name, so that
// its port is still listed. The data always ends in a terminator.
LONG readValue(HKEY key, DWORD index, wchar_t* name, DWORD nameChars, wchar_t* data)
{
    memset(name, 0, nameChars * sizeof(wchar_t));
    memset(data, 0, DATA_BYTES);
    DWORD nameLength = nameChars;
    DWORD dataLength = DATA_BYTES - sizeof(wchar_t);
    return RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataLength);
}

} // namespace

void EnumerateComPortsFrom(HKEY root, const wchar_t* path, HWND comPortCombo)
{
    static wchar_t longName[LONGEST_VALUE_NAME];
    wchar_t name[NAME_CHARS];
    wchar_t data[DATA_BYTES / sizeof(wchar_t)];
    int count = 0;
    DWORD index = 0;

    for (;;) {
        HKEY key = nullptr;
        LONG opened = RegOpenKeyExW(root, path, 0, KEY_READ, &key);
        if (opened != ERROR_SUCCESS || !key) {
            debugLog("ERROR: Failed to read RegKey %ls retRegVal = %d", path, static_cast<int>(opened));
            break;
        }

        LONG result = readValue(key, index, name, NAME_CHARS, data);
        const wchar_t* valueName = name;
        if (result == ERROR_MORE_DATA) {
            result = readValue(key, index, longName, LONGEST_VALUE_NAME, data);
            valueName = longName;
        }
        // A value whose data did not fit is no port name; it is skipped.
        if (result == ERROR_SUCCESS && valueName[0] != L'\0' && data[0] != L'\0') {
            LRESULT position = SendMessageW(comPortCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(data));
            if (position >= 0)
                ++count;
        }

        ++index;
        RegCloseKey(key);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
            break;
    }

    // Past the size of comPortList the ports are still listed, but only the
    // first ones get a number.
    int recorded = count < COM_PORT_LIST_SIZE ? count : COM_PORT_LIST_SIZE;
    for (int i = 0; i < recorded; ++i) {
        wchar_t text[NAME_CHARS];
        LRESULT length = SendMessageW(comPortCombo, CB_GETLBTEXTLEN, i, 0);
        if (length < 0 || length >= static_cast<LRESULT>(NAME_CHARS))
            continue;
        text[0] = L'\0';
        SendMessageW(comPortCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        char narrow[NAME_CHARS * 2];
        if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) == 0)
            narrow[0] = '\0';
        sscanf(narrow, "COM%d", &uart.comPortList[i]);
        debugLog("uart.comPortList[%d]=%d", i, uart.comPortList[i]);
    }
    uart.comPortCount = recorded;
}

void EnumerateComPorts(HWND comPortCombo)
{
    EnumerateComPortsFrom(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", comPortCombo);
}
