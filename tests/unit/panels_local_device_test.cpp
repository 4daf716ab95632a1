// The Local Device panel, created from its real template inside a stand-in
// main window. Writes to the port are captured and answered at once, so each
// test sees exactly the bytes the panel's commands put on the line.
#include <gtest/gtest.h>

#include "app/notify.h"
#include "atcommand/atcommand.h"
#include "panels/LocalDevice.h"
#include "serial/uart.h"
#include "support/test_env.h"

#include <commctrl.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
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

UINT_PTR captureTimer(HWND, UINT_PTR id, UINT, TIMERPROC)
{
    timersArmed.push_back(id);
    return id;
}

const int kAdapterControls[] = {1013, 1039, 1014, 1028, 1030, 1027, 1047, 1029, 1045,
                                1031, 1048, 1049, 1051, 1052, 1020, 1019, 1023, 1022};
const int kLineControls[] = {1016, 1005, 1006, 1008, 1009, 1011, 1012, 1050};

class LocalDevicePanel : public ::testing::Test {
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
        uartWriteHook = captureWrite;
        setTimerHook = captureTimer;
        atCommandWaitMs = 100;   // an unanswered command fails fast
        parent.Attach(main.hwnd());
    }

    void TearDown() override
    {
        panel.reset();
        uart.isUartActive = 0;
        uartWriteHook = savedWrite;
        setTimerHook = savedTimer;
        atCommandWaitMs = savedWait;
        memset(&atCommand, 0, sizeof atCommand);
        resetEngineState();
        parent.Detach();
    }

    void create()
    {
        panel.reset(new CLocalDevice);
        ASSERT_TRUE(panel->Create(IDD_LOCAL_DEVICE, &parent));
    }

    HWND item(int id) const { return GetDlgItem(panel->m_hWnd, id); }
    void click(int id) { SendMessageW(item(id), BM_CLICK, 0, 0); }
    void check(int id, bool on) { SendMessageW(item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
    bool checked(int id) const { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    int selection(int id) const { return static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)); }
    void select(int id, int position) { SendMessageW(item(id), CB_SETCURSEL, position, 0); }
    void setText(int id, const wchar_t* text) { SetWindowTextW(item(id), text); }
    std::wstring text(int id) const
    {
        wchar_t buffer[1024] = {};
        GetWindowTextW(item(id), buffer, 1024);
        return buffer;
    }
    std::wstring listEntry(int id, int position) const
    {
        wchar_t buffer[64] = {};
        SendMessageW(item(id), CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }
    // A port that does not exist: opening it fails without touching the
    // ports that other tests use.
    void selectMissingPort(const wchar_t* name = L"COM42")
    {
        select(1016, static_cast<int>(SendMessageW(item(1016), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name))));
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
        strcpy(device.address, "0012-6F-34AB56");
        device.echoOn = device.escapeOn = device.remoteConfig = device.responseOn = 1;
        device.discoverable = device.autoConnect = 1;
        device.sleepOn = 0;
        device.role = 2;
        device.baudCode = 13;
        uart.baud = 9600;
        uart.parity = PARITY_NONE;
        uart.stopBits = 1;
        uart.flow = 0;
        panel->UpdateLocalDeviceWindow();
        panel->EnableDeviceControls(true);
    }

    MessageBoxRecorder boxes{IDOK};
    StandInMainWindow main;
    CWnd parent;
    std::unique_ptr<CLocalDevice> panel;
    UartWriteFn savedWrite = uartWriteHook;
    SetTimerFn savedTimer = setTimerHook;
    DWORD savedWait = atCommandWaitMs;
};

