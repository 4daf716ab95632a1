// Waits of the user-interface thread inside a procedure that holds it for
// minutes (pairing and unpairing search a second adapter with blocking
// sends). While a BusyProcedure lives on that thread, its blocking waits
// let the windows repaint but dispatch nothing else, and keyboard and mouse
// input given during a wait is dropped instead of acting later. Posted
// notifications wait for the procedure's next message box (whose owner,
// the main window, is disabled meanwhile) or its end, so no button or menu
// command runs inside the procedure.
//
// The one way out: while the procedure allows it, Esc pressed on the
// keyboard ends the current wait at once and every later one until the
// procedure stops allowing it, so that the procedure can notice and stop.
#pragma once
#include <windows.h>

class BusyProcedure {
public:
    BusyProcedure();
    ~BusyProcedure();
    BusyProcedure(const BusyProcedure&) = delete;
    BusyProcedure& operator=(const BusyProcedure&) = delete;

    // From allowStop(true) to allowStop(false), Esc stops the procedure.
    void allowStop(bool allow);
    // Esc was pressed while stopping was allowed.
    bool stopped() const;

private:
    DWORD previousThread_;
};

// What waitRepainting returns when Esc ended the wait.
constexpr DWORD WAIT_STOPPED = 0x0000F000;

// WaitForSingleObject on `handle`, or a sleep of `ms` when it is nullptr;
// repaints as above when called on a BusyProcedure's thread. Returns
// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED like WaitForSingleObject, or
// WAIT_STOPPED.
DWORD waitRepainting(HANDLE handle, DWORD ms);
