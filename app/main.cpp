// The program's entry: the one application object runs everything.
#include "app/RZ310_ConfigApp.h"
#include "common/systemdll.h"

CRZ310_ConfigApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    restrictDllSearch();
    CWinApp* app = CWinApp::current();
    app->InitInstance();
    return 0;
}

// Linkers that start the program through the 8-bit entry reach the same.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show)
{
    return wWinMain(instance, previous, GetCommandLineW(), show);
}
