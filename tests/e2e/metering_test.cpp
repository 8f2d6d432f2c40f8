// End to end: the meter range command at the prompt.
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using MeterRangeTest = ProjectTest;

TEST_F(MeterRangeTest, TypedRangesAreClampedAndNonNumbersKeepTheSetting) {
  WriteParams("");
  const RunResult r = Run("mtr -200 mtr 0 mtr -3 mtr 12 mtr -6 mtr -40 mtr abc s\n");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string prompt = "Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at ";
  std::string shown;
  for (std::size_t at = r.out.find(prompt); at != std::string::npos; at = r.out.find(prompt, at + 1)) {
    shown += r.out.substr(at + prompt.size(), r.out.find(" dB\n", at) - at - prompt.size()) + ",";
  }
  EXPECT_EQ(shown, "-30,-120,0,-6,-6,-6,-40,");
  EXPECT_NE(ReadFile("param.txt").find("\nmeter\t-40\n"), std::string::npos) << ReadFile("param.txt");
}

}  // namespace
}  // namespace sondrel::e2e
