// The line settings in every form the tool meets them. A row's index is its
// position in the Local Device panel's list; the baud rates are also what
// the settings file's comment line offers. Adding a rate is one row here.
#pragma once
#include <windows.h>
#include <cstdint>

struct BaudSetting {
    int32_t rate;
    int32_t code;       // AT+BAUD<code>, "BAUD<code>" in the answer
    UINT answerTimerMs; // how long a timer-sent command waits at this rate
};

// clang-format off
constexpr BaudSetting kBaudSettings[] = {
    {1200, 10, 5000},  {2400, 11, 3000},  {4800, 12, 2000},  {9600, 13, 1000},   {19200, 14, 1000},
    {38400, 15, 1000}, {57600, 16, 1000}, {115200, 17, 1000}, {230400, 18, 1000},
};
// clang-format on
constexpr int BAUD_SETTINGS = sizeof kBaudSettings / sizeof kBaudSettings[0];
// The adapter's rate after a reset; it also stands for a code or rate that
// is none of the above.
constexpr int DEFAULT_BAUD_ROW = 4;

// The exceptions beside the list. The adapter also takes the code after the
// last row's, 19, and runs it at the default rate: the catalogue holds it and
// the line-setting search tries it. The port also opens at 14400, a rate no
// code names.
constexpr int32_t BAUD_CODE_FIRST = kBaudSettings[0].code;
constexpr int32_t BAUD_CODE_LAST = kBaudSettings[BAUD_SETTINGS - 1].code + 1;
constexpr int32_t PORT_ONLY_RATE = 14400;
// Whether the port takes a rate: the list's and the port's own.
bool portTakesRate(int32_t rate);

struct ParitySetting {
    int32_t code;     // the port's Win32 parity code (Uart::parity)
    const char* word; // in the settings file and the search's log lines
};

// The row is also the digit of AT+PAR<digit> and "PAR<digit>".
constexpr ParitySetting kParitySettings[] = {
    {PARITY_NONE, "None"},
    {PARITY_ODD, "Odd"},
    {PARITY_EVEN, "Even"},
};
constexpr int PARITY_SETTINGS = sizeof kParitySettings / sizeof kParitySettings[0];
// The adapter's parity after a reset.
constexpr int DEFAULT_PARITY_ROW = 0;

// The row of a baud code or rate; -1 when none has it.
int baudRowOfCode(int32_t code);
int baudRowOfRate(int32_t rate);
// The rate of a code, the default rate for a code no row has.
int32_t baudCodeToRate(int32_t code);
// The list position of a rate, the default's for a rate no row has.
int32_t baudRateToIndex(int32_t rate);
// The row of a Win32 parity code or a settings-file word; -1 when none has it.
int parityRowOfCode(int32_t code);
int parityRowOfWord(const char* word);
