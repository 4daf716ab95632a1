#include "serial/uart.h"
#include "serial/uart_internal.h"
#include "atcommand/line_settings.h"
#include "common/busywait.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

Uart uart;
uint8_t rxBuffer[RX_BUFFER_SIZE];

HANDLE hComPort = nullptr;
HANDLE hardwareMutex = nullptr;
OVERLAPPED readOverlapped;
std::atomic<unsigned> staleReadSignals{0};
BOOL(WINAPI* uartReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ReadFile;
BOOL(WINAPI* uartWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;

namespace {

constexpr DWORD QUEUE_SIZE = 8192;
constexpr DWORD CHANGE_SETTLE_MS = 600;
constexpr DWORD POLL_MS = 500;
// Bounds on the waits of closing: a block being handed to the engine, the
// read thread, and a cancelled request.
constexpr DWORD DISPATCH_WAIT_MS = 2000;
constexpr DWORD THREAD_WAIT_MS = 2000;
constexpr DWORD CANCEL_WAIT_MS = 1000;
// Longer than the write time-out, so an unstalled write has ended by then.
constexpr DWORD WRITE_SLOT_WAIT_MS = 1000;

// A write with its own copy of the bytes: the caller's buffer may change
// while the request is still pending.
struct WriteRequest {
    OVERLAPPED overlapped;
    bool busy;
    std::vector<uint8_t> bytes;
};
WriteRequest writeRequests[WRITE_REQUESTS];
int nextWriteRequest = 0;
SRWLOCK writeLock = SRWLOCK_INIT;

HANDLE readThread = nullptr;
DWORD readThreadId = 0;

struct ReadThreadStart {
    uint32_t generation;
    HANDLE event;
    HANDLE port;
};

// readLock guards the read cycle: which session is current, whether its read
// is outstanding, and whether a block is being handed to the engine.
SRWLOCK readLock = SRWLOCK_INIT;
CONDITION_VARIABLE dispatchEnded = CONDITION_VARIABLE_INIT;
std::atomic<uint32_t> generation{0}; // one per UartInit; UartDeinit moves it on
uint32_t readPendingGen = 0;         // session whose read is outstanding, 0 none
uint32_t readFailedGen = 0;          // session whose last read failed on a live port
uint32_t lostGen = 0;                // session whose device was found gone
int dispatching = 0;
DWORD dispatchingThread = 0;

// The port found gone; see UartLostPort.
std::atomic<int32_t> lostPort{0};

// The error of this thread's last UartRead that failed.
thread_local DWORD readError = 0;

// The session a thread works for: the read thread's own, or the one whose
// UartInit this thread ran.
thread_local uint32_t threadGeneration = 0;

// Blocks completed at once inside a handler are handed over after it
// returns, so that a steady stream cannot deepen the stack.
thread_local int dataDepth = 0;
thread_local bool deferredBlock = false;
thread_local uint32_t deferredCount = 0;

// Exact under readLock; without it, a hint that may be stale.
bool sessionLive(uint32_t gen) { return uart.isUartActive != 0 && gen != 0 && gen == generation.load(); }

// Caller holds readLock.
uint32_t nextGeneration()
{
    uint32_t next = generation.load() + 1;
    if (next == 0)
        next = 1;
    generation = next;
    return next;
}

// The bytes that count, as terminated text for a trace line.
void traceText(const uint8_t* data, uint32_t count, char* out, size_t outSize)
{
    size_t n = count < outSize - 1 ? count : outSize - 1;
    if (n > 0 && data)
        memcpy(out, data, n);
    out[n] = '\0';
}

void deliverDataEvent(UartEventCallback callback, uint32_t count)
{
    if (!callback)
        return;
    if (dataDepth > 0) {
        deferredBlock = true;
        deferredCount = count;
        return;
    }
    ++dataDepth;
    for (;;) {
        uint32_t n = count;
        callback(UART_EVENT_DATA, &n);
        if (!deferredBlock)
            break;
        deferredBlock = false;
        count = deferredCount;
    }
    --dataDepth;
}

// Hands a block to the engine unless the port has been closed since the
// read was issued. Returns whether the session is still live afterwards.
bool dispatchBlock(uint32_t count)
{
    AcquireSRWLockExclusive(&readLock);
    bool live = sessionLive(threadGeneration);
    if (live) {
        ++dispatching;
        dispatchingThread = GetCurrentThreadId();
    }
    ReleaseSRWLockExclusive(&readLock);
    if (!live)
        return false;

    if (count > RX_BUFFER_SIZE)
        count = RX_BUFFER_SIZE;
    if (seams.uartReceive)
        seams.uartReceive(rxBuffer, count);
    else
        dispatchUartData(static_cast<int32_t>(count));

    AcquireSRWLockExclusive(&readLock);
    if (--dispatching == 0)
        dispatchingThread = 0;
    WakeAllConditionVariable(&dispatchEnded);
    live = sessionLive(threadGeneration);
    ReleaseSRWLockExclusive(&readLock);
    return live;
}

// How drivers fail requests on a port whose device has been removed: access
// denied, bad command and device removed (Windows' USB serial drivers), a
// broken pipe for reads and not ready for everything else (Wine, once the
// tty behind the port is closed), device not connected.
bool goneCode(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
        return true;
    default:
        return false;
    }
}

// Whether a request that failed with `error` means the device is gone.
// Other failures (a line error, an aborted request) happen on a live port
// too, which still answers a status request.
bool portGone(HANDLE port, DWORD error)
{
    if (goneCode(error))
        return true;
    DWORD errors = 0;
    COMSTAT status{};
    return !ClearCommError(port, &errors, &status);
}

// Reading stops and the owner is told, once per session.
void reportLost(uint32_t gen, DWORD error)
{
    AcquireSRWLockExclusive(&readLock);
    bool first = sessionLive(gen) && lostGen != gen;
    if (first)
        lostGen = gen;
    int32_t port = uart.port;
    UartEventCallback callback = uart.eventCallback;
    ReleaseSRWLockExclusive(&readLock);
    if (!first)
        return;
    // Set before anyone is told, so that no send starts on the dead port.
    lostPort = port;
    debugLog("UART: COM%d is gone. Error %d", port, static_cast<int>(error));
    uint32_t number = static_cast<uint32_t>(port);
    if (callback)
        callback(UART_EVENT_LOST, &number);
}

// After a failed read on a live port the read thread issues the next one.
void markReadFailed(uint32_t gen)
{
    AcquireSRWLockExclusive(&readLock);
    if (sessionLive(gen))
        readFailedGen = gen;
    ReleaseSRWLockExclusive(&readLock);
}

void readNext()
{
    int result = UartRead();
    if (result == 0 || result == 2)
        return;
    debugLog("UART: Failed to Read data from COM Port.");
    const uint32_t gen = threadGeneration;
    if (!sessionLive(gen))
        return;
    if (portGone(hComPort, readError))
        reportLost(gen, readError);
    else
        markReadFailed(gen);
}

// The read thread's turn without a completion: a read that failed on a live
// port is issued again, unless another is out or a block is in hand.
void resumeReading(uint32_t gen)
{
    AcquireSRWLockExclusive(&readLock);
    bool resume = sessionLive(gen) && readFailedGen == gen && readPendingGen == 0 && dispatching == 0;
    if (resume)
        readFailedGen = 0;
    ReleaseSRWLockExclusive(&readLock);
    if (resume)
        readNext();
}

// Picks a write request that is not in flight, creating its event on first
// use. Caller holds writeLock. Sets *error when none can be had.
WriteRequest* freeWriteRequest(DWORD* error)
{
    auto finished = [](WriteRequest& request) {
        if (!request.busy)
            return true;
        DWORD n = 0;
        if (GetOverlappedResult(hComPort, &request.overlapped, &n, FALSE) || GetLastError() != ERROR_IO_INCOMPLETE)
            request.busy = false;
        return !request.busy;
    };

    WriteRequest* chosen = nullptr;
    for (int k = 0; k < WRITE_REQUESTS && !chosen; ++k) {
        WriteRequest& request = writeRequests[(nextWriteRequest + k) % WRITE_REQUESTS];
        if (finished(request))
            chosen = &request;
    }
    if (!chosen) {
        // All in flight: the oldest is next in turn. Its write time-out ends
        // it; a stalled one is cancelled rather than overwritten.
        WriteRequest& oldest = writeRequests[nextWriteRequest];
        WaitForSingleObject(oldest.overlapped.hEvent, WRITE_SLOT_WAIT_MS);
        if (!finished(oldest)) {
            CancelIoEx(hComPort, &oldest.overlapped);
            WaitForSingleObject(oldest.overlapped.hEvent, CANCEL_WAIT_MS);
        }
        if (!finished(oldest)) {
            *error = ERROR_BUSY;
            return nullptr;
        }
        chosen = &oldest;
    }
    if (!chosen->overlapped.hEvent) {
        chosen->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!chosen->overlapped.hEvent) {
            DWORD err = GetLastError();
            debugLog("UART: Failed to create Write Event. Error %d", static_cast<int>(err));
            *error = err;
            return nullptr;
        }
    }
    return chosen;
}

// Waits, bounded, for writes still in flight and closes their events.
void releaseWriteRequests()
{
    AcquireSRWLockExclusive(&writeLock);
    for (WriteRequest& request : writeRequests) {
        if (request.busy && request.overlapped.hEvent) {
            if (hComPort)
                CancelIoEx(hComPort, &request.overlapped);
            WaitForSingleObject(request.overlapped.hEvent, CANCEL_WAIT_MS);
        }
        if (request.overlapped.hEvent)
            CloseHandle(request.overlapped.hEvent);
        request.overlapped = OVERLAPPED{};
        request.busy = false;
    }
    nextWriteRequest = 0;
    ReleaseSRWLockExclusive(&writeLock);
}

// Undoes what a failed UartInit created.
void releaseInitHandles()
{
    releaseWriteRequests();
    if (hComPort) {
        CloseHandle(hComPort);
        hComPort = nullptr;
    }
    if (hardwareMutex) {
        CloseHandle(hardwareMutex);
        hardwareMutex = nullptr;
    }
    AcquireSRWLockExclusive(&readLock);
    if (readOverlapped.hEvent)
        CloseHandle(readOverlapped.hEvent);
    readOverlapped = OVERLAPPED{};
    ReleaseSRWLockExclusive(&readLock);
}

} // namespace

