// The four panels, created from their real templates inside a stand-in main
// window. Writes to the port are captured and answered at once, so each test
// sees exactly the bytes a panel's command puts on the line. The plain cases
// of each button run end to end; these cover the order of Program Device and
// the bounds of every field a panel shows or sends.
#include <gtest/gtest.h>

#include "atcommand_fixture.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/PairDevice.h"
#include "panels/RemoteDevice.h"
#include "gui_test_util.h"
#include "program_table.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Every command is taken as accepted at once.
class PanelTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        acceptAll = true;
        device.isDeviceInitialised = device.responseOn = 0;
        parent.Attach(window.hwnd());
    }

    void TearDown() override
    {
        panel.reset();
        uart.isUartActive = 0;
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
    void create() { panel = make<CLocalDevice>(IDD_LOCAL_DEVICE); }

    HWND item(int id) const { return GetDlgItem(panel->m_hWnd, id); }
    void click(int id) { SendMessageW(item(id), BM_CLICK, 0, 0); }
    void check(int id, bool on) { SendMessageW(item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
    int selection(int id) const { return static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)); }
    void select(int id, int position) { SendMessageW(item(id), CB_SETCURSEL, position, 0); }
    void setText(int id, const wchar_t* text) { SetWindowTextW(item(id), text); }
    std::wstring text(int id) const { return textOf(item(id)); }
    Lines sentBy(int button)
    {
        written.clear();
        click(button);
        return written;
    }

    // The adapter as Get Device Info left it, shown on the panel.
    void showKnownAdapter()
    {
        device.isDeviceInitialised = 1;
        strcpy(device.name, "Serial Adapter");
        strcpy(device.pin, "8642");
        device.echoOn = device.escapeOn = device.remoteConfig = device.responseOn = 1;
        device.discoverable = device.autoConnect = 1;
        device.role = 2;   // slave
        device.baudCode = 13;
        uart.baud = 9600;
        uart.parity = PARITY_NONE;
        uart.stopBits = 1;
        panel->UpdateLocalDeviceWindow();
        panel->EnableDeviceControls(true);
    }

    CWnd parent;
    std::unique_ptr<CLocalDevice> panel;
};

}  // namespace

// Every record field a panel shows, full to its last byte without a
// terminator: the panel shows the field and reads nothing past it.
TEST_F(PanelTest, PanelsShowNoFieldPastItsEnd)
{
    create();
    auto remote = make<CRemoteDevice>(IDD_REMOTE_DEVICE);
    auto pair = make<CPairDevice>(IDD_PAIR_DEVICE);
    const struct { char* field; size_t size; HWND panel; int control; char fill; } rows[] = {
        {device.name, sizeof device.name, panel->m_hWnd, IDC_LD_DEVICE_NAME, 'N'},
        {device.address, sizeof device.address, panel->m_hWnd, IDC_LD_DEVICE_ADDRESS, 'A'},
        {device.pin, sizeof device.pin, panel->m_hWnd, IDC_LD_PIN_CODE, 'P'},
        {remoteAddress, sizeof remoteAddress, remote->m_hWnd, IDC_RD_ADDRESS, 'R'},
        {pairing.device1Address, sizeof pairing.device1Address, pair->m_hWnd, IDC_PD_DEVICE1_ADDRESS, '1'},
        {pairing.device1Name, sizeof pairing.device1Name, pair->m_hWnd, IDC_PD_DEVICE1_NAME, 'a'},
        {pairing.device2Address, sizeof pairing.device2Address, pair->m_hWnd, IDC_PD_DEVICE2_ADDRESS, '2'},
        {pairing.device2Name, sizeof pairing.device2Name, pair->m_hWnd, IDC_PD_DEVICE2_NAME, 'b'}};
    for (const auto& r : rows)
        memset(r.field, r.fill, r.size);
    memset(device.version, 'V', sizeof device.version);
    panel->UpdateLocalDeviceWindow();
    remote->UpdateRemoteDeviceWindow();
    pair->UpdatePairDeviceWindow();
    for (const auto& r : rows)
        EXPECT_EQ(textOf(GetDlgItem(r.panel, r.control)), std::wstring(r.size, static_cast<wchar_t>(r.fill)))
            << r.control;

    // Codes the baud list does not hold (19, or 0 before any report).
    for (int code : {19, 0}) {
        select(IDC_LD_BAUD_RATE, 2);
        device.baudCode = code;
        panel->UpdateLocalDeviceWindow();
        EXPECT_EQ(selection(IDC_LD_BAUD_RATE), -1) << code;
    }

    // Inquiry results filling their whole field, in reverse order, and counts
    // beyond the record's ten or below zero: each update rewrites the rows in
    // arrival order and reads nothing past the record.
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
}

