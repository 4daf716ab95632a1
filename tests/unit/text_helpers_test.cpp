// The catalogue lookup and the bounded text helpers.
#include "atcommand/atcommand.h"
#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Catalogue, FindsFamiliesByCuttingAtEqualsAndBySubstring)
{
    char connect[COMMAND_SIZE];
    formatCommand(connect, "AT+CONN=%s\r", "0012-6F-123456");
    const std::pair<std::string, AtCommandId> cases[] = {
        {connect, 18}, {"AT+PIN=8642\r", 16}, {"AT+PIN-\r", 16}, {"AT+NAME=My AT+VER\r", 15},
        {"+++", 26}, {"\r\nCONNECT", 27}, {"\r\nDISCONNECT", 28}, {"xAT+VER\r", 2}, {"AT+BAUD?\r", 5},
        {"AT+UPGRADE\r", 29}, {"AT+VER", 0}, {std::string(29, ' ') + "AT+VER\r", 0}};
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
