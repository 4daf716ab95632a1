// The diagnostic log: what Debug.txt holds and where it is made, in a
// capture's own start-up directory.
#include <gtest/gtest.h>
#include "support/test_env.h"
#include "unit/trace_capture.h"

// On, off and on again keeps only the last session; a line of 1023
// characters is written whole and a longer one is cut there.
TEST(DebugLog, FileHoldsTheLastSessionWithLinesAndPathInTheirBuffers)
{
    TraceCapture trace;
    debugLog("first session");
    EXPECT_FALSE(toggleDebugLog(true));
    debugLog("while off");
    ASSERT_TRUE(toggleDebugLog(false));
    debugLog("UART: %ls %X", L"wide", 0xABCu);
    std::string exact(1023, 'e');
    EXPECT_EQ(debugLog("%s", exact.c_str()), 1023);
    std::string longer(3000, 'L');
    longer[1022] = 'x';
    EXPECT_EQ(debugLog("%s", longer.c_str()), 3000);
    debugLog("after");
    toggleDebugLog(true);
    EXPECT_EQ(readTextLines(trace.file()), (std::vector<std::string>{"Setting debugFlag = TRUE", "UART: wide ABC",
                                                                     exact, std::string(1022, 'L') + "x", "after"}));

    // The longest start-up directory there can be still fits the file's path:
    // the file cannot be made there, and is not made anywhere else.
    MessageBoxRecorder boxes;
    wchar_t before[1024], after[1024];
    GetCurrentDirectoryW(1024, before);
    std::wstring longest = trace.dir() + L"\\" + std::wstring(511 - trace.dir().size() - 1, L'x');
    wcsncpy(startupDirectory, longest.c_str(), 512);
    ASSERT_EQ(wcslen(startupDirectory), 511u);
    EXPECT_FALSE(toggleDebugLog(false));
    EXPECT_EQ(debugFlag, 0);
    GetCurrentDirectoryW(1024, after);
    EXPECT_STREQ(after, before);
    EXPECT_EQ(boxes.count(), 1u);
}
