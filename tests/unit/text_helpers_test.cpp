// The catalogue lookup and the helpers that copy into fixed buffers: commands,
// log texts, wide texts, message boxes and the dialog layer's initial lists;
// where system libraries are loaded from.
#include "app/shellopen.h"
#include "atcommand/atcommand.h"
#include "common/msgbox.h"
#include "common/systemdll.h"
#include "settings/settings.h"
#include "framework/dialog.h"
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

// Cut at '=' or found as a substring within the command's size, up to the last entry.
TEST(Catalogue, FindsFamiliesByCuttingAtEqualsAndBySubstring)
{
    // clang-format off
    const std::pair<std::string, AtCommandId> cases[] = {
        {"AT+PIN=8642\r", 16}, {"AT+PIN-\r", 16}, {"AT+NAME=My AT+VER\r", 15}, {"xAT+VER\r", 2},
        {"AT+UPGRADE\r", 29}, {"AT+VER", 0}, {std::string(29, ' ') + "AT+VER\r", 0}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(findCommand(c.first.c_str()), c.second) << c.first;
}

TEST(Catalogue, TextHelpersStayInTheirBuffers)
{
    char command[COMMAND_SIZE + 8];
    memset(command, '#', sizeof command);
    EXPECT_GE(formatCommand(command, "%s=%s\r", "AT+NAME", "A name far too long for the adapter"), COMMAND_SIZE);
    EXPECT_STREQ(command, "") << "a cut name would lose its carriage return";
    EXPECT_EQ(command[COMMAND_SIZE], '#');

    static char text[TEXT_SIZE + 1];
    text[TEXT_SIZE] = '#';
    formatText(text, "Sending command %s", std::string(3000, 'x').c_str());
    EXPECT_EQ(strlen(text), static_cast<size_t>(TEXT_SIZE - 1));
    EXPECT_EQ(text[TEXT_SIZE], '#');

    wchar_t wide[20];
    wmemset(wide, L'#', 20);
    toWideText("Local Device connected", wide, 16);
    EXPECT_STREQ(wide, L"Local Device co");
    EXPECT_EQ(wide[16], L'#');
}

TEST(MessageBoxSeam, LongTextsAreCutToTheBuffer)
{
    static std::wstring shown;
    seams.messageBox = [](const wchar_t* text, UINT) {
        shown = text;
        return IDOK;
    };
    showMessageBoxA(std::string(3000, 'x').c_str());
    EXPECT_EQ(shown, std::wstring(1023, L'x'));
    // A file's error box names the file and the reason, or else the number.
    showFileError("Debug.txt", true, EBUSY);
    EXPECT_EQ(shown, L"Failed to create Debug.txt file.File in use.");
    showFileError("settings.txt", true, EIO);
    EXPECT_EQ(shown, L"Failed to open settings.txt file. Error " + std::to_wstring(EIO));
    seams.messageBox = nullptr;
}

// Start-up, the file dialogs and the Help documents search the system folder
// only, never the exe's own folder or the current one.
TEST(SystemLibraries, ComeFromTheSystemFolderOnly)
{
    static std::wstring calls;
    seams.setDefaultDllDirectories = [](DWORD flags) { return calls += std::to_wstring(flags) + L" ", TRUE; };
    seams.loadLibraryEx = [](LPCWSTR name, HANDLE, DWORD flags) -> HMODULE {
        return calls += std::wstring(name) + L":" + std::to_wstring(flags) + L" ", nullptr;
    };
    EXPECT_TRUE(restrictDllSearch());
    device.isDeviceInitialised = 1;
    loadSettingsFile();
    device.isDeviceInitialised = 0;
    EXPECT_EQ(shellOpen(L"AT Command Manual.pdf"), SE_ERR_DLLNOTFOUND);
    seams.setDefaultDllDirectories = &SetDefaultDllDirectories;
    seams.loadLibraryEx = &LoadLibraryExW;
    EXPECT_EQ(calls, L"2048 comdlg32.dll:2048 shell32.dll:2048 "); // LOAD_LIBRARY_SEARCH_SYSTEM32
}

// A damaged resource gives no text past its end; an odd last byte is ignored.
TEST(InitialLists, ParsesPairsUntilIdZeroAndDropsDamagedTail)
{
    using Items = std::vector<std::pair<UINT, std::wstring>>;
    const WORD data[] = {1003, L'1', L'2', 0, 1003, 0, 1004, L'N', 0, 0, 1005, L'X', 0};
    EXPECT_EQ(parseInitialLists(data, sizeof data), (Items{{1003, L"12"}, {1003, L""}, {1004, L"N"}}));
    const WORD cut[] = {1003, L'A', 0, 1004, L'B', L'C'};
    EXPECT_EQ(parseInitialLists(cut, sizeof cut - 1), (Items{{1003, L"A"}}));
    EXPECT_TRUE(parseInitialLists(nullptr, 10).empty());
}
