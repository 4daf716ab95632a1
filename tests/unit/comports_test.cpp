#include <gtest/gtest.h>
#include "serial/uart.h"
#include "serial/uart_internal.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <windows.h>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t* const TEST_KEY = L"Software\\RZ310Test\\Ports";

std::vector<std::wstring> comboItems(HWND combo)
{
    std::vector<std::wstring> items;
    LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[600] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

// The port names of a key's values, read on their own.
std::vector<std::wstring> portNames(HKEY root, const wchar_t* path)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        static wchar_t name[16384];
        wchar_t data[512] = {};
        DWORD nameLength = 16384, dataLength = sizeof data - 2;
        LONG result = RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                                    &dataLength);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && data[0])
            names.emplace_back(data);
    }
    RegCloseKey(key);
    return names;
}

class ComPortsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RZ310Test");
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, TEST_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        combo = CreateWindowExW(0, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 100, 200, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_NE(combo, nullptr);
        memset(&uart, 0, sizeof uart);
    }
    void TearDown() override
    {
        DestroyWindow(combo);
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RZ310Test");
        memset(&uart, 0, sizeof uart);
    }
    void addValue(const std::wstring& name, const std::wstring& data)
    {
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    HKEY key = nullptr;
    HWND combo = nullptr;
};

TEST_F(ComPortsTest, ListsInRegistryOrderSkippingEmptyData)
{
    // Names as the system gives them: Serial10 comes before Serial2.
    addValue(L"\\Device\\Serial10", L"COM10");
    addValue(L"\\Device\\Serial2", L"COM3");
    addValue(L"\\Device\\Serial5", L"COM5");
    addValue(L"\\Device\\Serial6", std::wstring(600, L'C'));   // data longer than its buffer
    addValue(L"\\Device\\Serial7", L"");
    addValue(L"\\Device\\Serial8", L"LPT1");
    addValue(std::wstring(600, L'n'), L"COM12");   // name longer than its buffer
    for (int32_t& entry : uart.comPortList)
        entry = -7;   // a name without "COM" keeps what was there
    uart.port = 4321;

    TraceCapture trace;
    EnumerateComPortsFrom(HKEY_CURRENT_USER, TEST_KEY, combo);

    std::vector<std::wstring> expected = portNames(HKEY_CURRENT_USER, TEST_KEY);
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(comboItems(combo), expected);
    EXPECT_EQ(uart.comPortCount, 5);
    ASSERT_EQ(expected[0], L"COM10");
    ASSERT_EQ(expected[1], L"COM3");
    EXPECT_EQ(uart.comPortList[0], 10);
    EXPECT_EQ(uart.comPortList[1], 3);
    EXPECT_EQ(uart.comPortList[3], -7);   // LPT1
    EXPECT_EQ(uart.comPortList[4], 12);
    for (int i = 0; i < 5; ++i) {
        int number = -7;
        swscanf(expected[i].c_str(), L"COM%d", &number);
        EXPECT_EQ(uart.comPortList[i], number) << "position " << i;
        EXPECT_TRUE(trace.contains("uart.comPortList[" + std::to_string(i) + "]=" + std::to_string(number)));
    }
    EXPECT_EQ(uart.port, 4321);
}

TEST_F(ComPortsTest, MoreThanTwentyFivePortsAreListedButNotOverrun)
{
    for (int n = 1; n <= 40; ++n)
        addValue(L"\\Device\\Serial" + std::to_wstring(n), L"COM" + std::to_wstring(100 + n));
    uart.port = 777;
    uart.baud = 9600;

    EnumerateComPortsFrom(HKEY_CURRENT_USER, TEST_KEY, combo);

    std::vector<std::wstring> items = comboItems(combo);
    EXPECT_EQ(items.size(), 40u);
    EXPECT_EQ(uart.comPortCount, COM_PORT_LIST_SIZE);
    for (int i = 0; i < COM_PORT_LIST_SIZE; ++i) {
        int number = 0;
        swscanf(items[i].c_str(), L"COM%d", &number);
        EXPECT_EQ(uart.comPortList[i], number);
    }
    EXPECT_EQ(uart.port, 777);
    EXPECT_EQ(uart.baud, 9600);
}

TEST_F(ComPortsTest, EmptyOrMissingKeyListsNothing)
{
    EnumerateComPortsFrom(HKEY_CURRENT_USER, TEST_KEY, combo);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(uart.comPortCount, 0);

    TraceCapture trace;
    EnumerateComPortsFrom(HKEY_CURRENT_USER, L"Software\\RZ310Test\\Missing", combo);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(uart.comPortCount, 0);
    EXPECT_TRUE(trace.contains("ERROR: Failed to read RegKey Software\\RZ310Test\\Missing retRegVal = 2"));
}

TEST_F(ComPortsTest, SystemListHoldsTheMappedPorts)
{
    EnumerateComPorts(combo);
    std::vector<std::wstring> expected = portNames(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_EQ(comboItems(combo), expected);
    for (int n = 3; n <= 9; ++n) {
        std::wstring name = L"COM" + std::to_wstring(n);
        bool found = false;
        for (size_t i = 0; i < expected.size(); ++i) {
            if (expected[i] == name) {
                found = true;
                if (i < COM_PORT_LIST_SIZE) {
                    EXPECT_EQ(uart.comPortList[i], n);
                }
            }
        }
        EXPECT_TRUE(found) << narrow(name);
    }
}

} // namespace
