#include "loader/setupstart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/elevatedrun.h"
#include "platform/environment.h"

namespace kelvane {
namespace {

// Answers each start with a planned error code and records what was tried.
class plannedstarter : public programstarter {
 public:
  plannedstarter(unsigned long create, unsigned long relaunch) : create_(create), relaunch_(relaunch) {}
  unsigned long createprocess(const std::u16string& program) override {
    calls.push_back("create " + std::string(program.begin(), program.end()));
    return create_;
  }
  unsigned long relaunchelevated(const std::vector<std::string>& args) override {
    std::string call = "relaunch";
    for (const auto& a : args) call += " " + a;
    calls.push_back(call);
    return relaunch_;
  }
  std::vector<std::string> calls;

 private:
  unsigned long create_, relaunch_;
};

TEST(SetupStart, RelaunchElevatedOnlyAfterElevationRequired) {
  const std::string again = "relaunch --kelvane-elevated KZQAUTOI=1 KZQPATHI=C:\\to hidden";
  struct {
    unsigned long create, relaunch;
    bool relaunched;
    setupstart result;
    std::vector<std::string> calls;
    const char* logged;  // a part of the log line, or nullptr for none
  } cases[] = {
      {0, 0, false, setupstart::started, {"create q.exe"}, nullptr},
      {0, 0, true, setupstart::started, {"create q.exe"}, nullptr},
      {740, 0, false, setupstart::relaunched, {"create q.exe", again}, "q.exe asks for elevation (error 740)"},
      {740, 1223, false, setupstart::failed, {"create q.exe", again}, "elevation of the package was declined (error 1223)"},
      {740, 5, false, setupstart::failed, {"create q.exe", again}, "cannot start the package elevated (error 5)"},
      // The elevated instance never starts a third.
      {740, 0, true, setupstart::failed, {"create q.exe"}, "cannot start q.exe (error 740)"},
      {2, 0, false, setupstart::failed, {"create q.exe"}, "cannot start q.exe (error 2)"},
      {1223, 0, false, setupstart::failed, {"create q.exe"}, "cannot start q.exe (error 1223)"},
  };
  ASSERT_TRUE(env::set("KZQAUTOI", "1"));
  ASSERT_TRUE(env::set("KZQPATHI", "C:\\to"));
  for (const auto& c : cases) {
    plannedstarter starter(c.create, c.relaunch);
    testing::internal::CaptureStdout();
    setupstart result = startsetupprogram(starter, u"q.exe", c.relaunched, true);
    std::string out = testing::internal::GetCapturedStdout();
    SCOPED_TRACE(testing::Message() << "create " << c.create << ", relaunch " << c.relaunch << ", relaunched "
                                    << c.relaunched);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(starter.calls, c.calls);
    if (c.logged) {
      EXPECT_NE(out.find(c.logged), std::string::npos) << out;
      EXPECT_NE(out.find(" setupstart startsetupprogram "), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, "");
    }
  }
  env::unset("KZQAUTOI");
  env::unset("KZQPATHI");
}

// The unattended values reach the elevated instance as they were: set or
// absent, empty or not, with any character, and the window's state with them.
TEST(SetupStart, RelaunchArgumentsCarryTheEffectiveValues) {
  relaunchrequest cases[] = {
      {true, std::nullopt, std::nullopt, false},
      {true, "1", std::nullopt, true},
      {true, std::nullopt, "", false},
      {true, "0", "D:\\Program Files\\\xe5\xae\x89\xe8\xa3\x85\\", true},
      {true, "KZQPATHI=x", "hidden", false},  // values that look like tokens stay values
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"Z:\\pkg.exe"};
    for (const auto& a : relaunchargs(c)) args.push_back(a);
    relaunchrequest read = parserelaunch(args);
    EXPECT_TRUE(read.relaunched);
    EXPECT_EQ(read.autoinstall, c.autoinstall);
    EXPECT_EQ(read.installpath, c.installpath);
    EXPECT_EQ(read.hidden, c.hidden);
  }
  // Without the marker first, nothing is a relaunch, whatever follows.
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"p.exe"}, {"p.exe", "1", "--kelvane-elevated"}, {"p.exe", "--kelvane-elevated-x", "hidden"}})
    EXPECT_FALSE(parserelaunch(args).relaunched) << args.back();
}

TEST(SetupStart, OnlyElevatedOrRelaunchedRunsTakeAProtectedFolder) {
  EXPECT_EQ(chooseworkspace(false, false), workspacekind::usertemp);
  EXPECT_EQ(chooseworkspace(true, false), workspacekind::protectedfolder);
  EXPECT_EQ(chooseworkspace(false, true), workspacekind::protectedfolder);
  EXPECT_EQ(chooseworkspace(true, true), workspacekind::protectedfolder);
}

}  // namespace
}  // namespace kelvane
