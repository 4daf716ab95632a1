#include "app/RZ310_ConfigApp.h"
#include "app/RZ310_ConfigDlg.h"
#include <commctrl.h>

BOOL CRZ310_ConfigApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF; // every class of the common-controls set
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    CRZ310_ConfigDlg dlg;
    dlg.DoModal();
    return FALSE;
}
