// The four panels, created from their real templates inside a stand-in main
// window. Writes to the port are captured and answered at once, so each test
// sees exactly the bytes a panel's command puts on the line. Get Device Info,
// Reset and the plain cases of the other buttons run end to end; these cover
// the order, the limits and the cases the simulator cannot set up.
#include <gtest/gtest.h>

#include "common/notify.h"
#include "atcommand/atcommand.h"
#include "panels/Connection.h"
#include "panels/LocalDevice.h"
#include "panels/PairDevice.h"
#include "panels/RemoteDevice.h"
#include "serial/uart.h"
#include "support/test_env.h"
#include "gui_test_util.h"
#include "program_table.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
Lines written;
std::vector<UINT_PTR> timersArmed;
int writeResult = 0;

// Every command is answered at once, as if the adapter had accepted it.
int captureWrite(const uint8_t* buffer, uint32_t length)
{
    written.emplace_back(reinterpret_cast<const char*>(buffer), length);
    SetEvent(atCommandEvent);
    return writeResult;
}

UINT_PTR WINAPI captureTimer(HWND, UINT_PTR id, UINT, TIMERPROC)
{
    timersArmed.push_back(id);
    return id;
}

// "+" for each enabled control, "-" for each disabled one.
std::string enabledOf(HWND panel, std::initializer_list<int> ids)
{
    std::string states;
    for (int id : ids)
        states += IsWindowEnabled(GetDlgItem(panel, id)) ? '+' : '-';
    return states;
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineState();
        memset(&atCommand, 0, sizeof atCommand);
        memset(&uart, 0, sizeof uart);
        if (!atCommandEvent)
            atCommandEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        written.clear();
        timersArmed.clear();
        writeResult = 0;
        seams.uartWrite = captureWrite;
        seams.setTimer = captureTimer;
        seams.atCommandWaitMs = 100;   // an unanswered command fails fast
        parent.Attach(main.hwnd());
    }

    void TearDown() override
    {
        panel.reset();
        uart.isUartActive = 0;
        seams.uartWrite = savedWrite;
        seams.setTimer = savedTimer;
        seams.atCommandWaitMs = savedWait;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
        parent.Detach();
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
    bool checked(int id) const { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    int selection(int id) const { return static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)); }
    void select(int id, int position) { SendMessageW(item(id), CB_SETCURSEL, position, 0); }
    void setText(int id, const wchar_t* text) { SetWindowTextW(item(id), text); }
    std::wstring text(int id) const { return textOf(item(id)); }
    // A port that does not exist: opening it fails without touching the
    // ports that other tests use.
    void selectMissingPort(const wchar_t* name = L"COM42")
    {
        select(IDC_LD_COM_PORT,
               static_cast<int>(SendMessageW(item(IDC_LD_COM_PORT), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name))));
    }
    bool logged(const std::string& line)
    {
        main.pump(50);
        return std::find(main.logLines.begin(), main.logLines.end(), line) != main.logLines.end();
    }
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

    MessageBoxRecorder boxes{IDOK};
    StandInMainWindow main;
    CWnd parent;
    std::unique_ptr<CLocalDevice> panel;
    UartWriteFn savedWrite = seams.uartWrite;
    SetTimerFn savedTimer = seams.setTimer;
    DWORD savedWait = seams.atCommandWaitMs;
};

}  // namespace

// Start-up shows what uart holds; the end-to-end tests see the defaults and
// a saved 9600 8N1 come back, not the port or a parity.
TEST_F(PanelTest, LocalDeviceShowsUartsPortAndParity)
{
    create();   // lists the ports
    ASSERT_GE(uart.comPortCount, 2);
    uart.port = uart.comPortList[1];
    uart.parity = PARITY_EVEN;
    create();
    EXPECT_EQ(selection(IDC_LD_COM_PORT), 1);
    EXPECT_EQ(selection(IDC_LD_PARITY), 2);
}

