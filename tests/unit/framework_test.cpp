// The dialog layer: command routing, initial list contents, control binding
// and the dialog procedure's handling of real dialogs.
#include <gtest/gtest.h>

#include "framework/dialog.h"
#include "res/resource.h"

#include <commctrl.h>
#include <stdexcept>
#include <vector>

namespace {

void pumpFor(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

struct Target {
    std::vector<int> calls;
    void first() { calls.push_back(1); }
    void second() { calls.push_back(2); }
    void third() { calls.push_back(3); }
};

constexpr CommandRoute<Target> kTable[] = {
    {1050, BN_CLICKED, &Target::first},
    {1050, BN_SETFOCUS, &Target::second},
    {32777, 0, &Target::third},
};

// A dialog built from the About template, with hooks that record what the
// dialog procedure delivers.
class ProbeDialog : public CDialog {
public:
    ProbeDialog() : CDialog(IDD_ABOUTBOX) {}

    CStatic name;
    CStatic missing;
    bool bindMissing = false;
    std::vector<UINT> routed;
    std::vector<UINT_PTR> timers;
    std::vector<UINT> tipIds;
    bool throwOnRoute = false;
    int okCount = 0;
    int cancelCount = 0;
    bool postCancelOnInit = false;

    using CDialog::OnCommand;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_ABOUT_NAME, name);
        if (bindMissing)
            DDX_Control(pDX, 4242, missing);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (postCancelOnInit)
            PostMessageW(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
    bool RouteCommand(UINT id, UINT code) override
    {
        if (throwOnRoute)
            throw std::runtime_error("handler failed");
        if (id != 1234)
            return false;
        routed.push_back(code);
        return true;
    }
    void OnOK() override
    {
        ++okCount;
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCount;
        CDialog::OnCancel();
    }
    void OnTimer(UINT_PTR id) override
    {
        KillTimer(id);
        timers.push_back(id);
    }
    BOOL OnToolTipNeedText(UINT id, NMHDR* pNMHDR, LRESULT*) override
    {
        tipIds.push_back(id);
        reinterpret_cast<NMTTDISPINFOW*>(pNMHDR)->lpszText = const_cast<wchar_t*>(L"tip");
        return TRUE;
    }
};

}  // namespace

TEST(CommandRouting, MatchesIdAndCodeTogether)
{
    EXPECT_EQ(findRoute(kTable, 1050, BN_CLICKED), &kTable[0]);
    EXPECT_EQ(findRoute(kTable, 1050, BN_SETFOCUS), &kTable[1]);
    EXPECT_EQ(findRoute(kTable, 32777, 0), &kTable[2]);
    EXPECT_EQ(findRoute(kTable, 1050, BN_KILLFOCUS), nullptr);
    EXPECT_EQ(findRoute(kTable, 1051, BN_CLICKED), nullptr);

    Target t;
    EXPECT_TRUE(routeCommand(&t, kTable, 1050, BN_SETFOCUS));
    EXPECT_TRUE(routeCommand(&t, kTable, 32777, 0));
    EXPECT_FALSE(routeCommand(&t, kTable, 32777, 1));
    EXPECT_EQ(t.calls, (std::vector<int>{2, 3}));
}

TEST(InitialLists, ParsesPairsUntilIdZeroAndDropsDamagedTail)
{
    const WORD data[] = {1003, L'1', L'2', 0, 1003, 0, 1004, L'N', 0, 0, 1005, L'X', 0};
    auto items = parseInitialLists(data, sizeof data);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], (std::pair<UINT, std::wstring>{1003, L"12"}));
    EXPECT_EQ(items[1], (std::pair<UINT, std::wstring>{1003, L""}));
    EXPECT_EQ(items[2], (std::pair<UINT, std::wstring>{1004, L"N"}));

    // A text cut off by the end of the resource is not taken; an odd last
    // byte is ignored.
    const WORD cut[] = {1003, L'A', 0, 1004, L'B', L'C'};
    items = parseInitialLists(cut, sizeof cut - 1);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].second, L"A");
    EXPECT_TRUE(parseInitialLists(nullptr, 10).empty());
}

