#include "loader/ending.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

constexpr bool attended = true, unattended = false;
constexpr bool box = true, nobox = false, start = true, nostart = false;

TEST(Ending, OneTableForEveryRun) {
  struct {
    bool attended;
    extraction outcome;
    setupstart started;
    unsigned long setupexit;
    bool showbox, startsetup;
    int exitcode;
  } cases[] = {
      // attended: today's behaviour, the box and then the setup program all the same
      {attended, extraction::complete, setupstart::ran, 0, nobox, start, 0},
      {attended, extraction::complete, setupstart::ran, 1603, nobox, start, 0},
      {attended, extraction::complete, setupstart::ran, 3010, nobox, start, 0},
      {attended, extraction::failed, setupstart::ran, 3, box, start, 0},
      {attended, extraction::mismatch, setupstart::ran, 3, box, start, 0},
      {attended, extraction::complete, setupstart::failed, 0, nobox, start, -1},
      {attended, extraction::failed, setupstart::failed, 0, box, start, -1},
      // no setup folder of its own: nothing of this package to start
      {attended, extraction::noworkspace, setupstart::nottried, 0, box, nostart, -1},
      // unattended: never a box, never a damaged package, the setup program's code passed on
      {unattended, extraction::complete, setupstart::ran, 0, nobox, start, 0},
      {unattended, extraction::complete, setupstart::ran, 3, nobox, start, 3},
      {unattended, extraction::complete, setupstart::ran, 1603, nobox, start, 1603},
      {unattended, extraction::complete, setupstart::ran, 1641, nobox, start, 1641},
      {unattended, extraction::complete, setupstart::ran, 3010, nobox, start, 3010},
      {unattended, extraction::complete, setupstart::ran, 0xffffffff, nobox, start, -1},
      {unattended, extraction::complete, setupstart::failed, 0, nobox, start, -1},
      {unattended, extraction::failed, setupstart::nottried, 0, nobox, nostart, exitextractionfailed},
      {unattended, extraction::noworkspace, setupstart::nottried, 0, nobox, nostart, exitextractionfailed},
      {unattended, extraction::mismatch, setupstart::nottried, 0, nobox, nostart, exitdigestmismatch},
  };
  for (const auto& c : cases) {
    ending e = decideending(c.attended, c.outcome, c.started, c.setupexit);
    std::string name = std::string(c.attended ? "attended" : "unattended") + " outcome " +
                       std::to_string(static_cast<int>(c.outcome)) + " start " +
                       std::to_string(static_cast<int>(c.started)) + " code " + std::to_string(c.setupexit);
    EXPECT_EQ(e.showbox, c.showbox) << name;
    EXPECT_EQ(e.startsetup, c.startsetup) << name;
    EXPECT_EQ(e.exitcode, c.exitcode) << name;
    // Before the start is tried the same box and start are decided.
    ending before = decideending(c.attended, c.outcome, setupstart::nottried, 0);
    EXPECT_EQ(before.showbox, e.showbox) << name;
    EXPECT_EQ(before.startsetup, e.startsetup) << name;
  }
}

}  // namespace
}  // namespace kelvane