TEST_F(LocalDevicePanel, StartsWithZeroedLineSettingsAsDefaultsAndAdapterControlsDisabled)
{
    create();
    LONG style = GetWindowLongW(panel->m_hWnd, GWL_STYLE);
    EXPECT_TRUE((style & WS_CHILD) && (style & DS_CONTROL));
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER));

    ASSERT_EQ(SendMessageW(item(1005), CB_GETCOUNT, 0, 0), 9);
    EXPECT_EQ(listEntry(1005, 0), L"1200");
    EXPECT_EQ(listEntry(1005, 8), L"230400");
    ASSERT_EQ(SendMessageW(item(1006), CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(listEntry(1006, 2), L"Even");

    EXPECT_EQ(listEntry(1005, selection(1005)), L"19200");
    EXPECT_EQ(selection(1006), 0);
    EXPECT_TRUE(checked(1012) && !checked(1011));
    EXPECT_TRUE(checked(1009) && !checked(1008));
    if (SendMessageW(item(1016), CB_GETCOUNT, 0, 0) > 0) {
        EXPECT_EQ(selection(1016), 0);
    }
    for (int id : kAdapterControls)
        EXPECT_FALSE(IsWindowEnabled(item(id))) << id;
    for (int id : kLineControls)
        EXPECT_TRUE(IsWindowEnabled(item(id))) << id;
    EXPECT_EQ(SendMessageW(item(1013), EM_GETLIMITTEXT, 0, 0), 15);
    EXPECT_EQ(SendMessageW(item(1039), EM_GETLIMITTEXT, 0, 0), 7);
    EXPECT_EQ(SendMessageW(item(1014), EM_GETLIMITTEXT, 0, 0), 28);
}

TEST_F(LocalDevicePanel, ShowsUartsLineSettingsInIndependentRadioPairs)
{
    uart.baud = 115200;
    uart.parity = PARITY_ODD;
    uart.stopBits = 1;
    uart.flow = 1;
    create();
    EXPECT_EQ(selection(1005), 7);
    EXPECT_EQ(selection(1006), 1);
    EXPECT_TRUE(checked(1011) && checked(1008));

    // Each auto radio pair unchecks only its own partner.
    panel->EnableDeviceControls(true);
    click(1012);
    EXPECT_TRUE(checked(1012) && !checked(1011) && checked(1008));
    click(1009);
    EXPECT_TRUE(checked(1009) && !checked(1008) && checked(1012));
    click(1019);
    click(1023);
    click(1020);
    EXPECT_TRUE(checked(1020) && !checked(1019) && checked(1023) && checked(1009));

    // Values outside the lists: 19200 and no parity.
    uart.baud = 300;
    uart.parity = 0x0300;
    create();
    EXPECT_EQ(selection(1005), 4);
    EXPECT_EQ(selection(1006), 0);

    // The port shown is the one whose number uart.port holds.
    if (uart.comPortCount >= 2) {
        uart.port = uart.comPortList[1];
        create();
        EXPECT_EQ(selection(1016), 1);
    }
}

TEST_F(LocalDevicePanel, RefreshShowsTheDeviceRecordAndReadsNoFieldPastItsEnd)
{
    create();
    showKnownAdapter();
    device.role = 1;
    device.responseOn = 0;
    device.sleepOn = 1;
    device.baudCode = 17;
    uart.parity = PARITY_EVEN;
    uart.stopBits = 2;
    uart.flow = 1;
    panel->UpdateLocalDeviceWindow();
    EXPECT_TRUE(checked(1023) && !checked(1022));
    EXPECT_EQ(text(1044), L"0012-6F-34AB56");
    EXPECT_TRUE(checked(1028) && !checked(1030));
    EXPECT_EQ(text(1013), L"Serial Adapter");
    EXPECT_EQ(text(1039), L"8642");
    EXPECT_TRUE(checked(1019) && checked(1027) && checked(1029) && checked(1047) && checked(1031));
    EXPECT_FALSE(checked(1045));
    EXPECT_EQ(listEntry(1005, selection(1005)), L"115200");
    EXPECT_EQ(selection(1006), 2);
    EXPECT_TRUE(checked(1012) && checked(1008));

    // PIN switched off, role and discoverability not reported, and baud
    // codes the list does not hold.
    device.pinDisabled = 1;
    device.role = 0;
    device.discoverable = 0;
    for (int code : {19, 0}) {
        device.baudCode = code;
        panel->UpdateLocalDeviceWindow();
        EXPECT_EQ(selection(1005), -1) << code;
    }
    EXPECT_EQ(text(1039), L"");
    EXPECT_TRUE(checked(1045) && checked(1022) && checked(1020));

    // Fields full to the last byte, without a terminator.
    device.pinDisabled = 0;
    memset(device.name, 'N', sizeof device.name);
    memset(device.address, 'A', sizeof device.address);
    memset(device.pin, 'P', sizeof device.pin);
    memset(device.version, 'V', sizeof device.version);
    panel->UpdateLocalDeviceWindow();
    EXPECT_EQ(text(1013), std::wstring(16, L'N'));
    EXPECT_EQ(text(1044), std::wstring(15, L'A'));
    EXPECT_EQ(text(1039), std::wstring(8, L'P'));
}

TEST_F(LocalDevicePanel, EngineEnablesTheAdapterControlsThroughItsHook)
{
    create();
    ASSERT_NE(enableDeviceControlsHook, nullptr);
    enableDeviceControlsHook(true);
    for (int id : kAdapterControls)
        EXPECT_TRUE(IsWindowEnabled(item(id))) << id;
    enableDeviceControlsHook(false);
    for (int id : kAdapterControls)
        EXPECT_FALSE(IsWindowEnabled(item(id))) << id;
    for (int id : kLineControls)
        EXPECT_TRUE(IsWindowEnabled(item(id))) << id;
    panel.reset();
    EXPECT_EQ(enableDeviceControlsHook, nullptr);
}

TEST_F(LocalDevicePanel, InitialiseUartTakesThePanelsSettingsAndMakesANewEvent)
{
    create();
    selectMissingPort();
    select(1005, 6);
    select(1006, 2);
    click(1011);
    click(1008);
    HANDLE before = atCommandEvent;
    EXPECT_FALSE(panel->InitialiseUart());
    EXPECT_EQ(uart.port, 42);
    EXPECT_EQ(uart.baud, 57600);
    EXPECT_EQ(uart.parity, PARITY_EVEN);
    EXPECT_EQ(uart.stopBits, 1);
    EXPECT_EQ(uart.flow, 1);
    EXPECT_NE(atCommandEvent, before);
    // Manual reset, created signalled.
    EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(atCommandEvent, 0), WAIT_OBJECT_0);

    // An entry that is not a COM port name leaves the port number alone; no
    // baud selection keeps the rate, or takes 19200 when there is none.
    selectMissingPort(L"Bluetooth");
    select(1005, -1);
    panel->InitialiseUart();
    EXPECT_EQ(uart.port, 42);
    EXPECT_EQ(uart.baud, 57600);
    uart.baud = 0;
    panel->InitialiseUart();
    EXPECT_EQ(uart.baud, 19200);
}