TEST_F(PanelTest, ProgramDeviceSendsOneCommandPerChangeInItsFixedOrder)
{
    create();
    showKnownAdapter();
    uart.flow = 1;
    setText(IDC_LD_DEVICE_NAME, L"Other Adapter");
    setText(IDC_LD_PIN_CODE, L"1111");
    for (int id : {IDC_LD_ECHO_MODE, IDC_LD_ESCAPE_MODE, IDC_LD_AUTO_POWER, IDC_LD_REMOTE_CONFIG,
                   IDC_LD_COMMAND_RESPONSE, IDC_LD_STOP_TWO, IDC_LD_NON_DISCOVERABLE, IDC_LD_MASTER,
                   IDC_LD_AUTO_CONNECT, IDC_LD_FLOW_DISABLED})
        click(id);
    select(IDC_LD_BAUD_RATE, 7);
    select(IDC_LD_PARITY, 2);
    EXPECT_EQ(sentBy(IDC_LD_PROGRAM_DEVICE),
              everyChangeIn({Setting::Name, Setting::Pin, Setting::Echo, Setting::Escape, Setting::Sleep,
                             Setting::RemoteConfig, Setting::Response, Setting::Baud, Setting::Parity,
                             Setting::StopBits, Setting::Discoverable, Setting::Role, Setting::AutoConnect,
                             Setting::Flow}));

    // The other direction of each switch.
    create();
    showKnownAdapter();
    device.echoOn = device.escapeOn = device.sleepOn = device.remoteConfig = device.responseOn = 0;
    device.autoConnect = device.discoverable = 0;
    device.role = 1;
    uart.flow = 0;
    select(IDC_LD_PARITY, 1);
    for (int id : {IDC_LD_ECHO_MODE, IDC_LD_ESCAPE_MODE, IDC_LD_AUTO_POWER, IDC_LD_REMOTE_CONFIG,
                   IDC_LD_COMMAND_RESPONSE, IDC_LD_AUTO_CONNECT})
        check(id, true);
    click(IDC_LD_FLOW_ENABLED);
    EXPECT_EQ(sentBy(IDC_LD_PROGRAM_DEVICE), (Lines{"AT+ECHO+\r", "AT+ESC+\r", "AT+SLEEP+\r", "AT+RCFG+\r",
                                                    "AT+RESP+\r", "AT+PAR1\r", "AT+DCOV+\r", "AT+ROLES\r",
                                                    "AT+ACON+\r", "AT+FLOW+\r"}));
}

TEST_F(PanelTest, ProgramDeviceEdgeCasesAndLimits)
{
    create();
    showKnownAdapter();
    device.role = 0;   // not reported: neither button sends a role command
    click(IDC_LD_MASTER);
    EXPECT_TRUE(sentBy(IDC_LD_PROGRAM_DEVICE).empty());

    setText(IDC_LD_DEVICE_NAME, L"");   // an emptied name is sent, an emptied PIN is not
    setText(IDC_LD_PIN_CODE, L"");
    EXPECT_EQ(sentBy(IDC_LD_PROGRAM_DEVICE), Lines{"AT+NAME=\r"});

    // Texts put past the boxes' typing limits are cut to the fields.
    setText(IDC_LD_DEVICE_NAME, L"ABCDEFGHIJKLMNOPQRST");
    setText(IDC_LD_PIN_CODE, L"123456789012");
    EXPECT_EQ(sentBy(IDC_LD_PROGRAM_DEVICE), (Lines{"AT+NAME=ABCDEFGHIJKLMNO\r", "AT+PIN=1234567\r"}));

    // No baud selection after a refresh with code 19: no rate to compare.
    device.baudCode = 19;
    panel->UpdateLocalDeviceWindow();
    uart.baud = 115200;
    EXPECT_TRUE(sentBy(IDC_LD_PROGRAM_DEVICE).empty());
}

