#include <gtest/gtest.h>

#include "pacer.h"

namespace sim {
namespace {

std::deque<Chunk> chunks(std::initializer_list<Chunk> list) { return std::deque<Chunk>(list); }

TEST(Pacer, UnpacedChunkGoesOutInOneWrite) {
    Pacer p;
    p.push(chunks({{"\r\nOK\r\n", 0}}));
    EXPECT_EQ(p.nextDue(5.0), 5.0);
    EXPECT_EQ(p.due(5.0), "\r\nOK\r\n");
    p.consumed(6, 5.0);
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(std::isinf(p.nextDue(5.0)));
}

TEST(Pacer, PacedChunkReleasesOneByteTimeAfterAnother) {
    const double t = 0.01;  // seconds per byte
    Pacer p;
    p.push(chunks({{"abcd", t}, {"XY", 0}}));
    EXPECT_EQ(p.due(1.0), "a");
    p.consumed(1, 1.0);
    EXPECT_DOUBLE_EQ(p.nextDue(1.0), 1.0 + t);
    EXPECT_EQ(p.due(1.0 + 0.5 * t), "");
    // A late wake-up catches up with everything due by then.
    EXPECT_EQ(p.due(1.0 + 2.5 * t), "bc");
    p.consumed(1, 1.0 + 2.5 * t);  // a short write: the rest stays due
    EXPECT_EQ(p.due(1.0 + 2.5 * t), "c");
    p.consumed(1, 1.0 + 2.5 * t);
    EXPECT_EQ(p.due(1.0 + 3 * t), "d");
    p.consumed(1, 1.0 + 3 * t);
    // The next chunk waits until the last byte has left the wire.
    EXPECT_EQ(p.due(1.0 + 3.5 * t), "");
    EXPECT_DOUBLE_EQ(p.nextDue(1.0 + 3.5 * t), 1.0 + 4 * t);
    EXPECT_EQ(p.due(1.0 + 4 * t), "XY");
}

}  // namespace
}  // namespace sim
