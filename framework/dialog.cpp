#include "framework/dialog.h"
#include <commctrl.h>
#include <cwchar>

HINSTANCE resourceInstance() { return GetModuleHandleW(nullptr); }

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (control.m_hWnd)
        return;
    HWND child = GetDlgItem(pDX->m_hDlg, id);
    if (!child) {
        pDX->m_bFailed = true;
        return;
    }
    control.Attach(child);
}

std::vector<std::pair<UINT, std::wstring>> parseInitialLists(const void* data, size_t size)
{
    std::vector<std::pair<UINT, std::wstring>> items;
    if (!data)
        return items;
    const WORD* p = static_cast<const WORD*>(data);
    const WORD* end = p + size / sizeof(WORD);
    while (p < end) {
        UINT id = *p++;
        if (id == 0)
            break;
        const WORD* text = p;
        while (p < end && *p != 0)
            ++p;
        if (p == end)
            break; // no terminator: a damaged resource, keep what was whole
        items.emplace_back(id, std::wstring(reinterpret_cast<const wchar_t*>(text), static_cast<size_t>(p - text)));
        ++p;
    }
    return items;
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog()
{
    // A modeless panel deleted by its owner takes its window with it; the
    // procedure is cut off first, as no derived handler can run any more.
    if (m_hWnd && !m_bModal) {
        HWND h = m_hWnd;
        SetWindowLongPtrW(h, DWLP_USER, 0);
        m_hWnd = nullptr;
        if (IsWindow(h))
            ::DestroyWindow(h);
    }
}

INT_PTR CDialog::DoModal()
{
    m_bModal = true;
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    return DialogBoxParamW(resourceInstance(), MAKEINTRESOURCEW(m_templateId), owner, dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    m_bModal = false;
    m_templateId = templateId;
    m_pParentWnd = parent;
    HWND h = CreateDialogParamW(resourceInstance(), MAKEINTRESOURCEW(templateId), parent ? parent->m_hWnd : nullptr,
                                dialogProc, reinterpret_cast<LPARAM>(this));
    return h != nullptr;
}

void CDialog::DestroyWindow()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

void CDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL)
{
    CDataExchange dx;
    dx.m_hDlg = m_hWnd;
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

namespace {
// The deferred tool tip control: a timer of the dialog's own, with an id
// far from the application's timers.
constexpr UINT_PTR TOOL_TIP_TIMER = 0x7E71;
constexpr UINT TOOL_TIP_DELAY_MS = 250;
} // namespace

BOOL CDialog::EnableToolTips(BOOL enable)
{
    if (!enable) {
        if (m_toolTipPending)
            ::KillTimer(m_hWnd, TOOL_TIP_TIMER);
        m_toolTipPending = false;
        if (m_toolTip)
            ::DestroyWindow(m_toolTip);
        m_toolTip = nullptr;
        return TRUE;
    }
    if (m_toolTip || m_toolTipPending)
        return TRUE;
    if (m_hWnd && !::IsWindowVisible(m_hWnd) && ::SetTimer(m_hWnd, TOOL_TIP_TIMER, TOOL_TIP_DELAY_MS, nullptr)) {
        m_toolTipPending = true;
        return TRUE;
    }
    return createToolTip();
}

HWND CDialog::GetToolTipHwnd()
{
    if (m_toolTipPending) {
        ::KillTimer(m_hWnd, TOOL_TIP_TIMER);
        m_toolTipPending = false;
        createToolTip();
    }
    return m_toolTip;
}

BOOL CDialog::createToolTip()
{
    m_toolTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, resourceInstance(), nullptr);
    if (!m_toolTip)
        return FALSE;
    // Long texts wrap instead of running off the screen.
    ::SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, 400);
    // Only this dialog's own controls: child panels have their own tips.
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[16] = {};
        GetClassNameW(child, cls, 16);
        if (wcscmp(cls, L"#32770") == 0)
            continue;
        TOOLINFOW ti{};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(child);
        ti.lpszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam)
{
    UINT id = LOWORD(wParam);
    UINT code = HIWORD(wParam);
    if (RouteCommand(id, code, lParam))
        return TRUE;
    // Buttons and menus send code 0, accelerators 1.
    if (code > 1)
        return FALSE;
    if (id == IDOK) {
        OnOK();
        return TRUE;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

bool CDialog::RouteCommand(UINT, UINT, LPARAM) { return false; }

void CDialog::OnOK()
{
    if (m_bModal)
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    if (m_bModal)
        EndDialog(IDCANCEL);
}

void CDialog::OnTimer(UINT_PTR) { Default(); }
BOOL CDialog::OnToolTipNeedText(UINT, NMHDR*, LRESULT*) { return FALSE; }
void CDialog::OnDestroy() { Default(); }
void CDialog::OnSysCommand(UINT, LPARAM) { Default(); }

void CDialog::applyInitialLists()
{
    HINSTANCE inst = resourceInstance();
    HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(m_templateId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!res)
        return;
    HGLOBAL loaded = LoadResource(inst, res);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return;
    for (const auto& item : parseInitialLists(data, SizeofResource(inst, res))) {
        HWND control = ::GetDlgItem(m_hWnd, static_cast<int>(item.first));
        if (!control)
            continue;
        wchar_t cls[32] = {};
        GetClassNameW(control, cls, 32);
        LPARAM text = reinterpret_cast<LPARAM>(item.second.c_str());
        if (_wcsicmp(cls, WC_COMBOBOXW) == 0)
            ::SendMessageW(control, CB_ADDSTRING, 0, text);
        else if (_wcsicmp(cls, WC_LISTBOXW) == 0)
            ::SendMessageW(control, LB_ADDSTRING, 0, text);
    }
}

namespace {

void centreOnScreen(HWND h)
{
    RECT r{};
    GetWindowRect(h, &r);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(h, MONITOR_DEFAULTTOPRIMARY), &mi))
        return;
    const RECT& work = mi.rcWork;
    int x = work.left + ((work.right - work.left) - (r.right - r.left)) / 2;
    int y = work.top + ((work.bottom - work.top) - (r.bottom - r.top)) / 2;
    SetWindowPos(h, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
} // namespace

INT_PTR CDialog::dispatch(UINT msg, WPARAM wParam, LPARAM lParam)
{
    m_default = false;
    switch (msg) {
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return m_default ? FALSE : TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (!hdr || hdr->code != TTN_NEEDTEXTW)
            return FALSE;
        const NMTTDISPINFOW* info = reinterpret_cast<const NMTTDISPINFOW*>(hdr);
        UINT id = static_cast<UINT>(hdr->idFrom);
        if (info->uFlags & TTF_IDISHWND)
            id = static_cast<UINT>(::GetDlgCtrlID(reinterpret_cast<HWND>(hdr->idFrom)));
        LRESULT notifyResult = 0;
        if (!OnToolTipNeedText(id, hdr, &notifyResult))
            return FALSE;
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, notifyResult);
        return TRUE;
    }
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<UINT>(wParam), lParam);
        return m_default ? FALSE : TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CDialog::dialogProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try {
        if (msg == WM_INITDIALOG) {
            CDialog* self = reinterpret_cast<CDialog*>(lParam);
            SetWindowLongPtrW(h, DWLP_USER, lParam);
            self->Attach(h);
            self->applyInitialLists();
            BOOL focus = self->OnInitDialog();
            // Top-level modal windows open centred, after their own
            // initialisation has placed its controls.
            if (self->m_bModal && !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
                centreOnScreen(h);
            return focus;
        }
        CDialog* self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(h, DWLP_USER));
        if (!self)
            return FALSE;
        if (msg == WM_TIMER && wParam == TOOL_TIP_TIMER && self->m_toolTipPending) {
            self->GetToolTipHwnd();
            return TRUE;
        }
        if (msg == WM_NCDESTROY) {
            self->m_toolTipPending = false;
            SetWindowLongPtrW(h, DWLP_USER, 0);
            if (self->m_hWnd == h)
                self->Detach();
            if (self->m_toolTip && !IsWindow(self->m_toolTip))
                self->m_toolTip = nullptr;
            return FALSE;
        }
        return self->dispatch(msg, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dialog manager.
        return FALSE;
    }
}

int answerToolTip(unsigned id, void* dispInfo, const ToolTipText* texts, size_t count, LRESULT* result)
{
    auto* info = static_cast<NMTTDISPINFOW*>(dispInfo);
    if (!info || !(info->uFlags & TTF_IDISHWND) || id == 0)
        return FALSE;
    const wchar_t* text = L"";
    for (size_t i = 0; i < count; ++i)
        if (texts[i].id == id)
            text = texts[i].text;
    info->lpszText = const_cast<wchar_t*>(text);
    info->szText[0] = L'\0';
    info->hinst = nullptr;
    if (result)
        *result = 0;
    return TRUE;
}
