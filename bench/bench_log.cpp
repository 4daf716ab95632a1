// The log window's cost per line as it grows: AppendLog for the first lines
// against AppendLog after 20,000 lines (the log is never trimmed), beside the
// edit control's own insertion at the same sizes. For comparison, the same
// control rewritten whole per line, as it used to be.
#include "app/RZ310_ConfigDlg.h"
#include "common/msgbox.h"
#include "res/resource.h"

#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char line[] = "Local Device connected to remote device with address 0012-6F-654321";

// Microseconds per line for `lines` lines appended by `append`.
template <typename Append>
double perLine(int lines, Append append)
{
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i)
        append();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / lines;
}

} // namespace

int main()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    seams.messageBox = [](const wchar_t*, UINT) { return IDOK; };   // no settings.txt here
    // A scratch folder of its own: the window reads and writes settings.txt.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"rz310-bench-log-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    SetCurrentDirectoryW(dir.c_str());

    CRZ310_ConfigDlg dlg;
    if (!dlg.Create(IDD_RZ310_CONFIG_DIALOG, nullptr)) {
        printf("main window not created\n");
        return 1;
    }
    // The edit control's own insertion, alone, for the share that is the
    // control's (Wine's edit control walks its line records on each change).
    HWND log = GetDlgItem(dlg.m_hWnd, IDC_LOG);
    const wchar_t wideLine[] = L"Local Device connected to remote device with address 0012-6F-654321\r\n";
    auto insert = [&] { SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wideLine)); };

    const int sample = 200;
    double first = perLine(sample, [&] { dlg.AppendLog(line); });
    double firstInsert = perLine(sample, insert);
    for (int i = 2 * sample; i < 20000; ++i)
        dlg.AppendLog(line);
    double late = perLine(sample, [&] { dlg.AppendLog(line); });
    double lateInsert = perLine(sample, insert);
    int lines = static_cast<int>(SendDlgItemMessageW(dlg.m_hWnd, IDC_LOG, EM_GETLINECOUNT, 0, 0));

    // The whole text read and set again for each line, at the same length.
    double rewrite = perLine(5, [&] {
        int length = GetWindowTextLengthW(log);
        std::wstring all(static_cast<size_t>(length) + 1, L'\0');
        GetWindowTextW(log, &all[0], length + 1);
        all.resize(static_cast<size_t>(length));
        all += L"Received Response OK for command AT+NAME?\r\n";
        SetWindowTextW(log, all.c_str());
    });

    printf("AppendLog, %d-character line, median: first %d lines %.0f us/line; after 20,000 lines %.0f us/line "
           "(%.2fx); log now %d lines\n",
           static_cast<int>(sizeof line - 1), sample, first, late, late / first, lines);
    printf("the edit control's EM_REPLACESEL alone: %.0f us at the start, %.0f us after 20,000 lines (%.2fx)\n",
           firstInsert, lateInsert, lateInsert / firstInsert);
    printf("the whole log read and set again per line at that length: %.0f us/line\n", rewrite);
    dlg.DestroyWindow();
    DeleteFileW((dir + L"\\settings.txt").c_str());
    SetCurrentDirectoryW(temp);
    RemoveDirectoryW(dir.c_str());
    return 0;
}
