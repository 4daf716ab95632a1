// The log window's cost per line as it grows: a line arriving alone and lines
// arriving in a burst (posted as the engine posts them), for the first lines
// against after 20,000 lines (the log is never trimmed), beside the edit
// control's own insertion at the same sizes. For comparison, the same control
// rewritten whole per line, as it used to be.
#include "app/RZ310_ConfigDlg.h"
#include "atcommand/atcommand.h"
#include "common/msgbox.h"
#include "common/notify.h"
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

// Median microseconds of `runs` single calls of `append`.
template <typename Append>
double median(int runs, Append append)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        append();
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A burst of `lines` log lines queued for the window as the engine queues
// them, then handled.
void burst(HWND, int lines)
{
    for (int i = 0; i < lines; ++i)
        postLogText(line);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

// AppendLog's steps one by one, in its order, each the median of `runs`:
// which of them grows with the log.
void printSteps(HWND log, const wchar_t* text, int runs)
{
    const char* names[] = {"PeekMessage",   "WM_GETTEXTLENGTH", "EM_GETSEL",
                           "EM_REPLACESEL", "EM_GETLINECOUNT",  "EM_LINESCROLL"};
    const int steps = 6;
    std::vector<double> times[steps];
    for (int i = 0; i < runs; ++i) {
        std::chrono::steady_clock::time_point at[steps + 1];
        MSG next;
        DWORD selStart = 0, selEnd = 0;
        at[0] = std::chrono::steady_clock::now();
        PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE);
        at[1] = std::chrono::steady_clock::now();
        GetWindowTextLengthW(log);
        at[2] = std::chrono::steady_clock::now();
        SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
        at[3] = std::chrono::steady_clock::now();
        SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
        at[4] = std::chrono::steady_clock::now();
        LRESULT lines = SendMessageW(log, EM_GETLINECOUNT, 0, 0);
        at[5] = std::chrono::steady_clock::now();
        SendMessageW(log, EM_LINESCROLL, 0, lines);
        at[6] = std::chrono::steady_clock::now();
        for (int k = 0; k < steps; ++k)
            times[k].push_back(std::chrono::duration<double, std::micro>(at[k + 1] - at[k]).count());
    }
    for (int k = 0; k < steps; ++k) {
        std::sort(times[k].begin(), times[k].end());
        printf("%s %.0f us%s", names[k], times[k][times[k].size() / 2], k + 1 < steps ? ", " : "\n");
    }
}

} // namespace

int main()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    seams.messageBox = [](const wchar_t*, UINT) { return IDOK; }; // no settings.txt here
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

    const int sample = 200, bursts = 9, burstLines = 100;
    double first = median(sample, [&] { dlg.AppendLog(line); });
    double firstInsert = median(sample, insert);
    double firstBurst = median(bursts, [&] { burst(dlg.m_hWnd, burstLines); }) / burstLines;
    printf("AppendLog's steps, first lines: ");
    printSteps(log, wideLine, sample);
    while (SendMessageW(log, EM_GETLINECOUNT, 0, 0) < 20000)
        burst(dlg.m_hWnd, 500);
    double late = median(sample, [&] { dlg.AppendLog(line); });
    double lateInsert = median(sample, insert);
    double lateBurst = median(bursts, [&] { burst(dlg.m_hWnd, burstLines); }) / burstLines;
    printf("AppendLog's steps, after 20,000 lines: ");
    printSteps(log, wideLine, sample);
    int lines = static_cast<int>(SendMessageW(log, EM_GETLINECOUNT, 0, 0));

    // The whole text read and set again for each line, at the same length.
    double rewrite = median(5, [&] {
        int length = GetWindowTextLengthW(log);
        std::wstring all(static_cast<size_t>(length) + 1, L'\0');
        GetWindowTextW(log, &all[0], length + 1);
        all.resize(static_cast<size_t>(length));
        all += L"Received Response OK for command AT+NAME?\r\n";
        SetWindowTextW(log, all.c_str());
    });

    printf("%d-character line, median per line: first lines, after 20,000 lines (ratio); log now %d lines\n",
           static_cast<int>(sizeof line - 1), lines);
    printf("a line arriving alone (AppendLog): %.0f us, %.0f us (%.2fx)\n", first, late, late / first);
    printf("lines arriving in bursts of %d: %.0f us, %.0f us (%.2fx); against a line alone at the start %.2fx\n",
           burstLines, firstBurst, lateBurst, lateBurst / firstBurst, lateBurst / first);
    printf("the edit control's EM_REPLACESEL of one line alone: %.0f us, %.0f us (%.2fx)\n", firstInsert, lateInsert,
           lateInsert / firstInsert);
    printf("the whole log read and set again per line at that length: %.0f us/line\n", rewrite);
    dlg.DestroyWindow();
    DeleteFileW((dir + L"\\settings.txt").c_str());
    SetCurrentDirectoryW(temp);
    RemoveDirectoryW(dir.c_str());
    return 0;
}
