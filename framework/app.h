// The application object: one global instance, whose InitInstance runs the
// program (for a dialog program, the main window's modal run).
#pragma once
#include "framework/wnd.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returns FALSE when the program is to end (always, for a dialog program).
    virtual BOOL InitInstance();

    // The one application object, for wWinMain.
    static CWinApp* current();

private:
    static CWinApp* s_current;
};