namespace {

// The session's read and write events and the hardware mutex; 1 when one
// cannot be made (what was made is released).
int createSessionHandles(HANDLE& readEvent)
{
    AcquireSRWLockExclusive(&readLock);
    readOverlapped = OVERLAPPED{};
    readPendingGen = 0;
    readFailedGen = 0;
    readOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    readEvent = readOverlapped.hEvent;
    ReleaseSRWLockExclusive(&readLock);
    if (!readEvent) {
        debugLog("UART: Failed to create Read Event. Error %d", static_cast<int>(GetLastError()));
        return 1;
    }

    AcquireSRWLockExclusive(&writeLock);
    writeRequests[0].overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE writeEvent = writeRequests[0].overlapped.hEvent;
    ReleaseSRWLockExclusive(&writeLock);
    if (!writeEvent) {
        debugLog("UART: Failed to create Write Event. Error %d", static_cast<int>(GetLastError()));
        releaseInitHandles();
        return 1;
    }

    hardwareMutex = CreateMutexW(nullptr, FALSE, nullptr);
    if (!hardwareMutex) {
        debugLog("UART: Failed to create UART Hardware Mutex. Error %d", static_cast<int>(GetLastError()));
        releaseInitHandles();
        return 1;
    }
    return 0;
}

// Opens uart.port; INVALID_HANDLE_VALUE when it cannot be (the operator is
// told unless quiet).
HANDLE openPort(bool quiet)
{
    char path[260];
    snprintf(path, sizeof path, "\\\\?\\COM%d", uart.port);
    wchar_t widePath[260];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, 260) == 0)
        widePath[0] = L'\0';
    debugLog("Opening Port %s %ls", path, widePath);

    HANDLE port = CreateFileW(widePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        char text[256];
        snprintf(
            text, sizeof text,
            "Failed to open COM%d. Please check no other application is using the port or the right port is selected",
            uart.port);
        if (!quiet)
            showMessageBoxA(text, MB_OK);
        debugLog("UART: Failed to open COM%d. Error %d", uart.port, static_cast<int>(err));
        return INVALID_HANDLE_VALUE;
    }
    debugLog("UART: Successfully opened COM%d, handle = H%X", uart.port,
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(port)));
    return port;
}