TEST_F(PanelTest, LocalDeviceRefreshReadsNoFieldPastItsEnd)
{
    create();
    // Codes the baud list does not hold (19, or 0 before any report).
    for (int code : {19, 0}) {
        select(IDC_LD_BAUD_RATE, 2);
        device.baudCode = code;
        panel->UpdateLocalDeviceWindow();
        EXPECT_EQ(selection(IDC_LD_BAUD_RATE), -1) << code;
    }
    // Fields full to the last byte, without a terminator.
    memset(device.name, 'N', sizeof device.name);
    memset(device.address, 'A', sizeof device.address);
    memset(device.pin, 'P', sizeof device.pin);
    memset(device.version, 'V', sizeof device.version);
    panel->UpdateLocalDeviceWindow();
    EXPECT_EQ(text(IDC_LD_DEVICE_NAME), std::wstring(sizeof device.name, L'N'));
    EXPECT_EQ(text(IDC_LD_DEVICE_ADDRESS), std::wstring(sizeof device.address, L'A'));
    EXPECT_EQ(text(IDC_LD_PIN_CODE), std::wstring(sizeof device.pin, L'P'));
}

TEST_F(PanelTest, InitialiseUartTakesThePanelsSettingsAndMakesANewEvent)
{
    create();
    selectMissingPort();
    select(IDC_LD_BAUD_RATE, 6);
    select(IDC_LD_PARITY, 2);
    click(IDC_LD_STOP_ONE);
    click(IDC_LD_FLOW_ENABLED);
    HANDLE before = atCommandEvent;
    EXPECT_FALSE(panel->InitialiseUart());
    EXPECT_EQ(std::make_tuple(uart.port, uart.baud, uart.parity, uart.stopBits, uart.flow),
              std::make_tuple(42, 57600, static_cast<int32_t>(PARITY_EVEN), 1, 1));
    // A new event, manual reset, created signalled.
    EXPECT_NE(atCommandEvent, before);
    EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0), WAIT_OBJECT_0);

    // An entry that is not a COM port name leaves the port number alone; no
    // baud selection keeps the rate, or takes 19200 when there is none.
    selectMissingPort(L"Bluetooth");
    select(IDC_LD_BAUD_RATE, -1);
    panel->InitialiseUart();
    EXPECT_EQ(std::make_tuple(uart.port, uart.baud), std::make_tuple(42, 57600));
    uart.baud = 0;
    panel->InitialiseUart();
    EXPECT_EQ(uart.baud, 19200);
}

