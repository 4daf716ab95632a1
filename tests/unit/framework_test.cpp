// The dialog layer: command routing, initial list contents, control binding
// and what the dialog procedure does with real dialogs. The windows' own
// tests cover timers and tool tip texts through it.
#include <gtest/gtest.h>

#include "framework/dialog.h"
#include "panels/panel_ids.h"
#include "res/resource.h"
#include "gui_test_util.h"

#include <stdexcept>
#include <vector>

namespace {

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

// A dialog from the About template that can bind a control the template
// lacks, throw from a command handler, or cancel itself once shown.
class ProbeDialog : public CDialog {
public:
    ProbeDialog() : CDialog(IDD_ABOUTBOX) {}
    CStatic name, missing;
    bool bindMissing = false, throwOnCommand = false, cancelOnInit = false;

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
        if (cancelOnInit)
            PostMessageW(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
    bool RouteCommand(UINT, UINT, LPARAM) override
    {
        if (throwOnCommand)
            throw std::runtime_error("handler failed");
        return false;
    }
};

}  // namespace

TEST(CommandRouting, CallsOnlyTheRowMatchingIdAndCodeTogether)
{
    const struct {
        UINT id, code;
        int call;   // 0: no row
    } rows[] = {{1050, BN_CLICKED, 1}, {1050, BN_SETFOCUS, 2}, {32777, 0, 3},
                {1050, BN_KILLFOCUS, 0}, {1051, BN_CLICKED, 0}, {32777, 1, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.id << "/" << r.code);
        Target t;
        EXPECT_EQ(routeCommand(&t, kTable, r.id, r.code), r.call != 0);
        EXPECT_EQ(t.calls, r.call ? std::vector<int>{r.call} : std::vector<int>{});
    }
}

TEST(InitialLists, ParsesPairsUntilIdZeroAndDropsDamagedTail)
{
    using Items = std::vector<std::pair<UINT, std::wstring>>;
    const WORD data[] = {1003, L'1', L'2', 0, 1003, 0, 1004, L'N', 0, 0, 1005, L'X', 0};
    EXPECT_EQ(parseInitialLists(data, sizeof data), (Items{{1003, L"12"}, {1003, L""}, {1004, L"N"}}));
    // A text cut off by the end of the resource is not taken; an odd last
    // byte is ignored.
    const WORD cut[] = {1003, L'A', 0, 1004, L'B', L'C'};
    EXPECT_EQ(parseInitialLists(cut, sizeof cut - 1), (Items{{1003, L"A"}}));
    EXPECT_TRUE(parseInitialLists(nullptr, 10).empty());
}

TEST(Dialog, BindsControlsReportsMissingOnesAndGivesEachControlATool)
{
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX, nullptr));
    EXPECT_EQ(dlg.name.m_hWnd, GetDlgItem(dlg.m_hWnd, IDC_ABOUT_NAME));
    EXPECT_EQ(dlg.name.GetWindowTextW(), L"RZ310 Configuration Tool");
    EXPECT_TRUE(dlg.UpdateData(FALSE));
    dlg.bindMissing = true;
    EXPECT_FALSE(dlg.UpdateData(FALSE));
    EXPECT_EQ(dlg.missing.m_hWnd, nullptr);

    ASSERT_TRUE(dlg.EnableToolTips(TRUE));
    int children = 0;
    for (HWND c = GetWindow(dlg.m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(SendMessageW(dlg.GetToolTipHwnd(), TTM_GETTOOLCOUNT, 0, 0), children);
}

TEST(Dialog, PanelsSurviveEnterEscapeAndThrowingHandlersAndDieWithTheirObject)
{
    ProbeDialog owner;
    ASSERT_TRUE(owner.Create(IDD_ABOUTBOX, nullptr));
    auto* panel = new CDialog;
    ASSERT_TRUE(panel->Create(IDD_LOCAL_DEVICE, &owner));
    HWND h = panel->m_hWnd;
    EXPECT_EQ(GetParent(h), owner.m_hWnd);
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pumpMessages();
    EXPECT_TRUE(IsWindow(h));
    delete panel;
    EXPECT_FALSE(IsWindow(h));

    // A throwing handler is contained inside the dialog procedure.
    owner.throwOnCommand = true;
    SendMessageW(owner.m_hWnd, WM_COMMAND, MAKEWPARAM(1234, BN_CLICKED), 0);
    EXPECT_TRUE(IsWindow(owner.m_hWnd));
    h = owner.m_hWnd;
    owner.DestroyWindow();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(owner.m_hWnd, nullptr);
}

TEST(Dialog, ModalRunEndsWithCancelAndAMissingTemplateFails)
{
    ProbeDialog dlg;
    dlg.cancelOnInit = true;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(CDialog(4711).DoModal(), -1);
}
