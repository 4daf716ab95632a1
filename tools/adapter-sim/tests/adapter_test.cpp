// The adapter model as scripts, in the answer formats the tool relies on.
// Each step feeds its bytes at a time (ms), '|' marking where the adapter
// stopped for new line settings, then lets out the events due by then. What
// the adapter sends is compared, then what it took in data mode. Reports
// come after the event delay (500 ms), addresses in the adapter's dash form.
#include <gtest/gtest.h>

#include "adapter.h"

namespace sim {
namespace {

struct Step {
    std::string input;
    int64_t at;
    std::string output;
};

std::string step(Adapter& a, const Step& s) {
    std::string out;
    for (size_t pos = 0; pos < s.input.size();) {
        Adapter::FeedResult r = a.feed(s.input.substr(pos), s.at);
        if (r.consumed == 0) return out + "<stuck>";
        out += r.output;
        pos += r.consumed;
        if (pos < s.input.size()) out += '|';
    }
    return out + a.poll(s.at);
}

TEST(AdapterScripts, AnswersModesLineStopsDataModeConnectionsRemoteAndInquiry) {
    const std::string ok = "\r\nOK\r\n", error = "\r\nERROR\r\n";
    const char* kConnect = "\r\nCONNECT 0012-6F-34AB56\r\n";
    const std::string hs(8, '\xAA'), baud("\x01\x04"), exitRequest("\x00\x80", 2);
    const std::string r1 = "\r\n" + inquiryResultText("00126f000001", "Printer");
    const std::string r2 = "\r\n" + inquiryResultText("00126F000002", "Phone");
    const std::string find = "AT+ROLEM\rAT+ACON-\rAT+FIND?\r", longName = "AT+NAME=" + std::string(500, 'x');
    struct Row {
        const char* name;
        void (*setup)(Adapter&);
        std::vector<Step> steps;
        std::string data = "";
    };
    // clang-format off
    const Row rows[] = {
        // A text line then OK, a status alone, ERROR for what the adapter does
        // not take; a query reports what a setting stored.
        {"answers", nullptr,
         {{"AT+VER\r", 0, "\r\nRZ310 F/W V1.0" + ok}, {"AT+NAME=My Dev\rAT+NAME?\r", 0, ok + "\r\nMy Dev" + ok},
          {"AT+PIN-\rAT+PIN?\r", 0, ok + "\r\nNULL" + ok},
          {"AT+BOND=00126F34AB56\rAT+BOND?\r", 0, ok + "\r\n0012-6F-34AB56" + ok},
          {"AT+BAUD20\rat\rAT+PIN=\rAT+DROP\r", 0, error + error + error + error}}},
        // Echo puts the command line first, an over-long one bounded; response
        // mode off drops the OK but never an ERROR. Both are decided as the
        // command arrives.
        {"modes", nullptr,
         {{"AT+ECHO+\r", 0, ok}, {longName + "\r", 0, longName.substr(0, kMaxCommandLine) + "\r" + error},
          {"AT+ECHO-\r", 0, "AT+ECHO-\r" + ok}, {"AT+RESP-\r", 0, "\r\n"}, {"AT+ADDR?\r", 0, "\r\n0012-6F-123456\r\n"},
          {"AT\r", 0, "\r\n"}, {"AT+FOO\r", 0, error}}},
        // A line-settings change is answered at the old settings; so is a
        // reset, in the old mode, before the factory's echo and response mode.
        {"line settings", nullptr,
         {{"AT+BAUD13\rAT\r", 0, ok + "|" + ok}, {"AT+RESP-\rAT+RESET\rAT\r", 0, "\r\n\r\n|AT\r" + ok}}},
        {"connect, data, escape, drop", nullptr,
         {{"AT+CONN=00126f34ab56\r", 0, ok}, {"", 499, ""}, {"", 500, kConnect}, {"AT+VER\r+x", 600, ""},
          {"+++", 700, ok}, {"AT+DROP\r", 800, ok}, {"", 1300, "\r\nDISCONNECT 0012-6F-34AB56\r\n"}},
         "AT+VER\r+x"},
        {"refused address", [](Adapter& a) { a.refusedAddresses.push_back("0012-6f-badbad"); },
         {{"AT+CONN=0012-6F-BADBAD\r", 0, ok}, {"", 500, "\r\nCONNECT Attempt Fail!!\r\n"}}},
        // The remote adapter behind a connection answers the handshake, a baud
        // change and the exit request.
        {"handshake, baud, exit", nullptr,
         {{"AT+CONN=00126F34AB56\r", 0, ok}, {"", 500, kConnect}, {hs, 600, "\xAA\xAA"},
          {baud, 600, std::string("\x01\x00", 2)}, {exitRequest, 600, std::string("\x00\x00", 2)}},
         hs + baud + exitRequest},
        // Results paced by the event delay, each a CR LF and its text without
        // a line end; then the end line, or the cancel's.
        {"inquiry to the end", nullptr,
         {{find, 0, ok + ok + ok}, {"", 499, ""}, {"", 500, r1}, {"", 1000, r2}, {"", 1500, "\r\nInquiry End\r\n"}}},
        {"inquiry cancelled", nullptr,
         {{find, 0, ok + ok + ok}, {"", 500, r1}, {"AT+FIND-\r", 600, "\r\nInquiry Cancelled" + ok}, {"", 5000, ""}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Adapter a("0012-6F-123456", "RZ310 F/W V1.0", LineSettings{});
        a.state().echoOn = false;
        a.state().responseOn = true;
        a.inquiryResults = {r1.substr(2), r2.substr(2)};
        if (row.setup) row.setup(a);
        for (const Step& s : row.steps) {
            SCOPED_TRACE(s.input.substr(0, 40) + " at " + std::to_string(s.at));
            EXPECT_EQ(step(a, s), s.output);
        }
        EXPECT_EQ(a.dataReceived(), row.data);
    }
    // A result's address stands at a fixed column, a long name cut short.
    EXPECT_EQ(r1, "\r\nPrinter" + std::string(27, ' ') + "0012-6F-000001");
    EXPECT_EQ(inquiryResultText("0012-6F-000002", std::string(40, 'n')).substr(33), " 0012-6F-000002");
}

}  // namespace
}  // namespace sim
