#include "loader/setupstart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

// Answers each start with a planned error code and records what was tried.
class plannedstarter : public programstarter {
 public:
  plannedstarter(unsigned long create, unsigned long shell) : create_(create), shell_(shell) {}
  unsigned long createprocess(const std::u16string& program) override {
    calls.push_back("create " + std::string(program.begin(), program.end()));
    return create_;
  }
  unsigned long shellstart(const std::u16string& program) override {
    calls.push_back("shell " + std::string(program.begin(), program.end()));
    return shell_;
  }
  std::vector<std::string> calls;

 private:
  unsigned long create_, shell_;
};

TEST(SetupStart, ShellStartOnlyAfterElevationRequired) {
  struct {
    unsigned long create, shell;
    int result;
    std::vector<std::string> calls;
    const char* logged;  // a part of the log line, or nullptr for none
  } cases[] = {
      {0, 0, 0, {"create q.exe"}, nullptr},
      {0, 740, 0, {"create q.exe"}, nullptr},
      {740, 0, 0, {"create q.exe", "shell q.exe"}, "asks for elevation (error 740)"},
      {740, 1223, -1, {"create q.exe", "shell q.exe"}, "elevation of q.exe was declined (error 1223)"},
      {740, 740, -1, {"create q.exe", "shell q.exe"}, "cannot start q.exe through the shell (error 740)"},
      {740, 5, -1, {"create q.exe", "shell q.exe"}, "cannot start q.exe through the shell (error 5)"},
      {2, 0, -1, {"create q.exe"}, "cannot start q.exe (error 2)"},
      {1223, 0, -1, {"create q.exe"}, "cannot start q.exe (error 1223)"},
  };
  for (const auto& c : cases) {
    plannedstarter starter(c.create, c.shell);
    testing::internal::CaptureStdout();
    int result = startsetupprogram(starter, u"q.exe");
    std::string out = testing::internal::GetCapturedStdout();
    SCOPED_TRACE(testing::Message() << "create " << c.create << ", shell " << c.shell);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(starter.calls, c.calls);
    if (c.logged) {
      EXPECT_NE(out.find(c.logged), std::string::npos) << out;
      EXPECT_NE(out.find(" setupstart startsetupprogram "), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, "");
    }
  }
}

}  // namespace
}  // namespace kelvane
