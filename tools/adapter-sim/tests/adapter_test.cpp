// The adapter model: the answer shapes the tool's framing relies on, what
// a setting leaves behind, reset, the stop after a line-settings change and
// data mode.
#include <gtest/gtest.h>

#include <tuple>

#include "adapter.h"

namespace sim {
namespace {

const char* kAddress = "0012-6F-123456";
const char* kVersion = "RZ310 F/W V1.0";

Adapter makeAdapter(bool echo = false, bool resp = true) {
    Adapter a(kAddress, kVersion, LineSettings{});
    a.state().echoOn = echo;
    a.state().responseOn = resp;
    return a;
}

// Feeds everything, across the stops a line-settings change makes.
std::string run(Adapter& a, const std::string& input, int64_t now = 0) {
    std::string out;
    for (size_t pos = 0; pos < input.size();) {
        Adapter::FeedResult r = a.feed(input.substr(pos), now);
        EXPECT_GT(r.consumed, 0u);
        out += r.output;
        pos += r.consumed;
    }
    return out;
}

// Every answer in the four echo and response modes: echo puts the command
// line first, response mode off drops the OK but never an ERROR. A query
// after a setting reports what the setting stored.
TEST(AdapterAnswers, ShapeInEveryEchoAndResponseMode) {
    const char* kStatus = nullptr;  // no text line, just the status
    const char* kError = "ERROR";
    struct Row {
        const char* before;
        const char* command;
        const char* text;
    };
    const Row rows[] = {
        {"", "AT", kStatus},        {"", "AT+NAME=x", kStatus},         {"", "AT+ROLE?", "ROLES"},
        {"", "AT+ADDR?", kAddress}, {"", "AT+NAME?", "Serial Adapter"}, {"", "AT+PIN?", "8642"},
        {"", "AT+DCOV?", "DCOV+"},  {"", "AT+ESC?", "ESC+"},            {"", "AT+SLEEP?", "SLEEP-"},
        {"", "AT+ACON?", "ACON+"},  {"", "AT+RCFG?", "RCFG+"},          {"", "AT+VER", kVersion},
        {"", "AT+BAUD?", "BAUD14"}, {"", "AT+STOP?", "STOP1"},          {"", "AT+PAR?", "PAR0"},
        {"", "AT+FLOW?", "FLOW+"},  {"", "AT+BOND?", "0000-00-000000"},
        {"AT+ROLEM", "AT+ROLE?", "ROLEM"},     {"AT+NAME=My Dev", "AT+NAME?", "My Dev"},
        {"AT+NAME=", "AT+NAME?", ""},          {"AT+PIN=1234", "AT+PIN?", "1234"},
        {"AT+PIN-", "AT+PIN?", "NULL"},        {"AT+PIN-\rAT+PIN=99", "AT+PIN?", "99"},
        {"AT+DCOV-", "AT+DCOV?", "DCOV-"},     {"AT+ESC-", "AT+ESC?", "ESC-"},
        {"AT+SLEEP+", "AT+SLEEP?", "SLEEP+"},  {"AT+ACON-", "AT+ACON?", "ACON-"},
        {"AT+RCFG-", "AT+RCFG?", "RCFG-"},     {"AT+BAUD17", "AT+BAUD?", "BAUD17"},
        {"AT+STOP2", "AT+STOP?", "STOP2"},     {"AT+PAR1", "AT+PAR?", "PAR1"},
        {"AT+PAR2", "AT+PAR?", "PAR2"},        {"AT+FLOW-", "AT+FLOW?", "FLOW-"},
        {"AT+BOND=00126F34AB56", "AT+BOND?", "0012-6F-34AB56"},
        {"AT+BOND=00126F34AB56\rAT+BOND-", "AT+BOND?", "0000-00-000000"},
        {"", "AT+FOO", kError},   {"", "AT+BAUD20", kError}, {"", "AT+BAUD1x", kError}, {"", "AT+BAUD1", kError},
        {"", "AT+PIN=", kError},  {"", "AT+ADDR", kError},   {"", "AT+NAME", kError},   {"", "at", kError},
        {"", "AT+ECHO*", kError}, {"", "AT+BOND=", kError},  {"", "AT+DROP", kError},   {"", "AT+CONN", kError},
    };
    for (bool echo : {true, false}) {
        for (bool resp : {true, false}) {
            for (const Row& row : rows) {
                SCOPED_TRACE(std::string(row.command) + " after " + row.before + (echo ? " echo" : "") +
                             (resp ? " resp" : ""));
                Adapter a = makeAdapter(echo, resp);
                run(a, *row.before ? row.before + std::string("\r") : "");
                const std::string command = std::string(row.command) + "\r";
                std::string answer = "\r\nERROR\r\n";
                if (row.text == kStatus)
                    answer = resp ? "\r\nOK\r\n" : "\r\n";
                else if (row.text != kError)
                    answer = "\r\n" + std::string(row.text) + "\r\n" + (resp ? "OK\r\n" : "");
                EXPECT_EQ(run(a, command), (echo ? command : "") + answer);
            }
        }
    }
    Adapter a = makeAdapter(true, true);
    a.errorMode = true;  // the control channel's "error on" refuses even AT
    EXPECT_EQ(run(a, "AT\r"), "AT\r\r\nERROR\r\n");
    a.errorMode = false;
    run(a, "AT+BAUD10\rAT+BAUD19\r");
    EXPECT_EQ(a.state().line.baud, 19200);  // an unknown code means the default rate
}

TEST(AdapterAnswers, ModeChangesShapeTheirOwnAnswer) {
    Adapter a = makeAdapter(true, true);
    // Echo is decided as the command arrives: ECHO- is echoed, ECHO+ is not.
    EXPECT_EQ(run(a, "AT+ECHO-\r"), "AT+ECHO-\r\r\nOK\r\n");
    EXPECT_EQ(run(a, "AT+ECHO?\r"), "\r\nECHO-\r\nOK\r\n");
    EXPECT_EQ(run(a, "AT+ECHO+\r"), "\r\nOK\r\n");
    a.state().echoOn = false;
    // Response mode off takes effect for its own answer, and back on too.
    EXPECT_EQ(run(a, "AT+RESP-\r"), "\r\n");
    EXPECT_EQ(run(a, "AT+RESP?\r"), "\r\nRESP-\r\n");
    EXPECT_EQ(run(a, "AT+RESP+\r"), "\r\nOK\r\n");
    // Entering and leaving data mode answer a full line without OK mode.
    run(a, "AT+RESP-\r");
    EXPECT_EQ(run(a, "AT+AUTO\r"), "\r\nOK\r\n");
    EXPECT_EQ(run(a, "+++"), "\r\nOK\r\n");
}

TEST(AdapterReset, RestoresFactoryValuesAfterAnsweringInTheOldMode) {
    Adapter a(kAddress, kVersion, LineSettings{115200, Parity::Even, 2, false});
    run(a, "AT+BOND=00126F34AB56\rAT+ECHO-\rAT+NAME=Other\rAT+PIN-\rAT+ROLEM\rAT+DCOV-\rAT+ESC-\r"
           "AT+SLEEP+\rAT+ACON-\rAT+RCFG-\rAT+RESP-\r");
    a.state().connected = true;

    Adapter::FeedResult r = a.feed("AT+RESET\rAT\r", 0);
    EXPECT_EQ(r.output, "\r\n");  // response mode was off when it came in
    EXPECT_EQ(r.consumed, 9u);    // the rest meets the new line settings

    // Every query answers as on an adapter fresh from the factory.
    const std::string queries = "AT+RESP?\rAT+ECHO?\rAT+ROLE?\rAT+NAME?\rAT+PIN?\rAT+DCOV?\rAT+ESC?\r"
                                "AT+SLEEP?\rAT+ACON?\rAT+RCFG?\rAT+BAUD?\rAT+STOP?\rAT+PAR?\rAT+FLOW?\r"
                                "AT+BOND?\rAT+ADDR?\rAT+VER\r";
    Adapter fresh = makeAdapter(true, true);
    EXPECT_EQ(run(a, queries), run(fresh, queries));
    EXPECT_EQ(a.state().line, LineSettings{});
    EXPECT_FALSE(a.state().connected || a.state().dataMode);
}

TEST(AdapterLine, FeedStopsAfterEachLineSettingChange) {
    for (const char* change : {"AT+BAUD13\r", "AT+STOP2\r", "AT+PAR1\r", "AT+FLOW-\r"}) {
        SCOPED_TRACE(change);
        Adapter a = makeAdapter();
        Adapter::FeedResult r = a.feed(std::string(change) + "AT\r", 0);
        EXPECT_EQ(r.output, "\r\nOK\r\n");
        EXPECT_EQ(r.consumed, std::string(change).size());
    }
    // A command that leaves the line alone does not stop it.
    Adapter a = makeAdapter();
    EXPECT_EQ(a.feed("AT+BAUD14\rAT\r", 0).consumed, 13u);
}

TEST(AdapterLine, OverlongCommandIsBoundedAndRefused) {
    Adapter a = makeAdapter(true, true);
    std::string longName = "AT+NAME=" + std::string(500, 'x');
    EXPECT_EQ(run(a, longName + "\r"), longName.substr(0, kMaxCommandLine) + "\r\r\nERROR\r\n");
    ASSERT_EQ(a.executed().size(), 1u);
    EXPECT_EQ(a.executed()[0].size(), kMaxCommandLine + 1);
    EXPECT_EQ(a.state().name, "Serial Adapter");
    EXPECT_EQ(run(a, "AT\r"), "AT\r\r\nOK\r\n");
}

TEST(AdapterDataMode, EscapeSequenceDataBytesAndTheCommandLog) {
    Adapter a = makeAdapter(true, true);
    // Empty lines and a LF starting a line are no commands; split ones join.
    run(a, "\rAT\r\nAT+VER\r");
    EXPECT_EQ(run(a, "AT+AU"), "");
    EXPECT_EQ(run(a, "TO\r"), "AT+AUTO\r\r\nOK\r\n");
    ASSERT_TRUE(a.state().dataMode);
    // Data is not echoed or answered; '+' that do not make three are data.
    EXPECT_EQ(run(a, "AT\r++x"), "");
    // The escape may arrive byte by byte.
    EXPECT_EQ(run(a, "+"), "");
    EXPECT_EQ(run(a, "+"), "");
    EXPECT_EQ(run(a, "+"), "\r\nOK\r\n");
    EXPECT_FALSE(a.state().dataMode);
    EXPECT_EQ(a.dataReceived(), "AT\r++x");
    EXPECT_EQ(a.executed(), (std::vector<std::string>{"AT\r", "AT+VER\r", "AT+AUTO\r", "+++"}));
    // In command mode "+++" is answered without echo.
    EXPECT_EQ(run(a, "+++"), "\r\nOK\r\n");

    // Escape mode off: "+++" is data.
    run(a, "AT+ESC-\rAT+AUTO\r");
    EXPECT_EQ(run(a, "+++"), "");
    EXPECT_TRUE(a.state().dataMode);

    // The data log is capped, not grown without limit.
    run(a, std::string((1 << 20) + 100, 'd'));
    EXPECT_EQ(a.dataReceived().size(), static_cast<size_t>(1 << 20));

}

// Connections as scripts: each step feeds bytes at a time, lets the events
// due by then out and compares everything the adapter sent. Reports come
// after the event delay (500 ms), addresses in the adapter's dash form.
TEST(AdapterConnection, ConnectDataModeEscapeDropAndReports) {
    struct Step {
        const char* input;
        int64_t at;
        const char* output;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        bool connected, dataMode;
        const char* data;
    };
    const char* kConnect = "\r\nCONNECT 0012-6F-34AB56\r\n";
    const char* kDisconnect = "\r\nDISCONNECT 0012-6F-34AB56\r\n";
    const Row rows[] = {
        {"connect, data, escape, drop",
         {{"AT+CONN=00126f34ab56\r", 0, "\r\nOK\r\n"}, {"", 499, ""}, {"", 500, kConnect},
          {"AT+VER\r+x", 600, ""}, {"+++", 700, "\r\nOK\r\n"}, {"AT+DROP\r", 800, "\r\nOK\r\n"},
          {"", 1300, kDisconnect}},
         false, false, "AT+VER\r+x"},
        {"escape then back to data mode",
         {{"AT+CONN=0012-6F-34AB56\r", 0, "\r\nOK\r\n"}, {"", 500, kConnect}, {"+++", 600, "\r\nOK\r\n"},
          {"AT+AUTO\r", 700, "\r\nOK\r\n"}, {"z", 800, ""}},
         true, true, "z"},
        {"refused address",
         {{"AT+CONN=0012-6F-BADBAD\r", 0, "\r\nOK\r\n"}, {"", 500, "\r\nCONNECT Attempt Fail!!\r\n"}},
         false, false, ""},
        {"second connect and drop in command mode refused",
         {{"AT+DROP\r", 0, "\r\nERROR\r\n"}, {"AT+CONN=00126F34AB56\r", 0, "\r\nOK\r\n"}, {"", 500, kConnect},
          {"+++AT+CONN=00126F000001\r", 600, "\r\nOK\r\n\r\nERROR\r\n"}},
         true, false, ""},
        {"reset drops the connection without a report",
         {{"AT+CONN=00126F34AB56\r", 0, "\r\nOK\r\n"}, {"", 500, kConnect}, {"+++AT+RESET\r", 600, "\r\nOK\r\n\r\nOK\r\n"},
          {"", 5000, ""}},
         false, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Adapter a = makeAdapter();
        a.refusedAddresses.push_back("0012-6f-badbad");
        for (const Step& step : row.steps) {
            SCOPED_TRACE(step.input);
            EXPECT_EQ(run(a, step.input, step.at) + a.poll(step.at), step.output);
        }
        EXPECT_EQ(a.state().connected, row.connected);
        EXPECT_EQ(a.state().dataMode, row.dataMode);
        EXPECT_EQ(a.dataReceived(), row.data);
    }
    // Without a refusal the global outcome decides; the remote side may
    // also open and close the link.
    Adapter a = makeAdapter();
    a.connectOutcome = ConnectOutcome::Nothing;
    EXPECT_EQ(run(a, "AT+CONN=00126F34AB56\r") + a.poll(10000), "\r\nOK\r\n");
    EXPECT_EQ(a.connect("0012-6F-000001"), "\r\nCONNECT 0012-6F-000001\r\n");
    EXPECT_EQ(a.disconnect(), "\r\nDISCONNECT 0012-6F-000001\r\n");
    EXPECT_FALSE(a.state().connected || a.state().dataMode);
}

// An inquiry as a script: results paced by the event delay, each a CR LF
// and its text without a line end; the end line; a cancel mid-way; a report
// arriving meanwhile does not stop it.
TEST(AdapterInquiry, ResultsPacedEndCancelAndReportsMeanwhile) {
    const std::string d1 = inquiryResultText("00126f000001", "Printer");
    EXPECT_EQ(d1, "Printer" + std::string(27, ' ') + "0012-6F-000001");
    EXPECT_EQ(d1.substr(34, 14), "0012-6F-000001");
    EXPECT_EQ(inquiryResultText("0012-6F-000002", std::string(40, 'n')).substr(33), " 0012-6F-000002");
    struct Row {
        const char* name;
        bool resp;
        std::vector<std::tuple<std::string, int64_t, std::string>> steps;  // input, at, output
        bool active;
    };
    const std::string r1 = "\r\n" + d1, r2 = "\r\n" + inquiryResultText("00126F000002", "Phone");
    const Row rows[] = {
        {"refused unless master without auto-connect", true,
         {{"AT+FIND?\r", 0, "\r\nERROR\r\n"}, {"AT+ROLEM\r", 0, "\r\nOK\r\n"}, {"AT+FIND?\r", 0, "\r\nERROR\r\n"}},
         false},
        {"to the end", true,
         {{"AT+ROLEM\rAT+ACON-\rAT+FIND?\r", 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 499, ""}, {"", 500, r1},
          {"", 1000, r2}, {"", 1500, "\r\nInquiry End\r\n"}, {"AT+FIND-\r", 1600, "\r\nOK\r\n"}},
         false},
        {"cancelled", true,
         {{"AT+ROLEM\rAT+ACON-\rAT+FIND?\r", 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 500, r1},
          {"AT+FIND-\r", 600, "\r\nInquiry Cancelled\r\nOK\r\n"}, {"", 5000, ""}},
         false},
        {"cancelled without response mode", false,
         {{"AT+ROLEM\rAT+ACON-\rAT+FIND?\r", 0, "\r\n\r\n\r\n"}, {"AT+FIND-\r", 100, "\r\nInquiry Cancelled\r\n"}},
         false},
        {"a connection meanwhile", true,
         {{"AT+ROLEM\rAT+ACON-\rAT+FIND?\r", 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 500, r1}},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Adapter a = makeAdapter(false, row.resp);
        a.inquiryResults = {d1, inquiryResultText("00126F000002", "Phone")};
        for (const auto& step : row.steps) {
            SCOPED_TRACE(std::get<0>(step));
            EXPECT_EQ(run(a, std::get<0>(step), std::get<1>(step)) + a.poll(std::get<1>(step)), std::get<2>(step));
        }
        EXPECT_EQ(a.state().inquiryActive, row.active);
        if (!row.active) continue;
        // The remote side connects mid-inquiry: the report, then the inquiry goes on.
        EXPECT_EQ(a.connect("0012-6F-34AB56"), "\r\nCONNECT 0012-6F-34AB56\r\n");
        EXPECT_EQ(a.poll(1000) + a.poll(1500), r2 + "\r\nInquiry End\r\n");
    }
}

}  // namespace
}  // namespace sim
