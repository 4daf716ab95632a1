#include <gtest/gtest.h>
#include "app/debuglog.h"
#include "support/test_env.h"
#include "unit/trace_capture.h"

#include <windows.h>
#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring makeTempDir(const wchar_t* tag)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"rz310_" + tag + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void removeTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = dir + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring cwd()
{
    wchar_t buffer[1024];
    DWORD n = GetCurrentDirectoryW(1024, buffer);
    return std::wstring(buffer, n);
}

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (debugFlag == 1)
            toggleDebugLog(true);
        savedCwd = cwd();
        dir = makeTempDir(L"log");
        wcsncpy(startupDirectory, dir.c_str(), 511);
        startupDirectory[511] = L'\0';
    }
    void TearDown() override
    {
        if (debugFlag == 1)
            toggleDebugLog(true);
        SetCurrentDirectoryW(savedCwd.c_str());
        removeTree(dir);
        startupDirectory[0] = L'\0';
    }
    std::wstring debugTxt() const { return dir + L"\\Debug.txt"; }

    std::wstring savedCwd;
    std::wstring dir;
};

TEST_F(DebugLogTest, OnOffOnKeepsOnlyTheLastSession)
{
    debugLog("before %d", 1);
    ASSERT_TRUE(toggleDebugLog(false));
    EXPECT_EQ(debugFlag, 1);
    debugLog("first session %s", "line");
    EXPECT_FALSE(toggleDebugLog(true));
    EXPECT_EQ(debugFlag, 0);
    debugLog("while off");
    ASSERT_TRUE(toggleDebugLog(false));
    debugLog("UART: %ls %X", L"wide", 0xABCu);
    toggleDebugLog(true);

    std::vector<std::string> lines = readTextLines(debugTxt());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Setting debugFlag = TRUE");
    EXPECT_EQ(lines[1], "UART: wide ABC");
}

TEST_F(DebugLogTest, LongLinesAreCutAt1023)
{
    ASSERT_TRUE(toggleDebugLog(false));
    std::string exact(1023, 'e');
    EXPECT_EQ(debugLog("%s", exact.c_str()), 1023);
    std::string longer(3000, 'L');
    longer[1022] = 'x';
    longer[1023] = 'y';
    EXPECT_EQ(debugLog("%s", longer.c_str()), 3000);
    debugLog("after");
    toggleDebugLog(true);

    std::vector<std::string> lines = readTextLines(debugTxt());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], exact);
    EXPECT_EQ(lines[2].size(), 1023u);
    EXPECT_EQ(lines[2].back(), 'x');
    EXPECT_EQ(lines[3], "after");
}

TEST_F(DebugLogTest, CreatedInStartupDirectoryAndCwdRestored)
{
    std::wstring elsewhere = makeTempDir(L"elsewhere");
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.c_str()));
    ASSERT_TRUE(toggleDebugLog(false));
    EXPECT_EQ(cwd(), elsewhere);
    toggleDebugLog(true);
    EXPECT_EQ(cwd(), elsewhere);
    EXPECT_EQ(GetFileAttributesW((elsewhere + L"\\Debug.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(debugTxt().c_str()), INVALID_FILE_ATTRIBUTES);
    SetCurrentDirectoryW(savedCwd.c_str());
    removeTree(elsewhere);
}

TEST_F(DebugLogTest, FailedCreateShowsTheBoxOfItsError)
{
    MessageBoxRecorder boxes;
    std::wstring before = cwd();

    // A directory in the file's place: access denied.
    ASSERT_TRUE(CreateDirectoryW(debugTxt().c_str(), nullptr));
    EXPECT_FALSE(toggleDebugLog(false));
    EXPECT_EQ(debugFlag, 0);
    EXPECT_EQ(cwd(), before);
    RemoveDirectoryW(debugTxt().c_str());

    // A start-up directory that is gone: the file is not made anywhere else.
    std::wstring gone = dir + L"\\gone";
    wcsncpy(startupDirectory, gone.c_str(), 511);
    EXPECT_FALSE(toggleDebugLog(false));
    EXPECT_EQ(debugFlag, 0);
    EXPECT_EQ(cwd(), before);

    // The longest start-up directory there can be.
    std::wstring longest = dir + L"\\" + std::wstring(511 - dir.size() - 1, L'x');
    wcsncpy(startupDirectory, longest.c_str(), 512);
    ASSERT_EQ(wcslen(startupDirectory), 511u);
    EXPECT_FALSE(toggleDebugLog(false));
    EXPECT_EQ(cwd(), before);

    std::vector<std::wstring> texts = boxes.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_TRUE(narrow(texts[2]) == "Failed to open Debug.txt file. Error 2" ||
                narrow(texts[2]) == "Failed to create Debug.txt file.File name too long")
        << narrow(texts[2]);
    EXPECT_EQ(narrow(texts[0]), "Failed to create Debug.txt file.Access Denied");
    EXPECT_EQ(narrow(texts[1]), "Failed to open Debug.txt file. Error 2");
}

TEST_F(DebugLogTest, LongWorkingDirectoryIsRestored)
{
    std::wstring deep = dir;
    while (deep.size() < 320) {
        deep += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    if (!SetCurrentDirectoryW(deep.c_str()))
        GTEST_SKIP() << "this system keeps no working directory over MAX_PATH";
    ASSERT_TRUE(toggleDebugLog(false));
    EXPECT_EQ(cwd(), deep);
    SetCurrentDirectoryW(savedCwd.c_str());
}

TEST_F(DebugLogTest, ConcurrentWritersWhileToggling)
{
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t, &stop] {
            std::string pad(200, static_cast<char>('a' + t));
            for (int i = 0; !stop.load(); ++i)
                debugLog("T%d %06d %s end", t, i, pad.c_str());
        });
    }
    for (int i = 0; i < 40; ++i) {
        bool on = toggleDebugLog(debugFlag == 1);
        EXPECT_EQ(on, debugFlag == 1);
        Sleep(2);
    }
    if (debugFlag != 1) {
        ASSERT_TRUE(toggleDebugLog(false));
    }
    Sleep(20);
    stop = true;
    for (auto& w : writers)
        w.join();
    toggleDebugLog(true);

    std::vector<std::string> lines = readTextLines(debugTxt());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Setting debugFlag = TRUE");
    std::regex whole("T([0-3]) [0-9]{6} ([a-d]){200} end");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, whole)) << "line " << i << ": " << lines[i];
        EXPECT_EQ(lines[i][10], 'a' + (lines[i][1] - '0'));
    }
}

} // namespace
