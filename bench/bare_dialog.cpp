// The yardstick for the tool's start-up (tools/bench-startup): a dialog
// program of the same shape and nothing more. It registers the common
// controls, runs the tool's own main window template modally, creates the
// four panel templates inside its frame and shows the first; no engine, no
// settings file, no port list, no tool tips, no status lights.
#include "panels/panel_ids.h"
#include "res/resource.h"

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>

namespace {

INT_PTR CALLBACK panelProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

INT_PTR CALLBACK mainProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        RECT frame;
        GetWindowRect(GetDlgItem(window, IDC_PANEL_FRAME), &frame);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&frame), 2);
        InflateRect(&frame, -1, -1);
        for (int id : {IDD_LOCAL_DEVICE, IDD_REMOTE_DEVICE, IDD_CONNECTION, IDD_PAIR_DEVICE}) {
            HWND panel = CreateDialogParamW(instance, MAKEINTRESOURCEW(id), window, panelProc, 0);
            SetWindowPos(panel, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(panel, id == IDD_LOCAL_DEVICE ? SW_SHOW : SW_HIDE);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == ID_FILE_EXIT)
            EndDialog(window, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_RZ310_CONFIG_DIALOG), nullptr, mainProc, 0);
    return 0;
}
