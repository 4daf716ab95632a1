// Everything between the pty and the adapter model that is not I/O: the
// line-settings gate, mute/unplug, a port that vanishes and returns, pacing
// decisions, a second adapter to swap in, and the text control protocol.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "adapter.h"

namespace sim {

// What the tool applied to its end of the pty. Parity never reaches a pty.
struct Tty {
    int baud = 0;
    int stopBits = 1;
    bool crtscts = false;
};

// The adapter understands the tool when baud rate, stop bits and flow
// control agree.
bool lineMatches(const LineSettings& line, const Tty& tty);

// Bytes for the pty; secondsPerByte 0 means write at once.
struct Chunk {
    std::string bytes;
    double secondsPerByte = 0;
};

struct Options {
    LineSettings line;
    std::string address = "0012-6F-123456";
    std::string address2 = "0012-6F-654321";
    std::string version = "RZ310 F/W V1.0";
    bool pace = true;
};

class Simulator {
public:
    explicit Simulator(const Options& options);

    void input(const std::string& bytes, const Tty& tty, int64_t nowMs);
    // Lets scheduled adapter output (reports, inquiry lines) out.
    void tick(const Tty& tty, int64_t nowMs);
    int64_t nextDue() const;
    std::deque<Chunk> takeOutput();
    // True once after unplug, attach or reset: output already handed out
    // but not yet on the wire must be dropped too.
    bool takeOutputDropped();

    // One control request line in, one reply line out (without newline).
    std::string control(const std::string& request, const Tty& tty);
    bool quitRequested() const { return quit_; }
    // Whether the port exists: false from `vanish` (a USB adapter pulled
    // out: its pty and link go) until `reappear` (a new pty, same link).
    bool portPresent() const { return !vanished_; }

    Adapter& adapter() { return adapters_[attached_]; }

private:
    void powerOnState();
    // Nothing goes in or out: unplugged, or the whole port gone.
    bool absent() const { return unplugged_ || vanished_; }
    void emit(const std::string& bytes, const LineSettings& line);
    void emitUnsolicited(const std::string& bytes, const Tty& tty);
    std::string garbage(const std::string& input) const;
    std::string stateText();
    std::string set(const std::string& key, const std::string& value);

    Options options_;
    std::vector<Adapter> adapters_;
    size_t attached_ = 0;
    bool muted_ = false;
    bool unplugged_ = false;
    bool vanished_ = false;
    bool garbageOnMismatch_ = false;
    bool pace_ = true;
    bool quit_ = false;
    bool outputDropped_ = false;
    long garbled_ = 0;
    long discarded_ = 0;
    std::deque<Chunk> out_;
};

}  // namespace sim