TEST_F(LocalDevicePanel, GetDeviceInfoOpensThePortThenBringsTheAdapterUpOrReadsIt)
{
    create();
    selectMissingPort();
    EXPECT_TRUE(sentBy(1050).empty());
    EXPECT_TRUE(logged("Failed to initialise UART."));

    uart.isUartActive = 1;   // port open, adapter not initialised
    EXPECT_EQ(sentBy(1050), Lines{"AT\r"});
    EXPECT_EQ(timersArmed, std::vector<UINT_PTR>{DevInitTimer});
    writeResult = 1;
    sentBy(1050);
    EXPECT_TRUE(logged("Failed to initialise Local Device."));

    writeResult = 0;
    device.isDeviceInitialised = 1;
    Lines queries = sentBy(1050);
    ASSERT_EQ(queries.size(), 16u);
    EXPECT_EQ(queries.front(), "AT+RESP?\r");
    EXPECT_EQ(queries.back(), "AT+FLOW?\r");
}

TEST_F(LocalDevicePanel, ProgramDeviceSendsOneCommandPerChangeInItsFixedOrder)
{
    create();
    showKnownAdapter();
    EXPECT_TRUE(sentBy(1048).empty());
    select(1005, 7);
    EXPECT_EQ(sentBy(1048), Lines{"AT+BAUD17\r"});

    setText(1013, L"Bench");
    setText(1039, L"1234");
    for (int id : {1028, 1027, 1029, 1031, 1030, 1012, 1020, 1023, 1047, 1008})
        click(id);
    select(1006, 1);
    EXPECT_EQ(sentBy(1048), (Lines{"AT+NAME=Bench\r", "AT+PIN=1234\r", "AT+ECHO-\r", "AT+ESC-\r", "AT+SLEEP+\r",
                                   "AT+RCFG-\r", "AT+RESP-\r", "AT+BAUD17\r", "AT+PAR1\r", "AT+STOP2\r", "AT+DCOV-\r",
                                   "AT+ROLEM\r", "AT+ACON-\r", "AT+FLOW+\r"}));

    // The other direction of each switch.
    create();
    showKnownAdapter();
    device.echoOn = device.escapeOn = device.sleepOn = device.remoteConfig = device.responseOn = 0;
    device.autoConnect = device.discoverable = 0;
    device.role = 1;
    uart.flow = 1;
    for (int id : {1028, 1027, 1029, 1031, 1030, 1047})
        check(id, true);
    EXPECT_EQ(sentBy(1048), (Lines{"AT+ECHO+\r", "AT+ESC+\r", "AT+SLEEP+\r", "AT+RCFG+\r", "AT+RESP+\r", "AT+DCOV+\r",
                                   "AT+ROLES\r", "AT+ACON+\r", "AT+FLOW-\r"}));
}

