// COM port discovery from a registry key of the test's own (the system's
// key is read by the end-to-end tests).
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "serial/uart_internal.h"

#include <windows.h>
#include <algorithm>
#include <cstring>

// The registry's order (Serial10 before Serial2). Data empty or longer than its
// buffer is skipped; an over-long value name still lists its port; a name that
// is no "COM%d" is listed but leaves its number as it was. Every port is
// listed, but only the first 25 get a number: the fields after keep theirs.
TEST(ComPorts, ListInRegistryOrderWithinTheirBuffersAndTheTwentyFiveCap)
{
    const wchar_t* const keyPath = L"Software\\RZ310Test\\Ports";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RZ310Test");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // clang-format off
    std::vector<std::pair<std::wstring, std::wstring>> values = {
        {L"\\Device\\Serial10", L"COM10"}, {L"\\Device\\Serial2", L"COM3"},
        {L"\\Device\\Serial6", std::wstring(600, L'C')}, {L"\\Device\\Serial7", L""},
        {L"\\Device\\Serial8", L"LPT1"}, {std::wstring(600, L'n'), L"COM12"}};
    // clang-format on
    std::vector<std::wstring> expected = {L"COM10", L"COM3", L"LPT1"};
    for (int n = 101; n <= 136; ++n) {
        values.emplace_back(L"\\Device\\Serial9_" + std::to_wstring(n), L"COM" + std::to_wstring(n));
        expected.push_back(values.back().second);
    }
    expected.push_back(L"COM12");
    for (const auto& value : values)
        RegSetValueExW(key, value.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                       static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t)));
    HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 100, 200, nullptr, nullptr,
                                 nullptr, nullptr);
    memset(&uart, 0, sizeof uart);
    std::fill(std::begin(uart.comPortList), std::end(uart.comPortList), -7);
    uart.port = 4321;

    EnumerateComPortsFrom(HKEY_CURRENT_USER, keyPath, combo);
    std::vector<std::wstring> listed;
    for (LRESULT i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[600] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        listed.emplace_back(text);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(uart.comPortCount, COM_PORT_LIST_SIZE);
    EXPECT_EQ(std::vector<int32_t>(uart.comPortList, uart.comPortList + 4), (std::vector<int32_t>{10, 3, -7, 101}));
    EXPECT_EQ(uart.comPortList[COM_PORT_LIST_SIZE - 1], 122);
    EXPECT_EQ(uart.port, 4321);
    DestroyWindow(combo);
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RZ310Test");
    memset(&uart, 0, sizeof uart);
}
