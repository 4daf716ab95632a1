// The Remote Device, Connection and Pair Device panels: their templates and
// what they redisplay from the engine's records.
#include <gtest/gtest.h>

#include "atcommand/atcommand.h"
#include "panels/Connection.h"
#include "panels/PairDevice.h"
#include "panels/RemoteDevice.h"
#include "support/test_env.h"

#include <commctrl.h>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::wstring windowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::wstring listRow(HWND list, int row)
{
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, row, 0);
    if (length == LB_ERR)
        return L"<none>";
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

// Asks a panel for a control's tool tip the way its tool tip control does.
std::wstring toolTip(HWND panel, int id)
{
    NMTTDISPINFOW info{};
    info.hdr.code = TTN_NEEDTEXTW;
    info.hdr.idFrom = reinterpret_cast<UINT_PTR>(GetDlgItem(panel, id));
    info.uFlags = TTF_IDISHWND;
    SendMessageW(panel, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return info.lpszText ? info.lpszText : L"<none>";
}

class OtherPanels : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineState();
        parent.Attach(main.hwnd());
    }
    void TearDown() override
    {
        resetEngineState();
        parent.Detach();
    }

    template <class Panel>
    std::unique_ptr<Panel> create(UINT templateId)
    {
        std::unique_ptr<Panel> panel(new Panel);
        EXPECT_TRUE(panel->Create(templateId, &parent));
        LONG style = GetWindowLongW(panel->m_hWnd, GWL_STYLE);
        EXPECT_TRUE((style & WS_CHILD) && (style & DS_CONTROL));
        EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER));
        return panel;
    }

    StandInMainWindow main;
    CWnd parent;
};

TEST_F(OtherPanels, RemoteDeviceFollowsTheHandshakeAndShowsTheRemoteAddress)
{
    auto panel = create<CRemoteDevice>(IDD_REMOTE_DEVICE);
    HWND h = panel->m_hWnd;
    HWND baud = GetDlgItem(h, IDC_RD_BAUD_RATE);
    wchar_t entry[16] = {};
    SendMessageW(baud, CB_GETLBTEXT, 4, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(SendMessageW(baud, CB_GETCOUNT, 0, 0), 5);
    EXPECT_STREQ(entry, L"115200");
    EXPECT_EQ(SendMessageW(baud, CB_GETCURSEL, 0, 0), 0);   // 9600
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_RD_HANDSHAKE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_RD_PROGRAM_REMOTE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_RD_EXIT_REMOTE)));

    handshakeState = HANDSHAKE_COMPLETE;
    strcpy(remoteAddress, "00126F34AB56");
    panel->UpdateRemoteDeviceWindow();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_RD_HANDSHAKE)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_RD_PROGRAM_REMOTE)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_RD_EXIT_REMOTE)));
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_RD_ADDRESS)), L"00126F34AB56");

    // The connection closed.
    handshakeState = HANDSHAKE_IDLE;
    remoteAddress[0] = '\0';
    panel->UpdateRemoteDeviceWindow();
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_RD_HANDSHAKE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_RD_PROGRAM_REMOTE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_RD_EXIT_REMOTE)));
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_RD_ADDRESS)), L"");

    // A full field without its terminator shows no more than the field.
    memset(remoteAddress, 'R', sizeof remoteAddress);
    panel->UpdateRemoteDeviceWindow();
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_RD_ADDRESS)), std::wstring(sizeof remoteAddress, L'R'));

    EXPECT_EQ(toolTip(h, IDC_RD_EXIT_REMOTE), L"Request the connected remote device to exit remote access mode");
}