TEST_F(PanelTest, GetDeviceInfoReportsWhatFailed)
{
    create();
    selectMissingPort();
    EXPECT_TRUE(sentBy(IDC_LD_GET_DEVICE_INFO).empty());
    EXPECT_TRUE(logged("Failed to initialise UART."));

    uart.isUartActive = 1;   // port open, adapter not initialised
    EXPECT_EQ(sentBy(IDC_LD_GET_DEVICE_INFO), Lines{"AT\r"});
    EXPECT_EQ(timersArmed, std::vector<UINT_PTR>{DevInitTimer});
    EXPECT_FALSE(logged("Failed to initialise Local Device."));
    writeResult = 1;
    sentBy(IDC_LD_GET_DEVICE_INFO);
    EXPECT_TRUE(logged("Failed to initialise Local Device."));
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
        EXPECT_EQ(timersArmed, r.timer ? std::vector<UINT_PTR>{ATCommandTimer} : std::vector<UINT_PTR>{});
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

TEST_F(PanelTest, RestartDeviceForgetsTheAdapterAndReopensWithThePanelsSettings)
{
    create();
    showKnownAdapter();
    device.isDataMode = 1;
    pairing.pairState = 4;
    inquiry.resultCount = 3;
    strcpy(remoteAddress, "00126F34AB56");
    selectMissingPort();
    select(IDC_LD_BAUD_RATE, 5);
    boxes.setAnswer(IDCANCEL);   // decline the escape sequence
    EXPECT_TRUE(sentBy(IDC_LD_RESTART_DEVICE).empty());
    ASSERT_FALSE(boxes.texts().empty());   // asked about it first
    EXPECT_EQ(boxes.texts()[0],
              L"Local Device is in datamode. Do you want to Send Escape Sequence before sending the command");

    static const Device zeroDevice{};   // static: padding zeroed too
    static const Pairing zeroPairing{};
    EXPECT_EQ(memcmp(&device, &zeroDevice, sizeof device), 0);
    EXPECT_EQ(memcmp(&pairing, &zeroPairing, sizeof pairing), 0);
    EXPECT_EQ(inquiry.resultCount, 0);
    EXPECT_EQ(remoteAddress[0], '\0');
    EXPECT_FALSE(IsWindowEnabled(item(IDC_LD_PROGRAM_DEVICE)));
    EXPECT_EQ(uart.baud, 38400);
    EXPECT_TRUE(logged("Failed to initialise UART."));
    EXPECT_EQ(main.countOf(ID_NOTIFY_STATUS), 1u);
}

TEST_F(PanelTest, RemoteDeviceOffersRemoteCommandsOnlyAfterAHandshake)
{
    auto remote = make<CRemoteDevice>(IDD_REMOTE_DEVICE);
    HWND h = remote->m_hWnd;
    const auto buttons = {IDC_RD_HANDSHAKE, IDC_RD_PROGRAM_REMOTE, IDC_RD_EXIT_REMOTE};
    EXPECT_EQ(enabledOf(h, buttons), "+--");
    handshakeState = HANDSHAKE_COMPLETE;
    strcpy(remoteAddress, "00126F34AB56");
    remote->UpdateRemoteDeviceWindow();
    EXPECT_EQ(enabledOf(h, buttons), "-++");
    EXPECT_EQ(textOf(GetDlgItem(h, IDC_RD_ADDRESS)), L"00126F34AB56");
    handshakeState = HANDSHAKE_IDLE;   // the connection closed
    remote->UpdateRemoteDeviceWindow();
    EXPECT_EQ(enabledOf(h, buttons), "+--");

    // A full field without its terminator shows no more than the field.
    memset(remoteAddress, 'R', sizeof remoteAddress);
    remote->UpdateRemoteDeviceWindow();
    EXPECT_EQ(textOf(GetDlgItem(h, IDC_RD_ADDRESS)), std::wstring(sizeof remoteAddress, L'R'));

    // Each button checks what it needs, then sends its bytes (in data mode).
    const wchar_t* notInitialised =
        L"Local Device is not initialised. Please initialise and connect the device and then try handshake .";
    const wchar_t* notConnected = L"Local Device is not connected. Please connect the device and then try handshake.";
    const struct { int32_t initialised, connected; int button; Lines sent; const wchar_t* box; } rows[] = {
        {0, 1, IDC_RD_HANDSHAKE, {}, notInitialised},
        {1, 0, IDC_RD_HANDSHAKE, {}, notConnected},
        {1, 0, IDC_RD_PROGRAM_REMOTE, {}, notConnected},
        {1, 0, IDC_RD_EXIT_REMOTE, {}, notConnected},
        {1, 1, IDC_RD_HANDSHAKE, {std::string(8, '\xAA')}, nullptr},
        {0, 1, IDC_RD_PROGRAM_REMOTE, {"\x01\x04"}, nullptr},   // 57600; initialised or not
        {0, 1, IDC_RD_EXIT_REMOTE, {std::string("\x00\x80", 2)}, nullptr},
    };
    device.isDataMode = 1;
    SendDlgItemMessageW(h, IDC_RD_BAUD_RATE, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"57600"));
    for (const auto& r : rows) {
        SCOPED_TRACE(r.button);
        device.isDeviceInitialised = r.initialised;
        device.isConnected = r.connected;
        written.clear();
        boxes.clear();
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(r.button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, r.button)));
        EXPECT_EQ(written, r.sent);
        EXPECT_EQ(boxes.texts(), r.box ? std::vector<std::wstring>{r.box} : std::vector<std::wstring>{});
    }
}

TEST_F(PanelTest, ConnectionRewritesResultRowsInPlaceAndFollowsTheFlags)
{
    auto connection = make<CConnection>(IDD_CONNECTION);
    HWND h = connection->m_hWnd;
    HWND list = GetDlgItem(h, IDC_CN_RESULTS);
    auto row = [&](int i) {
        std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]))));
        return text;
    };
    // Results filling their whole field, in reverse alphabetical order, and
    // counts beyond the record's ten or below zero: each update rewrites the
    // rows in arrival order and reads nothing past the record.
    for (int i = 0; i < INQUIRY_RESULTS; ++i)
        memset(inquiry.results[i], 'j' - i, RESPONSE_SIZE);
    for (int count : {12, 12, -1}) {
        inquiry.resultCount = count;
        connection->UpdateInquiryResults();
        ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), INQUIRY_RESULTS) << count;
    }
    EXPECT_EQ(row(0), std::wstring(RESPONSE_SIZE, L'j'));
    EXPECT_EQ(row(9), std::wstring(RESPONSE_SIZE, L'a'));

    const auto buttons = {IDC_CN_INQUIRE, IDC_CN_CONNECT, IDC_CN_CANCEL_INQUIRY, IDC_CN_DISCONNECT};
    EXPECT_EQ(enabledOf(h, buttons), "++--");
    device.isInquiryActive = 1;
    connection->UpdateConnectionButtons();
    EXPECT_EQ(enabledOf(h, buttons), "+++-");
    device.isInquiryActive = 0;
    device.isConnected = 1;
    connection->UpdateConnectionButtons();
    EXPECT_EQ(enabledOf(h, buttons), "++-+");
}

