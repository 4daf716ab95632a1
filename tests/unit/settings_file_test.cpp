// The settings file: exact bytes, each key's value rules, the bounds of every
// text field and of the file's name, failures, and programming from a file.
#include "atcommand_fixture.h"
#include "settings_test_util.h"

#include <commdlg.h>
#include <random>

namespace {

// Each test starts from the example's records and leaves them cleared, with
// the current folder and the file dialog as it found them.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, startDir);
        setExampleRecords();
    }
    void TearDown() override
    {
        seams.fileDialog = nullptr;
        SetCurrentDirectoryW(startDir);
        memset(&uart, 0, sizeof uart);
        memset(&device, 0, sizeof device);
    }
    // Reads `content` as written (binary, \n line ends); returns the trace.
    std::string readText(const std::string& content)
    {
        writeBytes(path, content);
        memset(&loadedSettings, 0x55, sizeof loadedSettings);
        return traced([&] { EXPECT_EQ(readSettingsFile(path.c_str()), 1); });
    }
    wchar_t startDir[MAX_PATH];
    std::string path = settingsTestPath("settings.txt");
    MessageBoxRecorder boxes;
};

// The example byte for byte; unterminated name and PIN stop at their fields.
TEST_F(SettingsFile, WriterOutput)
{
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    EXPECT_EQ(readBytes(path), exampleFile);

    memset(device.name, 'N', sizeof device.name);
    memset(device.pin, 'P', sizeof device.pin);
    ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
    EXPECT_EQ(readBytes(path),
              replaced(replaced(exampleFile, "Serial Adapter", std::string(15, 'N')), "8642", "PPPPPPP"));
}

// One file per row: the row's field gets its value, every other one stays
// cleared as a missing key, and the trace holds the complaint or none.
TEST_F(SettingsFile, ReaderValueRules)
{
    // clang-format off
    struct Row { std::string content; int32_t LoadedSettings::*field; int32_t value; const char* complaint; };
    using L = LoadedSettings;
    const Row rows[] = {
        {"FlowControl = ON\n", &L::flowControl, 1, ""},
        {"EscapeMode = OFF\n", &L::escapeMode, 1,
         "Invalid value for Escape Mode in Line EscapeMode = OFF\n. Using Default value ON"},
        {"DisablePin = On \n", &L::disablePin, 0,   // a trailing blank is part of the value
         "Invalid value for disable pin in Line DisablePin = On \n. Using Default value OFF"},
        {"DisablePin = On\n", &L::disablePin, 1, ""},   // not taken for Pin
        {"Role = master", &L::role, 1, ""},            // last line without a line end
        {"baud = 9600\n", &L::baud, 0, "Unhandled entry baud = 9600\n in "},
        {"Baud 4800\n", &L::baud, 0, "line Baud 4800\n format not correct\n"},
        {"MyBaud = 300\n", &L::baud, 0, "Unhandled entry MyBaud = 300\n in "},
        {"  \t# Baud = 300\n", &L::baud, 0, ""},
        {"# \x1a\r\nBaud = 4800\r\n\x1a\r\n", &L::baud, 4800, ""},   // Ctrl-Z: a character, or the end mark
        // Lines are read 1022 characters at a time: the rest of a longer one is
        // a line of its own, where a key can start; a key cut in two is none.
        {"#" + std::string(1021, 'y') + "Baud = 4800\n", &L::baud, 4800, ""},
        {std::string(2 * 1022, 'z') + "StopBits = 2\n", &L::stopBits, 2, "Unhandled entry zzz"},
        {std::string(3 * 1022 - 4, 'z') + "StopBits = 2\n", &L::stopBits, 0, "Unhandled entry Bits = 2\n in "},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content.substr(0, 40));
        std::string trace = readText(row.content);
        EXPECT_EQ(loadedSettings.*row.field, row.value);
        LoadedSettings want{};
        want.*row.field = row.value;
        EXPECT_EQ(memcmp(&loadedSettings, &want, sizeof want), 0) << "another field is set";
        if (*row.complaint)
            EXPECT_NE(trace.find(row.complaint), std::string::npos) << trace.substr(0, 2000);
        else
            for (const char* any : {"Invalid value", "Unhandled entry", "format not correct"})
                EXPECT_EQ(trace.find(any), std::string::npos) << trace.substr(0, 2000);
    }
}

// A value too long for its field is cut to it, the next field untouched.
TEST_F(SettingsFile, OverlongNameAndPinAreCutToTheirFields)
{
    std::string trace = readText("Pin = 12345678901234567890\nName = " + std::string(1000, 'n') + "\n");
    EXPECT_STREQ(loadedSettings.name, "nnnnnnnnnnnnnnn");
    EXPECT_STREQ(loadedSettings.pin, "1234567");
    EXPECT_NE(trace.find("Name value longer than 15 characters in Line Name = nnn"), std::string::npos);
}

