// Opens the port the simulated adapter sits behind. Header-only, so that the
// end-to-end programs, which share the simulator client but not the driver,
// need not link the driver.
#pragma once
#include "serial/uart.h"
#include "support/sim_client.h"
#include <cstring>

// UartInit's result for RZ310_SIM_COM at these line settings.
inline int openSimPort(int32_t baud, int32_t parity = PARITY_NONE, int32_t stopBits = 1, int32_t flow = 1)
{
    memset(&uart, 0, sizeof uart);
    uart.port = simComPort();
    uart.baud = baud;
    uart.parity = parity;
    uart.stopBits = stopBits;
    uart.flow = flow;
    return UartInit();
}
