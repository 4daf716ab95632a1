// The adapter model: the answer shapes the tool's framing relies on, what
// a setting leaves behind, reset, the stop after a line-settings change and
// data mode.
#include <gtest/gtest.h>

#include <optional>

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

// The adapter as scripts: each step feeds its bytes at a time (ms), '|'
// marking where the adapter stopped for new line settings, then lets out
// the events due by then ("@connect ADDR" and "@disconnect" are the remote
// side). Everything the adapter sends is compared (unless null), then what
// it is left in. Reports come after the event delay (500 ms), addresses in
// the adapter's dash form.
struct Step {
    std::string input;
    int64_t at;
    std::optional<std::string> output;
};
const auto kAny = std::nullopt;

std::string step(Adapter& a, const Step& s)
{
    if (s.input.rfind("@connect ", 0) == 0)
        return a.connect(s.input.substr(9)) + a.poll(s.at);
    if (s.input == "@disconnect")
        return a.disconnect() + a.poll(s.at);
    std::string out;
    for (size_t pos = 0; pos < s.input.size();) {
        Adapter::FeedResult r = a.feed(s.input.substr(pos), s.at);
        if (r.consumed == 0)
            return out + "<stuck>";
        out += r.output;
        pos += r.consumed;
        if (pos < s.input.size())
            out += '|';
    }
    return out + a.poll(s.at);
}

std::string summary(const Adapter& a)
{
    const AdapterState& s = a.state();
    std::string text;
    for (auto [on, what] : {std::pair{s.connected, "connected "}, {s.dataMode, "data mode "},
                            {s.remoteAccess, "remote access "}, {s.inquiryActive, "inquiring "}})
        text += on ? what : "";
    if (s.remoteBaudCode)
        text += "remote baud " + std::to_string(s.remoteBaudCode) + " ";
    return text + "data:" + a.dataReceived();
}

