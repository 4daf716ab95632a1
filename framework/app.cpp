#include "framework/app.h"

CWinApp* CWinApp::s_current = nullptr;

CWinApp::CWinApp() { s_current = this; }

CWinApp::~CWinApp()
{
    if (s_current == this)
        s_current = nullptr;
}

BOOL CWinApp::InitInstance() { return FALSE; }

CWinApp* CWinApp::current() { return s_current; }
