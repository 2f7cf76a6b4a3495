#include "loader/startup.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace kelvane {
namespace {

// Each case starts from KZQAUTOI=inherited and no KZQPATHI.
TEST(Startup, ArgumentsReachTheEnvironmentTogetherOrNotAtAll) {
  struct { std::vector<std::string> args; const char* autoi; const char* pathi; } cases[] = {
      {{"kelvane.exe"}, "inherited", nullptr},
      {{"kelvane.exe", "1"}, "inherited", nullptr},
      {{"kelvane.exe", "0", "C:\\apps"}, "0", "C:\\apps"},
      {{"kelvane.exe", "1", "D:\\x", "ignored"}, "1", "D:\\x"},
      {{"kelvane.exe", "", ""}, "", ""},
      // Characters outside the ANSI code page (1252 under the test session).
      {{"kelvane.exe", "\xe4\xb8\xad\xe6\x96\x87", "C:\\\xe5\xae\x89\xe8\xa3\x85"},
       "\xe4\xb8\xad\xe6\x96\x87", "C:\\\xe5\xae\x89\xe8\xa3\x85"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(env::set("KZQAUTOI", "inherited"));
    env::unset("KZQPATHI");
    passarguments(c.args);
    EXPECT_EQ(env::get("KZQAUTOI").value_or("<unset>"), c.autoi ? c.autoi : "<unset>") << c.args.size();
    EXPECT_EQ(env::get("KZQPATHI").value_or("<unset>"), c.pathi ? c.pathi : "<unset>") << c.args.size();
  }
}

}  // namespace
}  // namespace kelvane
