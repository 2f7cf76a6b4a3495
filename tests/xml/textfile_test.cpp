#include "xml/textfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "platform/text.h"

namespace kelvane {
namespace {

using testing::readbytes;
using testing::scratchfolder;

std::string narrow(std::u16string_view s) { return tonarrow(s); }

// "中" in GBK.
constexpr const char* kZhongGbk = "\xD6\xD0";

struct readcase {
  const char* what;
  std::string bytes;
  std::uint32_t flagsbefore;
  std::u16string text;
  std::uint32_t flagsafter;
  std::u16string log;
};

TEST(ReadTextFile, EncodingsMarksAndRecords) {
  const std::string utf16le("<\0a\0/\0>\0", 8);
  const std::string utf16be("\0<\0a\0/\0>", 8);
  const std::string gbkdecl = "<?xml version=\"1.0\" encoding=\"GBK\"?><a>";
  const std::string spaced = " <?xml version=\"1.0\" encoding=\"GBK\"?><a/>";
  const std::string meta =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"><title>";
  const readcase cases[] = {
      {"empty file", "", BOM_UTF8, u"", BOM_UTF8, u"<read encoding=\"\" length=\"0\"/>"},
      {"only a UTF-8 mark", "\xEF\xBB\xBF", 0, u"", BOM_UTF8, u"<bom/><read encoding=\"UTF-8\" length=\"0\"/>"},
      {"UTF-8 mark", "\xEF\xBB\xBF<a>\xC3\xA9</a>", BOM_UTF16BE, u"<a>\u00e9</a>", BOM_UTF8,
       u"<bom/><read encoding=\"UTF-8\" length=\"9\"/><converted_to encoding=\"UTF-16\" length=\"8\"/>"},
      {"UTF-16LE mark", "\xFF\xFE" + utf16le, 0, u"<a/>", BOM_UTF16LE, u"<bom/><read encoding=\"UTF-16LE\" length=\"4\"/>"},
      {"UTF-16BE mark", "\xFE\xFF" + utf16be, 0, u"<a/>", BOM_UTF16BE,
       u"<bom/><read encoding=\"UTF-16BE\" length=\"4\"/><endian_swap/>"},
      {"odd UTF-16 byte dropped", std::string("\xFF\xFE" "a\0b\0c", 7), 0, u"ab", BOM_UTF16LE,
       u"<bom/><read encoding=\"UTF-16LE\" length=\"2\"/>"},
      {"UTF-16 zero units removed", std::string("\xFF\xFE" "a\0\0\0b\0", 8), 0, u"ab", BOM_UTF16LE,
       u"<bom/><read encoding=\"UTF-16LE\" length=\"3\"/><nulls_removed count=\"1\"/>"},
      {"UTF-16LE without mark", utf16le, 0, u"<a/>", 0,
       u"<read encoding=\"UTF-8\" length=\"8\"/><nulls_removed count=\"4\"/><converted_to encoding=\"UTF-16\" length=\"4\"/>"},
      {"declared GBK", gbkdecl + kZhongGbk + "</a>", 0, u"<?xml version=\"1.0\" encoding=\"GBK\"?><a>\u4e2d</a>", 0,
       u"<read encoding=\"GBK\" length=\"45\"/><converted_to encoding=\"UTF-16\" length=\"44\"/>"},
      {"declared utf-8 in single quotes", "<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>", 0,
       u"<?xml version='1.0' encoding='utf-8'?><a>\u00e9</a>", 0,
       u"<read encoding=\"utf-8\" length=\"47\"/><converted_to encoding=\"UTF-16\" length=\"46\"/>"},
      {"declaration after a space", spaced, 0, u" <?xml version=\"1.0\" encoding=\"GBK\"?><a/>", 0,
       u"<read encoding=\"UTF-8\" length=\"41\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"41\"/>"},
      {"HTML meta charset", meta + kZhongGbk + "</title></head></html>", 0,
       u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"><title>\u4e2d</title></head></html>",
       0, u"<read encoding=\"gb2312\" length=\"111\"/><converted_to encoding=\"UTF-16\" length=\"110\"/>"},
      {"meta with only a charset attribute", std::string("<html><head><meta charset=\"gb2312\">") + kZhongGbk, 0,
       u"<html><head><meta charset=\"gb2312\">\ufffd\ufffd", 0,
       u"<read encoding=\"UTF-8\" length=\"37\"/><converted_to encoding=\"UTF-16\" length=\"37\"/>"},
      {"declared UTF-32 without mark is read as UTF-8",
       "<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\xC3\xA9</a>", 0,
       u"<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\u00e9</a>", 0,
       u"<read encoding=\"UTF-8\" length=\"48\"/><converted_to encoding=\"UTF-16\" length=\"47\"/>"},
      {"declared utf-16 without mark is read as UTF-8", "<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", 0,
       u"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", 0,
       u"<read encoding=\"UTF-8\" length=\"43\"/><converted_to encoding=\"UTF-16\" length=\"43\"/>"},
  };
  scratchfolder scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string path = towide(scratch.write("in.xml", c.bytes));
    std::u16string text = u"old", log = u"<old/>";
    std::uint32_t flags = c.flagsbefore;
    EXPECT_TRUE(readtextfile(path, text, &log, &flags));
    EXPECT_EQ(narrow(text), narrow(c.text));
    EXPECT_EQ(flags, c.flagsafter);
    EXPECT_EQ(narrow(log), narrow(c.log));
  }
}

// Bytes that are not UTF-8 and name no encoding go through the narrow code
// page: Windows-1252 under wine, UTF-8 (so replaced) elsewhere.
TEST(ReadTextFile, UndeclaredNonUtf8UsesTheNarrowCodePage) {
  scratchfolder scratch;
  std::u16string text, log;
  ASSERT_TRUE(readtextfile(towide(scratch.write("in.txt", "caf\xE9")), text, &log));
#ifdef _WIN32
  EXPECT_EQ(text, u"caf\u00e9");
#else
  EXPECT_EQ(text, u"caf\ufffd");
#endif
  EXPECT_EQ(log, u"<read encoding=\"\" length=\"4\"/><utf8_detection/><converted_to encoding=\"UTF-16\" length=\"4\"/>");
}

TEST(ReadTextFile, MissingFileIsAFileError) {
  scratchfolder scratch;
  std::u16string text = u"old", log;
  std::uint32_t flags = BOM_UTF8;
  EXPECT_FALSE(readtextfile(towide(scratch.file("missing.xml")), text, &log, &flags));
  EXPECT_EQ(text, u"");
  EXPECT_EQ(flags, std::uint32_t{BOM_UTF8});
  EXPECT_EQ(log.rfind(u"<file_error msg=\"", 0), 0u);
  EXPECT_NE(log.find(u"\" n=\"" + towide(std::to_string(ENOENT)) + u"\"/>"), std::u16string::npos);
  EXPECT_EQ(log.find_first_of(u"\r\n"), std::u16string::npos);
}

struct writecase {
  const char* what;
  std::u16string text;
  std::uint32_t flags;
  std::string bytes;
  std::u16string log;
};

TEST(WriteTextFile, EncodingsMarksAndRecords) {
  const writecase cases[] = {
      {"no declaration: UTF-8", u"<a>\u00e9</a>", 0, "<a>\xC3\xA9</a>",
       u"<converted_from encoding=\"UTF-16\" length=\"8\"/><write encoding=\"UTF-8\" length=\"9\"/>"},
      {"UTF-8 mark", u"<a/>", BOM_UTF8, "\xEF\xBB\xBF<a/>",
       u"<bom/><converted_from encoding=\"UTF-16\" length=\"4\"/><write encoding=\"UTF-8\" length=\"4\"/>"},
      {"UTF-16LE mark", u"<\u4e2d/>", BOM_UTF16LE, std::string("\xFF\xFE<\0\x2d\x4e/\0>\0", 10),
       u"<bom/><write encoding=\"UTF-16LE\" length=\"4\"/>"},
      {"UTF-16BE mark", u"<\u4e2d/>", BOM_UTF16BE, std::string("\xFE\xFF\0<\x4e\x2d\0/\0>", 10),
       u"<bom/><endian_swap/><write encoding=\"UTF-16BE\" length=\"4\"/>"},
      {"declared GBK", u"<?xml version=\"1.0\" encoding=\"GBK\"?><a>\u4e2d</a>", 0,
       std::string("<?xml version=\"1.0\" encoding=\"GBK\"?><a>") + kZhongGbk + "</a>",
       u"<converted_from encoding=\"UTF-16\" length=\"44\"/><write encoding=\"GBK\" length=\"45\"/>"},
      {"characters the code page cannot hold", u"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\u00e9\u4e2d</a>", 0,
       "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\xE9?</a>",
       u"<converted_from encoding=\"UTF-16\" length=\"52\"/><conversion_loss/><write encoding=\"iso-8859-1\" length=\"52\"/>"},
      {"UTF-8 never loses", u"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\u4e2d</a>", 0,
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xE4\xB8\xAD</a>",
       u"<converted_from encoding=\"UTF-16\" length=\"46\"/><write encoding=\"utf-8\" length=\"48\"/>"},
      {"declared UTF-32 is written as UTF-8", u"<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\u00e9</a>", 0,
       "<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\xC3\xA9</a>",
       u"<converted_from encoding=\"UTF-16\" length=\"47\"/><write encoding=\"UTF-8\" length=\"48\"/>"},
      {"empty text", u"", 0, "", u"<write encoding=\"\" length=\"0\"/>"},
      {"empty text keeps the mark", u"", BOM_UTF8, "\xEF\xBB\xBF", u"<bom/><write encoding=\"UTF-8\" length=\"0\"/>"},
  };
  scratchfolder scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = scratch.write("out.xml", "previous content");
    std::u16string log;
    std::uint32_t flags = c.flags;
    EXPECT_TRUE(writetextfile(towide(path), c.text, &log, &flags));
    EXPECT_EQ(readbytes(path), c.bytes);
    EXPECT_EQ(flags, c.flags);
    EXPECT_EQ(narrow(log), narrow(c.log));
  }
}