TEST_F(SettingsFile, AFailedWriteIsNoSuccess)
{
    // A write that fails part-way (a full disk) is no save and leaves the
    // old file as it was.
    writeBytes(path, exampleFile);
    device.role = 1;
    seams.settingsFileWrite = [](const void* data, size_t, size_t count, FILE* file) {
        return fwrite(data, 1, count / 2, file);
    };
    std::string trace = traced([&] { EXPECT_EQ(writeSettingsFile(path.c_str()), 0); });
    seams.settingsFileWrite = &fwrite;
    EXPECT_NE(trace.find("Failed to write"), std::string::npos);
    EXPECT_EQ(readBytes(path), exampleFile);
    EXPECT_EQ(readBytes(path + ".tmp"), "<missing>");
}

// Stands in for the file dialog: "chooses" chosenFile in the scratch folder,
// titled chosenTitle when that is set; the current folder stays.
std::wstring chosenFile, chosenTitle;
int chooseScratchFile(tagOFNW* dialog, bool, unsigned long*)
{
    std::string folder = settingsTestPath("");
    lstrcpynW(dialog->lpstrFile, (std::wstring(folder.begin(), folder.end()) + chosenFile).c_str(), dialog->nMaxFile);
    dialog->nFileOffset = static_cast<WORD>(folder.size());
    lstrcpynW(dialog->lpstrFileTitle, (chosenTitle.empty() ? chosenFile : chosenTitle).c_str(), dialog->nMaxFileTitle);
    return TRUE;
}

// File > Load and Save with names that do not fit the title buffer or the ANSI
// code page: a cut title names another file, which is neither read nor written.
TEST_F(SettingsFile, MenuRefusesNamesThatDoNotFitTheTitle)
{
    seams.fileDialog = chooseScratchFile;
    const std::string cutName(99, 'L');
    writeBytes(settingsTestPath(cutName), "Baud = 300\n");
    chosenFile = std::wstring(cutName.begin(), cutName.end()) + L"LLLLL.txt";
    chosenTitle = std::wstring(cutName.begin(), cutName.end());
    loadedSettings.baud = 7;
    std::string trace = traced([] {
        loadSettingsFile();
        saveSettingsFile();
    });
    EXPECT_EQ(readBytes(settingsTestPath(cutName)), "Baud = 300\n");
    EXPECT_NE(trace.find("File name of 108 characters does not fit the 99 character title buffer"), std::string::npos);

    chosenTitle.clear();
    chosenFile = L"\x4e2d\x6587.txt"; // not in the ANSI code page
    trace = traced([] {
        loadSettingsFile();
        saveSettingsFile();
    });
    EXPECT_NE(trace.find("File name cannot be written in the ANSI code page within 99 bytes"), std::string::npos);
    EXPECT_EQ(loadedSettings.baud, 7); // nothing was read

    // 99 characters fit, and the file goes to the chosen folder although
    // the current one is elsewhere.
    chosenFile = std::wstring(95, L'k') + L".txt";
    SetCurrentDirectoryW(startDir);
    saveSettingsFile();
    EXPECT_EQ(readBytes(settingsTestPath(std::string(95, 'k') + ".txt")).substr(0, 40),
              "# RZ310 Configuration Utility Settings\r\n");
}

using Texts = std::vector<std::string>;

// Every write is taken as accepted at once, so each blocking send returns
// without the adapter's handling: the records stay as the test set them.
class ProgramLoaded : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        acceptAll = true;
        setExampleRecords();
        // The file as saved from these records: it matches them.
        ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
        ASSERT_EQ(readSettingsFile(path.c_str()), 1);
    }
    Texts run()
    {
        written.clear();
        programLoadedSettings();
        window.pump(0);
        return written;
    }
    std::string path = settingsTestPath("settings.txt");
};

// Settings the adapter refused are counted, not reported as programmed.
TEST_F(ProgramLoaded, EveryDifferenceInItsOrderAndEachRefusalCounted)
{
    replies["AT+NAME=Other Adapter\r"] = replies["AT+ECHO-\r"] = "\r\nERROR\r\n";
    // In the record's order: port (never sent: loading does not move the port), baud, stop bits,
    // parity, flow, echo, role, response, discoverable, escape, sleep, auto-connect, no PIN, remote config.
    loadedSettings = {9, 115200, 2, PARITY_EVEN, 0, 0, ROLE_MASTER, 0, 0, 0, 1, 0, 1, 0, "Other Adapter", "1111"};
    // The line settings first: each moves the port along for the rest.
    EXPECT_EQ(run(), (Texts{"AT+BAUD17\r", "AT+STOP2\r", "AT+PAR2\r", "AT+NAME=Other Adapter\r", "AT+PIN=1111\r",
                            "AT+PIN-\r", "AT+ESC-\r", "AT+ECHO-\r", "AT+SLEEP+\r", "AT+RESP-\r", "AT+RCFG-\r",
                            "AT+DCOV-\r", "AT+ROLEM\r", "AT+ACON-\r", "AT+FLOW-\r"}));
    // Sent without echo to the log.
    EXPECT_EQ(window.logLines, (Texts{"Programming the adapter with the loaded settings...",
                                      "Command AT+NAME=Other Adapter\r failed. Response ERROR",
                                      "Command AT+ECHO-\r failed. Response ERROR",
                                      "Adapter not fully programmed: 2 of the loaded settings failed."}));
    EXPECT_EQ(boxes.count(), 0u);

    // Only the file's lines: an ignored value is none, a refused one programs
    // the default its message names, an empty Pin is a PIN.
    device.role = ROLE_MASTER;
    writeBytes(path, "Pin =\nParity = none\nRole = boss\n");
    ASSERT_EQ(readSettingsFile(path.c_str()), 1);
    EXPECT_EQ(run(), (Texts{"AT+PIN=\r", "AT+ROLES\r"}));
}

