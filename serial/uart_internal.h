// Driver state kept outside the uart record, and the registry walk behind
// EnumerateComPorts; for the driver's own files and its tests.
#pragma once
#include <windows.h>
#include <atomic>

extern HANDLE hComPort;      // the open port, nullptr while closed
extern HANDLE hardwareMutex; // held only while a read or write is issued
extern OVERLAPPED readOverlapped;
// Signals of the read event that the read thread found stale (left by a read
// that its issuer handed over itself); tests wait on it to know that race ran.
extern std::atomic<unsigned> staleReadSignals;

// The port's read and write calls; tests put stand-ins here to produce
// completions the platform seldom gives (at once, failed, never).
extern BOOL(WINAPI* uartReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern BOOL(WINAPI* uartWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Number of write requests that may be in flight at once; a further write
// first waits, bounded, for the oldest.
constexpr int WRITE_REQUESTS = 4;

// Lists the port names held as the values of root\path into the combo box
// and records their numbers in uart.comPortList.
void EnumerateComPortsFrom(HKEY root, const wchar_t* path, HWND comPortCombo);
