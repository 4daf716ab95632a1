// Dialogs of our dialog layer: modal (the main window) and modeless child
// panels, both built from resource templates, with control binding,
// WM_COMMAND routing by (control id, notification code), timers and tool
// tips.
//
// Initial list contents. A template's combo and list boxes get their initial
// strings from an RCDATA resource with the same id as the template, read
// before OnInitDialog runs. The resource is a sequence of
//     WORD control id, then the item's text as UTF-16 ending in L'\0'
// pairs, one pair per item in list order, ended by control id 0:
//
//     135 RCDATA
//     BEGIN
//         1003, L"1200\0",
//         1003, L"2400\0",
//         1004, L"None\0",
//         0
//     END
//
// Items are added with CB_ADDSTRING / LB_ADDSTRING (whichever the control's
// class takes), so unsorted lists keep this order. A template without such a
// resource has no initial contents.
#pragma once
#include "framework/wnd.h"
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The module whose resources the dialogs are built from (the program itself).
HINSTANCE resourceInstance();

class CDataExchange {
public:
    HWND m_hDlg = nullptr;
    bool m_bFailed = false; // set when a bound control id is not in the template
};

// Binds a member to the template's control (first call per handle only);
// a missing control sets pDX->m_bFailed, so UpdateData returns FALSE.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// One row of a dialog's command table: control id, notification code
// (BN_CLICKED, CBN_SELCHANGE, ...; menu commands and notifications posted
// with a bare id have code 0), handler: a member, or a function given the
// window and the message's LPARAM (a notification's payload).
template <class T>
struct CommandRoute {
    using Handler = void (T::*)();
    using PayloadHandler = void (*)(T& self, LPARAM payload);

    constexpr CommandRoute(UINT id, UINT code, Handler handler) : id(id), code(code), handler(handler) {}
    constexpr CommandRoute(UINT id, UINT code, PayloadHandler handler) : id(id), code(code), payloadHandler(handler) {}

    UINT id;
    UINT code;
    Handler handler = nullptr;
    PayloadHandler payloadHandler = nullptr;
};

// The row for (id, code), or nullptr.
template <class T, size_t N>
constexpr const CommandRoute<T>* findRoute(const CommandRoute<T> (&table)[N], UINT id, UINT code)
{
    for (const CommandRoute<T>& row : table)
        if (row.id == id && row.code == code)
            return &row;
    return nullptr;
}

// Calls the handler of (id, code); false when the table has no such row.
// In a dialog class:
//   static constexpr CommandRoute<CLocalDevice> kRoutes[] = {
//       {1050, BN_CLICKED, &CLocalDevice::OnBnClickedGetDeviceInfo}, ...};
//   bool RouteCommand(UINT id, UINT code, LPARAM lParam) override
//   { return routeCommand(this, kRoutes, id, code, lParam); }
template <class T>
bool routeCommand(T* self, const CommandRoute<T>* table, size_t count, UINT id, UINT code, LPARAM lParam = 0)
{
    const CommandRoute<T>* row = nullptr;
    for (size_t i = 0; i < count && !row; ++i)
        if (table[i].id == id && table[i].code == code)
            row = &table[i];
    if (!row)
        return false;
    if (row->payloadHandler)
        row->payloadHandler(*self, lParam);
    else
        (self->*(row->handler))();
    return true;
}

template <class T, size_t N>
bool routeCommand(T* self, const CommandRoute<T> (&table)[N], UINT id, UINT code, LPARAM lParam = 0)
{
    return routeCommand(self, table, N, id, code, lParam);
}

// The template's initial list contents (see the top of this file), parsed
// from a resource image: (control id, text) pairs in order. Stops at id 0 or
// at the end of the data; a text without its terminator is dropped.
std::vector<std::pair<UINT, std::wstring>> parseInitialLists(const void* data, size_t size);

// A control's tool tip text, by control id.
struct ToolTipText {
    unsigned id;
    const wchar_t* text;
};