// Picking a row fills the address box; what the box holds goes on the line
// in upper case and never longer than the command buffer takes.
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
    const struct { int initialised; const wchar_t* typed; Lines sent; const wchar_t* box; } connects[] = {
        {1, L"0012-6f-34ab56", {"AT+CONN=0012-6F-34AB56\r"}, nullptr},
        {1, L"", {}, nullptr},
        {1, L"0012-6f-34ab56-0012-6f", {"AT+CONN=0012-6F-34AB56-0012-\r"}, nullptr},
        {0, L"00126F34AB56", {}, L"Local Device is not initialised. Please initialise the device and then connect."},
    };
    for (const auto& c : connects) {
        device.isDeviceInitialised = c.initialised;
        boxes.clear();
        SetWindowTextW(box, c.typed);
        EXPECT_EQ(sent(IDC_CN_CONNECT), c.sent) << c.typed;
        EXPECT_EQ(boxes.texts(), c.box ? std::vector<std::wstring>{c.box} : std::vector<std::wstring>{});
    }
    boxes.clear();
    EXPECT_EQ(sent(IDC_CN_INQUIRE), Lines{});
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{
        L"Local Device is not initialised. Please initialise the device and then start inquiry."});

    // Disconnect ends a handshake first and needs no initialised adapter.
    device.isConnected = device.isHandshakeActive = 1;
    connection->UpdateConnectionButtons();
    EXPECT_EQ(sent(IDC_CN_DISCONNECT), Lines{"AT+DROP\r"});
    EXPECT_EQ(device.isHandshakeActive, 0);
}

TEST_F(PanelTest, PairDeviceShowsEachFieldOfThePairingRecordWithinItsSize)
{
    auto pair = make<CPairDevice>(IDD_PAIR_DEVICE);
    const struct { char* field; size_t size; int control; char fill; } rows[] = {
        {pairing.device1Address, sizeof pairing.device1Address, IDC_PD_DEVICE1_ADDRESS, '1'},
        {pairing.device1Name, sizeof pairing.device1Name, IDC_PD_DEVICE1_NAME, 'A'},
        {pairing.device2Address, sizeof pairing.device2Address, IDC_PD_DEVICE2_ADDRESS, '2'},
        {pairing.device2Name, sizeof pairing.device2Name, IDC_PD_DEVICE2_NAME, 'B'}};
    for (const auto& r : rows)
        memset(r.field, r.fill, r.size);   // no terminators
    pair->UpdatePairDeviceWindow();
    for (const auto& r : rows)
        EXPECT_EQ(textOf(GetDlgItem(pair->m_hWnd, r.control)), std::wstring(r.size, static_cast<wchar_t>(r.fill)));
}

TEST_F(PanelTest, ToolTipsNameTheButtons)
{
    create();
    auto remote = make<CRemoteDevice>(IDD_REMOTE_DEVICE);
    auto connection = make<CConnection>(IDD_CONNECTION);
    auto pair = make<CPairDevice>(IDD_PAIR_DEVICE);
    const struct { HWND panel; int control; const wchar_t* text; } rows[] = {
        {panel->m_hWnd, IDC_LD_GET_DEVICE_INFO, L"Reads the settings on the Device and updates the Local Device Window"},
        {panel->m_hWnd, IDC_LD_RESTART_DEVICE,
         L"Reinitializes the serial port and tries to establish communication with the device again"},
        {panel->m_hWnd, IDC_LD_COM_PORT, L""},   // answered, no text
        {remote->m_hWnd, IDC_RD_EXIT_REMOTE, L"Request the connected remote device to exit remote access mode"},
        {connection->m_hWnd, IDC_CN_INQUIRE, L"Start Bluetooth Inquiry. The Device can inquire only when it is in "
                                             L"master mode and auto connect is disabled"},
        {pair->m_hWnd, IDC_PD_UNPAIR, L"Unpair the Local Device with another Device"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(toolTipOf(r.panel, r.control), r.text) << r.control;
    EXPECT_EQ(askToolTip(panel->m_hWnd, IDC_LD_GET_DEVICE_INFO, 0), L"untouched");   // not named by its window
}