// Events, queues and time-outs of the open port; false when one is refused.
bool preparePort(HANDLE port)
{
    if (!SetCommMask(port, EV_RXCHAR | EV_TXEMPTY)) {
        debugLog("UART: SetCommMask failed. Error %d", static_cast<int>(GetLastError()));
        return false;
    }
    if (!SetupComm(port, QUEUE_SIZE, QUEUE_SIZE)) {
        debugLog("UART: SetupComm failed. Error %d", static_cast<int>(GetLastError()));
        return false;
    }
    if (!PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        debugLog("UART: PurgeComm failed. Error %d", static_cast<int>(GetLastError()));
        return false;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 10;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 750;
    if (!SetCommTimeouts(port, &timeouts)) {
        debugLog("UART: SetCommTimeouts failed. Error %d", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

// Starts a new session's read thread; false when it cannot be started (the
// session is over again).
bool startReadThread(HANDLE port, HANDLE readEvent)
{
    AcquireSRWLockExclusive(&readLock);
    uart.isUartActive = 1;
    uint32_t gen = nextGeneration();
    dispatching = 0;
    dispatchingThread = 0;
    ReleaseSRWLockExclusive(&readLock);
    threadGeneration = gen;

    // The thread gets its session, event and port with it, so that one that
    // outlives its port can tell it has been replaced and closes only its own.
    auto* start = new (std::nothrow) ReadThreadStart{gen, readEvent, port};
    readThread = start ? CreateThread(nullptr, 0, tReadThread, start, 0, &readThreadId) : nullptr;
    if (readThread)
        return true;
    DWORD err = start ? GetLastError() : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    delete start;
    debugLog("UART: Failed to create Read Thread. Error %d", static_cast<int>(err));
    AcquireSRWLockExclusive(&readLock);
    uart.isUartActive = 0;
    nextGeneration();
    ReleaseSRWLockExclusive(&readLock);
    readThreadId = 0;
    return false;
}

} // namespace

int UartInit(bool quiet)
{
    // A previous session's leftovers (only after an earlier failure).
    releaseWriteRequests();

    HANDLE readEvent = nullptr;
    if (createSessionHandles(readEvent) != 0)
        return 1;
    uart.eventCallback = UartEventHandler;

    HANDLE port = openPort(quiet);
    if (port == INVALID_HANDLE_VALUE) {
        releaseInitHandles();
        return 4;
    }
    hComPort = port;
    if (!preparePort(port)) {
        releaseInitHandles();
        return 1;
    }
    if (!UartApplySettings()) {
        debugLog("Failed to apply COM port settings. COM%d", uart.port);
        releaseInitHandles();
        return 5;
    }
    if (!startReadThread(port, readEvent)) {
        releaseInitHandles();
        return 1;
    }

    EscapeCommFunction(port, SETDTR);
    EscapeCommFunction(port, SETRTS);
    lostPort = 0;

    uint32_t none = 0;
    uart.eventCallback(UART_EVENT_OPENED, &none);
    uart.eventCallback(UART_EVENT_START_READ, &none);
    return 0;
}

namespace {

// The rate, and the flow control of RTS and CTS, into a port's DCB.
void putRateAndFlow(DCB& dcb)
{
    int baud = uart.baud;
    if (!portTakesRate(baud)) {
        debugLog("Unsupported Baudrate %d. Using default baudrate 19200", baud);
        baud = kBaudSettings[DEFAULT_BAUD_ROW].rate;
    }
    dcb.BaudRate = static_cast<DWORD>(baud);
    debugLog("UART: Setting baudrate to %d", baud);

    const bool flow = uart.flow == 1;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = flow ? 1 : 0;
    debugLog("UART: CTS flowcontrol set to %s", dcb.fOutxCtsFlow ? "TRUE" : "FALSE");

    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    debugLog("UART: RTS flowcontrol set to %s", dcb.fRtsControl != RTS_CONTROL_DISABLE ? "TRUE" : "FALSE");
}

// The parity and the stop bits of uart into a port's DCB.
void putParityAndStopBits(DCB& dcb)
{
    switch (uart.parity) {
    case PARITY_NONE:
        dcb.Parity = NOPARITY;
        break;
    case PARITY_ODD:
        dcb.Parity = ODDPARITY;
        break;
    case PARITY_EVEN:
        dcb.Parity = EVENPARITY;
        break;
    default:
        debugLog("UART: Unsupported Parity %d. Using default PARITY_NONE", uart.parity);
        dcb.Parity = NOPARITY;
        break;
    }
    debugLog("UART: Setting parity to %d", dcb.Parity);

    switch (uart.stopBits) {
    case 1:
        dcb.StopBits = ONESTOPBIT;
        break;
    case 2:
        dcb.StopBits = TWOSTOPBITS;
        break;
    default:
        debugLog("UART: Unsupported Stop Bit Setting %d. Using default STOPBITS_ONE", uart.stopBits);
        dcb.StopBits = ONESTOPBIT;
        break;
    }
    debugLog("UART: Setting Stopbits setting to %d", dcb.StopBits);
}

} // namespace

int UartApplySettings()
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(hComPort, &dcb);
    dcb.DCBlength = 28;

    putRateAndFlow(dcb);
    dcb.fAbortOnError = 0;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = 8;
    putParityAndStopBits(dcb);

    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return SetCommState(hComPort, &dcb);
}

int UartChangeSettings()
{
    debugLog("UART: +%s baud %d flow %d stopbits %d parity %d", "UartChangeSettings", uart.baud, uart.flow,
             uart.stopBits, uart.parity);
    if (!UartApplySettings())
        return 1;
    PurgeComm(hComPort, PURGE_TXCLEAR | PURGE_RXCLEAR);
    waitRepainting(nullptr, CHANGE_SETTLE_MS);
    return 0;
}

int UartWrite(const uint8_t* buffer, uint32_t length)
{
    char text[1024];
    traceText(buffer, length, text, sizeof text);

    AcquireSRWLockExclusive(&writeLock);
    DWORD err = 0;
    WriteRequest* request = freeWriteRequest(&err);
    if (!request) {
        ReleaseSRWLockExclusive(&writeLock);
        debugLog("UART: WriteFile failed to write buffer %s len %d to UART. Error %d", text, static_cast<int>(length),
                 static_cast<int>(err));
        return 1;
    }
    if (length > 0 && buffer)
        request->bytes.assign(buffer, buffer + length);
    else
        request->bytes.clear();
    HANDLE event = request->overlapped.hEvent;
    request->overlapped = OVERLAPPED{};
    request->overlapped.hEvent = event;

    WaitForSingleObject(hardwareMutex, INFINITE);
    DWORD written = 0;
    BOOL ok = uartWriteFile(hComPort, request->bytes.data(), length, &written, &request->overlapped);
    err = ok ? 0 : GetLastError();
    ReleaseMutex(hardwareMutex);

    if (!ok && err == ERROR_IO_PENDING) {
        request->busy = true;
        nextWriteRequest = static_cast<int>((request - writeRequests + 1) % WRITE_REQUESTS);
    }
    ReleaseSRWLockExclusive(&writeLock);

    if (ok) {
        debugLog("UART: Written %d bytes to UART. buffer %s len %d", static_cast<int>(written), text,
                 static_cast<int>(length));
        return 0;
    }
    if (err == ERROR_IO_PENDING) {
        debugLog("UART: buffer %s len %d Write pending to UART", text, static_cast<int>(length));
        return 2;
    }
    debugLog("UART: WriteFile failed to write buffer %s len %d to UART. Error %d", text, static_cast<int>(length),
             static_cast<int>(err));
    const uint32_t gen = generation.load();
    if (sessionLive(gen) && portGone(hComPort, err))
        reportLost(gen, err);
    return 1;
}

int UartRead()
{
    AcquireSRWLockExclusive(&readLock);
    if (!sessionLive(threadGeneration)) {
        ReleaseSRWLockExclusive(&readLock);
        readError = ERROR_INVALID_HANDLE;
        debugLog("UART: Readfile failed to read data from UART. Error %d", static_cast<int>(ERROR_INVALID_HANDLE));
        return 1;
    }
    if (readPendingGen != 0) {
        // Exactly one read is outstanding; it is still on its way.
        ReleaseSRWLockExclusive(&readLock);
        return 2;
    }
    WaitForSingleObject(hardwareMutex, INFINITE);
    DWORD count = 0;
    BOOL ok = uartReadFile(hComPort, rxBuffer, RX_BUFFER_SIZE, &count, &readOverlapped);
    DWORD err = ok ? 0 : GetLastError();
    ReleaseMutex(hardwareMutex);
    if (ok) {
        // Completed at once: this thread dispatches it, so the signal it left
        // on the read event must not wake the read thread for it too.
        DWORD done = 0;
        if (GetOverlappedResult(hComPort, &readOverlapped, &done, FALSE))
            count = done;
        ResetEvent(readOverlapped.hEvent);
    } else if (err == ERROR_IO_PENDING) {
        readPendingGen = generation.load();
    }
    UartEventCallback callback = uart.eventCallback;
    ReleaseSRWLockExclusive(&readLock);

    if (ok) {
        char text[RX_BUFFER_SIZE + 1];
        traceText(rxBuffer, count, text, sizeof text);
        debugLog("UART: Read %d bytes from UART. buffer %s len %d", static_cast<int>(count), text, RX_BUFFER_SIZE);
        deliverDataEvent(callback, count);
        return 0;
    }
    if (err == ERROR_IO_PENDING)
        return 2;
    readError = err;
    debugLog("UART: Readfile failed to read data from UART. Error %d", static_cast<int>(err));
    return 1;
}

void UartEventHandler(uint32_t event, uint32_t* count)
{
    switch (event) {
    case UART_EVENT_OPENED:
        postNotify(ID_NOTIFY_STATUS, 0);
        postNotify(ID_NOTIFY_LOG, reinterpret_cast<LPARAM>("UART initialised successfully"));
        break;
    case UART_EVENT_START_READ:
        readNext();
        break;
    case UART_EVENT_DATA:
        if (count && dispatchBlock(*count))
            readNext();
        break;
    case UART_EVENT_LOST:
        releaseBlockingSend();
        postNotify(ID_NOTIFY_PORT_LOST, count ? static_cast<LPARAM>(*count) : 0);
        break;
    default:
        break;
    }
}

namespace {

// One signal of the read event: a completed block is delivered, a failed
// read reported. False when the session or the port is over.
bool takeReadSignal(uint32_t gen, HANDLE event, HANDLE port)
{
    AcquireSRWLockExclusive(&readLock);
    if (!sessionLive(gen)) {
        ReleaseSRWLockExclusive(&readLock);
        return false;
    }
    if (readPendingGen != gen) {
        // A block completed at once is its issuer's; the signal is stale.
        ResetEvent(event);
        ++staleReadSignals;
        ReleaseSRWLockExclusive(&readLock);
        return true;
    }
    DWORD count = 0;
    if (GetOverlappedResult(port, &readOverlapped, &count, FALSE)) {
        readPendingGen = 0;
        UartEventCallback callback = uart.eventCallback;
        ReleaseSRWLockExclusive(&readLock);
        deliverDataEvent(callback, count);
        return true;
    }
    DWORD err = GetLastError();
    if (err == ERROR_IO_INCOMPLETE) {
        ReleaseSRWLockExclusive(&readLock);
        return true;
    }
    // Clearing the signal reports the failure once.
    readPendingGen = 0;
    ResetEvent(event);
    ReleaseSRWLockExclusive(&readLock);
    debugLog("UART: Failed to ReadData. Error %d", static_cast<int>(err));
    if (portGone(port, err)) {
        reportLost(gen, err);
        return false;
    }
    // A live port: the next read goes out at the next turn.
    markReadFailed(gen);
    return true;
}

// The read must be over before its event and state can go.
void endReading(uint32_t gen, HANDLE event, HANDLE port)
{
    AcquireSRWLockExclusive(&readLock);
    bool pending = readPendingGen == gen;
    ReleaseSRWLockExclusive(&readLock);
    if (pending) {
        CancelIoEx(port, &readOverlapped);
        WaitForSingleObject(event, CANCEL_WAIT_MS);
        AcquireSRWLockExclusive(&readLock);
        if (readPendingGen == gen)
            readPendingGen = 0;
        ReleaseSRWLockExclusive(&readLock);
    }
    CloseHandle(event);
}

} // namespace

DWORD WINAPI tReadThread(LPVOID parameter)
{
    if (!parameter)
        return 1;
    const ReadThreadStart start = *static_cast<ReadThreadStart*>(parameter);
    delete static_cast<ReadThreadStart*>(parameter);
    const uint32_t gen = start.generation;
    const HANDLE event = start.event;
    const HANDLE port = start.port;
    threadGeneration = gen;

    debugLog("UART: Started tReadThread");
    while (event && sessionLive(gen)) {
        DWORD result = WaitForSingleObject(event, POLL_MS);
        if (result == WAIT_TIMEOUT) {
            resumeReading(gen);
            continue;
        }
        if (result != WAIT_OBJECT_0) {
            debugLog("UART: WaitForSingleObject failed. result H%X error %d", static_cast<unsigned>(result),
                     static_cast<int>(GetLastError()));
            Sleep(POLL_MS);
            continue;
        }
        if (!takeReadSignal(gen, event, port))
            break;
    }

    debugLog("UART: tReadThread Exiting....");
    if (event)
        endReading(gen, event, port);
    return 1;
}

int32_t UartLostPort() { return lostPort.load(); }

void UartForgetLost()
{
    if (int32_t port = lostPort.exchange(0))
        debugLog("UART: No more tries to open COM%d", port);
}

int UartDeinit()
{
    debugLog("UART: +UartDeinit");

    AcquireSRWLockExclusive(&readLock);
    if (uart.isUartActive) {
        debugLog("UART: Setting isUartActive to FALSE.");
        uart.isUartActive = 0;
    }
    nextGeneration();
    // A block already being handed to the engine on another thread finishes
    // before the record is cleared; nothing new starts from now on.
    DWORD start = GetTickCount();
    while (dispatching > 0 && dispatchingThread != GetCurrentThreadId()) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= DISPATCH_WAIT_MS)
            break;
        SleepConditionVariableSRW(&dispatchEnded, &readLock, DISPATCH_WAIT_MS - elapsed, 0);
    }
    ReleaseSRWLockExclusive(&readLock);

    EscapeCommFunction(hComPort, CLRDTR);
    PurgeComm(hComPort, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    // The purge does not end a pending read everywhere; cancelling does.
    if (hComPort)
        CancelIoEx(hComPort, nullptr);

    if (readThread) {
        if (readThreadId != GetCurrentThreadId())
            WaitForSingleObject(readThread, THREAD_WAIT_MS);
        CloseHandle(readThread);
        readThread = nullptr;
        readThreadId = 0;
    }
    releaseWriteRequests();

    if (hComPort)
        CloseHandle(hComPort);
    hComPort = nullptr;
    if (hardwareMutex)
        CloseHandle(hardwareMutex);
    hardwareMutex = nullptr;

    debugLog("UART: -UartDeinit");

    AcquireSRWLockExclusive(&readLock);
    // The read thread closes the read event it was started with.
    readOverlapped = OVERLAPPED{};
    memset(&uart, 0, sizeof uart);
    ReleaseSRWLockExclusive(&readLock);
    return 0;
}
