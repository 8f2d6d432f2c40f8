// End to end: saving and recalling locate points and ranges, their menus and
// listings, checked through what is printed and what "s" writes.
#include <string>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using LocateTest = ProjectTest;
using RangeTest = ProjectTest;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(LocateTest, SaveRecallAndRefuseOutOfRangeNumbers) {
  WriteParams("i\t4096\n");
  const RunResult r = Run("i.l 65 i.l 0 x.l 3 s\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountOf(r.out, "Enter locate point number (1-64)\n"), 2);
  EXPECT_FALSE(Has(r.out, "Stored locate point"));
  EXPECT_FALSE(Has(ReadFile("param.txt"), "loc\t"));

  const RunResult r2 = Run("i.l 3 l.o 3 l.i 5 s\n");
  EXPECT_EQ(CountOf(r2.out, "Stored locate point\n"), 1);
  EXPECT_TRUE(Has(r2.out, "Locate Points:\n3\t0.09\t(name)\nEnter a locate point number (1-64)\n"));
  const std::string params = ReadFile("param.txt");
  EXPECT_TRUE(Has(params, "i\t0\no\t4096\n")) << params;
  EXPECT_TRUE(Has(params, "loc\t4096\t(name)\n"));
}

TEST_F(LocateTest, MenuNamesAndDeletesPointsAndCutsLongNames) {
  WriteParams("o\t8192\nloc\t4096\tintro\n");
  const std::string longName(200, 'a');
  // Point 1 is emptied by saving the unset in point: hidden, yet still named.
  const RunResult r = Run("i.l 1 ll n 2 " + longName + " k 9 q c o.l 2 o.l 1 ll k 1 c o.l 1 s\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Locate Points:\nEnter 'n' to change name\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Enter a name for point 2\n"));
  EXPECT_TRUE(Has(r.out, "1\t0.19\tintro\n2\t0.19\t" + longName.substr(0, 63) + "\n"));
  EXPECT_TRUE(Has(ReadFile("param.txt"), "loc\t8192\t(name)\nloc\t8192\t" + longName.substr(0, 63) + "\n"));
}

TEST_F(RangeTest, StoreOverwritesAndRecallChecksTheSlot) {
  WriteParams("i\t4096\no\t8192\nrange\t1024\t2048\tverse\n");
  const RunResult r = Run("io. 1 0 .io 5 s\n");
  EXPECT_TRUE(Has(r.out, "Loc\tIn\tOut\tName\n1\t0.02\t0.05\tverse\nEnter location to store to (1-64)\n"));
  EXPECT_TRUE(Has(r.out, "Enter a range name or '0' to skip\n"));
  EXPECT_TRUE(Has(r.out, "Enter location to recall (1-64)\nLocation 5 is empty\n"));
  EXPECT_TRUE(Has(ReadFile("param.txt"), "range\t4096\t8192\tverse\n"));

  WriteParams("range\t1024\t2048\tverse\n");
  Run(".io 1 s\n");
  EXPECT_TRUE(Has(ReadFile("param.txt"), "i\t1024\no\t2048\n"));

  WriteParams("i\t4096\n");
  const RunResult r3 = Run(".io io. 0 x\n");
  EXPECT_TRUE(Has(r3.out, "No locations available\n"));
  EXPECT_FALSE(Has(r3.out, "Enter location to recall"));
  EXPECT_TRUE(Has(r3.out, "All locations available\nEnter location to store to (1-64)\n"));
}

TEST_F(RangeTest, EditorRenamesDeletesAndEndsWhenNoneIsLeft) {
  WriteParams("range\t1024\t2048\tverse\nrange\t4096\t8192\tbridge\n");
  const RunResult r = Run("lio n 1 chorus k 2 c s lio k 1 lio x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Enter the range number\nEnter a new range name\n"));
  const std::string params = ReadFile("param.txt");
  EXPECT_TRUE(Has(params, "range\t1024\t2048\tchorus\n")) << params;
  EXPECT_FALSE(Has(params, "bridge"));
  // Deleting the last range ends the editor; a new one has nothing to show.
  EXPECT_TRUE(Has(r.out, "Enter the range number\nNo range locations to edit\n"));
  EXPECT_EQ(CountOf(r.out, "No range locations to edit\n"), 2);
  EXPECT_EQ(CountOf(r.out, "Enter 'n' to change region name\n"), 4);
}

TEST_F(RangeTest, MeasureModeListsMeasureAndBeat) {
  WriteParams("sr\t48000\nbuf\t1000\ntmode\t1\ntempo\t120\nsig\t4\nrange\t0\t96000\tsong\n");
  const RunResult r = Run("lio c\n");
  EXPECT_TRUE(Has(r.out, "Loc\tIn\tOut\tName\n1\t1.1.00\t2.1.00\tsong\n")) << r.out;
}

}  // namespace
}  // namespace sondrel::e2e