TEST(AdapterScripts, ModesLineStopsDataModeConnectionsRemoteAndInquiry)
{
    const char* kOk = "\r\nOK\r\n";
    const char* kConnect = "\r\nCONNECT 0012-6F-34AB56\r\n";
    const char* kDisconnect = "\r\nDISCONNECT 0012-6F-34AB56\r\n";
    const std::string hs(8, '\xAA'), baud("\x01\x04"), exitRequest("\x00\x80", 2);
    const std::string d1 = inquiryResultText("00126f000001", "Printer");
    const std::string r1 = "\r\n" + d1, r2 = "\r\n" + inquiryResultText("00126F000002", "Phone");
    const std::string find = "AT+ROLEM\rAT+ACON-\rAT+FIND?\r", longName = "AT+NAME=" + std::string(500, 'x');
    const std::string bounded = longName.substr(0, kMaxCommandLine) + "\r\r\nERROR\r\n";
    const std::string sent[] = {"\xAA\xAA", std::string("\x01\x00", 2), std::string("\x00\x00", 2)};
    struct Row {
        const char* name;
        bool echo, resp;
        void (*setup)(Adapter&);
        std::vector<Step> steps;
        std::optional<std::string> after;
    };
    const Row rows[] = {
        // The control channel's "error on" refuses even AT.
        {"error mode", true, true, [](Adapter& a) { a.errorMode = true; },
         {{"AT\r", 0, "AT\r\r\nERROR\r\n"}}, kAny},
        // Echo is decided as the command arrives: ECHO- is echoed, ECHO+ is not.
        {"echo switched", true, true, nullptr,
         {{"AT+ECHO-\r", 0, "AT+ECHO-\r\r\nOK\r\n"}, {"AT+ECHO?\r", 0, "\r\nECHO-\r\nOK\r\n"}, {"AT+ECHO+\r", 0, kOk}},
         kAny},
        // Response mode off takes effect for its own answer, and back on too;
        // entering and leaving data mode answer a full line without it.
        {"response mode switched", false, true, nullptr,
         {{"AT+RESP-\r", 0, "\r\n"}, {"AT+RESP?\r", 0, "\r\nRESP-\r\n"}, {"AT+RESP+\r", 0, kOk},
          {"AT+RESP-\rAT+AUTO\r", 0, "\r\n\r\nOK\r\n"}, {"+++", 0, kOk}},
         "data:"},
        // Feeding stops after each line-settings change, not after a command
        // that leaves the line alone.
        {"line settings", false, true, nullptr,
         {{"AT+BAUD14\rAT\r", 0, "\r\nOK\r\n\r\nOK\r\n"}, {"AT+BAUD13\rAT\r", 0, "\r\nOK\r\n|\r\nOK\r\n"},
          {"AT+STOP2\rAT\r", 0, "\r\nOK\r\n|\r\nOK\r\n"}, {"AT+PAR1\rAT\r", 0, "\r\nOK\r\n|\r\nOK\r\n"},
          {"AT+FLOW-\rAT\r", 0, "\r\nOK\r\n|\r\nOK\r\n"}},
         kAny},
        // An over-long line is bounded, refused and stores nothing.
        {"over-long command", true, true, nullptr,
         {{longName + "\r", 0, bounded}, {"AT+NAME?\r", 0, "AT+NAME?\r\r\nSerial Adapter\r\nOK\r\n"}}, kAny},
        // Empty lines and a LF starting a line are no commands; split ones
        // join. Data is not echoed or answered; '+' that do not make three
        // are data; the escape may come byte by byte; in command mode "+++"
        // is answered without echo; with escape mode off it is data.
        {"data mode", true, true, nullptr,
         {{"\rAT\r\nAT+VER\r", 0, kAny}, {"AT+AU", 0, ""}, {"TO\r", 0, "AT+AUTO\r\r\nOK\r\n"}, {"AT\r++x", 0, ""},
          {"+", 0, ""}, {"+", 0, ""}, {"+", 0, kOk}, {"+++", 0, kOk}, {"AT+ESC-\rAT+AUTO\r", 0, kAny},
          {"+++", 0, ""}},
         "data mode data:AT\r++x+++"},
        {"connect, data, escape, drop", false, true, nullptr,
         {{"AT+CONN=00126f34ab56\r", 0, kOk}, {"", 499, ""}, {"", 500, kConnect}, {"AT+VER\r+x", 600, ""},
          {"+++", 700, kOk}, {"AT+DROP\r", 800, kOk}, {"", 1300, kDisconnect}},
         "data:AT+VER\r+x"},
        {"escape then back to data mode", false, true, nullptr,
         {{"AT+CONN=0012-6F-34AB56\r", 0, kOk}, {"", 500, kConnect}, {"+++", 600, kOk}, {"AT+AUTO\r", 700, kOk},
          {"z", 800, ""}},
         "connected data mode data:z"},
        {"refused address", false, true, [](Adapter& a) { a.refusedAddresses.push_back("0012-6f-badbad"); },
         {{"AT+CONN=0012-6F-BADBAD\r", 0, kOk}, {"", 500, "\r\nCONNECT Attempt Fail!!\r\n"}}, "data:"},
        {"second connect and drop in command mode refused", false, true, nullptr,
         {{"AT+DROP\r", 0, "\r\nERROR\r\n"}, {"AT+CONN=00126F34AB56\r", 0, kOk}, {"", 500, kConnect},
          {"+++AT+CONN=00126F000001\r", 600, "\r\nOK\r\n\r\nERROR\r\n"}},
         "connected data:"},
        {"reset drops the connection without a report", false, true, nullptr,
         {{"AT+CONN=00126F34AB56\r", 0, kOk}, {"", 500, kConnect}, {"+++AT+RESET\r", 600, "\r\nOK\r\n\r\nOK\r\n"},
          {"", 5000, ""}},
         "data:"},
        // Without a refusal the global outcome decides; the remote side may
        // also open and close the link.
        {"no outcome, then the remote side", false, true,
         [](Adapter& a) { a.connectOutcome = ConnectOutcome::Nothing; },
         {{"AT+CONN=00126F34AB56\r", 10000, kOk}, {"@connect 0012-6F-000001", 10000, "\r\nCONNECT 0012-6F-000001\r\n"},
          {"@disconnect", 10000, "\r\nDISCONNECT 0012-6F-000001\r\n"}},
         "data:"},
        // The remote adapter behind a connection: bytes carried in data mode
        // and what comes back over the link. Without a connection nothing
        // carries them; a dropped link ends remote access mode.
        {"handshake, baud, exit", false, true, nullptr,
         {{"@connect 0012-6F-34AB56", 0, kAny}, {baud, 0, ""}, {hs, 0, sent[0]},
          {baud, 0, sent[1]}, {exitRequest, 0, sent[2]}, {baud, 0, ""}},
         "connected data mode remote baud 4 data:" + baud + hs + baud + exitRequest + baud},
        {"unknown request refused", false, true, nullptr,
         {{"@connect 0012-6F-34AB56", 0, kAny}, {"\xAA\xAAxy" + hs, 0, "\xAA\xAA"}, {"\x01\x09", 0, "\x01\x01"}},
         "connected data mode remote access data:\xAA\xAAxy" + hs + "\x01\x09"},
        {"wrong reply", false, true, [](Adapter& a) { a.remoteReply = RemoteReply::Wrong; },
         {{"@connect 0012-6F-34AB56", 0, kAny}, {hs, 0, "\xAA\x55"}, {baud, 0, ""}},
         "connected data mode data:" + hs + baud},
        {"silent", false, true, [](Adapter& a) { a.remoteReply = RemoteReply::Silent; },
         {{"@connect 0012-6F-34AB56", 0, kAny}, {hs + baud, 0, ""}, {"", 1000, ""}},
         "connected data mode data:" + hs + baud},
        {"split over two writes", false, true, [](Adapter& a) { a.remoteSplit = true; },
         {{"@connect 0012-6F-34AB56", 0, kAny}, {hs, 0, "\xAA"}, {"", 99, ""}, {"", 100, "\xAA"},
          {baud.substr(0, 1), 200, ""}, {baud.substr(1), 300, "\x01"}, {"", 400, sent[1].substr(1)}},
         "connected data mode remote access remote baud 4 data:" + hs + baud},
        {"no connection, then a dropped link", false, true, nullptr,
         {{"AT+AUTO\r" + hs, 0, kOk}, {"@connect 0012-6F-34AB56", 0, kAny}, {hs, 0, "\xAA\xAA"},
          {"@disconnect", 0, kAny}},
         "data:" + hs + hs},
        // An inquiry: results paced by the event delay, each a CR LF and its
        // text without a line end; the end line; a cancel mid-way; a report
        // arriving meanwhile does not stop it.
        {"inquiry refused unless master without auto-connect", false, true, nullptr,
         {{"AT+FIND?\r", 0, "\r\nERROR\r\n"}, {"AT+ROLEM\r", 0, kOk}, {"AT+FIND?\r", 0, "\r\nERROR\r\n"}}, "data:"},
        {"inquiry to the end", false, true, nullptr,
         {{find, 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 499, ""}, {"", 500, r1}, {"", 1000, r2},
          {"", 1500, "\r\nInquiry End\r\n"}, {"AT+FIND-\r", 1600, kOk}},
         "data:"},
        {"inquiry cancelled", false, true, nullptr,
         {{find, 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 500, r1},
          {"AT+FIND-\r", 600, "\r\nInquiry Cancelled\r\nOK\r\n"}, {"", 5000, ""}},
         "data:"},
        {"inquiry cancelled without response mode", false, false, nullptr,
         {{find, 0, "\r\n\r\n\r\n"}, {"AT+FIND-\r", 100, "\r\nInquiry Cancelled\r\n"}}, "data:"},
        {"a connection during an inquiry", false, true, nullptr,
         {{find, 0, "\r\nOK\r\n\r\nOK\r\n\r\nOK\r\n"}, {"", 500, r1}, {"@connect 0012-6F-34AB56", 500, kConnect},
          {"", 1000, r2}, {"", 1500, "\r\nInquiry End\r\n"}},
         "connected data mode data:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Adapter a = makeAdapter(row.echo, row.resp);
        a.inquiryResults = {d1, inquiryResultText("00126F000002", "Phone")};
        if (row.setup)
            row.setup(a);
        for (const Step& s : row.steps) {
            SCOPED_TRACE(s.input.substr(0, 40) + " at " + std::to_string(s.at));
            std::string out = step(a, s);
            if (s.output) {
                EXPECT_EQ(out, s.output);
            }
        }
        if (row.after) {
            EXPECT_EQ(summary(a), *row.after);
        }
    }

    // An unknown baud code means the default rate; the data log is capped.
    Adapter a = makeAdapter();
    step(a, {"AT+BAUD10\rAT+BAUD19\r", 0, kAny});
    EXPECT_EQ(a.state().line.baud, 19200);
    step(a, {"AT+AUTO\r" + std::string((1 << 20) + 100, 'd'), 0, kAny});
    EXPECT_EQ(a.dataReceived().size(), static_cast<size_t>(1 << 20));
    // A result's address stands at a fixed column, a long name cut short.
    EXPECT_EQ(d1, "Printer" + std::string(27, ' ') + "0012-6F-000001");
    EXPECT_EQ(inquiryResultText("0012-6F-000002", std::string(40, 'n')).substr(33), " 0012-6F-000002");
}

}  // namespace
}  // namespace sim
