#include "loader/workspace.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {
namespace {

TEST(Workspace, TempPathEndsWithSeparatorAndBothFormsAgree) {
  std::u16string wide = widetemppath();
  ASSERT_FALSE(wide.empty());
  EXPECT_EQ(wide.back(), static_cast<char16_t>(fs::separator()));
  EXPECT_EQ(towide(narrowtemppath()), wide);
  EXPECT_TRUE(fs::isfolder(narrowtemppath() + "."));
}

TEST(TextConversion, RoundTripsEveryCharacter) {
  const std::string samples[] = {"", "plain", "caf\xc3\xa9", "\xe4\xb8\xad\xe6\x96\x87", "\xf0\x9f\x98\x80"};
  for (const auto& s : samples) EXPECT_EQ(tonarrow(towide(s)), s);
  EXPECT_EQ(towide("\xe4\xb8\xad"), u"\u4e2d");
}

TEST(TextConversion, WideBufferOfEmptyTextHoldsOnlyTheTerminator) {
  char16_t* buffer = towidebuffer("");
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer[0], u'\0');
  std::free(buffer);

  buffer = towidebuffer("ab\xe4\xb8\xad");
  EXPECT_EQ(std::u16string(buffer), u"ab\u4e2d");
  std::free(buffer);
}

TEST(TextConversion, CodePageRefusesWhatItCannotHold) {
  std::string acp;
  EXPECT_TRUE(narrowtoacp("setup\\config.xml", acp));
  EXPECT_EQ(acp, "setup\\config.xml");
#ifdef _WIN32
  // The test session runs wine with code page 1252: no Chinese characters.
  EXPECT_FALSE(narrowtoacp("\xe4\xb8\xad.txt", acp));
  EXPECT_TRUE(narrowtoacp("caf\xc3\xa9", acp));
  EXPECT_EQ(acp, "caf\xe9");
  std::string back;
  EXPECT_TRUE(acptonarrow(acp, back));
  EXPECT_EQ(back, "caf\xc3\xa9");
#else
  EXPECT_TRUE(narrowtoacp("\xe4\xb8\xad.txt", acp));
  EXPECT_FALSE(narrowtoacp("\xff", acp));  // not UTF-8
#endif
}

}  // namespace
}  // namespace kelvane
