// Parses arbitrary UTF-16 text, checks the index against the text, then runs
// the configuration patch's edits and a few more and checks again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/xml/indexcheck.h"
#include "xml/textfile.h"
#include "xml/xmldoc.h"

namespace {

void check(const kelvane::xmldoc& doc) {
  if (!kelvane::testing::indexproblem(doc).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  xmldoc doc;
  doc.settext(text);
  check(doc);
  declaredencoding(text);

  bool found = false;
  while (doc.nextchild(u"source")) {
    found = true;
    doc.setattribute(doc.childpos(), u"path", u"C:\\a&b\"<>.exe", 0);
    check(doc);
  }
  if (!found && doc.insertelement(u"source", nullptr, AS_CHILD | BEFORE)) {
    check(doc);
    doc.setattribute(doc.childpos(), u"path", u"p", 0);
    check(doc);
  }
  if (doc.nextelement()) {
    doc.setattributeint(u"a", 1, 0);
    check(doc);
    doc.insertelement(u"x", u"]]>&", AS_CDATA);
    check(doc);
    doc.insertelement(u"y", nullptr, AS_CHILD | NO_END_TAG);
    check(doc);
    doc.insertelement(u"z", u"t", AS_CHILD | NO_BREAKS);
    check(doc);
  }
  return 0;
}