TEST_F(LocalDevicePanel, ProgramDeviceEdgeCasesAndLimits)
{
    create();
    showKnownAdapter();
    device.role = 0;   // not reported: neither button sends a role command
    EXPECT_TRUE(sentBy(1048).empty());
    click(1023);
    EXPECT_TRUE(sentBy(1048).empty());

    setText(1013, L"");   // an emptied name is sent, an emptied PIN is not
    setText(1039, L"");
    EXPECT_EQ(sentBy(1048), Lines{"AT+NAME=\r"});

    // Texts put past the boxes' typing limits are cut to the fields.
    setText(1013, L"ABCDEFGHIJKLMNOPQRST");
    setText(1039, L"123456789012");
    EXPECT_EQ(sentBy(1048), (Lines{"AT+NAME=ABCDEFGHIJKLMNO\r", "AT+PIN=1234567\r"}));

    // No baud selection after a refresh with code 19: no rate to compare.
    device.baudCode = 19;
    panel->UpdateLocalDeviceWindow();
    uart.baud = 115200;
    EXPECT_TRUE(sentBy(1048).empty());
}

TEST_F(LocalDevicePanel, SendAtCommandUpperCasesAndPicksTheWayOfSending)
{
    create();
    showKnownAdapter();
    EXPECT_TRUE(sentBy(1052).empty());
    setText(1014, L"at+ver");
    EXPECT_EQ(sentBy(1052), Lines{"AT+VER\r"});
    EXPECT_TRUE(logged("Sending command AT+VER\r"));
    setText(1014, L"+++");
    EXPECT_EQ(sentBy(1052), Lines{"+++"});
    setText(1014, L"at+name=new dev");
    EXPECT_EQ(sentBy(1052), Lines{"AT+NAME=NEW DEV\r"});
    setText(1014, L"at+name=abcdefghijklmnopqrstuvwxyz");   // past the limit
    EXPECT_EQ(sentBy(1052), Lines{"AT+NAME=ABCDEFGHIJKLMNOPQRST\r"});
    EXPECT_TRUE(timersArmed.empty());   // all blocking so far
    setText(1014, L"at+enq");
    EXPECT_EQ(sentBy(1052), Lines{"AT+ENQ\r"});
    EXPECT_EQ(timersArmed, std::vector<UINT_PTR>{ATCommandTimer});
}

