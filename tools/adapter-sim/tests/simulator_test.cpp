// The simulator around the adapter: the line-settings gate and the control
// protocol the tests script it with.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "escape.h"
#include "simulator.h"

namespace sim {
namespace {

const Tty kTty{19200, 1, true};  // what the adapter listens at after power-on

std::string drain(Simulator& s) {
    std::string out;
    for (const Chunk& c : s.takeOutput()) out += c.bytes;
    return out;
}

std::map<std::string, std::string> stateOf(Simulator& s) {
    std::string reply = s.control("state", kTty);
    EXPECT_EQ(reply.substr(0, 3), "OK ");
    std::map<std::string, std::string> m;
    std::istringstream in(reply.substr(3));
    for (std::string kv; in >> kv;) {
        size_t eq = kv.find('=');
        EXPECT_TRUE(unescape(kv.substr(eq + 1), m[kv.substr(0, eq)])) << kv;
    }
    return m;
}

Simulator quietSimulator() {
    Options o;
    o.pace = false;
    Simulator s(o);
    s.control("set echo off", kTty);
    return s;
}

TEST(SimulatorGate, AnswersOnlyAtMatchingBaudStopAndFlow) {
    const Tty mismatched[] = {{9600, 1, true}, {19200, 2, true}, {19200, 1, false}, {0, 1, true}};
    for (const Tty& tty : mismatched) {
        SCOPED_TRACE(std::to_string(tty.baud) + "/" + std::to_string(tty.stopBits) + "/" + std::to_string(tty.crtscts));
        Simulator s = quietSimulator();
        s.input("AT+NAME=x\r", tty, 0);
        EXPECT_EQ(drain(s), "");
        EXPECT_EQ(s.control("received", kTty), "OK");
        EXPECT_EQ(stateOf(s)["garbled"], "1");
    }
    // Garbled bytes spoil the half-received command.
    Simulator s = quietSimulator();
    s.input("AT+NA", kTty, 0);
    s.input("xx", Tty{9600, 1, true}, 0);
    s.input("ME=y\r", kTty, 0);
    EXPECT_EQ(drain(s), "\r\nERROR\r\n");
    EXPECT_EQ(s.control("received", kTty), "OK ME=y\\r");
    // Parity never reaches a pty, so an adapter on odd parity still answers.
    ASSERT_EQ(s.control("line 19200 odd 1 on", kTty), "OK");
    s.input("AT\r", kTty, 0);
    EXPECT_EQ(drain(s), "\r\nOK\r\n");
}

TEST(SimulatorGate, LineChangeAnsweredAtOldSettingsThenEffectiveAndResetRestoresThem) {
    Simulator s{Options{}};  // paced, so each chunk carries its byte time
    s.control("set echo off", kTty);
    s.input("AT+BAUD17\rAT\r", kTty, 0);
    auto chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);  // the trailing AT came at the old rate
    EXPECT_EQ(chunks[0].bytes, "\r\nOK\r\n");
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 10.0 / 19200);

    s.input("AT\r", kTty, 0);
    EXPECT_EQ(drain(s), "");
    s.input("AT\r", Tty{115200, 1, true}, 0);
    chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 10.0 / 115200);
    EXPECT_EQ(s.control("received", kTty), "OK AT+BAUD17\\r AT\\r");

    // Reset: answered at 115200 with parity and two stop bits, then back at
    // 19200 8N1 with flow control.
    s.control("line 115200 even 2 off", kTty);
    s.input("AT+RESET\r", Tty{115200, 2, false}, 0);
    chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 12.0 / 115200);
    s.input("AT\r", kTty, 0);
    EXPECT_EQ(drain(s), "AT\r\r\nOK\r\n");  // echo is back on as well
    ASSERT_EQ(s.control("pace off", kTty), "OK");
    s.input("AT\r", kTty, 0);
    EXPECT_EQ(s.takeOutput().front().secondsPerByte, 0.0);
}

