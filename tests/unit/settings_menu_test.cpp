// File > Load Settings File and Save Settings File: refusals, the dialog's
// set-up, names that do not fit, and the real dialog under the test's hand.
#include "settings_test_util.h"

#include <thread>

namespace {

using Boxes = std::vector<std::wstring>;

// What the menu command gave the dialog; `cancel` makes it fail with `error`.
struct Seen {
    int calls = 0;
    OPENFILENAMEW dialog{};
    std::wstring filter, title, defExt;
    bool cancel = false;
    unsigned long error = 0;
} seen;

int recordDialog(tagOFNW* dialog, bool save, unsigned long* error)
{
    ++seen.calls;
    seen.dialog = *dialog;
    seen.filter.clear();
    for (const wchar_t* f = dialog->lpstrFilter; f[0] || f[1]; ++f)
        seen.filter.push_back(*f);
    seen.title = dialog->lpstrTitle;
    seen.defExt = dialog->lpstrDefExt ? dialog->lpstrDefExt : L"<none>";
    *error = seen.error;
    return seen.cancel ? FALSE : chooseScratchFile(dialog, save, error);
}

class FileMenu : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        seen = Seen{};
        chosenTitle.clear();
        seams.fileDialog = recordDialog;
    }
};

TEST_F(FileMenu, BoxesTheOperatorSees)
{
    device.isDeviceInitialised = 0;
    loadSettingsFile();
    saveSettingsFile();
    EXPECT_EQ(seen.calls, 0);

    device.isDeviceInitialised = 1;
    chosenFile = L"vanished.txt";
    loadSettingsFile();
    CreateDirectoryA(settingsTestPath("a-folder.txt").c_str(), nullptr);
    chosenFile = L"a-folder.txt";
    saveSettingsFile();
    EXPECT_EQ(boxes.texts(),
              (Boxes{L"Local Device is not initialised. Please initialise the device and then load settings.",
                     L"Local Device is not initialised. Please initialise the device and then save settings.",
                     L"Failed to open settings.txt file.No such file present", L"Failed to load file",
                     L"Failed to create settings.txt file.Access Denied", L"Failed to save file"}));
    window.pump(50);
    EXPECT_TRUE(window.logLines.empty());   // nothing was programmed
}

// Both dialogs belong to the main window and hold no more than their buffers;
// cancelling one shows no box, only the trace.
TEST_F(FileMenu, DialogSetUpAndCancel)
{
    seen.cancel = true;
    for (bool save : {false, true}) {
        SCOPED_TRACE(save ? "save" : "load");
        seen.error = save ? FNERR_BUFFERTOOSMALL : 0;
        std::string trace = traced(save ? saveSettingsFile : loadSettingsFile);
        EXPECT_EQ(seen.dialog.hwndOwner, window.hwnd());
        EXPECT_EQ(seen.filter, std::wstring(L"Text Files\0 *.txt", 17));
        EXPECT_EQ(seen.dialog.nMaxFile, 1024u);
        EXPECT_EQ(seen.dialog.nMaxFileTitle, 100u);
        EXPECT_EQ(seen.dialog.Flags, static_cast<DWORD>(OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST));
        EXPECT_EQ(seen.title, save ? L"Save settings file as..." : L"Select settings file");
        EXPECT_EQ(seen.defExt, save ? L".txt" : L"<none>");
        EXPECT_NE(trace.find(save ? "GetOpenFileName returned error 12291\n" : "GetOpenFileName returned error 0\n"),
                  std::string::npos);
    }
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(FileMenu, NamesThatDoNotFitTheTitleAreRefused)
{
    // The dialog cuts a long title to its buffer; the cut name belongs to
    // another file, which must be neither read nor written.
    const std::string cutName(99, 'L');
    writeBytes(settingsTestPath(cutName), "Baud = 300\n");
    chosenFile = widen(cutName + "LLLLL.txt");
    chosenTitle = widen(cutName);
    loadedSettings.baud = 7;
    std::string trace = traced([] { loadSettingsFile(); saveSettingsFile(); });
    EXPECT_EQ(readBytes(settingsTestPath(cutName)), "Baud = 300\n");
    EXPECT_NE(trace.find("File name of 108 characters does not fit the 99 character title buffer"), std::string::npos);

    chosenTitle.clear();
    chosenFile = L"\x4e2d\x6587.txt";   // not in the ANSI code page
    trace = traced([] { loadSettingsFile(); saveSettingsFile(); });
    EXPECT_NE(trace.find("File name cannot be written in the ANSI code page within 99 bytes"), std::string::npos);
    EXPECT_EQ(loadedSettings.baud, 7);   // nothing was read

    // 99 characters fit, and the file goes to the chosen folder although
    // the current one is elsewhere.
    const std::string longest = std::string(95, 'k') + ".txt";
    chosenFile = widen(longest);
    SetCurrentDirectoryW(startDir);
    saveSettingsFile();
    EXPECT_EQ(readBytes(settingsTestPath(longest)).substr(0, 40), "# RZ310 Configuration Utility Settings\r\n");

    EXPECT_EQ(boxes.texts(),
              (Boxes{L"Failed to load file", L"Failed to save file", L"Failed to load file", L"Failed to save file"}));
}

// The system's open dialog, driven from a second thread: the operator types
// a path into another folder than the current one, which holds a file of the
// same name; the file typed is the one read.
TEST_F(FileMenu, RealDialogLoadsTheTypedPath)
{
    seams.fileDialog = nullptr;
    CreateDirectoryA(settingsTestPath("typed").c_str(), nullptr);
    ASSERT_EQ(writeSettingsFile(settingsTestPath("dialog.txt").c_str()), 1);
    uart.port = 8;   // loading never sends the port, so nothing else differs
    ASSERT_EQ(writeSettingsFile(settingsTestPath("typed\\dialog.txt").c_str()), 1);
    SetCurrentDirectoryA(settingsTestPath("").c_str());

    const DWORD owner = GetCurrentThreadId();
    const std::wstring typed = widen(settingsTestPath("typed\\dialog.txt"));
    HWND found = nullptr;
    std::thread driver([&] {
        // The dialog fills its controls after it shows: type and press OK
        // until it has taken the name and closed.
        for (int round = 0; round < 100 && !(found && !IsWindow(found)); ++round) {
            Sleep(300);
            for (HWND w = nullptr; !found && (w = FindWindowExW(nullptr, w, L"#32770", L"Select settings file"));)
                if (GetWindowThreadProcessId(w, nullptr) == owner && IsWindowVisible(w))
                    found = w;
            if (!found)
                continue;
            HWND edit = GetDlgItem(found, 1148) ? GetDlgItem(found, 1148) : GetDlgItem(found, 1152);
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
            PostMessageW(found, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(found, IDOK)));
        }
    });
    loadSettingsFile();
    driver.join();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(boxes.texts(), Boxes{});
    EXPECT_EQ(loadedSettings.port, 8);
}

} // namespace