TEST_F(LocalDevicePanel, DisableAuthenticationActsAtOnce)
{
    create();
    showKnownAdapter();
    EXPECT_EQ(sentBy(1045), Lines{"AT+PIN-\r"});   // now checked
    EXPECT_TRUE(sentBy(1045).empty());              // unchecked, PIN still on

    device.pinDisabled = 1;
    check(1045, true);
    EXPECT_EQ(sentBy(1045), Lines{"AT+PIN=8642\r"});
    strcpy(device.pin, "1234");
    check(1045, true);
    EXPECT_EQ(sentBy(1045), Lines{"AT+PIN=1234\r"});
    device.pin[0] = '\0';   // no PIN known: the adapter's default
    check(1045, true);
    EXPECT_EQ(sentBy(1045), Lines{"AT+PIN=8642\r"});
    memset(device.pin, '7', sizeof device.pin);   // no terminator
    check(1045, true);
    EXPECT_EQ(sentBy(1045), Lines{"AT+PIN=7777777\r"});
}

TEST_F(LocalDevicePanel, ResetAndRestart)
{
    create();
    showKnownAdapter();
    EXPECT_EQ(sentBy(1049), Lines{"AT+RESET\r"});
    EXPECT_TRUE(timersArmed.empty());

    device.isDataMode = 1;
    pairing.pairState = 4;
    inquiry.resultCount = 3;
    strcpy(remoteAddress, "00126F34AB56");
    selectMissingPort();
    select(1005, 3);
    click(1012);
    boxes.setAnswer(IDCANCEL);   // decline the escape sequence
    EXPECT_TRUE(sentBy(1051).empty());

    std::vector<std::wstring> shown = boxes.texts();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0],
              L"Local Device is in datamode. Do you want to Send Escape Sequence before sending the command");
    static const Device zeroDevice{};   // static: padding zeroed too
    static const Pairing zeroPairing{};
    EXPECT_EQ(memcmp(&device, &zeroDevice, sizeof device), 0);
    EXPECT_EQ(memcmp(&pairing, &zeroPairing, sizeof pairing), 0);
    EXPECT_EQ(inquiry.resultCount, 0);
    EXPECT_EQ(remoteAddress[0], '\0');
    for (int id : kAdapterControls)
        EXPECT_FALSE(IsWindowEnabled(item(id))) << id;
    EXPECT_EQ(uart.port, 42);
    EXPECT_EQ(uart.baud, 9600);
    EXPECT_EQ(uart.stopBits, 2);
    EXPECT_TRUE(logged("Failed to initialise UART."));
    EXPECT_EQ(main.countOf(ID_NOTIFY_STATUS), 1u);
}

TEST_F(LocalDevicePanel, ToolTipsNameThePushButtons)
{
    create();
    auto ask = [&](int id, UINT flags) {
        NMTTDISPINFOW info{};
        info.hdr.code = TTN_NEEDTEXTW;
        info.hdr.idFrom = flags ? reinterpret_cast<UINT_PTR>(item(id)) : static_cast<UINT_PTR>(id);
        info.uFlags = flags;
        static wchar_t untouched[] = L"untouched";
        info.lpszText = untouched;
        SendMessageW(panel->m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        return std::wstring(info.lpszText);
    };
    EXPECT_EQ(ask(1050, TTF_IDISHWND), L"Reads the settings on the Device and updates the Local Device Window");
    EXPECT_EQ(ask(1051, TTF_IDISHWND),
              L"Reinitializes the serial port and tries to establish communication with the device again");
    EXPECT_EQ(ask(1016, TTF_IDISHWND), L"");   // answered, no text
    EXPECT_EQ(ask(1050, 0), L"untouched");      // not named by its window
}

} // namespace
