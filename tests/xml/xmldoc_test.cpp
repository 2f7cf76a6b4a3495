#include "xml/xmldoc.h"

#include <gtest/gtest.h>

#include <string>

#include "indexcheck.h"
#include "platform/text.h"

namespace kelvane {
namespace {

std::string narrow(std::u16string_view s) { return tonarrow(s); }

// After an edit the index must be what a fresh parse of the new text gives.
void expectsound(const xmldoc& doc) {
  EXPECT_EQ(testing::indexproblem(doc), "");
  xmldoc fresh;
  fresh.settext(doc.text());
  EXPECT_EQ(testing::outline(doc), testing::outline(fresh));
}

const std::u16string kShipped =
    u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config>\r\n  <source path=\"old\" />\r\n  <other a='1'/>\r\n</config>\r\n";

TEST(XmlDoc, SetAttributeReplacesOnlyTheValue) {
  xmldoc doc;
  ASSERT_TRUE(doc.settext(kShipped));
  ASSERT_TRUE(doc.nextchild(u"source"));
  EXPECT_EQ(doc.currentpos(), 1u);
  EXPECT_EQ(doc.parentpos(), 0u);
  ASSERT_TRUE(doc.setattribute(doc.childpos(), u"path", u"C:\\new & <\"x\">", 0));
  EXPECT_EQ(narrow(doc.text()),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config>\r\n  <source "
            "path=\"C:\\new &amp; &lt;&quot;x&quot;&gt;\" />\r\n  <other a='1'/>\r\n</config>\r\n");
  expectsound(doc);
  std::uint32_t found = doc.childpos();
  EXPECT_FALSE(doc.nextchild(u"source"));
  EXPECT_EQ(doc.childpos(), found);
}

TEST(XmlDoc, SetAttributeCases) {
  const struct {
    std::u16string text;
    std::u16string name;
    std::u16string value;
    unsigned flags;
    std::u16string result;
  } cases[] = {
      {u"<r><s path='old'/></r>", u"path", u"new", 0, u"<r><s path=\"new\"/></r>"},
      {u"<r><s path=old /></r>", u"path", u"new", 0, u"<r><s path=\"new\" /></r>"},
      {u"<r><s a=\"1\" b=\"2\"/></r>", u"path", u"p", 0, u"<r><s a=\"1\" b=\"2\" path=\"p\"/></r>"},
      {u"<r><s a=\"1\"  /></r>", u"path", u"p", 0, u"<r><s a=\"1\" path=\"p\"  /></r>"},
      {u"<r><s>text</s></r>", u"path", u"p", 0, u"<r><s path=\"p\">text</s></r>"},
      {u"<r><s selected/></r>", u"selected", u"yes", 0, u"<r><s selected=\"yes\"/></r>"},
      {u"<r><s path=>t</s></r>", u"path", u"p", 0, u"<r><s path=\"p\">t</s></r>"},
      {u"<r><s path=\"\"/></r>", u"path", u"&amp;'", 0, u"<r><s path=\"&amp;amp;&apos;\"/></r>"},
      {u"<r><s path=\"\"/></r>", u"path", u"&amp;&x", KEEP_REFS, u"<r><s path=\"&amp;&amp;x\"/></r>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    xmldoc doc;
    doc.settext(c.text);
    ASSERT_TRUE(doc.nextchild());
    ASSERT_TRUE(doc.setattribute(doc.childpos(), c.name, c.value, c.flags));
    EXPECT_EQ(narrow(doc.text()), narrow(c.result));
    expectsound(doc);
  }
}

TEST(XmlDoc, SetAttributeRefusals) {
  xmldoc doc;
  doc.settext(u"<r><s/></r>");
  EXPECT_FALSE(doc.setattribute(2, u"a", u"1", 0));  // position not on an element yet
  ASSERT_TRUE(doc.nextchild());
  EXPECT_FALSE(doc.setattribute(0, u"a", u"1", 0));
  EXPECT_FALSE(doc.setattribute(99, u"a", u"1", 0));
  EXPECT_TRUE(doc.setattributeint(u"n", -42, 0));
  EXPECT_EQ(doc.text(), u"<r n=\"-42\"><s/></r>");
  expectsound(doc);
}

TEST(XmlDoc, InsertElementPlacement) {
  const struct {
    const char* what;
    std::u16string text;
    unsigned flags;
    const char16_t* content;
    std::u16string result;
  } cases[] = {
      {"first child of indented children", u"<r>\r\n  <a/>\r\n</r>", AS_CHILD | BEFORE, nullptr,
       u"<r>\r\n  <source/>\r\n<a/>\r\n</r>"},
      {"root written as an empty element", u"<r/>", AS_CHILD | BEFORE, nullptr, u"<r>\r\n<source/>\r\n</r>"},
      {"root with a space before />", u"<r x='1' />", AS_CHILD | BEFORE, nullptr, u"<r x='1' >\r\n<source/>\r\n</r>"},
      {"root with both tags and nothing between", u"<r></r>", AS_CHILD | BEFORE, nullptr, u"<r>\r\n<source/>\r\n</r>"},
      {"after the last child", u"<r>\r\n  <a/>\r\n</r>", AS_CHILD, nullptr, u"<r>\r\n  <a/>\r\n<source/>\r\n</r>"},
      {"no breaks", u"<r><a/></r>", AS_CHILD | BEFORE | NO_BREAKS | SPACE_SLASH, nullptr, u"<r><source /><a/></r>"},
      {"unended parent", u"<r>", AS_CHILD | NO_BREAKS, nullptr, u"<r><source/></r>"},
      {"content escaped", u"<r/>", AS_CHILD | NO_BREAKS, u"a<b>&c\"", u"<r><source>a&lt;b&gt;&amp;c\"</source></r>"},
      {"content as CDATA", u"<r/>", AS_CHILD | NO_BREAKS | AS_CDATA, u"x]]>y",
       u"<r><source><![CDATA[x]]]]><![CDATA[>y]]></source></r>"},
      {"no end tag", u"<r/>", AS_CHILD | NO_BREAKS | NO_END_TAG, nullptr, u"<r><source></r>"},
      {"beside the root, after it", u"<r/>", 0, nullptr, u"<r/><source/>\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    xmldoc doc;
    doc.settext(c.text);
    if (c.flags & AS_CHILD) ASSERT_TRUE(doc.nextchild(u"nothing") || doc.currentpos());
    else ASSERT_TRUE(doc.nextelement());
    ASSERT_TRUE(doc.insertelement(u"source", c.content, c.flags));
    EXPECT_EQ(narrow(doc.text()), narrow(c.result));
    EXPECT_EQ(doc.elementname(c.flags & AS_CHILD ? doc.childpos() : doc.currentpos()), u"source");
    EXPECT_EQ(doc.currenttype(), 1);
    if (!(c.flags & NO_END_TAG)) expectsound(doc);
    else EXPECT_EQ(testing::indexproblem(doc), "");
  }
}

TEST(XmlDoc, InsertedChildBecomesCurrentAndLaterInsertsFollowIt) {
  xmldoc doc;
  doc.settext(u"<r><source/><b/></r>");
  ASSERT_TRUE(doc.nextchild(u"b"));
  ASSERT_TRUE(doc.insertelement(u"source", nullptr, AS_CHILD | NO_BREAKS));
  EXPECT_FALSE(doc.nextchild(u"source"));  // only the siblings after the new element
  ASSERT_TRUE(doc.insertelement(u"c", u"t", AS_CHILD | NO_BREAKS));
  ASSERT_TRUE(doc.insertelement(u"z", nullptr, AS_CHILD | BEFORE | NO_BREAKS));
  EXPECT_EQ(doc.text(), u"<r><source/><b/><source/><z/><c>t</c></r>");
  expectsound(doc);
}

TEST(XmlDoc, InsertElementRefusals) {
  xmldoc doc;
  EXPECT_FALSE(doc.insertelement(u"a", nullptr, AS_CHILD));  // empty document: no current element
  doc.settext(u"<r/>");
  EXPECT_FALSE(doc.insertelement(u"a", nullptr, AS_CHILD));
  ASSERT_TRUE(doc.nextelement());
  EXPECT_FALSE(doc.insertelement(u"a", u"content", AS_CHILD | NO_END_TAG));
  EXPECT_FALSE(doc.insertelement(u"", nullptr, AS_CHILD));
  EXPECT_FALSE(doc.insertelement(u"a b", nullptr, AS_CHILD));
  EXPECT_FALSE(doc.insertelement(std::u16string(1030, u'a'), u"x", AS_CHILD));  // end tag too long
  EXPECT_EQ(doc.text(), u"<r/>");
  EXPECT_EQ(doc.elementcount(), 2u);
}

TEST(XmlDoc, EditsDeepInsideShiftEverythingAfter) {
  xmldoc doc;
  doc.settext(u"<r><a><b><c x='1'/><d/></b><e/></a><f><g/></f></r><!-- tail -->");
  ASSERT_TRUE(doc.nextelement());
  ASSERT_TRUE(doc.nextchild(u"a"));
  std::uint32_t a = doc.childpos();
  ASSERT_TRUE(doc.setattribute(a, u"long", u"a value that moves everything", 0));
  expectsound(doc);
  ASSERT_TRUE(doc.nextchild(u"f"));
  ASSERT_TRUE(doc.insertelement(u"h", u"text", AS_CHILD | BEFORE));
  expectsound(doc);
}

TEST(XmlDoc, NamesComparedExactlyAndPaths) {
  xmldoc doc;
  doc.settext(u"<r><Source/><source/></r>");
  ASSERT_TRUE(doc.nextchild(u"source"));
  EXPECT_EQ(doc.record(doc.childpos()).start, 12u);

  const struct {
    std::u16string path;
    bool matches;
  } paths[] = {
      {u"", true},           {u"a", true},          {u"a/b/c", true},       {u"a[1]", true},
      {u"a[@x]", true},      {u"a[@x='1']/b", true}, {u"a[@x=1]", true},     {u"a[b]/@c", true},
      {u"/a", false},        {u"a[]", false},      {u"a[1", false},        {u"a//b", false},
      {u"a/", false},        {u"b", false},         {u"A", false},          {u"a[@x='1]", false},
  };
  for (const auto& p : paths) EXPECT_EQ(pathmatches(p.path, u"a"), p.matches) << narrow(p.path);
}

TEST(XmlDoc, EscapingAndCdata) {
  EXPECT_EQ(escapetext(u"<a & \"b\" 'c'>", 0), u"&lt;a &amp; \"b\" 'c'&gt;");
  EXPECT_EQ(escapetext(u"<a & \"b\" 'c'>", QUOTES), u"&lt;a &amp; &quot;b&quot; &apos;c&apos;&gt;");
  EXPECT_EQ(escapetext(u"&amp; &#233; &x-y.z; &bad &; &\u00e9;", KEEP_REFS),
            u"&amp; &#233; &x-y.z; &amp;bad &amp;; &\u00e9;");
  EXPECT_EQ(cdatasection(u"a]]>b"), u"<![CDATA[a]]]]><![CDATA[>b]]>");
  EXPECT_EQ(cdatasection(u"]]>]]>"), u"<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>");
}

}  // namespace
}  // namespace kelvane
