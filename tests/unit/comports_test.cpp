// COM port discovery from a registry key of the test's own (the system's
// key is read by the end-to-end tests).
#include <gtest/gtest.h>
#include "serial/uart.h"
#include "serial/uart_internal.h"

#include <windows.h>
#include <algorithm>
#include <cstring>

namespace {

const wchar_t* const TEST_KEY = L"Software\\RZ310Test\\Ports";

class ComPortsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RZ310Test");
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, TEST_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
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
    std::vector<std::wstring> listed() const
    {
        std::vector<std::wstring> items;
        for (LRESULT i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[600] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            items.emplace_back(text);
        }
        return items;
    }

    HKEY key = nullptr;
    HWND combo = nullptr;
};

// The registry's order, not sorted by number (Serial10 comes before Serial2).
// Data that is empty or longer than its buffer is skipped; a value name
// longer than its buffer still lists its port; a name that is no "COM%d"
// is listed but leaves its number as it was.
TEST_F(ComPortsTest, ListsInRegistryOrder)
{
    addValue(L"\\Device\\Serial10", L"COM10");
    addValue(L"\\Device\\Serial2", L"COM3");
    addValue(L"\\Device\\Serial5", L"COM5");
    addValue(L"\\Device\\Serial6", std::wstring(600, L'C'));
    addValue(L"\\Device\\Serial7", L"");
    addValue(L"\\Device\\Serial8", L"LPT1");
    addValue(std::wstring(600, L'n'), L"COM12");
    std::fill(std::begin(uart.comPortList), std::end(uart.comPortList), -7);
    uart.port = 4321;

    EnumerateComPortsFrom(HKEY_CURRENT_USER, TEST_KEY, combo);
    EXPECT_EQ(listed(), (std::vector<std::wstring>{L"COM10", L"COM3", L"COM5", L"LPT1", L"COM12"}));
    EXPECT_EQ(uart.comPortCount, 5);
    EXPECT_EQ(std::vector<int32_t>(uart.comPortList, uart.comPortList + 6),
              (std::vector<int32_t>{10, 3, 5, -7, 12, -7}));
    EXPECT_EQ(uart.port, 4321);
}

// Every port is listed, but only the first 25 get a number: the fields after
// comPortList keep their values.
TEST_F(ComPortsTest, MoreThanTwentyFivePortsStayInBounds)
{
    for (int n = 1; n <= 40; ++n)
        addValue(L"\\Device\\Serial" + std::to_wstring(n), L"COM" + std::to_wstring(100 + n));
    uart.port = 777;
    uart.baud = 9600;

    EnumerateComPortsFrom(HKEY_CURRENT_USER, TEST_KEY, combo);
    std::vector<std::wstring> items = listed();
    ASSERT_EQ(items.size(), 40u);
    EXPECT_EQ(uart.comPortCount, COM_PORT_LIST_SIZE);
    for (int i = 0; i < COM_PORT_LIST_SIZE; ++i)
        EXPECT_EQ(L"COM" + std::to_wstring(uart.comPortList[i]), items[i]);
    EXPECT_EQ(uart.port, 777);
    EXPECT_EQ(uart.baud, 9600);
}

} // namespace
