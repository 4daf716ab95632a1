// Answers leave at the adapter's wire speed: one byte time after another.
#include <gtest/gtest.h>

#include "pacer.h"

namespace sim {
namespace {

TEST(Pacer, ReleasesPacedBytesOneByteTimeApartAndUnpacedAtOnce) {
    const double t = 0.01;  // seconds per byte
    Pacer p;
    p.push(std::deque<Chunk>{{"abcd", t}, {"XY", 0}});
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
    // The next chunk waits until the last byte has left the wire, then goes
    // out in one write.
    EXPECT_EQ(p.due(1.0 + 3.5 * t), "");
    EXPECT_DOUBLE_EQ(p.nextDue(1.0 + 3.5 * t), 1.0 + 4 * t);
    EXPECT_EQ(p.due(1.0 + 4 * t), "XY");
    p.consumed(2, 1.0 + 4 * t);
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(std::isinf(p.nextDue(2.0)));
}

}  // namespace
}  // namespace sim