// Answers a TTN_NEEDTEXTW request from a table of texts: only tools named by
// their window, with a control id, are answered (TRUE); ids without a text
// get an empty one.
int answerToolTip(unsigned id, void* dispInfo, const ToolTipText* texts, size_t count, LRESULT* result = nullptr);
template <size_t N>
int answerToolTip(unsigned id, void* dispInfo, const ToolTipText (&texts)[N], LRESULT* result = nullptr)
{
    return answerToolTip(id, dispInfo, texts, N, result);
}
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; returns the EndDialog result, or -1 when the
    // template cannot be loaded.
    INT_PTR DoModal();
    // Creates a modeless child panel inside parent (its template carries
    // DS_CONTROL | WS_CHILD). FALSE when creation fails.
    BOOL Create(UINT templateId, CWnd* parent);
    // Destroys the window (modeless panels; modal ones end with EndDialog).
    void DestroyWindow();
    void EndDialog(INT_PTR result);
    // Runs DoDataExchange, which only binds controls whichever way it is
    // asked; FALSE when a bound control is missing.
    BOOL UpdateData(BOOL save = TRUE);
    // One tool tip control for the dialog, one TTF_IDISHWND | TTF_SUBCLASS
    // tool per child control, texts asked for with TTN_NEEDTEXTW (answered
    // by OnToolTipNeedText). FALSE disables them again. Asked for before the
    // dialog is shown, the control is made a moment later, or when
    // GetToolTipHwnd asks for it first: it is not needed before the mouse
    // rests on the window, and made at once it holds up the window's first
    // appearance (a control per dialog, a subclassed tool per child).
    BOOL EnableToolTips(BOOL enable = TRUE);

    bool IsModal() const { return m_bModal; }
    HWND GetToolTipHwnd();

    // The dialog's own routing and handlers; public so that tests and the
    // owner window can drive them directly.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual bool RouteCommand(UINT id, UINT code, LPARAM lParam);

protected:
    // Base: binds the controls (UpdateData(FALSE)); returns TRUE so that the
    // system sets the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    // Modal: EndDialog(IDOK / IDCANCEL). Modeless panel: nothing, so Enter and
    // Escape inside a panel never destroy it.
    virtual void OnOK();
    virtual void OnCancel();
    // Each base handler below asks for the system's default processing.
    virtual void OnTimer(UINT_PTR id);
    // TTN_NEEDTEXTW. id is the tool's control id when the tool is identified
    // by its window handle (TTF_IDISHWND in the NMTTDISPINFOW's uFlags),
    // otherwise the raw idFrom. Return TRUE when handled.
    virtual BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT* pResult);
    virtual void OnDestroy();
    virtual void OnSysCommand(UINT id, LPARAM lParam);

    // Called by a base handler to hand the message to default processing.
    void Default() { m_default = true; }

    UINT m_templateId;
    CWnd* m_pParentWnd;

private:
    bool m_bModal = false;
    bool m_default = false;
    HWND m_toolTip = nullptr;
    bool m_toolTipPending = false;

    BOOL createToolTip();
    void applyInitialLists();
    INT_PTR dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK dialogProc(HWND, UINT, WPARAM, LPARAM);
};

// What every panel's plumbing repeats, once, in the manner of WTL's
// CDialogImpl<T>: the command table given at construction routes the
// panel's commands, and the panel's own OnInitDialog opens with this one
// (controls bound, tool tips asked for). The panel keeps its DoDataExchange,
// its OnInitDialog and its one tool-tip handler.
template <class T>
class CPanelImpl : public CDialog {
public:
    template <size_t N>
    CPanelImpl(UINT templateId, const CommandRoute<T> (&routes)[N])
        : CDialog(templateId), m_routes(routes), m_routeCount(N)
    {
    }

    bool RouteCommand(UINT id, UINT code, LPARAM lParam) override
    {
        return routeCommand(static_cast<T*>(this), m_routes, m_routeCount, id, code, lParam);
    }

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        EnableToolTips(TRUE);
        return TRUE;
    }

private:
    const CommandRoute<T>* m_routes;
    size_t m_routeCount;
};