// Randomized: any record the writer can write reads back as itself (written again, the
// same bytes); any subset of its lines sends just those lines' commands of the whole file.
TEST_F(ProgramLoaded, RandomFilesReadBackAndProgramOnlyTheirLines)
{
    std::mt19937 rng(18);
    auto text = [&](char* field, size_t most) { // no CR, LF, or blank or tab first
        for (size_t n = 0, length = rng() % (most + 1); n < length;)
            if (char c = static_cast<char>(1 + rng() % 255); c != '\r' && c != '\n' && (n || (c != ' ' && c != '\t')))
                field[n++] = c;
    };
    auto randomRecords = [&] { // uart's fields in the file are all set
        memset(&device, 0, sizeof device);
        uart.port = static_cast<int32_t>(rng());
        uart.baud = rng() % 4 ? kBaudSettings[rng() % 9].rate : static_cast<int32_t>(rng());
        uart.stopBits = rng() % 4 ? 1 + static_cast<int32_t>(rng() % 2) : static_cast<int32_t>(rng());
        uart.parity = kParitySettings[rng() % 3].code;
        uart.flow = rng() % 2;
        for (int32_t* flag : {&device.echoOn, &device.responseOn, &device.discoverable, &device.escapeOn,
                              &device.sleepOn, &device.autoConnect, &device.pinDisabled, &device.remoteConfig})
            *flag = rng() % 2;
        device.role = 1 + rng() % 2;
        text(device.name, 15);
        text(device.pin, 7);
    };
    // clang-format off
    const std::map<AtCommandId, std::string> lineOf = {
        {Family::Baud, "Baud"}, {Family::StopBits, "StopBits"}, {Family::Parity, "Parity"}, {Family::Name, "Name"},
        {Family::Pin, "Pin"}, {Family::Escape, "EscapeMode"}, {Family::Echo, "EchoMode"}, {Family::Sleep, "AutoPower"},
        {Family::Response, "CommandResponse"}, {Family::RemoteConfig, "RemoteConfig"}, {Family::Role, "Role"},
        {Family::Discoverable, "Discoverable"}, {Family::AutoConnect, "AutoConnect"}, {Family::Flow, "FlowControl"}};
    // clang-format on
    const std::string again = settingsTestPath("again.txt"), subsetPath = settingsTestPath("subset.txt");
    for (int round = 0; round < 200 && !HasFailure(); ++round) {
        randomRecords();
        ASSERT_EQ(writeSettingsFile(path.c_str()), 1);
        const std::string whole = readBytes(path);
        forgetKnownSettings(); // so that the file read is written again
        ASSERT_EQ(readSettingsFile(path.c_str()), 1);
        ASSERT_EQ(writeLastKnownSettings(std::wstring(again.begin(), again.end()).c_str()), 1);
        EXPECT_EQ(readBytes(again), whole) << "round " << round;

        std::string subset;
        for (size_t at = 0, end; at < whole.size(); at = end + 2) {
            end = whole.find("\r\n", at);
            subset += rng() % 2 ? whole.substr(at, end + 2 - at) : "";
        }
        writeBytes(subsetPath, subset);
        randomRecords(); // what the adapter holds
        Texts expected;
        for (const std::string& command : run()) {
            std::string line = command == "AT+PIN-\r" ? "DisablePin" : lineOf.at(findCommand(command.c_str()));
            if (("\n" + subset).find("\n" + line + " =") != std::string::npos)
                expected.push_back(command);
        }
        ASSERT_EQ(readSettingsFile(subsetPath.c_str()), 1);
        EXPECT_EQ(run(), expected) << "round " << round << ", lines kept:\n" << subset;
    }
}

TEST_F(ProgramLoaded, OverlongTextsStopAtTheirFields)
{
    // Unterminated fields, as if filled past their end: the command carries
    // at most 15 name and 7 PIN characters.
    memset(loadedSettings.name, 'N', sizeof loadedSettings.name);
    memset(loadedSettings.pin, 'P', sizeof loadedSettings.pin);
    EXPECT_EQ(run(), (Texts{"AT+NAME=NNNNNNNNNNNNNNN\r", "AT+PIN=PPPPPPP\r"}));

    // The same texts held by the adapter compare equal.
    memset(device.name, 'N', sizeof device.name);
    memset(device.pin, 'P', sizeof device.pin);
    EXPECT_TRUE(run().empty());
}

} // namespace
