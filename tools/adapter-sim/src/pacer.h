// Hands out the adapter's output at wire speed. Time is passed in (seconds
// on a monotonic clock) so the schedule can be checked without waiting.
#pragma once

#include <cmath>
#include <deque>
#include <limits>
#include <string>

#include "simulator.h"

namespace sim {

class Pacer {
public:
    void push(std::deque<Chunk>&& chunks) {
        for (Chunk& c : chunks)
            if (!c.bytes.empty()) queue_.push_back(std::move(c));
    }

    bool empty() const { return queue_.empty(); }

    void clear() {
        queue_.clear();
        started_ = false;
        offset_ = 0;
    }

    // Bytes of the front chunk that are due by `now` and not yet written.
    // An unpaced chunk is due whole, so it goes out in one write.
    std::string due(double now) {
        if (queue_.empty()) return {};
        const Chunk& c = queue_.front();
        if (!started_) {
            if (now < lineFreeAt_) return {};
            start_ = now;
            started_ = true;
        }
        size_t count = c.bytes.size();
        if (c.secondsPerByte > 0) {
            double sent = std::floor((now - start_) / c.secondsPerByte + 1e-9) + 1;
            if (sent < static_cast<double>(count)) count = static_cast<size_t>(sent);
        }
        return count > offset_ ? c.bytes.substr(offset_, count - offset_) : std::string();
    }

    // `n` bytes from due() were written.
    void consumed(size_t n, double now) {
        if (queue_.empty()) return;
        const Chunk& c = queue_.front();
        offset_ += n;
        if (offset_ < c.bytes.size()) return;
        // The last byte still occupies the wire for one byte time.
        lineFreeAt_ = c.secondsPerByte > 0 ? start_ + c.bytes.size() * c.secondsPerByte : now;
        queue_.pop_front();
        started_ = false;
        offset_ = 0;
    }

    // When due() will next have bytes; infinity when the queue is empty.
    double nextDue(double now) const {
        if (queue_.empty()) return std::numeric_limits<double>::infinity();
        if (!started_) return lineFreeAt_ > now ? lineFreeAt_ : now;
        const Chunk& c = queue_.front();
        if (c.secondsPerByte <= 0) return now;
        return start_ + offset_ * c.secondsPerByte;
    }

private:
    std::deque<Chunk> queue_;
    bool started_ = false;
    size_t offset_ = 0;
    double start_ = 0;
    double lineFreeAt_ = 0;
};

}  // namespace sim
