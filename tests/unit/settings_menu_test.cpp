// File > Load Settings File and Save Settings File: refusals, the dialog's
// set-up, the chosen name, and the real dialog under the test's own hand.
#include <gtest/gtest.h>
#include "settings_test_util.h"
#include "app/notify.h"
#include "settings/settings.h"
#include "support/test_env.h"

#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring widen(const std::string& text)
{
    std::wstring wide;
    for (char c : text)
        wide.push_back(static_cast<unsigned char>(c));
    return wide;
}

// Stands in for the dialog: records what it was given and "chooses" a file.
// The current directory stays where it is, as with the system dialog when
// the operator types a path to a folder other than the one shown.
struct FakeDialog {
    int calls = 0;
    bool lastSave = false;
    OPENFILENAMEW seen{};
    std::wstring filter, title, defExt;
    std::wstring folder, name, titleOverride;
    bool choose = true;
    unsigned long error = 0;
};
FakeDialog* fake = nullptr;

int fakeDialog(tagOFNW* dialog, bool save, unsigned long* error)
{
    ++fake->calls;
    fake->lastSave = save;
    fake->seen = *dialog;
    const wchar_t* f = dialog->lpstrFilter;
    if (f)
        while (f[0] || f[1])
            fake->filter.push_back(*f++);
    fake->title = dialog->lpstrTitle ? dialog->lpstrTitle : L"<null>";
    fake->defExt = dialog->lpstrDefExt ? dialog->lpstrDefExt : L"<null>";
    if (!fake->choose) {
        *error = fake->error;
        return FALSE;
    }
    std::wstring path = fake->folder + fake->name;
    lstrcpynW(dialog->lpstrFile, path.c_str(), dialog->nMaxFile);
    dialog->nFileOffset = static_cast<WORD>(fake->folder.size());
    std::wstring title = fake->titleOverride.empty() ? fake->name : fake->titleOverride;
    lstrcpynW(dialog->lpstrFileTitle, title.c_str(), dialog->nMaxFileTitle);
    return TRUE;
}

class FileMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, startDir_);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
        setExampleRecords();
        device.isDeviceInitialised = 1;
        fake = &dialog;
        fileDialogHook = fakeDialog;
        dialog.folder = widen(settingsTestPath(""));
    }
    void TearDown() override
    {
        fileDialogHook = nullptr;
        fake = nullptr;
        SetCurrentDirectoryW(startDir_);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
    }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> out;
        for (const auto& text : boxes.texts())
            out.push_back(narrow(text));
        return out;
    }

    wchar_t startDir_[MAX_PATH];
    FakeDialog dialog;
    MessageBoxRecorder boxes;
    StandInMainWindow window;
};

using Texts = std::vector<std::string>;

TEST_F(FileMenu, RefusedWhileTheAdapterIsNotInitialised)
{
    device.isDeviceInitialised = 0;
    loadSettingsFile();
    saveSettingsFile();
    EXPECT_EQ(dialog.calls, 0);
    EXPECT_EQ(boxTexts(),
              (Texts{"Local Device is not initialised. Please initialise the device and then load settings.",
                     "Local Device is not initialised. Please initialise the device and then save settings."}));
}

TEST_F(FileMenu, DialogsAreSetUpAsTheMenuNeeds)
{
    dialog.choose = false;
    loadSettingsFile();
    ASSERT_EQ(dialog.calls, 1);
    EXPECT_FALSE(dialog.lastSave);
    const OPENFILENAMEW& open = dialog.seen;
    EXPECT_EQ(open.lStructSize, sizeof(OPENFILENAMEW));
    EXPECT_EQ(open.hwndOwner, window.hwnd());
    EXPECT_EQ(dialog.filter, std::wstring(L"Text Files\0 *.txt", 17));
    EXPECT_EQ(open.nFilterIndex, 1u);
    EXPECT_EQ(open.lpstrCustomFilter, nullptr);
    EXPECT_EQ(open.nMaxFile, 1024u);
    EXPECT_EQ(open.nMaxFileTitle, 100u);
    EXPECT_EQ(open.lpstrInitialDir, nullptr);
    EXPECT_EQ(dialog.title, L"Select settings file");
    EXPECT_EQ(open.Flags, 0x1800u);
    EXPECT_EQ(dialog.defExt, L"<null>");

    dialog = FakeDialog{};
    dialog.choose = false;
    saveSettingsFile();
    ASSERT_EQ(dialog.calls, 1);
    EXPECT_TRUE(dialog.lastSave);
    EXPECT_EQ(dialog.seen.hwndOwner, window.hwnd());
    EXPECT_EQ(dialog.filter, std::wstring(L"Text Files\0 *.txt", 17));
    EXPECT_EQ(dialog.seen.nMaxFile, 1024u);
    EXPECT_EQ(dialog.seen.nMaxFileTitle, 100u);
    EXPECT_EQ(dialog.title, L"Save settings file as...");
    EXPECT_EQ(dialog.seen.Flags, 0x1800u);
    EXPECT_EQ(dialog.defExt, L".txt");
}

