#include "loader/ending.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

// The four kinds of run: first loader or the elevated instance it relaunched,
// attended or not.
constexpr loaderoptions attended{false, false}, unattended{true, false};
constexpr loaderoptions elevatedattended{false, true}, elevatedunattended{true, true};
constexpr bool box = true, nobox = false, start = true, nostart = false;
constexpr int notstarted = static_cast<int>(exitrelaunchnotstarted);

TEST(Ending, OneTableForEveryRun) {
  struct {
    loaderoptions run;
    extraction outcome;
    setupresult setup;
    bool showbox, startsetup;
    int exitcode;
  } cases[] = {
      // attended: today's behaviour, the box and then the setup program all the same
      {attended, extraction::complete, {setuprun::ran, 0}, nobox, start, 0},
      {attended, extraction::complete, {setuprun::ran, 1603}, nobox, start, 0},
      {attended, extraction::complete, {setuprun::ran, 3010}, nobox, start, 0},
      {attended, extraction::failed, {setuprun::ran, 3}, box, start, 0},
      {attended, extraction::mismatch, {setuprun::ran, 3}, box, start, 0},
      {attended, extraction::complete, {setuprun::failed, 0}, nobox, start, -1},  // also: elevation declined
      {attended, extraction::failed, {setuprun::failed, 0}, box, start, -1},
      {attended, extraction::mismatch, {}, box, start, 0},  // the window closed before the hand-off
      // no setup folder of its own: nothing of this package to start
      {attended, extraction::noworkspace, {}, box, nostart, -1},
      // unattended: never a box, never a damaged package, the setup program's code passed on
      {unattended, extraction::complete, {setuprun::ran, 0}, nobox, start, 0},
      {unattended, extraction::complete, {setuprun::ran, 3}, nobox, start, 3},
      {unattended, extraction::complete, {setuprun::ran, 1603}, nobox, start, 1603},
      {unattended, extraction::complete, {setuprun::ran, 1641}, nobox, start, 1641},
      {unattended, extraction::complete, {setuprun::ran, 3010}, nobox, start, 3010},
      {unattended, extraction::complete, {setuprun::ran, 0xffffffff}, nobox, start, -1},
      {unattended, extraction::complete, {setuprun::failed, 0}, nobox, start, -1},  // also: elevation declined
      {unattended, extraction::complete, {}, nobox, start, -1},  // closed before the hand-off: not a success
      {unattended, extraction::failed, {}, nobox, nostart, exitextractionfailed},
      {unattended, extraction::noworkspace, {}, nobox, nostart, exitextractionfailed},
      {unattended, extraction::mismatch, {}, nobox, nostart, exitdigestmismatch},
      // a first loader that waited for its elevated instance: attended 0 once the setup program ran there
      {attended, extraction::complete, {setuprun::elevated, 0}, nobox, start, 0},
      {attended, extraction::complete, {setuprun::elevated, 7}, nobox, start, 0},
      {attended, extraction::mismatch, {setuprun::elevated, 0}, box, start, 0},
      {attended, extraction::complete, {setuprun::elevated, exitrelaunchnotstarted}, nobox, start, -1},
      // ... unattended, the instance's code as it is: the setup program's, or the instance's own verdict
      {unattended, extraction::complete, {setuprun::elevated, 0}, nobox, start, 0},
      {unattended, extraction::complete, {setuprun::elevated, 1603}, nobox, start, 1603},
      {unattended, extraction::complete, {setuprun::elevated, 3010}, nobox, start, 3010},
      {unattended, extraction::complete, {setuprun::elevated, exitextractionfailed}, nobox, start,
       exitextractionfailed},
      {unattended, extraction::complete, {setuprun::elevated, exitdigestmismatch}, nobox, start, exitdigestmismatch},
      {unattended, extraction::complete, {setuprun::elevated, exitrelaunchnotstarted}, nobox, start, -1},
      // the elevated instance: decides as any run, but "cannot go on" is the code only its first loader reads
      {elevatedattended, extraction::complete, {setuprun::ran, 7}, nobox, start, 0},
      {elevatedattended, extraction::mismatch, {setuprun::ran, 7}, box, start, 0},
      {elevatedattended, extraction::complete, {setuprun::failed, 0}, nobox, start, notstarted},
      {elevatedattended, extraction::complete, {}, nobox, start, notstarted},
      {elevatedattended, extraction::noworkspace, {}, box, nostart, notstarted},
      {elevatedunattended, extraction::complete, {setuprun::ran, 1603}, nobox, start, 1603},
      {elevatedunattended, extraction::complete, {setuprun::failed, 0}, nobox, start, notstarted},
      {elevatedunattended, extraction::complete, {}, nobox, start, notstarted},
      {elevatedunattended, extraction::failed, {}, nobox, nostart, exitextractionfailed},
      {elevatedunattended, extraction::mismatch, {}, nobox, nostart, exitdigestmismatch},
  };
  for (const auto& c : cases) {
    ending e = decideending(c.run, c.outcome, c.setup);
    std::string name = std::string(c.run.hidden ? "unattended" : "attended") + (c.run.relaunched ? " elevated" : "") +
                       " outcome " + std::to_string(static_cast<int>(c.outcome)) + " setup " +
                       std::to_string(static_cast<int>(c.setup.how)) + " code " + std::to_string(c.setup.code);
    EXPECT_EQ(e.showbox, c.showbox) << name;
    EXPECT_EQ(e.startsetup, c.startsetup) << name;
    EXPECT_EQ(e.exitcode, c.exitcode) << name;
    // Before the start is tried the same box and start are decided.
    ending before = decideending(c.run, c.outcome);
    EXPECT_EQ(before.showbox, e.showbox) << name;
    EXPECT_EQ(before.startsetup, e.startsetup) << name;
  }
}

}  // namespace
}  // namespace kelvane