TEST(WriteTextFile, FailuresLeaveFilesAlone) {
  scratchfolder scratch;
  std::u16string log;
  EXPECT_FALSE(writetextfile(towide(scratch.file("no-such-folder") + fs::separator() + "out.xml"), u"<a/>", &log));
  EXPECT_EQ(log.rfind(u"<file_error msg=\"", 0), 0u);

  // A code page that no converter here supports: the file keeps its bytes.
  std::string path = scratch.write("out.xml", "previous content");
  EXPECT_FALSE(writetextfile(towide(path), u"<?xml version=\"1.0\" encoding=\"x-europa\"?><a/>", &log));
  EXPECT_EQ(readbytes(path), "previous content");
  EXPECT_NE(log.find(u"<conversion_failed encoding=\"x-europa\"/>"), std::u16string::npos);
}

TEST(TextFile, RoundTripsKeepEveryByte) {
  const std::string samples[] = {
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<a b='c'>\xC3\xA9\r\n</a>\n",
      std::string("\xFE\xFF\0<\0a\0/\0>\0\r\0\n", 14),
      std::string("\xFF\xFE<\0a\0>\0\x3D\xD8\x00\xDE<\0/\0a\0>\0", 20),
      std::string("<?xml version=\"1.0\" encoding=\"GBK\"?>\n<a>") + kZhongGbk + "</a>\n",
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80\xE9</a>",
      "<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\xC3\xA9</a>",
      "<a>\t plain \xE2\x82\xAC </a>",
  };
  scratchfolder scratch;
  for (const auto& bytes : samples) {
    std::string in = scratch.write("in.xml", bytes), out = scratch.file("out.xml");
    std::u16string text;
    std::uint32_t flags = 0;
    ASSERT_TRUE(readtextfile(towide(in), text, nullptr, &flags));
    ASSERT_TRUE(writetextfile(towide(out), text, nullptr, &flags));
    EXPECT_EQ(readbytes(out), bytes);
  }
}