TEST_F(FileMenu, NoFileChosenIsTracedOnly)
{
    dialog.choose = false;
    DiagnosticCapture diag;
    loadSettingsFile();             // cancelled
    dialog.error = FNERR_BUFFERTOOSMALL;
    saveSettingsFile();
    std::string text = diag.text();
    EXPECT_NE(text.find("GetOpenFileName returned error 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("GetOpenFileName returned error 12291\n"), std::string::npos);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(window.logLines.empty());
}

TEST_F(FileMenu, SaveThenLoadThroughTheChosenFolder)
{
    dialog.name = L"menu-saved.txt";
    saveSettingsFile();
    EXPECT_EQ(boxes.count(), 0u);
    std::string saved = readBytes(settingsTestPath("menu-saved.txt"));
    EXPECT_EQ(saved.substr(0, 53), "# RZ310 Configuration Utility Settings\r\nPort = COM3\r\n");
    EXPECT_NE(saved.find("\r\nName = Serial Adapter\r\n"), std::string::npos);

    // Loading the file just saved into the same adapter changes nothing:
    // only the two programming texts reach the log.
    SetCurrentDirectoryW(startDir_);
    memset(&loadedSettings, 0, sizeof loadedSettings);
    loadSettingsFile();
    EXPECT_EQ(loadedSettings.baud, 9600);
    EXPECT_STREQ(loadedSettings.name, "Serial Adapter");
    EXPECT_EQ(boxes.count(), 0u);
    window.pump(50);
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Adapter programmed with loaded settings."}));
}

TEST_F(FileMenu, FailuresOfTheFileFollowTheirOwnBox)
{
    dialog.name = L"vanished.txt";
    loadSettingsFile();
    CreateDirectoryA(settingsTestPath("a-folder.txt").c_str(), nullptr);
    dialog.name = L"a-folder.txt";
    saveSettingsFile();
    EXPECT_EQ(boxTexts(), (Texts{"Failed to open settings.txt file.No such file present", "Failed to load file",
                                 "Failed to create settings.txt file.Access Denied", "Failed to save file"}));
    window.pump(50);
    EXPECT_TRUE(window.logLines.empty());
}

TEST_F(FileMenu, NamesThatDoNotFitAreRefused)
{
    // The dialog cuts a long title to its buffer; the cut name belongs to
    // another file, which must not be read or written.
    std::string longName = std::string(120, 'L') + ".txt";
    std::string cutName = longName.substr(0, 99);
    writeBytes(settingsTestPath(cutName), "Baud = 300\n");
    dialog.name = widen(longName);
    dialog.titleOverride = widen(cutName);
    loadedSettings.baud = 7;
    DiagnosticCapture diag;
    loadSettingsFile();
    saveSettingsFile();
    EXPECT_EQ(loadedSettings.baud, 7);
    EXPECT_EQ(readBytes(settingsTestPath(cutName)), "Baud = 300\n");

    // A title the ANSI code page cannot hold.
    dialog.titleOverride.clear();
    dialog.name = L"\x4e2d\x6587.txt";
    loadSettingsFile();
    saveSettingsFile();
    EXPECT_EQ(loadedSettings.baud, 7);

    // 99 characters are the most the title holds: accepted.
    std::string longest = std::string(95, 'k') + ".txt";
    dialog.name = widen(longest);
    saveSettingsFile();
    EXPECT_EQ(readBytes(settingsTestPath(longest)).substr(0, 38), "# RZ310 Configuration Utility Settings");

    EXPECT_EQ(boxTexts(), (Texts{"Failed to load file", "Failed to save file", "Failed to load file",
                                 "Failed to save file"}));
    std::string text = diag.text();
    EXPECT_EQ(countOf(text, "does not fit the 99 character title buffer"), 2u) << text;
    EXPECT_EQ(countOf(text, "cannot be written in the ANSI code page"), 2u) << text;
}

// Finds the file dialog among this process's windows and types the name.
class DialogDriver {
public:
    DialogDriver(const wchar_t* title, std::wstring path) : title_(title), path_(std::move(path))
    {
        thread_ = std::thread([this] { run(); });
    }
    ~DialogDriver() { thread_.join(); }
    bool found() const { return found_; }

private:
    struct Search {
        const wchar_t* title;
        HWND dialog;
    };
    static BOOL CALLBACK match(HWND hwnd, LPARAM param)
    {
        auto* search = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t cls[32] = L"", text[128] = L"";
        GetClassNameW(hwnd, cls, 32);
        GetWindowTextW(hwnd, text, 128);
        if (pid == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && wcscmp(text, search->title) == 0 &&
            IsWindowVisible(hwnd)) {
            search->dialog = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    void run()
    {
        HWND dialog = nullptr;
        for (int attempt = 0; attempt < 300 && !dialog; ++attempt) {
            Search search{title_, nullptr};
            EnumWindows(match, reinterpret_cast<LPARAM>(&search));
            dialog = search.dialog;
            if (!dialog)
                Sleep(100);
        }
        if (!dialog)
            return;
        found_ = true;
        // The dialog fills its controls after it shows; press OK until it
        // has taken the name and closed.
        for (int attempt = 0; attempt < 20 && IsWindow(dialog); ++attempt) {
            Sleep(300);
            HWND edit = GetDlgItem(dialog, 1148);
            if (!edit)
                edit = GetDlgItem(dialog, 1152);
            if (!edit)
                continue;
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path_.c_str()));
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        }
    }
    const wchar_t* title_;
    std::wstring path_;
    std::atomic<bool> found_{false};
    std::thread thread_;
};

TEST_F(FileMenu, RealDialogsChooseTheFileAndItsFolder)
{
    fileDialogHook = nullptr;
    CreateDirectoryA(settingsTestPath("chosen").c_str(), nullptr);
    std::string target = settingsTestPath("chosen\\dialog.txt");
    writeBytes(target, "old content\n");   // saving over an existing file

    DiagnosticCapture diag;
    {
        DialogDriver driver(L"Save settings file as...", widen(target));
        saveSettingsFile();
        ASSERT_TRUE(driver.found());
    }
    std::string trace = diag.text();
    EXPECT_EQ(trace.find("GetOpenFileName returned error"), std::string::npos) << trace;
    EXPECT_EQ(boxes.count(), 0u);
    std::string saved = readBytes(target);
    EXPECT_EQ(saved.substr(0, 40), "# RZ310 Configuration Utility Settings\r\n") << saved;
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    EXPECT_EQ(narrow(cwd) + "\\", settingsTestPath("chosen\\"));

    // A file of the same name in another folder: the dialog still shows
    // the folder of the last save, and the typed path leads elsewhere.
    CreateDirectoryA(settingsTestPath("other").c_str(), nullptr);
    std::string other = settingsTestPath("other\\dialog.txt");
    writeBytes(other, saved + "Port = COM8\r\n");
    uart.port = 8;
    SetCurrentDirectoryW(startDir_);
    memset(&loadedSettings, 0, sizeof loadedSettings);
    {
        DialogDriver driver(L"Select settings file", widen(other));
        loadSettingsFile();
        ASSERT_TRUE(driver.found());
    }
    EXPECT_EQ(boxes.count(), 0u) << (boxes.count() ? narrow(boxes.texts()[0]) : "");
    EXPECT_EQ(loadedSettings.port, 8);
    EXPECT_STREQ(loadedSettings.pin, "8642");
    window.pump(50);
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Adapter programmed with loaded settings."}));
}

} // namespace
