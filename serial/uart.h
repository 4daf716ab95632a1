// Serial port driver: the one COM port the tool talks to.
#pragma once
#include "common/seams.h"
#include <windows.h>
#include <cstdint>

enum : uint32_t {
    UART_EVENT_OPENED = 1,
    UART_EVENT_START_READ = 2,
    UART_EVENT_DATA = 4,
    // The port's device is gone (a USB adapter pulled out); count holds the
    // port number. Reading has stopped; the port waits to be closed.
    UART_EVENT_LOST = 8,
};

constexpr int COM_PORT_LIST_SIZE = 25;
constexpr int RX_BUFFER_SIZE = 200;

using UartEventCallback = void (*)(uint32_t event, uint32_t* count);

struct Uart {
    int32_t comPortList[COM_PORT_LIST_SIZE];
    int32_t comPortCount;
    int32_t port;
    int32_t baud;
    int32_t stopBits;
    int32_t parity; // a Win32 parity code of the line-settings table
    int32_t flow;   // 1 = RTS/CTS
    volatile int32_t isUartActive;
    UartEventCallback eventCallback;
};

extern Uart uart;
extern uint8_t rxBuffer[RX_BUFFER_SIZE];

// quiet: no message box when the port cannot be opened (the tool trying
// again by itself).
int UartInit(bool quiet = false);
int UartApplySettings();
int UartChangeSettings();
int UartWrite(const uint8_t* buffer, uint32_t length);
int UartRead();
void UartEventHandler(uint32_t event, uint32_t* count);
DWORD WINAPI tReadThread(LPVOID);
int UartDeinit();
// The number of the port whose device was found gone, from then until a
// port is opened again or the tool gives the port up; 0 otherwise.
int32_t UartLostPort();
void UartForgetLost();

// Every received block goes to dispatchUartData (the AT command engine)
// unless a test has set seams.uartReceive (common/seams.h).

// The engine's receive dispatch, given the count of new bytes in rxBuffer.
void dispatchUartData(int32_t count);
// The engine's release of a blocking send whose answer can no longer come
// (the port is gone): the send fails at once.
void releaseBlockingSend();

// COM port discovery into the Local Device panel's COM Port list.
void EnumerateComPorts(HWND comPortCombo);
