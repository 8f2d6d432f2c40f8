// The distance between two streams that no link holds together, as the loop follows it: a new distance counts only once
// it has held for three readings in a row, so a reading taken between a server's turns for the two streams never moves
// a take.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/stream_alignment.h"

namespace sondrel {
namespace {

struct DistanceCase {
  std::string name;
  std::vector<std::int64_t> readings;
  std::vector<std::int64_t> moves;  // what each reading returns
  std::int64_t settled;
};

TEST(StreamDistanceTest, ANewDistanceCountsOnceItHolds) {
  const DistanceCase cases[] = {
      {"steady", {0, 0, 0, 0}, {0, 0, 0, 0}, 0},
      {"one reading between the turns", {256, 0, 0, 256, 256, 0}, {0, 0, 0, 0, 0, 0}, 0},
      {"a stream joined a cycle late", {-256, -256, -256, -256}, {0, 0, -256, 0}, -256},
      {"a capture that missed a cycle", {0, 256, 256, 256, 256}, {0, 0, 0, 256, 0}, 256},
      {"two candidates in turn", {256, -256, 256, 256, 256}, {0, 0, 0, 0, 256}, 256},
      {"back again", {512, 512, 512, 0, 0, 0}, {0, 0, 512, 0, 0, -512}, 0},
  };
  for (const DistanceCase& c : cases) {
    StreamDistance distance(0);
    std::vector<std::int64_t> moves;
    for (const std::int64_t reading : c.readings) moves.push_back(distance.Observe(reading));
    EXPECT_EQ(moves, c.moves) << c.name;
    EXPECT_EQ(distance.Settled(), c.settled) << c.name;
  }
}

}  // namespace
}  // namespace sondrel
