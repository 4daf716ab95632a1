#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "escape.h"
#include "simulator.h"

namespace sim {
namespace {

const Tty kDefaultTty{19200, 1, true};

std::string drain(Simulator& s) {
    std::string out;
    for (const Chunk& c : s.takeOutput()) out += c.bytes;
    return out;
}

std::map<std::string, std::string> stateOf(Simulator& s) {
    std::string reply = s.control("state", kDefaultTty);
    EXPECT_EQ(reply.substr(0, 3), "OK ");
    std::map<std::string, std::string> m;
    std::istringstream in(reply.substr(3));
    for (std::string kv; in >> kv;) {
        size_t eq = kv.find('=');
        std::string value;
        EXPECT_TRUE(unescape(kv.substr(eq + 1), value));
        m[kv.substr(0, eq)] = value;
    }
    return m;
}

Simulator quietSimulator() {
    Options o;
    o.pace = false;
    Simulator s(o);
    s.control("set echo off", kDefaultTty);
    return s;
}

TEST(SimulatorGate, AnswersOnlyAtMatchingBaudStopAndFlow) {
    const Tty mismatched[] = {{9600, 1, true}, {19200, 2, true}, {19200, 1, false}, {0, 1, true}};
    for (const Tty& tty : mismatched) {
        Simulator s = quietSimulator();
        s.input("AT+NAME=x\r", tty, 0);
        EXPECT_EQ(drain(s), "") << tty.baud << "/" << tty.stopBits << "/" << tty.crtscts;
        EXPECT_EQ(s.control("received", kDefaultTty), "OK");
        auto st = stateOf(s);
        EXPECT_EQ(st["garbled"], "1");
        EXPECT_EQ(st["name"], "Serial Adapter");
    }
    // Parity never reaches a pty, so an adapter on odd parity still answers.
    Simulator s = quietSimulator();
    ASSERT_EQ(s.control("line 19200 odd 1 on", kDefaultTty), "OK");
    s.input("AT\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "\r\nOK\r\n");
}

TEST(SimulatorGate, GarbledInputSpoilsTheHalfReceivedCommand) {
    Simulator s = quietSimulator();
    s.input("AT+NA", kDefaultTty, 0);
    s.input("xx", Tty{9600, 1, true}, 0);
    s.input("ME=y\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "\r\nERROR\r\n");
    EXPECT_EQ(s.control("received", kDefaultTty), "OK ME=y\\r");
}

TEST(SimulatorGate, GarbageModeSendsBytesThatAreNoText) {
    Simulator s = quietSimulator();
    ASSERT_EQ(s.control("mismatch garbage", kDefaultTty), "OK");
    s.input("AT\r", Tty{9600, 1, true}, 0);
    std::string out = drain(s);
    ASSERT_FALSE(out.empty());
    for (unsigned char c : out) EXPECT_GE(c, 0x80);
    EXPECT_EQ(s.control("received", kDefaultTty), "OK");
    s.input(std::string(1000, 'A'), Tty{9600, 1, true}, 0);
    EXPECT_EQ(drain(s).size(), 64u);
}

TEST(SimulatorGate, LineChangeAnsweredAtOldSettingsThenEffective) {
    Options o;  // paced, so each chunk carries its byte time
    Simulator s(o);
    s.control("set echo off", kDefaultTty);
    s.input("AT+BAUD17\rAT\r", kDefaultTty, 0);
    auto chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);  // the trailing AT came at the old rate
    EXPECT_EQ(chunks[0].bytes, "\r\nOK\r\n");
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 10.0 / 19200);

    s.input("AT\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "");
    s.input("AT\r", Tty{115200, 1, true}, 0);
    chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 10.0 / 115200);
    EXPECT_EQ(s.control("received", kDefaultTty), "OK AT+BAUD17\\r AT\\r");

    // Reset: answered at 115200, then back at 19200 8N1 with flow control.
    s.control("line 115200 even 2 off", kDefaultTty);
    s.input("AT+RESET\r", Tty{115200, 2, false}, 0);
    chunks = s.takeOutput();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_DOUBLE_EQ(chunks[0].secondsPerByte, 12.0 / 115200);
    s.input("AT\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "AT\r\r\nOK\r\n");  // echo is back on as well
    ASSERT_EQ(s.control("pace off", kDefaultTty), "OK");
    s.input("AT\r", kDefaultTty, 0);
    EXPECT_EQ(s.takeOutput().front().secondsPerByte, 0.0);
}

TEST(SimulatorControl, MuteUnplugAndReplug) {
    Simulator s = quietSimulator();
    s.control("mute", kDefaultTty);
    s.input("AT+NAME=muted\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "");
    s.control("unmute", kDefaultTty);
    s.input("AT+NAME=Kept\rAT+AUTO\r", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "\r\nOK\r\n\r\nOK\r\n");

    EXPECT_FALSE(s.takeOutputDropped());
    s.control("unplug", kDefaultTty);
    EXPECT_TRUE(s.takeOutputDropped());  // what is still queued for the wire goes too
    s.input("+++", kDefaultTty, 0);
    EXPECT_EQ(drain(s), "");
    EXPECT_EQ(s.control("connect 1", kDefaultTty), "OK");
    EXPECT_EQ(drain(s), "");
    s.control("replug", kDefaultTty);
    auto st = stateOf(s);
    EXPECT_EQ(st["name"], "Kept");
    EXPECT_EQ(st["datamode"], "0");
    EXPECT_EQ(st["connected"], "0");
    EXPECT_EQ(st["discarded"], "2");
    EXPECT_EQ(s.control("received", kDefaultTty), "OK AT+NAME=Kept\\r AT+AUTO\\r");
}

TEST(SimulatorControl, SetStateAndReset) {
    Simulator s = quietSimulator();
    EXPECT_EQ(s.control("set name Two Words", kDefaultTty), "OK");
    EXPECT_EQ(s.control("set role master", kDefaultTty), "OK");
    EXPECT_EQ(s.control("set pindisabled on", kDefaultTty), "OK");
    EXPECT_EQ(s.control("set baud 57600", kDefaultTty), "OK");
    EXPECT_EQ(s.control("set version V\\x202", kDefaultTty), "OK");
    EXPECT_EQ(s.control("set bogus 1", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("set echo maybe", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("set baud 14400", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("line 9600 odd 3 on", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("frobnicate", kDefaultTty).substr(0, 4), "ERR ");
    auto st = stateOf(s);
    EXPECT_EQ(st["name"], "Two Words");
    EXPECT_EQ(st["role"], "M");
    EXPECT_EQ(st["pindisabled"], "1");
    EXPECT_EQ(st["baudcode"], "16");
    EXPECT_EQ(st["version"], "V 2");
    // The adapter answers from what was set.
    s.input("AT+NAME?\rAT+PIN?\r", Tty{57600, 1, true}, 0);
    EXPECT_EQ(drain(s), "\r\nTwo Words\r\nOK\r\n\r\nNULL\r\nOK\r\n");

    EXPECT_EQ(s.control("error on", kDefaultTty), "OK");
    s.input("AT\r", Tty{57600, 1, true}, 0);
    EXPECT_EQ(drain(s), "\r\nERROR\r\n");

    s.control("mute", kDefaultTty);
    EXPECT_EQ(s.control("reset", kDefaultTty), "OK");
    st = stateOf(s);
    EXPECT_EQ(st["name"], "Serial Adapter");
    EXPECT_EQ(st["baud"], "19200");
    EXPECT_EQ(st["echo"], "1");
    EXPECT_EQ(st["muted"], "0");
    EXPECT_EQ(st["error"], "0");
    EXPECT_EQ(st["address"], "0012-6F-123456");
}

TEST(SimulatorControl, ReceivedInjectTtyAndClear) {
    Simulator s = quietSimulator();
    s.input("AT+NAME=My Dev\r+++", kDefaultTty, 0);
    EXPECT_EQ(s.control("received", kDefaultTty), "OK AT+NAME=My\\x20Dev\\r +++");
    EXPECT_EQ(s.control("clear", kDefaultTty), "OK");
    EXPECT_EQ(s.control("received", kDefaultTty), "OK");
    drain(s);

    EXPECT_EQ(s.control("inject \\r\\nCONNECT \\x22x\\x22\\r\\n", kDefaultTty), "OK");
    EXPECT_EQ(drain(s), "\r\nCONNECT \"x\"\r\n");
    EXPECT_EQ(s.control("inject \\q", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("tty", Tty{115200, 2, false}), "OK baud=115200 stop=2 crtscts=0");
}

TEST(SimulatorControl, ConnectionReportsFollowTheGate) {
    Simulator s = quietSimulator();
    EXPECT_EQ(s.control("disconnect", kDefaultTty).substr(0, 4), "ERR ");
    EXPECT_EQ(s.control("connect 0012-6F-34AB56", kDefaultTty), "OK");
    EXPECT_EQ(drain(s), "\r\nCONNECT 0012-6F-34AB56\r\n");
    EXPECT_EQ(stateOf(s)["datamode"], "1");
    s.input("payload", kDefaultTty, 0);
    EXPECT_EQ(s.control("data", kDefaultTty), "OK payload");
    // A report sent while the tool listens at other settings is lost.
    EXPECT_EQ(s.control("disconnect", Tty{9600, 1, true}), "OK");
    EXPECT_EQ(drain(s), "");
    EXPECT_EQ(stateOf(s)["connected"], "0");

    // AT+CONN reports later, through tick().
    s.control("set eventdelay 200", kDefaultTty);
    s.input("AT+CONN=00126F34AB56\r", kDefaultTty, 1000);
    EXPECT_EQ(drain(s), "\r\nOK\r\n");
    EXPECT_EQ(s.nextDue(), 1200);
    s.tick(kDefaultTty, 1200);
    EXPECT_EQ(drain(s), "\r\nCONNECT 00126F34AB56\r\n");
}

TEST(SimulatorControl, SecondAdapterHasItsOwnState) {
    Simulator s = quietSimulator();
    s.input("AT+NAME=One\r", kDefaultTty, 0);
    EXPECT_EQ(s.control("attach 2", kDefaultTty), "OK");
    EXPECT_EQ(s.control("line 9600 none 1 off", kDefaultTty), "OK");
    s.input("AT+ADDR?\r", Tty{9600, 1, false}, 0);
    std::string out = drain(s);
    EXPECT_EQ(out.substr(out.size() - 22), "\r\n0012-6F-654321\r\nOK\r\n");
    EXPECT_EQ(stateOf(s)["attached"], "2");
    s.control("attach 1", kDefaultTty);
    EXPECT_EQ(stateOf(s)["name"], "One");
    EXPECT_EQ(s.control("attach 3", kDefaultTty).substr(0, 4), "ERR ");
}

TEST(Escape, RoundTripsEveryByteWithoutSpaces) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string escaped = escape(all);
    EXPECT_EQ(escaped.find(' '), std::string::npos);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
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
