// The message-box seam and the notifications posted to the main window.
#include <gtest/gtest.h>
#include "common/msgbox.h"
#include "common/notify.h"
#include <string>
#include <vector>

namespace {
std::vector<std::wstring> shown;
int recordBox(const wchar_t* text, UINT) { shown.push_back(text); return IDCANCEL; }
}

TEST(MessageBoxSeam, HookSeesTextAndAnswersAndLongTextsAreCutToTheBuffer)
{
    seams.messageBox = recordBox;
    shown.clear();
    EXPECT_EQ(showMessageBoxA("Failed to open COM7.", MB_OKCANCEL), IDCANCEL);
    showMessageBoxA(std::string(3000, 'x').c_str());
    seams.messageBox = nullptr;
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"Failed to open COM7.", std::wstring(1023, L'x')}));
}

