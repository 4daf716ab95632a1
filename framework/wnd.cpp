#include "framework/wnd.h"
#include <commctrl.h>

namespace {
// Our subclass id; one subclass per wrapper.
constexpr UINT_PTR kSubclassId = 0x525A;

std::wstring windowText(HWND h)
{
    if (!h)
        return {};
    int length = GetWindowTextLengthW(h);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(h, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}
} // namespace

CWnd::~CWnd()
{
    // The window may outlive the wrapper (panels destroyed later by the
    // system): it must not call back into a dead object.
    Detach();
}

void CWnd::Attach(HWND h)
{
    if (h == m_hWnd)
        return;
    Detach();
    m_hWnd = h;
    if (h)
        OnAttached();
}

HWND CWnd::Detach()
{
    HWND old = m_hWnd;
    if (m_subclassed && old)
        RemoveWindowSubclass(old, subclassProc, kSubclassId);
    m_subclassed = false;
    m_hWnd = nullptr;
    return old;
}

HWND CWnd::GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

void CWnd::SetWindowTextW(const wchar_t* text) { ::SetWindowTextW(m_hWnd, text ? text : L""); }
std::wstring CWnd::GetWindowTextW() const { return windowText(m_hWnd); }

void CWnd::ShowWindow(int cmd) { ::ShowWindow(m_hWnd, cmd); }

RECT CWnd::GetWindowRect() const
{
    RECT r{};
    ::GetWindowRect(m_hWnd, &r);
    return r;
}

UINT CWnd::IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
void CWnd::CheckDlgButton(int id, UINT state) { ::CheckDlgButton(m_hWnd, id, state); }
void CWnd::CheckRadioButton(int first, int last, int check) { ::CheckRadioButton(m_hWnd, first, last, check); }

void CWnd::EnableDlgItem(int id, bool enable) { ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE); }

BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

LRESULT CWnd::SendMessageW(UINT msg, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, msg, wParam, lParam);
}
BOOL CWnd::PostMessageW(UINT msg, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, msg, wParam, lParam);
}

bool CWnd::SubclassWindow()
{
    if (!m_hWnd || m_subclassed)
        return m_subclassed;
    m_subclassed = SetWindowSubclass(m_hWnd, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
    return m_subclassed;
}

LRESULT CWnd::WindowProc(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT CALLBACK CWnd::subclassProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref)
{
    CWnd* self = reinterpret_cast<CWnd*>(ref);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(h, subclassProc, kSubclassId);
        if (self && self->m_hWnd == h) {
            self->m_subclassed = false;
            self->m_hWnd = nullptr;
        }
        return DefSubclassProc(h, msg, wParam, lParam);
    }
    if (self) {
        bool handled = false;
        LRESULT result = 0;
        try {
            result = self->WindowProc(msg, wParam, lParam, handled);
        } catch (...) {
            // Nothing may unwind through the system's code.
            handled = false;
        }
        if (handled)
            return result;
    }
    return DefSubclassProc(h, msg, wParam, lParam);
}

int CButton::GetCheck() const { return static_cast<int>(SendMessageW(BM_GETCHECK)); }

void CEdit::SetLimitText(UINT chars) { SendMessageW(EM_SETLIMITTEXT, chars); }
int CEdit::GetLineCount() const { return static_cast<int>(SendMessageW(EM_GETLINECOUNT)); }
void CEdit::LineScroll(int lines) { SendMessageW(EM_LINESCROLL, 0, lines); }
void CEdit::SetSel(int start, int end) { SendMessageW(EM_SETSEL, static_cast<WPARAM>(start), end); }
void CEdit::ReplaceSel(const wchar_t* text)
{
    SendMessageW(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text ? text : L""));
}

int CComboBox::AddString(const wchar_t* text)
{
    return static_cast<int>(SendMessageW(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
int CComboBox::GetCurSel() const { return static_cast<int>(SendMessageW(CB_GETCURSEL)); }
int CComboBox::SetCurSel(int index) { return static_cast<int>(SendMessageW(CB_SETCURSEL, static_cast<WPARAM>(index))); }
int CComboBox::GetCount() const { return static_cast<int>(SendMessageW(CB_GETCOUNT)); }

std::wstring CComboBox::GetLBText(int index) const
{
    LRESULT length = SendMessageW(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

int CListBox::InsertString(int index, const wchar_t* text)
{
    return static_cast<int>(SendMessageW(LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
}
int CListBox::DeleteString(int index)
{
    return static_cast<int>(SendMessageW(LB_DELETESTRING, static_cast<WPARAM>(index)));
}
int CListBox::GetCurSel() const { return static_cast<int>(SendMessageW(LB_GETCURSEL)); }