TEST(SimulatorControl, SetStateErrorModeMuteAndReset) {
    Simulator s = quietSimulator();
    for (const char* good : {"set name Two Words", "set role master", "set pindisabled on", "set baud 57600",
                             "set version V\\x202", "refuse 0012-6F-BADBAD",
                             "inquiry device 0012-6F-000001 My\\x20Phone 2", "ping"})
        EXPECT_EQ(s.control(good, kTty), "OK") << good;
    for (const char* bad : {"set bogus 1", "set echo maybe", "set baud 14400", "line 9600 odd 3 on", "inject \\q",
                            "refuse", "inquiry device 0012-6F-000001", "frobnicate"})
        EXPECT_EQ(s.control(bad, kTty).substr(0, 4), "ERR ") << bad;
    auto st = stateOf(s);
    EXPECT_EQ(st["baudcode"], "16");
    EXPECT_EQ(st["version"], "V 2");
    EXPECT_EQ(st["refused"], "1");
    EXPECT_EQ(st["inquiryresults"], "1");
    EXPECT_EQ(s.adapter().inquiryResults[0], inquiryResultText("00126F000001", "My Phone 2"));
    // The adapter answers from what was set.
    const Tty at57600{57600, 1, true};
    s.input("AT+NAME?\rAT+PIN?\rAT+ROLE?\r", at57600, 0);
    EXPECT_EQ(drain(s), "\r\nTwo Words\r\nOK\r\n\r\nNULL\r\nOK\r\n\r\nROLEM\r\nOK\r\n");
    EXPECT_EQ(s.control("error on", kTty), "OK");
    s.input("AT\r", at57600, 0);
    EXPECT_EQ(drain(s), "\r\nERROR\r\n");
    // Muted, the adapter takes nothing in.
    s.control("mute", kTty);
    s.input("AT+NAME=muted\r", at57600, 0);
    EXPECT_EQ(drain(s), "");
    EXPECT_EQ(stateOf(s)["discarded"], "1");

    EXPECT_EQ(s.control("reset", kTty), "OK");
    st = stateOf(s);
    EXPECT_EQ(st["name"], "Serial Adapter");
    EXPECT_EQ(st["baud"], "19200");
    EXPECT_EQ(st["muted"], "0");
    EXPECT_EQ(st["error"], "0");
}

TEST(SimulatorControl, ReceivedDataInjectTtyAndUnplug) {
    Simulator s = quietSimulator();
    s.input("AT+NAME=My Dev\rAT+AUTO\rpayload+++", kTty, 0);
    EXPECT_EQ(s.control("received", kTty), "OK AT+NAME=My\\x20Dev\\r AT+AUTO\\r +++");
    EXPECT_EQ(s.control("data", kTty), "OK payload");
    EXPECT_EQ(s.control("clear", kTty), "OK");
    EXPECT_EQ(s.control("received", kTty), "OK");
    EXPECT_EQ(s.control("data", kTty), "OK");
    drain(s);
    EXPECT_EQ(s.control("inject \\r\\nCONNECT \\x22x\\x22\\r\\n", kTty), "OK");
    EXPECT_EQ(drain(s), "\r\nCONNECT \"x\"\r\n");
    EXPECT_EQ(s.control("tty", Tty{115200, 2, false}), "OK baud=115200 stop=2 crtscts=0");

    // Unplugged, what is still queued for the wire goes too; plugged in
    // again, the adapter has been through a power cycle.
    s.input("AT+AUTO\r", kTty, 0);
    EXPECT_FALSE(s.takeOutputDropped());
    s.control("unplug", kTty);
    EXPECT_TRUE(s.takeOutputDropped());
    EXPECT_EQ(drain(s), "");
    s.input("+++", kTty, 0);
    EXPECT_EQ(drain(s), "");
    s.control("replug", kTty);
    auto st = stateOf(s);
    EXPECT_EQ(st["name"], "My Dev");
    EXPECT_EQ(st["datamode"], "0");
}

// The same code escapes on the Windows side (tests/support/sim_client).
TEST(Escape, RoundTripsEveryByteWithoutSpacesAndRefusesBadEscapes) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string escaped = escape(all);
    EXPECT_EQ(escaped.find_first_of(" \r\n"), std::string::npos);
    std::string back;
    ASSERT_TRUE(unescape(escaped, back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(escape("A \r\n\t\\"), "A\\x20\\r\\n\\t\\\\");
    for (const char* bad : {"\\", "\\x", "\\x4", "\\xg0", "\\q"}) {
        std::string out = "untouched";
        EXPECT_FALSE(unescape(bad, out)) << bad;
        EXPECT_EQ(out, "untouched");
    }
}

}  // namespace
}  // namespace sim