TEST(Dialog, BindsControlsAndReportsMissingOnes)
{
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX, nullptr));
    EXPECT_EQ(dlg.name.m_hWnd, GetDlgItem(dlg.m_hWnd, IDC_ABOUT_NAME));
    EXPECT_EQ(dlg.name.GetWindowTextW(), L"RZ310 Configuration Tool");
    EXPECT_TRUE(dlg.UpdateData(FALSE));
    dlg.bindMissing = true;
    EXPECT_FALSE(dlg.UpdateData(FALSE));
    EXPECT_EQ(dlg.missing.m_hWnd, nullptr);
}

TEST(Dialog, RoutesCommandsAndKeepsModelessPanelsOnEnterAndEscape)
{
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX, nullptr));
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1234, EN_CHANGE), 0);
    EXPECT_EQ(dlg.routed, std::vector<UINT>{EN_CHANGE});

    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pumpFor(50);
    EXPECT_EQ(dlg.okCount, 1);
    EXPECT_EQ(dlg.cancelCount, 1);
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));

    // A throwing handler is contained inside the dialog procedure.
    dlg.throwOnRoute = true;
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1234, BN_CLICKED), 0);
    dlg.throwOnRoute = false;
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));

    HWND h = dlg.m_hWnd;
    dlg.DestroyWindow();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(Dialog, ModalRunEndsWithCancel)
{
    ProbeDialog dlg;
    dlg.postCancelOnInit = true;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancelCount, 1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);

    CDialog none(4711);
    EXPECT_EQ(none.DoModal(), -1);
}

TEST(Dialog, DeliversTimersAndToolTipRequestsByControlId)
{
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX, nullptr));
    dlg.SetTimer(19001, 10);
    pumpFor(200);
    EXPECT_EQ(dlg.timers, std::vector<UINT_PTR>{19001});

    ASSERT_TRUE(dlg.EnableToolTips(TRUE));
    HWND tips = dlg.GetToolTipHwnd();
    ASSERT_NE(tips, nullptr);
    int children = 0;
    for (HWND c = GetWindow(dlg.m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), children);

    NMTTDISPINFOW info{};
    info.hdr.hwndFrom = tips;
    info.hdr.idFrom = reinterpret_cast<UINT_PTR>(GetDlgItem(dlg.m_hWnd, IDOK));
    info.hdr.code = TTN_NEEDTEXTW;
    info.uFlags = TTF_IDISHWND;
    SendMessageW(dlg.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    info.hdr.idFrom = 77;
    info.uFlags = 0;
    SendMessageW(dlg.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(dlg.tipIds, (std::vector<UINT>{IDOK, 77}));
    EXPECT_STREQ(info.lpszText, L"tip");
}

TEST(Dialog, ChildPanelGetsItsInitialListsAndDiesWithItsObject)
{
    ProbeDialog parent;
    ASSERT_TRUE(parent.Create(IDD_ABOUTBOX, nullptr));
    auto* panel = new CDialog;
    ASSERT_TRUE(panel->Create(135, &parent));
    HWND h = panel->m_hWnd;
    EXPECT_EQ(GetParent(h), parent.m_hWnd);

    CComboBox baud;
    baud.Attach(GetDlgItem(h, 1005));
    ASSERT_EQ(baud.GetCount(), 9);
    EXPECT_EQ(baud.GetLBText(0), L"1200");
    EXPECT_EQ(baud.GetLBText(8), L"230400");
    CComboBox parity;
    parity.Attach(GetDlgItem(h, 1006));
    ASSERT_EQ(parity.GetCount(), 3);
    EXPECT_EQ(parity.GetLBText(2), L"Even");

    delete panel;
    EXPECT_FALSE(IsWindow(h));
}
