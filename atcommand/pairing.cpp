// The pairing procedure's touches of the engine's records: the Pair Device
// panel drives the procedure while the read thread advances its step.
#include "atcommand/internal.h"
#include "serial/uart.h"
#include <cstring>

LineSnapshot currentLineSettings()
{
    EngineLock lock;
    return {uart.baud, uart.parity, uart.flow, uart.stopBits};
}

void setLineSettings(const LineSnapshot& line)
{
    EngineLock lock;
    uart.baud = line.baud;
    uart.parity = line.parity;
    uart.flow = line.flow;
    uart.stopBits = line.stopBits;
}

void startPairing()
{
    EngineLock lock;
    memset(&pairing, 0, sizeof pairing);
    pairing.pairState = PAIR_SEARCHING_DEVICE2;
    copyText(pairing.device1Address, sizeof pairing.device1Address, device.address, sizeof device.address);
    copyText(pairing.device1Name, sizeof pairing.device1Name, device.name, sizeof device.name);
}

void startUnpairing()
{
    EngineLock lock;
    pairing.pairState = UNPAIR_DEVICE1;
    // A failure left over from an earlier procedure must not end this one's
    // search after its first attempt.
    pairing.pairFailed = 0;
}

int32_t pairingStep()
{
    EngineLock lock;
    return pairing.pairState;
}

void setPairingStep(int32_t step)
{
    EngineLock lock;
    pairing.pairState = step;
}

bool pairingFailed()
{
    EngineLock lock;
    return pairing.pairFailed == 1;
}

bool takePairingFailure()
{
    EngineLock lock;
    if (pairing.pairFailed != 1)
        return false;
    pairing.pairFailed = 0;
    return true;
}

void stopPairing()
{
    EngineLock lock;
    pairing.pairState = PAIR_IDLE;
    pairing.pairFailed = 0;
    // The next search starts from the first setting again.
    bIndex = BAUD_CODE_FIRST;
    bTry = 0;
}

std::string engineText(const char* field, size_t size)
{
    EngineLock lock;
    return std::string(field, strnlen(field, size));
}
