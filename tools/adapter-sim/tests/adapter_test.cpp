#include <gtest/gtest.h>

#include "adapter.h"

namespace sim {
namespace {

const char* kAddress = "0012-6F-123456";
const char* kVersion = "RZ310 F/W V1.0";

Adapter makeAdapter(bool echo, bool resp) {
    Adapter a(kAddress, kVersion, LineSettings{});
    a.state().echoOn = echo;
    a.state().responseOn = resp;
    return a;
}

// Feeds everything, across the stops a line-settings change makes.
std::string run(Adapter& a, const std::string& input, int64_t now = 0) {
    std::string out;
    size_t pos = 0;
    while (pos < input.size()) {
        Adapter::FeedResult r = a.feed(input.substr(pos), now);
        EXPECT_GT(r.consumed, 0u);
        out += r.output;
        pos += r.consumed;
    }
    return out;
}

struct Query {
    const char* command;
    const char* text;
};

// Every query the tool reads the adapter with, as the power-on adapter
// answers it: the reply line, then OK directly after its closing CR LF.
TEST(AdapterAnswers, QueriesInEveryEchoAndResponseMode) {
    const Query queries[] = {
        {"AT+RESP?", "RESP+"}, {"AT+ECHO?", "ECHO+"},   {"AT+ROLE?", "ROLES"},        {"AT+ADDR?", kAddress},
        {"AT+NAME?", "Serial Adapter"}, {"AT+PIN?", "8642"}, {"AT+DCOV?", "DCOV+"},   {"AT+ESC?", "ESC+"},
        {"AT+SLEEP?", "SLEEP-"}, {"AT+ACON?", "ACON+"}, {"AT+RCFG?", "RCFG+"},         {"AT+VER", kVersion},
        {"AT+BAUD?", "BAUD14"}, {"AT+STOP?", "STOP1"},  {"AT+PAR?", "PAR0"},          {"AT+FLOW?", "FLOW+"},
        {"AT+BOND?", "0000-00-000000"},
    };
    for (bool echo : {true, false}) {
        for (bool resp : {true, false}) {
            for (const Query& q : queries) {
                Adapter a = makeAdapter(echo, resp);
                std::string cmd = std::string(q.command) + "\r";
                std::string text = q.text;
                if (text == "RESP+" && !resp) text = "RESP-";
                if (text == "ECHO+" && !echo) text = "ECHO-";
                std::string expected = (echo ? cmd : "") + "\r\n" + text + "\r\n" + (resp ? "OK\r\n" : "");
                EXPECT_EQ(run(a, cmd), expected) << q.command << " echo " << echo << " resp " << resp;
            }
        }
    }
}

TEST(AdapterAnswers, StatusLinesAndErrors) {
    Adapter on = makeAdapter(false, true);
    EXPECT_EQ(run(on, "AT\r"), "\r\nOK\r\n");
    Adapter off = makeAdapter(false, false);
    EXPECT_EQ(run(off, "AT\r"), "\r\n");
    EXPECT_EQ(run(off, "AT+NAME=x\r"), "\r\n");

    // Errors are reported whatever the response mode.
    for (const char* bad : {"AT+FOO\r", "AT+BAUD20\r", "AT+BAUD1x\r", "AT+BAUD1\r", "AT+PIN=\r", "AT+ADDR\r",
                            "AT+NAME\r", "at\r", "AT+ECHO*\r", "AT+BOND=\r", "AT+DROP\r", "AT+CONN\r"}) {
        Adapter a = makeAdapter(false, false);
        EXPECT_EQ(run(a, bad), "\r\nERROR\r\n") << bad;
    }
    Adapter echoing = makeAdapter(true, true);
    EXPECT_EQ(run(echoing, "AT+FOO\r"), "AT+FOO\r\r\nERROR\r\n");
    echoing.errorMode = true;
    EXPECT_EQ(run(echoing, "AT\r"), "AT\r\r\nERROR\r\n");
}

struct Setting {
    const char* command;
    const char* query;
    const char* text;
};

TEST(AdapterAnswers, SettingsAreStoredAndReportedBack) {
    const Setting settings[] = {
        {"AT+ROLEM", "AT+ROLE?", "ROLEM"},
        {"AT+NAME=My Dev", "AT+NAME?", "My Dev"}, {"AT+NAME=", "AT+NAME?", ""},
        {"AT+PIN=1234", "AT+PIN?", "1234"},       {"AT+PIN-", "AT+PIN?", "NULL"},
        {"AT+DCOV-", "AT+DCOV?", "DCOV-"},        {"AT+ESC-", "AT+ESC?", "ESC-"},
        {"AT+SLEEP+", "AT+SLEEP?", "SLEEP+"},     {"AT+ACON-", "AT+ACON?", "ACON-"},
        {"AT+RCFG-", "AT+RCFG?", "RCFG-"},        {"AT+BAUD17", "AT+BAUD?", "BAUD17"},
        {"AT+BAUD19", "AT+BAUD?", "BAUD19"},      {"AT+STOP2", "AT+STOP?", "STOP2"},
        {"AT+PAR1", "AT+PAR?", "PAR1"},           {"AT+PAR2", "AT+PAR?", "PAR2"},
        {"AT+FLOW-", "AT+FLOW?", "FLOW-"},        {"AT+BOND=00126F34AB56", "AT+BOND?", "0012-6F-34AB56"},
    };
    for (const Setting& s : settings) {
        Adapter a = makeAdapter(false, true);
        EXPECT_EQ(run(a, std::string(s.command) + "\r"), "\r\nOK\r\n") << s.command;
        EXPECT_EQ(run(a, std::string(s.query) + "\r"), "\r\n" + std::string(s.text) + "\r\nOK\r\n") << s.command;
    }

    Adapter a = makeAdapter(false, true);
    run(a, "AT+PIN-\rAT+PIN=99\r");
    EXPECT_FALSE(a.state().pinDisabled);
    run(a, "AT+BOND=00126F34AB56\rAT+BOND-\r");
    EXPECT_EQ(run(a, "AT+BOND?\r"), "\r\n0000-00-000000\r\nOK\r\n");
    run(a, "AT+BAUD19\r");
    EXPECT_EQ(a.state().line.baud, 19200);  // an unknown code means the default rate
    run(a, "AT+BAUD10\r");
    EXPECT_EQ(a.state().line.baud, 1200);
}

TEST(AdapterAnswers, ModeChangesShapeTheirOwnAnswer) {
    Adapter a = makeAdapter(true, true);
    // Echo is decided as the command arrives: ECHO- is echoed, ECHO+ is not.
    EXPECT_EQ(run(a, "AT+ECHO-\r"), "AT+ECHO-\r\r\nOK\r\n");
    EXPECT_EQ(run(a, "AT+ECHO+\r"), "\r\nOK\r\n");
    a.state().echoOn = false;
    // Response mode off takes effect for its own answer, and back on too.
    EXPECT_EQ(run(a, "AT+RESP-\r"), "\r\n");
    EXPECT_EQ(run(a, "AT+RESP?\r"), "\r\nRESP-\r\n");
    EXPECT_EQ(run(a, "AT+RESP+\r"), "\r\nOK\r\n");
    // Switching to data mode and escaping answer a full line without OK mode.
    run(a, "AT+RESP-\r");
    EXPECT_EQ(run(a, "AT+AUTO\r"), "\r\nOK\r\n");
    EXPECT_EQ(run(a, "+++"), "\r\nOK\r\n");
}

TEST(AdapterAnswers, EnquiryStartsWithStatus) {
    Adapter a = makeAdapter(false, true);
    std::string out = run(a, "AT+ENQ\r");
    EXPECT_EQ(out.substr(0, 6), "\r\nOK\r\n");
    EXPECT_NE(out.find("BAUD14\r\nSTOP1\r\nPAR0\r\nFLOW+\r\n"), std::string::npos);
}

TEST(AdapterReset, RestoresFactoryValuesAfterAnsweringInTheOldMode) {
    Adapter a(kAddress, kVersion, LineSettings{115200, Parity::Even, 2, false});
    run(a, "AT+BOND=00126F34AB56\rAT+AUTO\r");
    run(a, "+++");
    run(a, "AT+ECHO-\rAT+NAME=Other\rAT+PIN-\rAT+ROLEM\rAT+DCOV-\rAT+ESC-\rAT+SLEEP+\rAT+ACON-\rAT+RCFG-\r");
    run(a, "AT+RESP-\r");
    a.state().connected = true;

    Adapter::FeedResult r = a.feed("AT+RESET\rAT\r", 0);
    EXPECT_EQ(r.output, "\r\n");  // response mode was off when it came in
    EXPECT_EQ(r.consumed, 9u);    // the rest meets the new line settings

    AdapterState fresh;
    const AdapterState& s = a.state();
    EXPECT_EQ(s.echoOn, fresh.echoOn);
    EXPECT_TRUE(s.echoOn);
    EXPECT_TRUE(s.responseOn);
    EXPECT_EQ(s.role, 'S');
    EXPECT_EQ(s.name, "Serial Adapter");
    EXPECT_EQ(s.pin, "8642");
    EXPECT_FALSE(s.pinDisabled);
    EXPECT_TRUE(s.discoverable);
    EXPECT_TRUE(s.escapeOn);
    EXPECT_FALSE(s.sleepOn);
    EXPECT_TRUE(s.autoConnect);
    EXPECT_TRUE(s.remoteConfig);
    EXPECT_FALSE(s.bonded);
    EXPECT_EQ(s.baudCode, 14);
    EXPECT_EQ(s.line, (LineSettings{19200, Parity::None, 1, true}));
    EXPECT_FALSE(s.connected);
    EXPECT_FALSE(s.dataMode);
    EXPECT_EQ(s.address, kAddress);
    EXPECT_EQ(s.version, kVersion);
}

TEST(AdapterLine, FeedStopsAfterEachLineSettingChange) {
    for (const char* change : {"AT+BAUD13\r", "AT+STOP2\r", "AT+PAR1\r", "AT+FLOW-\r"}) {
        Adapter a = makeAdapter(false, true);
        std::string input = std::string(change) + "AT\r";
        Adapter::FeedResult r = a.feed(input, 0);
        EXPECT_EQ(r.output, "\r\nOK\r\n") << change;
        EXPECT_EQ(r.consumed, std::string(change).size()) << change;
    }
    // Commands that leave the line alone do not stop it.
    Adapter a = makeAdapter(false, true);
    EXPECT_EQ(a.feed("AT+BAUD14\rAT\r", 0).consumed, 13u);
}

TEST(AdapterLine, OverlongCommandIsBoundedAndRefused) {
    Adapter a = makeAdapter(true, true);
    std::string longName = "AT+NAME=" + std::string(500, 'x');
    std::string out = run(a, longName + "\r");
    EXPECT_EQ(out, longName.substr(0, kMaxCommandLine) + "\r\r\nERROR\r\n");
    ASSERT_EQ(a.executed().size(), 1u);
    EXPECT_EQ(a.executed()[0].size(), kMaxCommandLine + 1);
    EXPECT_EQ(a.state().name, "Serial Adapter");
    EXPECT_EQ(run(a, "AT\r"), "AT\r\r\nOK\r\n");
}

TEST(AdapterLine, ExecutedCommandsAreLoggedAsReceived) {
    Adapter a = makeAdapter(false, true);
    run(a, "\rAT\r\nAT+VER\r");
    run(a, "AT+AU");
    run(a, "TO\rdata+++");
    ASSERT_EQ(a.executed().size(), 4u);
    EXPECT_EQ(a.executed()[0], "AT\r");
    EXPECT_EQ(a.executed()[1], "AT+VER\r");  // the LF before it is not part of it
    EXPECT_EQ(a.executed()[2], "AT+AUTO\r");
    EXPECT_EQ(a.executed()[3], "+++");
    EXPECT_EQ(a.dataReceived(), "data");
}

TEST(AdapterDataMode, EscapeSequenceAndDataBytes) {
    Adapter a = makeAdapter(true, true);
    EXPECT_EQ(run(a, "AT+AUTO\r"), "AT+AUTO\r\r\nOK\r\n");
    ASSERT_TRUE(a.state().dataMode);
    // Data is not echoed or answered; '+' that do not make three are data.
    EXPECT_EQ(run(a, "AT\r++x"), "");
    EXPECT_EQ(a.dataReceived(), "AT\r++x");
    // The escape may arrive byte by byte.
    EXPECT_EQ(run(a, "+"), "");
    EXPECT_EQ(run(a, "+"), "");
    EXPECT_EQ(run(a, "+"), "\r\nOK\r\n");
    EXPECT_FALSE(a.state().dataMode);
    // In command mode "+++" is answered without echo.
    EXPECT_EQ(run(a, "+++"), "\r\nOK\r\n");

    // Escape mode off: "+++" is data.
    run(a, "AT+ESC-\rAT+AUTO\r");
    EXPECT_EQ(run(a, "+++"), "");
    EXPECT_TRUE(a.state().dataMode);

    // The data log is capped, not grown without limit.
    a.state().escapeOn = true;
    run(a, std::string((1 << 20) + 100, 'd'));
    EXPECT_EQ(a.dataReceived().size(), static_cast<size_t>(1 << 20));

    // A refused escape leaves the adapter in data mode.
    Adapter b = makeAdapter(false, true);
    run(b, "AT+AUTO\r");
    b.errorMode = true;
    EXPECT_EQ(run(b, "+++"), "\r\nERROR\r\n");
    EXPECT_TRUE(b.state().dataMode);
}

TEST(AdapterConnection, ConnectReportAfterTheDelay) {
    Adapter a = makeAdapter(false, true);
    a.eventDelayMs = 500;
    EXPECT_EQ(run(a, "AT+CONN=00126F34AB56\r", 1000), "\r\nOK\r\n");
    EXPECT_EQ(a.poll(1499), "");
    EXPECT_EQ(a.nextDue(), 1500);
    EXPECT_EQ(a.poll(1500), "\r\nCONNECT 00126F34AB56\r\n");
    EXPECT_TRUE(a.state().connected);
    EXPECT_TRUE(a.state().dataMode);
    EXPECT_EQ(a.state().remoteAddress, "00126F34AB56");

    // Already connected: refused.
    run(a, "+++");
    EXPECT_EQ(run(a, "AT+CONN=1\r"), "\r\nERROR\r\n");
    EXPECT_EQ(run(a, "AT+DROP\r", 2000), "\r\nOK\r\n");
    EXPECT_TRUE(a.state().connected);
    EXPECT_EQ(a.poll(2500), "\r\nDISCONNECT 00126F34AB56\r\n");
    EXPECT_FALSE(a.state().connected);
    EXPECT_EQ(a.state().remoteAddress, "");

    a.connectOutcome = ConnectOutcome::Fail;
    run(a, "AT+CONN=00126F34AB56\r", 3000);
    EXPECT_EQ(a.poll(4000), "\r\nCONNECT Attempt Fail!!\r\n");
    EXPECT_FALSE(a.state().connected);

    // The bonded address is where a bare AT+CONN goes.
    a.connectOutcome = ConnectOutcome::Connect;
    run(a, "AT+BOND=00126F34AB56\rAT+CONN\r", 5000);
    EXPECT_EQ(a.poll(6000), "\r\nCONNECT 0012-6F-34AB56\r\n");
}

TEST(AdapterConnection, LinkSettingChangesDropTheConnection) {
    for (const char* change : {"AT+ROLEM\r", "AT+FLOW-\r", "AT+DCOV-\r", "AT+ACON-\r"}) {
        Adapter a = makeAdapter(false, true);
        a.connect("00126F34AB56");
        run(a, "+++");
        run(a, change);
        EXPECT_FALSE(a.state().connected) << change;
        EXPECT_EQ(a.poll(1000000), "") << change;
    }
    Adapter a = makeAdapter(false, true);
    a.connect("X");
    run(a, "+++AT+NAME=n\r");
    EXPECT_TRUE(a.state().connected);
}

TEST(AdapterConnection, PowerOnLosesRunTimeStateOnly) {
    Adapter a = makeAdapter(false, true);
    run(a, "AT+NAME=Kept\rAT+CONN=1\rAT");
    a.connect("1");
    a.powerOn();
    EXPECT_FALSE(a.state().connected);
    EXPECT_FALSE(a.state().dataMode);
    EXPECT_EQ(a.state().name, "Kept");
    EXPECT_EQ(a.nextDue(), INT64_MAX);
    EXPECT_EQ(run(a, "\r"), "");  // the half-received "AT" is gone
}

TEST(AdapterInquiry, MasterWithoutAutoConnectReportsResultsThenEnd) {
    Adapter a = makeAdapter(false, true);
    a.eventDelayMs = 100;
    a.inquiryResults = {"first", "second"};
    EXPECT_EQ(run(a, "AT+FIND?\r"), "\r\nERROR\r\n");  // slave
    run(a, "AT+ROLEM\r");
    EXPECT_EQ(run(a, "AT+FIND?\r"), "\r\nERROR\r\n");  // auto-connect on
    run(a, "AT+ACON-\r");
    EXPECT_EQ(run(a, "AT+FIND?\r", 0), "\r\nOK\r\n");
    EXPECT_TRUE(a.state().inquiryActive);
    EXPECT_EQ(a.poll(100), "\r\nfirst");
    EXPECT_EQ(a.poll(300), "\r\nsecond\r\nInquiry End\r\n");
    EXPECT_FALSE(a.state().inquiryActive);

    run(a, "AT+FIND?\r", 1000);
    EXPECT_EQ(run(a, "AT+FIND-\r", 1050), "\r\nOK\r\n");
    EXPECT_FALSE(a.state().inquiryActive);
    EXPECT_EQ(a.poll(5000), "");
}

}  // namespace
}  // namespace sim