TEST_F(OtherPanels, ConnectionRewritesResultRowsInPlaceAndFollowsTheFlags)
{
    auto panel = create<CConnection>(IDD_CONNECTION);
    HWND h = panel->m_hWnd;
    HWND list = GetDlgItem(h, IDC_CN_RESULTS);
    EXPECT_FALSE(GetWindowLongW(list, GWL_STYLE) & LBS_SORT);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_CN_CANCEL_INQUIRY)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_CN_DISCONNECT)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_CN_INQUIRE)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_CN_CONNECT)));

    strcpy(inquiry.results[0], "Inquiry Results:");
    strcpy(inquiry.results[1], "zeta");
    inquiry.resultCount = 2;
    panel->UpdateInquiryResults();
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(listRow(list, 1), L"zeta");   // arrival order, not sorted

    strcpy(inquiry.results[1], "alpha");
    strcpy(inquiry.results[2], "Inquiry End");
    inquiry.resultCount = 3;
    panel->UpdateInquiryResults();
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(listRow(list, 0), L"Inquiry Results:");
    EXPECT_EQ(listRow(list, 1), L"alpha");
    EXPECT_EQ(listRow(list, 2), L"Inquiry End");

    // A count beyond the record's ten results, and a result that fills its
    // whole field, read nothing past the record.
    for (int i = 0; i < INQUIRY_RESULTS; ++i)
        memset(inquiry.results[i], 'a' + i, RESPONSE_SIZE);
    inquiry.resultCount = 12;
    panel->UpdateInquiryResults();
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), INQUIRY_RESULTS);
    EXPECT_EQ(listRow(list, 9), std::wstring(RESPONSE_SIZE, L'j'));
    inquiry.resultCount = -1;
    panel->UpdateInquiryResults();
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), INQUIRY_RESULTS);

    device.isInquiryActive = 1;
    panel->UpdateConnectionButtons();
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_CN_CANCEL_INQUIRY)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_CN_DISCONNECT)));
    device.isInquiryActive = 0;
    device.isConnected = 1;
    panel->UpdateConnectionButtons();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_CN_CANCEL_INQUIRY)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_CN_DISCONNECT)));

    EXPECT_EQ(toolTip(h, IDC_CN_INQUIRE),
              L"Start Bluetooth Inquiry. The Device can inquire only when it is in master mode and auto connect is "
              L"disabled");
    EXPECT_EQ(toolTip(h, IDC_CN_RESULTS), L"");
}

TEST_F(OtherPanels, PairDeviceShowsThePairingRecord)
{
    auto panel = create<CPairDevice>(IDD_PAIR_DEVICE);
    HWND h = panel->m_hWnd;
    for (int id : {IDC_PD_DEVICE1_ADDRESS, IDC_PD_DEVICE1_NAME, IDC_PD_DEVICE2_ADDRESS, IDC_PD_DEVICE2_NAME})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, id))) << id;

    strcpy(pairing.device1Address, "0012-6F-34AB56");
    strcpy(pairing.device1Name, "First");
    strcpy(pairing.device2Address, "0012-6F-000001");
    strcpy(pairing.device2Name, "Second");
    panel->UpdatePairDeviceWindow();
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE1_ADDRESS)), L"0012-6F-34AB56");
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE1_NAME)), L"First");
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE2_ADDRESS)), L"0012-6F-000001");
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE2_NAME)), L"Second");

    memset(pairing.device1Address, '1', sizeof pairing.device1Address);
    memset(pairing.device2Address, '2', sizeof pairing.device2Address);
    memset(pairing.device1Name, 'A', sizeof pairing.device1Name);
    memset(pairing.device2Name, 'B', sizeof pairing.device2Name);
    panel->UpdatePairDeviceWindow();
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE1_ADDRESS)), std::wstring(15, L'1'));
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE2_ADDRESS)), std::wstring(15, L'2'));
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE1_NAME)), std::wstring(16, L'A'));
    EXPECT_EQ(windowText(GetDlgItem(h, IDC_PD_DEVICE2_NAME)), std::wstring(16, L'B'));

    EXPECT_EQ(toolTip(h, IDC_PD_UNPAIR), L"Unpair the Local Device with another Device");
}

} // namespace
