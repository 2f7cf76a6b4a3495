#include <gtest/gtest.h>

#include <string>

#include "indexcheck.h"
#include "xml/elementindex.h"
#include "xml/resultlog.h"
#include "xml/scanner.h"
#include "xml/xmldoc.h"

namespace kelvane {
namespace {

std::string narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

// The nodes of a text as "kind:length" ("e" marks an empty element), with
// the error records they produced.
std::string nodes(std::u16string_view text, std::u16string* errors = nullptr) {
  nodescanner scanner(text);
  noderesult node;
  std::string out;
  while (nextnode(scanner, node) != NODE_NONE) {
    out += std::to_string(node.kind) + ":" + std::to_string(node.length) + (node.empty ? "e" : "") + " ";
    if (node.length == 0) return out + "stuck";
  }
  if (errors) *errors = scanner.errors;
  return out;
}

TEST(NextNode, KindsAndExtents) {
  const struct {
    std::u16string text;
    std::string nodes;
    std::u16string errors;
  } cases[] = {
      {u"<a>", "1:3 ", u""},
      {u"<a/>", "1:4e ", u""},
      {u"</a>", "0:4 ", u""},
      {u"text", "2:4 ", u""},
      {u" \t\r\n", "4:4 ", u""},
      {u"  x<a>", "2:3 1:3 ", u""},
      {u"a>b<c>", "2:2 2:1 1:3 ", u""},
      {u"<!-- a > b -->", "32:14 ", u""},
      {u"<!-->", "32:5 ", u""},
      {u"<?x?>", "16:5 ", u""},
      {u"<?>?>", "16:5 ", u""},
      {u"<![CDATA[a]>b]]>", "8:16 ", u""},
      {u"<!DOCTYPE a [<!ENTITY x \"a>b\"> <!-- > --> <?p >?>]><a/>", "64:51 1:4e ", u""},
      {u"<a b='>'>", "1:9 ", u""},
      {u"<a b=\"x\"/>", "1:10e ", u""},
      {u"<a href=x/>", "1:11 ", u""},
      {u"<a href=x />", "1:12e ", u""},
      {u"<a x= />", "1:8e ", u""},
      {u"< a>", "-1:4 ", u"<first_tag_syntax offset=\"0\"/>"},
      {u"x < y>z", "2:2 -1:4 2:1 ", u"<first_tag_syntax offset=\"2\"/>"},
      {u"<<a>", "-1:1 1:3 ", u"<first_tag_syntax offset=\"0\"/>"},
      {u"<!x>", "-1:4 ", u"<exclamation_tag_syntax offset=\"0\"/>"},
      {u"<!-x>", "-1:5 ", u"<comment_tag_syntax offset=\"0\"/>"},
      {u"<![x>", "-1:5 ", u"<cdata_section_syntax offset=\"0\"/>"},
      {u"<!DOCTYPE a [<!x>]>", "64:19 ", u"<doctype_tag_syntax offset=\"0\"/>"},
      {u"<!-- x", "-1:6 ", u"<unterminated_tag_syntax type=\"comment\" offset=\"0\"/>"},
      {u"a<", "2:1 -1:1 ", u"<unterminated_tag_syntax type=\"tag\" offset=\"1\"/>"},
      {u"<!", "-1:2 ", u"<unterminated_tag_syntax type=\"tag\" offset=\"0\"/>"},
      {u"<a", "-1:2 ", u"<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>"},
      {u"<a b=\"c>", "-1:8 ", u"<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>"},
      {u"</a", "-1:3 ", u"<unterminated_tag_syntax type=\"end_tag\" offset=\"0\"/>"},
      {u"<![CDATA[x]>", "-1:12 ", u"<unterminated_tag_syntax type=\"cdata_section\" offset=\"0\"/>"},
      {u"<?>", "-1:3 ", u"<unterminated_tag_syntax type=\"processing_instruction\" offset=\"0\"/>"},
      {u"<!DOCTYPE x [<!-- >", "-1:19 ", u"<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    std::u16string errors;
    EXPECT_EQ(nodes(c.text, &errors), c.nodes);
    EXPECT_EQ(errors, c.errors);
  }
}

TEST(NextNode, NamesBecomeTheToken) {
  const struct {
    std::u16string text;
    std::u16string name;
  } cases[] = {{u"<abc x='1'>", u"abc"}, {u"<a/>", u"a"}, {u"</b\n>", u"b"}, {u"<?xml version?>", u"xml"},
               {u"<a[1]>", u"a[1]"}};
  for (const auto& c : cases) {
    nodescanner scanner(c.text);
    noderesult node;
    nextnode(scanner, node);
    EXPECT_EQ(scanner.token(), c.name);
  }
}

TEST(NextToken, WordsAndSingleCharacterTokens) {
  nodescanner scanner(u"  text/html; charset=gb2312 a\\b!'\"?<>");
  std::u16string tokens;
  while (nexttoken(scanner)) tokens += std::u16string(scanner.token()) + u"|";
  EXPECT_EQ(tokens, u"text|/|html|;|charset|=|gb2312|a|\\|b|!|'|\"|?|<|>|");
}

TEST(FindAttribute, ValuesPositionsAndBareNames) {
  const struct {
    std::u16string tag;
    std::u16string name;
    bool found;
    std::u16string token;  // the value, or the name of a bare attribute
    bool quoted;
    bool valueless;
    std::size_t position;
  } cases[] = {
      {u"<a x=\"1\" y='2' z=3>", u"y", true, u"2", true, false, 14},
      {u"<a x=\"1\" y='2' z=3>", u"z", true, u"3", false, false, 18},
      {u"<a x=\"1\" y='2' z=3>", u"w", false, u"", false, false, 18},
      {u"<a x=\"1\" />", u"w", false, u"", false, false, 8},
      {u"<a x = \"1\">", u"x", true, u"1", true, false, 10},
      {u"<a>", u"w", false, u"", false, false, 2},
      {u"<a a=\"v\">", u"a", true, u"v", true, false, 8},
      {u"<a xy=\"1\" x=\"2\">", u"x", true, u"2", true, false, 15},
      {u"<option selected>", u"selected", true, u"selected", false, true, 16},
      {u"<a x y=\"1\">", u"x", true, u"x", false, true, 4},
      {u"<a x=>", u"x", true, u"", false, false, 5},
      {u"<?xml version=\"1.0\" encoding='GBK'?>", u"encoding", true, u"GBK", true, false, 34},
      {u"<a x=\"1", u"x", true, u"1", true, false, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.tag) + " " + narrow(c.name));
    nodescanner scanner(c.tag, c.tag[1] == u'?' ? 2 : 1);
    std::u16string value;
    ASSERT_EQ(findattribute(scanner, c.name, &value), c.found);
    EXPECT_EQ(scanner.position, c.position);
    if (!c.found) continue;
    EXPECT_EQ(scanner.token(), c.token);
    EXPECT_EQ(value, c.token);
    EXPECT_EQ(scanner.quoted, c.quoted);
    EXPECT_EQ(scanner.valueless, c.valueless);
  }
}

TEST(AddRecord, AddsUpdatesEscapesAndStopsAtTheLimit) {
  std::u16string log;
  addrecord(log, u"reading");
  addrecord(log, u"read", u"", LOG_ENCODING | LOG_LENGTH, 0);
  addrecord(log, u"read", u"UTF-8", LOG_UPDATE | LOG_ENCODING);
  addrecord(log, u"missing", u"x", LOG_UPDATE | LOG_ENCODING);
  addrecord(log, u"file_error", u"a&b<\"'>", LOG_MSG | LOG_N, 2);
  addrecord(log, u"nulls_removed", LOG_COUNT, 7);
  addrecord(log, u"unended_start_tag", u"b", 0, 3, 7);
  addrecord(log, u"unterminated_tag_syntax", u"tag", LOG_TYPE, 1);
  EXPECT_EQ(log,
            u"<reading/><read encoding=\"UTF-8\" length=\"0\"/>"
            u"<file_error msg=\"a&amp;b&lt;&quot;&apos;&gt;\" n=\"2\"/><nulls_removed count=\"7\"/>"
            u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"
            u"<unterminated_tag_syntax type=\"tag\" offset=\"1\"/>");

  std::u16string full(1000, u'x');
  addrecord(full, u"bom");
  EXPECT_EQ(full.size(), 1000u);
}

struct parsecase {
  std::u16string text;
  bool wellformed;
  std::string outline;
  std::u16string log;
};

TEST(Parse, RepairsAndRecords) {
  const parsecase cases[] = {
      {u"<a><b/>t</a>", true, "0:0+12/3/4f 1:3+4/4/0f ", u""},
      {u"<a><b></a>", false, "0:0+10/3/4f 1:3+3/3/0uf ", u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
      {u"<a><b><c/></b>", false, "0:0+3/3/0uf 0:3+11/3/4 1:6+4/4/0f ",
       u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"14\"/><root_has_sibling/>"},
      {u"<a><b><c/><d/></a>", false, "0:0+18/3/4f 1:3+3/3/0uf 1:6+4/4/0 1:10+4/4/0 ",
       u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"15\"/>"},
      {u"<a><b><c><d/></a>", false, "0:0+17/3/4f 1:3+3/3/0uf 1:6+3/3/0u 1:9+4/4/0 ",
       u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"14\"/>"
       u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"14\"/>"},
      {u"</x><a/>", false, "0:4+4/4/0f ", u"<lone_end_tag tagname=\"x\" offset=\"0\"/>"},
      {u"<a/><b/>", false, "0:0+4/4/0f 0:4+4/4/0 ", u"<root_has_sibling/>"},
      {u"", false, "", u""},
      {u"words and  spaces", false, "", u"<no_root_element/>"},
      {u"<a x=y/>", false, "0:0+8/8/0uf ", u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"8\"/>"},
      {u"<a x=y />", true, "0:0+9/9/0f ", u""},
      {u"<a x='y'/>", true, "0:0+10/10/0f ", u""},
      {u"<a[x]>t</a>", true, "0:0+11/6/4f ", u""},
      {u"<a b='>'>t</a>", true, "0:0+14/9/4f ", u""},
      {u"<a>< b></a>", false, "0:0+11/3/4f ", u"<first_tag_syntax offset=\"3\"/>"},
      {u"<a><!-- x", false, "0:0+3/3/0uf ",
       u"<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
       u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"9\"/>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    xmldoc doc;
    EXPECT_EQ(doc.settext(c.text), c.wellformed);
    EXPECT_EQ(testing::outline(doc), c.outline);
    EXPECT_EQ(doc.resultlog(), c.log);
    EXPECT_EQ(testing::indexproblem(doc), "");
    EXPECT_EQ(doc.currentpos() + doc.parentpos() + doc.childpos() + doc.currenttype(), 0u);
  }
}

TEST(Parse, AppendAfterRepairedChildrenGoesLast) {
  xmldoc doc;
  doc.settext(u"<a><b><c/><d/></a>");
  ASSERT_TRUE(doc.nextelement(u"a"));
  ASSERT_TRUE(doc.insertelement(u"e", nullptr, AS_CHILD | NO_BREAKS));
  EXPECT_EQ(doc.text(), u"<a><b><c/><d/><e/></a>");
  EXPECT_EQ(testing::indexproblem(doc), "");
  EXPECT_EQ(doc.record(doc.record(doc.record(doc.childpos()).previous).previous).start, 6u);
}

// The packed tag lengths hold start tags below 4,194,304 units and end tags
// below 1024; longer tags are refused and noted, never truncated.
TEST(Parse, TagsTooLongForTheirFieldsAreRefused) {
  auto starttag = [](std::size_t length) { return u"<a" + std::u16string(length - 3, u' ') + u">"; };
  auto endtag = [](std::size_t length) { return u"</a" + std::u16string(length - 4, u' ') + u">"; };
  xmldoc doc;
  EXPECT_TRUE(doc.settext(starttag(kMaxStartTag) + u"</a>"));
  EXPECT_EQ(doc.record(1).starttag(), kMaxStartTag);

  EXPECT_FALSE(doc.settext(starttag(kMaxStartTag + 1) + u"<b/></a>"));
  EXPECT_EQ(testing::outline(doc), "0:4194304+4/4/0f ");
  EXPECT_EQ(doc.resultlog(), u"<tag_too_long type=\"start_tag\" offset=\"0\"/><lone_end_tag tagname=\"a\" offset=\"4194308\"/>");

  EXPECT_TRUE(doc.settext(u"<a>" + endtag(kMaxEndTag)));
  EXPECT_EQ(doc.record(1).endtag(), kMaxEndTag);

  EXPECT_FALSE(doc.settext(u"<a>" + endtag(kMaxEndTag + 1)));
  EXPECT_EQ(testing::outline(doc), "0:0+3/3/0uf ");
  EXPECT_EQ(doc.resultlog(), u"<tag_too_long type=\"end_tag\" offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"1027\"/>");
}

TEST(ElementIndex, GrowsAPageAtATimeAndKeepsRecords) {
  elementindex index;
  index.grow(8);
  EXPECT_EQ(index.allocated(), 8u);
  EXPECT_EQ(index.tablesize(), 4u);
  index[7].start = 77;
  index.grow(5);
  EXPECT_EQ(index.allocated(), 8u);

  index.grow(70000);
  EXPECT_EQ(index.allocated(), 70000u);
  EXPECT_EQ(index.pagesize(0), 65536u);
  EXPECT_EQ(index.pagesize(1), 70000u - 65536u);
  index[69999].start = 99;

  index.grow(1000000);  // limited to filling the next page
  EXPECT_EQ(index.allocated(), 3u * 65536u);
  EXPECT_EQ(index[7].start, 77u);
  EXPECT_EQ(index[69999].start, 99u);
  EXPECT_EQ(index[3 * 65536 - 1].start, 0u);

  index.grow(4u * 65536u + 1);
  index.grow(4u * 65536u + 1);
  EXPECT_EQ(index.allocated(), 4u * 65536u + 1);
  EXPECT_EQ(index.tablesize(), 12u);
  EXPECT_EQ(index[69999].start, 99u);
}

TEST(Parse, LargeDocumentSpansSeveralPages) {
  const std::size_t count = 200000;
  std::u16string text = u"<r>";
  for (std::size_t i = 0; i < count; ++i) text += u"<a/>";
  text += u"</r>";
  xmldoc doc;
  ASSERT_TRUE(doc.settext(text));
  EXPECT_EQ(doc.elementcount(), count + 2);
  EXPECT_GE(doc.index().allocated(), count + 2);
  EXPECT_EQ(doc.record(count + 1).start, 3 + 4 * (count - 1));
  EXPECT_EQ(doc.record(count + 1).parent, 1u);
  EXPECT_EQ(doc.record(2).previous, count + 1);
}

// Deep nesting that never closes must not take quadratic time or recursion.
TEST(Parse, DeepUnendedNestingIsFlattenedInOnePass) {
  std::u16string text;
  for (int i = 0; i < 200000; ++i) text += u"<a>";
  xmldoc doc;
  EXPECT_FALSE(doc.settext(text));
  EXPECT_EQ(doc.record(0).firstchild, 1u);
  EXPECT_EQ(doc.record(1).nextsibling, 2u);
  EXPECT_EQ(doc.record(1).previous, 200000u);
  EXPECT_EQ(doc.record(200000).parent, 0u);
  EXPECT_EQ(testing::indexproblem(doc), "");
}

}  // namespace
}  // namespace kelvane
