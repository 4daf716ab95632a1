#include "atcommand/line_settings.h"
#include <cstring>

int baudRowOfCode(int32_t code)
{
    for (int row = 0; row < BAUD_SETTINGS; ++row)
        if (kBaudSettings[row].code == code)
            return row;
    return -1;
}

int baudRowOfRate(int32_t rate)
{
    for (int row = 0; row < BAUD_SETTINGS; ++row)
        if (kBaudSettings[row].rate == rate)
            return row;
    return -1;
}

int32_t baudCodeToRate(int32_t code)
{
    int row = baudRowOfCode(code);
    return kBaudSettings[row >= 0 ? row : DEFAULT_BAUD_ROW].rate;
}

int32_t baudRateToIndex(int32_t rate)
{
    int row = baudRowOfRate(rate);
    return row >= 0 ? row : DEFAULT_BAUD_ROW;
}

bool portTakesRate(int32_t rate) { return rate == PORT_ONLY_RATE || baudRowOfRate(rate) >= 0; }

int parityRowOfCode(int32_t code)
{
    for (int row = 0; row < PARITY_SETTINGS; ++row)
        if (kParitySettings[row].code == code)
            return row;
    return -1;
}

int parityRowOfWord(const char* word)
{
    for (int row = 0; row < PARITY_SETTINGS; ++row)
        if (strcmp(kParitySettings[row].word, word) == 0)
            return row;
    return -1;
}