TEST(IsUtf8, LeadByteRule) {
  const struct {
    std::string bytes;
    bool utf8;
  } cases[] = {
      {"plain ASCII", true},   {"\xC3\x28", false},     {"\xE4\xB8", false},         {std::string("\xC3\xA9\0\x41", 4), true},
      {"\xC3\xA9", true},      {"\xF0\x9F\x98\x80", true}, {"\xF8\x80\x80\x80\x80", false}, {"\x80\x80", true},
      {"\xC0\x80", true},      {"\xED\xA0\x80", true},  {std::string("\xC3\0", 2), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isutf8(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()), c.utf8) << c.bytes;
}

TEST(DeclaredEncoding, DeclarationsAndMetaTags) {
  const struct {
    std::u16string text;
    std::u16string encoding;
  } cases[] = {
      {u"<?xml version=\"1.0\" encoding=\"GBK\"?><a/>", u"GBK"},
      {u"<?xml version='1.0' encoding='utf-8'?>", u"utf-8"},
      {u"<?XML ENCODING=\"x\"?>", u"x"},
      {u" <?xml encoding=\"GBK\"?>", u""},
      {u"<?xml version=\"1.0\"?><?xml encoding=\"GBK\"?>", u""},
      {u"<!-- c --><html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=gb2312\">", u"gb2312"},
      {u"<html><meta http-equiv=\"Refresh\" content=\"5\"><meta http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\">",
       u"utf-8"},
      {u"<html><head><meta charset=\"gb2312\"></head>", u""},
      {u"<html><head></head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=x\">", u""},
      {u"<root><meta http-equiv=\"Content-Type\" content=\"charset=x\"/>", u""},
      {u"<html><meta http-equiv=\"Content-Type\" content=\"text/html\"><meta http-equiv=\"Content-Type\" content=\"charset=x\">",
       u""},
      {u"<html><meta http-equiv=\"Content-Type\"><meta http-equiv=\"Content-Type\" content=\"charset=x\">", u""},
      {u"<?xml encoding=\"unterminated", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(narrow(declaredencoding(c.text)), narrow(c.encoding)) << narrow(c.text);
}

template <class Unit>
std::vector<Unit> convert(std::u16string_view from, const void* source, int length, std::u16string_view to) {
  textconverter converter;
  converter.setsource(from, source, length);
  int count = converter.convert(nullptr, 0, to);
  std::vector<Unit> out(static_cast<std::size_t>(count));
  if (count) {
    EXPECT_EQ(converter.convert(out.data(), count), count);
  }
  return out;
}

TEST(TextConverter, Utf32InBothDirections) {
  const std::uint32_t utf32[] = {0x41, 0xE9, 0x4E2D, 0x1F600};
  std::vector<char> utf8 = convert<char>(u"UTF-32", utf32, 4, u"UTF-8");
  EXPECT_EQ(std::string(utf8.begin(), utf8.end()), "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  std::vector<char16_t> utf16 = convert<char16_t>(u"UTF-32LE", utf32, 4, u"UTF-16");
  EXPECT_EQ(std::u16string(utf16.begin(), utf16.end()), u"A\u00e9\u4e2d\U0001F600");
  EXPECT_TRUE(convert<char>(u"UTF-32", utf32, 4, u"iso-8859-1").empty());

  const struct {
    std::u16string utf16;
    std::vector<std::uint32_t> utf32;
  } fromutf16[] = {
      {u"A\U0001F600", {0x41, 0x1F600}},
      {u"A\xD83D", {0x41, u'?'}},
      {std::u16string(u"\xD83D\0B", 3), {u'?', 0, u'B'}},
  };
  for (const auto& c : fromutf16)
    EXPECT_EQ(convert<std::uint32_t>(u"UTF-16", c.utf16.data(), static_cast<int>(c.utf16.size()), u"UTF-32"), c.utf32);

  const struct {
    std::string utf8;
    std::vector<std::uint32_t> utf32;
  } fromutf8[] = {
      {"A\xC3\xA9\xE4\xB8\xAD", {0x41, 0xE9, 0x4E2D}},
      {"\xC3(", {u'?', u'('}},
      {"\xE4\xB8", {u'?'}},
      {"\xFF" "a", {u'?', u'a'}},
  };
  for (const auto& c : fromutf8)
    EXPECT_EQ(convert<std::uint32_t>(u"UTF-8", c.utf8.data(), static_cast<int>(c.utf8.size()), u"UTF-32"), c.utf32);
  EXPECT_TRUE(convert<std::uint32_t>(u"iso-8859-1", "abc", 3, u"UTF-32").empty());
}

TEST(TextConverter, CodePagesCountingAndCapacity) {
  std::vector<char> utf8 = convert<char>(u"latin1", "caf\xE9", 4, u"utf-8");
  EXPECT_EQ(std::string(utf8.begin(), utf8.end()), "caf\xC3\xA9");
  // UTF-16 code pages are not for the platform converter.
  EXPECT_TRUE(convert<char>(u"UTF-16", u"ab", 2, u"UTF-16BE").empty());
  EXPECT_TRUE(convert<char16_t>(u"utf-16", "a\0", 2, u"UTF-16").empty());

  textconverter converter;
  converter.setsource(u"UTF-16", u"\u00e9\u4e2d", 2);
  char small[1];
  EXPECT_EQ(converter.convert(small, 1, u"UTF-8"), 0);
  EXPECT_EQ(converter.convert(nullptr, 0), 5);  // keeps the target
  EXPECT_EQ(converter.resultlength(), 5);
  char out[2];
  EXPECT_EQ(converter.convert(out, 2, u"windows-1252"), 2);
  EXPECT_TRUE(converter.lost());
  EXPECT_EQ(std::string(out, 2), "\xE9?");
}

}  // namespace
}  // namespace kelvane
