// The dialog layer's reading of a template's initial list contents: a
// damaged resource gives no text past its end.
#include <gtest/gtest.h>

#include "framework/dialog.h"

#include <vector>

TEST(InitialLists, ParsesPairsUntilIdZeroAndDropsDamagedTail)
{
    using Items = std::vector<std::pair<UINT, std::wstring>>;
    const WORD data[] = {1003, L'1', L'2', 0, 1003, 0, 1004, L'N', 0, 0, 1005, L'X', 0};
    EXPECT_EQ(parseInitialLists(data, sizeof data), (Items{{1003, L"12"}, {1003, L""}, {1004, L"N"}}));
    // A text cut off by the end of the resource is not taken; an odd last
    // byte is ignored.
    const WORD cut[] = {1003, L'A', 0, 1004, L'B', L'C'};
    EXPECT_EQ(parseInitialLists(cut, sizeof cut - 1), (Items{{1003, L"A"}}));
    EXPECT_TRUE(parseInitialLists(nullptr, 10).empty());
}
