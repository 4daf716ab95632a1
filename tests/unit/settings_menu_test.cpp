// File > Load Settings File and Save Settings File with names that do not
// fit the dialog's title buffer or the ANSI code page.
#include "settings_test_util.h"

namespace {

class FileMenu : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        chosenTitle.clear();
        seams.fileDialog = chooseScratchFile;
    }
};

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
              (std::vector<std::wstring>{L"Failed to load file", L"Failed to save file", L"Failed to load file", L"Failed to save file"}));
}

} // namespace