TEST_F(PanelTest, SendAtCommandUpperCasesCutsAndPicksTheWayOfSending)
{
    create();
    showKnownAdapter();
    const struct { const wchar_t* typed; Lines sent; bool timer; } rows[] = {
        {L"", {}, false},
        {L"+++", {"+++"}, false},   // the escape sequence goes without CR
        {L"at+name=abcdefghijklmnopqrstuvwxyz", {"AT+NAME=ABCDEFGHIJKLMNOPQRST\r"}, false},   // past the limit
        {L"at+enq", {"AT+ENQ\r"}, true},   // answered late: the only one sent with a timer
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.typed);
        timersArmed.clear();
        setText(IDC_LD_AT_COMMAND, r.typed);
        EXPECT_EQ(sentBy(IDC_LD_SEND_AT_COMMAND), r.sent);
        std::vector<UINT_PTR> ids;
        for (const auto& armed : timersArmed)
            ids.push_back(armed.first);
        EXPECT_EQ(ids, r.timer ? std::vector<UINT_PTR>{ATCommandTimer} : std::vector<UINT_PTR>{});
    }
}

TEST_F(PanelTest, DisableAuthenticationActsOnlyOnAChangeAndSendsAPinThatFits)
{
    create();
    showKnownAdapter();
    // The box's state before the click that turns it over, the records.
    const struct { bool checkedBefore; int pinDisabled; const char* pin; Lines sent; } rows[] = {
        {true, 0, "8642", {}},   // unchecked while the PIN is on
        {false, 1, "8642", {}},  // checked while it is off
        {true, 1, "1234", {"AT+PIN=1234\r"}},
        {true, 1, "", {"AT+PIN=8642\r"}},   // no PIN known: the adapter's default
        {true, 1, nullptr, {"AT+PIN=7777777\r"}},   // the field full, without a terminator
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.pin ? r.pin : "full");
        device.pinDisabled = r.pinDisabled;
        if (r.pin)
            strcpy(device.pin, r.pin);
        else
            memset(device.pin, '7', sizeof device.pin);
        check(IDC_LD_DISABLE_AUTH, r.checkedBefore);
        EXPECT_EQ(sentBy(IDC_LD_DISABLE_AUTH), r.sent);
    }
}

TEST_F(PanelTest, ConnectionPicksTypesAndSendsBoundedAddresses)
{
    auto connection = make<CConnection>(IDD_CONNECTION);
    HWND h = connection->m_hWnd;
    HWND box = GetDlgItem(h, IDC_CN_ADDRESS);
    auto sent = [&](int button) {
        written.clear();
        SendMessageW(GetDlgItem(h, button), BM_CLICK, 0, 0);
        return written;
    };
    strcpy(inquiry.results[0], "Serial Adapter                    0012-6F-34AB56");
    strcpy(inquiry.results[1], "Short");
    strcpy(inquiry.results[2], "Inquiry End");
    inquiry.resultCount = 3;
    connection->UpdateInquiryResults();
    const struct { int row; const wchar_t* address; } picks[] = {
        {0, L"00126F34AB56"}, {1, L""}, {2, L""}};
    for (const auto& p : picks) {
        SetWindowTextW(box, L"typed");
        SendDlgItemMessageW(h, IDC_CN_RESULTS, LB_SETCURSEL, p.row, 0);
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDC_CN_RESULTS, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(h, IDC_CN_RESULTS)));
        EXPECT_EQ(textOf(box), p.address) << p.row;
    }

    EXPECT_EQ(SendMessageW(box, EM_GETLIMITTEXT, 0, 0), CN_ADDRESS_LIMIT);
    device.isDeviceInitialised = 1;
    const struct { const wchar_t* typed; Lines sent; } connects[] = {
        {L"0012-6f-34ab56", {"AT+CONN=0012-6F-34AB56\r"}},
        {L"", {}},
        {L"0012-6f-34ab56-0012-6f", {"AT+CONN=0012-6F-34AB56-0012-\r"}},
    };
    for (const auto& c : connects) {
        SetWindowTextW(box, c.typed);
        EXPECT_EQ(sent(IDC_CN_CONNECT), c.sent) << c.typed;
    }

    // Disconnect ends a handshake first and needs no initialised adapter.
    device.isDeviceInitialised = 0;
    device.isConnected = device.isHandshakeActive = 1;
    connection->UpdateConnectionButtons();
    EXPECT_EQ(sent(IDC_CN_DISCONNECT), Lines{"AT+DROP\r"});
    EXPECT_EQ(device.isHandshakeActive, 0);
}

