// The panels from their real templates in a stand-in main window, writes taken
// as accepted: Program Device's order and the bounds of every field shown or sent.
#include "atcommand_fixture.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/PairDevice.h"
#include "panels/RemoteDevice.h"
#include "settings_test_util.h"

#include <memory>

namespace {

using Lines = std::vector<std::string>;

class PanelTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        acceptAll = true;
        parent.Attach(window.hwnd());
        panel = make<CLocalDevice>(IDD_LOCAL_DEVICE);
        // The example adapter as Get Device Info left it.
        setExampleRecords();
        device.baudCode = 13; // 9600
        panel->UpdateLocalDeviceWindow();
        panel->EnableDeviceControls(true);
    }

    void TearDown() override
    {
        panel.reset();
        parent.Detach();
        EngineTest::TearDown();
    }

    template <class Panel>
    std::unique_ptr<Panel> make(UINT templateId)
    {
        auto p = std::make_unique<Panel>();
        EXPECT_TRUE(p->Create(templateId, &parent));
        return p;
    }

    // Sets the texts of a panel's boxes, clicks `button` and hands back what went to the port.
    Lines sentBy(HWND dialog, int button, std::initializer_list<std::pair<int, const wchar_t*>> texts = {})
    {
        for (const auto& text : texts)
            SetDlgItemTextW(dialog, text.first, text.second);
        written.clear();
        SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
        return written;
    }

    CWnd parent;
    std::unique_ptr<CLocalDevice> panel;
};

} // namespace

// Every record field a panel shows, full to its last byte without a
// terminator: the panel shows the field and reads nothing past it.
TEST_F(PanelTest, PanelsShowNoFieldPastItsEnd)
{
    auto remote = make<CRemoteDevice>(IDD_REMOTE_DEVICE);
    auto pair = make<CPairDevice>(IDD_PAIR_DEVICE);
    // clang-format off
    const struct { char* field; size_t size; HWND panel; int control; char fill; } rows[] = {
        {device.name, sizeof device.name, panel->m_hWnd, IDC_LD_DEVICE_NAME, 'N'},
        {device.address, sizeof device.address, panel->m_hWnd, IDC_LD_DEVICE_ADDRESS, 'A'},
        {device.pin, sizeof device.pin, panel->m_hWnd, IDC_LD_PIN_CODE, 'P'},
        {remoteAddress, sizeof remoteAddress, remote->m_hWnd, IDC_RD_ADDRESS, 'R'},
        {pairing.device1Address, sizeof pairing.device1Address, pair->m_hWnd, IDC_PD_DEVICE1_ADDRESS, '1'},
        {pairing.device1Name, sizeof pairing.device1Name, pair->m_hWnd, IDC_PD_DEVICE1_NAME, 'a'},
        {pairing.device2Address, sizeof pairing.device2Address, pair->m_hWnd, IDC_PD_DEVICE2_ADDRESS, '2'},
        {pairing.device2Name, sizeof pairing.device2Name, pair->m_hWnd, IDC_PD_DEVICE2_NAME, 'b'}};
    // clang-format on
    for (const auto& r : rows)
        memset(r.field, r.fill, r.size);
    panel->UpdateLocalDeviceWindow();
    remote->UpdateRemoteDeviceWindow();
    pair->UpdatePairDeviceWindow();
    for (const auto& r : rows)
        EXPECT_EQ(textOf(GetDlgItem(r.panel, r.control)), std::wstring(r.size, static_cast<wchar_t>(r.fill)))
            << r.control;

    // Inquiry results filling their field, counts beyond ten or below zero: each
    // update rewrites the rows in arrival order and reads nothing past the record.
    auto connection = make<CConnection>(IDD_CONNECTION);
    HWND list = GetDlgItem(connection->m_hWnd, IDC_CN_RESULTS);
    auto row = [&](int i) {
        std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]))));
        return text;
    };
    for (int i = 0; i < INQUIRY_RESULTS; ++i)
        memset(inquiry.results[i], 'j' - i, RESPONSE_SIZE);
    for (int count : {12, 12, -1}) {
        inquiry.resultCount = count;
        connection->UpdateInquiryResults();
        ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), INQUIRY_RESULTS) << count;
    }
    EXPECT_EQ(row(0), std::wstring(RESPONSE_SIZE, L'j'));
    EXPECT_EQ(row(9), std::wstring(RESPONSE_SIZE, L'a'));

    // A picked row too short to reach the address column gives no address.
    strcpy(inquiry.results[1], "Short");
    inquiry.resultCount = 2;
    connection->UpdateInquiryResults();
    SetDlgItemTextW(connection->m_hWnd, IDC_CN_ADDRESS, L"typed");
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    SendMessageW(connection->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CN_RESULTS, LBN_SELCHANGE), LPARAM(list));
    EXPECT_EQ(textOf(GetDlgItem(connection->m_hWnd, IDC_CN_ADDRESS)), L"");
}

