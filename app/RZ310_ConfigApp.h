// The application object: runs the main window modally and ends with it.
#pragma once
#include "framework/app.h"

class CRZ310_ConfigApp : public CWinApp {
public:
    CRZ310_ConfigApp() = default;
    ~CRZ310_ConfigApp() override = default;

    // Registers the common controls, runs the main window and returns FALSE
    // so that the program ends when the window has closed.
    BOOL InitInstance() override;
};
