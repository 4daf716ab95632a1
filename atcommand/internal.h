// Engine-private helpers shared by the engine's source files.
//
// Threads: the user-interface thread records, re-arms and abandons the
// pending command and evaluates timer-sent answers; the serial read thread
// frames blocking answers and reports and runs their handling. One engine
// lock (a recursive critical section) covers every such touch of atCommand,
// device, pairing, inquiry, remoteAddress and the engine's fields of uart.
// It is never held while a thread waits on atCommandEvent, writes to the
// port or shows a message box: a box raised under the lock would stall the
// other thread, and the box itself may be owned by nobody only if nobody
// waits for us. It is held across the 600 ms settle of a line-settings
// change that an answer's handling makes (portChangeSettings): the settle
// waits for no other thread, so the other thread waits at most its length
// and never deadlocks, and no bytes are framed while the port changes.
#pragma once
#include "atcommand/atcommand.h"
#include <cstddef>

void lockEngine();
void unlockEngine();

struct EngineLock {
    EngineLock() { lockEngine(); }
    ~EngineLock() { unlockEngine(); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
};

// Shows a box with the engine lock left for its duration. The text is copied
// first, so the caller's buffer may be reused meanwhile by the other thread.
int engineMessageBox(const wchar_t* text, UINT type = MB_OK);
// The same for 8-bit text, converted through wideText.
int engineMessageBoxA(const char* text, UINT type = MB_OK);

// Counts every change of the pending command made outside the framing
// (recorded, cleared, abandoned). The read thread compares it across a box
// to know whether the record it handled is still the one pending.
extern volatile uint32_t commandGeneration;

// How the last blocking answer ended, set before atCommandEvent: 1 when the
// adapter answered ERROR or the answer was rejected, 0 when it was accepted.
extern volatile LONG answerFailed;

// What a complete line ("\r\n" and its text, with or without its closing
// CR LF) reports: CONNECT or DISCONNECT as a whole word at its start, then
// nothing, " Attempt Fail!!" or a blank and an address. Any other line,
// whatever words it holds, is no report.
enum ReportKind { REPORT_NONE, REPORT_CONNECT, REPORT_DISCONNECT };
ReportKind reportKind(const char* line);

// Dispatches the bytes of rxBuffer from `from` up to `count` as a block of
// their own: what follows a handled line or reply in a block meets the state
// that line left, whatever block boundaries the adapter's bytes had.
void dispatchRest(int32_t from, int32_t count);

// Clears atCommand as a whole.
void clearAtCommand();
// Resets the framing fields for a fresh answer; the command stays.
void resetFraming();

// Bounded copy of `length` characters (or up to the NUL) into a field of
// `size` characters; the field always ends with a NUL. Longer text is cut.
void copyText(char* field, size_t size, const char* text, size_t length = static_cast<size_t>(-1));

// Formats into the buffer (TEXT_SIZE) and posts it to the log window.
void logFormatted(char* buffer, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