// One command per change, in the panel's fixed order; an emptied PIN box is no change.
TEST_F(PanelTest, ProgramDeviceSendsOneCommandPerChangeInItsFixedOrder)
{
    HWND h = panel->m_hWnd;
    for (int id :
         {IDC_LD_ECHO_MODE, IDC_LD_ESCAPE_MODE, IDC_LD_AUTO_POWER, IDC_LD_REMOTE_CONFIG, IDC_LD_COMMAND_RESPONSE,
          IDC_LD_STOP_TWO, IDC_LD_NON_DISCOVERABLE, IDC_LD_MASTER, IDC_LD_AUTO_CONNECT, IDC_LD_FLOW_DISABLED})
        SendMessageW(GetDlgItem(h, id), BM_CLICK, 0, 0);
    SendDlgItemMessageW(h, IDC_LD_BAUD_RATE, CB_SETCURSEL, 7, 0);
    SendDlgItemMessageW(h, IDC_LD_PARITY, CB_SETCURSEL, 2, 0);
    EXPECT_EQ(
        sentBy(h, IDC_LD_PROGRAM_DEVICE, {{IDC_LD_DEVICE_NAME, L"Other Adapter"}, {IDC_LD_PIN_CODE, L""}}),
        (Lines{"AT+NAME=Other Adapter\r", "AT+ECHO-\r", "AT+ESC-\r", "AT+SLEEP+\r", "AT+RCFG-\r", "AT+RESP-\r",
               "AT+BAUD17\r", "AT+PAR2\r", "AT+STOP2\r", "AT+DCOV-\r", "AT+ROLEM\r", "AT+ACON-\r", "AT+FLOW-\r"}));
}

// Texts typed past a box's limit, or held full without a terminator, are
// sent cut to the field they come from.
TEST_F(PanelTest, TypedAndHeldTextsAreSentWithinTheirFields)
{
    HWND h = panel->m_hWnd;
    EXPECT_EQ(sentBy(h, IDC_LD_PROGRAM_DEVICE,
                     {{IDC_LD_DEVICE_NAME, L"ABCDEFGHIJKLMNOPQRST"}, {IDC_LD_PIN_CODE, L"123456789012"}}),
              (Lines{"AT+NAME=ABCDEFGHIJKLMNO\r", "AT+PIN=1234567\r"}));
    EXPECT_EQ(sentBy(h, IDC_LD_SEND_AT_COMMAND, {{IDC_LD_AT_COMMAND, L"at+name=abcdefghijklmnopqrstuvwxyz"}}),
              Lines{"AT+NAME=ABCDEFGHIJKLMNOPQRST\r"});

    // Disabling authentication puts the held PIN back, cut to its field.
    device.pinDisabled = 1;
    memset(device.pin, '7', sizeof device.pin);
    SendDlgItemMessageW(h, IDC_LD_DISABLE_AUTH, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(sentBy(h, IDC_LD_DISABLE_AUTH), Lines{"AT+PIN=7777777\r"});

    auto connection = make<CConnection>(IDD_CONNECTION);
    EXPECT_EQ(sentBy(connection->m_hWnd, IDC_CN_CONNECT, {{IDC_CN_ADDRESS, L"0012-6f-34ab56-0012-6f"}}),
              Lines{"AT+CONN=0012-6F-34AB56-0012-\r"});
}

// Enter in the AT Command box sends as the button does; Up and Down recall
// the last 20 commands sent, newest first, a repeat in a row kept once; the
// first Up goes past the newest, which the box still shows.
TEST_F(PanelTest, AtCommandBoxIsACommandLine)
{
    HWND box = GetDlgItem(panel->m_hWnd, IDC_LD_AT_COMMAND);
    for (int i = 0; i < 22; ++i) { // c0 to c19, then one command twice
        SetWindowTextW(box, i < 20 ? (L"at+name=c" + std::to_wstring(i)).c_str() : i == 20 ? L"at+ver" : L"AT+VER");
        SendMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
    }
    EXPECT_EQ(written.size(), 22u);
    // clang-format off
    const struct { WPARAM key; int times; const wchar_t* shown; } keys[] = {
        {VK_UP, 2, L"at+name=c18"}, {VK_DOWN, 1, L"at+name=c19"}, {VK_DOWN, 1, L"at+ver"},
        {VK_DOWN, 2, L"AT+VER"},    {VK_UP, 25, L"at+name=c1"},
    };
    // clang-format on
    for (const auto& k : keys) {
        for (int i = 0; i < k.times; ++i)
            SendMessageW(box, WM_KEYDOWN, k.key, 0);
        EXPECT_EQ(textOf(box), k.shown) << k.key << " x" << k.times;
    }
}
