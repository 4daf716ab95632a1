// Window and control wrappers of our dialog layer. A wrapper holds only an
// HWND: it never owns the window, never destroys it and cannot be copied.
// Each member is a one-line Win32 call; the comment gives the Win32 result.
#pragma once
#include <windows.h>
#include <string>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // Binds the wrapper to a window; calls OnAttached once per new handle.
    void Attach(HWND h);
    // Unbinds (and removes our subclass, if any); returns the old handle.
    HWND Detach();

    HWND GetDlgItem(int id) const; // nullptr when there is no such child

    void SetWindowTextW(const wchar_t* text);
    std::wstring GetWindowTextW() const;

    void ShowWindow(int cmd);   // SW_SHOW, SW_HIDE, ...
    RECT GetWindowRect() const; // screen coordinates

    UINT IsDlgButtonChecked(int id) const;
    void CheckDlgButton(int id, UINT state); // BST_CHECKED / BST_UNCHECKED
    void CheckRadioButton(int first, int last, int check);
    void EnableDlgItem(int id, bool enable);

    BOOL KillTimer(UINT_PTR id);

    LRESULT SendMessageW(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessageW(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

protected:
    // Hook run when a new handle is attached (DDX_Control, Attach). A
    // custom-drawn control calls SubclassWindow() here.
    virtual void OnAttached() {}

    // Routes this window's own messages to WindowProc (comctl32 subclass,
    // removed again at WM_NCDESTROY or Detach). For controls that paint
    // themselves; dialogs use the dialog procedure instead.
    bool SubclassWindow();
    // Subclassed windows only: set handled=true to consume the message and
    // return its result; otherwise the original procedure runs.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

private:
    bool m_subclassed = false;
    static LRESULT CALLBACK subclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
};

class CButton : public CWnd {
public:
    int GetCheck() const; // BST_CHECKED / BST_UNCHECKED
};

class CEdit : public CWnd {
public:
    void SetLimitText(UINT chars); // the box refuses typing and pasting past it
    int GetLineCount() const;
    void LineScroll(int lines);
    void SetSel(int start, int end);
    void ReplaceSel(const wchar_t* text);
};

class CStatic : public CWnd {};

class CComboBox : public CWnd {
public:
    int AddString(const wchar_t* text); // index, or CB_ERR
    int GetCurSel() const;              // CB_ERR (-1) when none
    int SetCurSel(int index);           // CB_ERR also when index is -1
    int GetCount() const;
    std::wstring GetLBText(int index) const; // empty for a bad index
};

class CListBox : public CWnd {
public:
    int InsertString(int index, const wchar_t* text);
    int DeleteString(int index);
    int GetCurSel() const; // LB_ERR (-1) when none
};
