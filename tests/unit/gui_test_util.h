// Helpers of the window tests: posted messages, window texts and asking a
// dialog for a tool tip the way its tool tip control does.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>

// Handles whatever has been posted so far.
inline void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

inline std::wstring textOf(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The dialog's answer for a tool; "untouched" when it gives none.
inline std::wstring askToolTip(HWND dialog, UINT_PTR idFrom, UINT flags)
{
    NMTTDISPINFOW info{};
    info.hdr.code = TTN_NEEDTEXTW;
    info.hdr.idFrom = idFrom;
    info.uFlags = flags;
    info.lpszText = const_cast<wchar_t*>(L"untouched");
    SendMessageW(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return info.lpszText ? info.lpszText : L"(null)";
}

// A control's tool tip, the tool named by its window as the dialog set it up.
inline std::wstring toolTipOf(HWND dialog, int control)
{
    return askToolTip(dialog, reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, control)), TTF_IDISHWND);
}
