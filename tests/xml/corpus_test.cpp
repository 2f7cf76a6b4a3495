// Round trips and edits on real XML files that nobody here wrote: every .xml
// file under a corpus folder (/usr/share; KELVANE_XML_CORPUS names another)
// that is UTF-8, or UTF-16 with a byte-order mark, or declares its encoding.
// Bounded so that it stays quick under the sanitizers: files of at most
// 1 MiB, at most 1500 files and 12 MiB in all, taken in path order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "indexcheck.h"
#include "tests/support/scratch.h"
#include "platform/files.h"
#include "platform/text.h"
#include "xml/textfile.h"
#include "xml/xmldoc.h"

namespace kelvane {
namespace {

using testing::readbytes;

constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxFiles = 1500;
constexpr std::size_t kMaxTotalBytes = 12u << 20;

std::string corpusfolder() {
  if (const char* folder = std::getenv("KELVANE_XML_CORPUS")) return folder;
#ifdef _WIN32
  return "Z:\\usr\\share";
#else
  return "/usr/share";
#endif
}

bool endswith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Strict UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool strictutf8(const std::string& bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0, n = bytes.size(); i < n;) {
    unsigned c = b[i];
    std::size_t k = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 9;
    if (k == 9 || i + k >= n) return false;
    unsigned value = k ? c & (0x3F >> k) : c;
    for (std::size_t j = 1; j <= k; ++j) {
      if ((b[i + j] & 0xC0) != 0x80) return false;
      value = value << 6 | (b[i + j] & 0x3F);
    }
    if ((k == 2 && (value < 0x800 || (value >= 0xD800 && value < 0xE000))) || (k == 3 && (value < 0x10000 || value > 0x10FFFF)))
      return false;
    i += k + 1;
  }
  return true;
}

void listxml(const std::string& folder, std::vector<std::string>& files) {
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    std::string current = pending.back();
    pending.pop_back();
    std::vector<fs::direntry> entries;
    if (!fs::listfolder(current, entries)) continue;
    for (const auto& e : entries) {
      if (e.name == "." || e.name == ".." || e.link) continue;
      std::string path = current + fs::separator() + e.name;
      if (e.folder)
        pending.push_back(path);
      else if (endswith(e.name, ".xml"))
        files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
}

struct sample {
  std::string path;
  std::string bytes;
};

// The files of the corpus that this test holds to a byte-exact round trip.
const std::vector<sample>& corpus() {
  static const std::vector<sample> samples = [] {
    std::vector<std::string> files;
    listxml(corpusfolder(), files);
    std::vector<sample> chosen;
    std::size_t total = 0;
    for (const auto& path : files) {
      if (chosen.size() >= kMaxFiles || total >= kMaxTotalBytes) break;
      std::string bytes = readbytes(path);
      if (bytes.empty() || bytes.size() > kMaxFileBytes) continue;
      bool marked = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 || bytes.compare(0, 2, "\xFF\xFE") == 0 ||
                    bytes.compare(0, 2, "\xFE\xFF") == 0;
      std::string head = bytes.substr(0, 1024);
      bool declared = head.compare(0, 5, "<?xml") == 0 && head.find("encoding") < head.find("?>");
      bool utf8 = !marked && strictutf8(bytes);
      // Zero characters are dropped on reading by design.
      bool zeros = !marked && bytes.find('\0') != std::string::npos;
      if (zeros || !(marked || declared || utf8)) continue;
      total += bytes.size();
      chosen.push_back({path, std::move(bytes)});
    }
    return chosen;
  }();
  return samples;
}

std::string tempfile() { return tonarrow(fs::temppath()) + "kelvane-corpus-roundtrip.xml"; }

TEST(XmlCorpus, LoadsAndSavesBackByteForByte) {
  const auto& samples = corpus();
  if (samples.empty()) GTEST_SKIP() << "no XML files under " << corpusfolder();
  std::string out = tempfile();
  std::size_t bytes = 0;
  for (const auto& s : samples) {
    xmldoc doc;
    doc.loadfile(towide(s.path));
    ASSERT_TRUE(doc.savefile(towide(out))) << s.path;
    EXPECT_TRUE(readbytes(out) == s.bytes) << s.path << "\n" << tonarrow(doc.resultlog());
    EXPECT_EQ(testing::indexproblem(doc), "") << s.path;
    bytes += s.bytes.size();
  }
  fs::removefile(out);
  std::printf("round trip of %zu files, %zu bytes, from %s\n", samples.size(), bytes, corpusfolder().c_str());
}

// The text outside one spliced span is unchanged: returns how much the text
// grew, or -1 when the change is not one span.
long long splicedlength(const std::u16string& before, const std::u16string& after) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
    ++suffix;
  if (prefix + suffix < before.size()) return -1;
  return static_cast<long long>(after.size()) - static_cast<long long>(before.size());
}

void expectfreshparse(const xmldoc& doc, const std::string& path) {
  xmldoc fresh;
  fresh.settext(doc.text());
  EXPECT_EQ(testing::outline(doc), testing::outline(fresh)) << path;
  EXPECT_EQ(testing::indexproblem(doc), "") << path;
}

TEST(XmlCorpus, EditsOfWellFormedFilesKeepEverythingElse) {
  std::size_t edited = 0;
  for (const auto& s : corpus()) {
    xmldoc doc;
    if (!doc.loadfile(towide(s.path))) continue;
    ++edited;
    ASSERT_TRUE(doc.nextelement());
    std::u16string before = doc.text();
    ASSERT_TRUE(doc.setattribute(doc.currentpos(), u"kelvane-test", u"a&b<c\"d", 0)) << s.path;
    EXPECT_EQ(splicedlength(before, doc.text()), 35) << s.path;
    expectfreshparse(doc, s.path);

    before = doc.text();
    ASSERT_TRUE(doc.insertelement(u"source", nullptr, AS_CHILD | BEFORE)) << s.path;
    EXPECT_GE(splicedlength(before, doc.text()), 9) << s.path;
    std::uint32_t inserted = doc.childpos();
    expectfreshparse(doc, s.path);

    before = doc.text();
    ASSERT_TRUE(doc.setattribute(inserted, u"path", u"C:\\p.exe", 0));
    EXPECT_EQ(splicedlength(before, doc.text()), 16) << s.path;
    if (doc.nextchild()) {  // the old first child, moved down by the insert
      before = doc.text();
      const elementrecord& r = doc.record(doc.childpos());
      std::size_t tagstart = r.start, tagend = std::size_t{r.start} + r.starttag();
      ASSERT_TRUE(doc.setattribute(doc.childpos(), u"id", u"x", 0));
      // Only its start tag changed (the attribute may have been there).
      const std::u16string& after = doc.text();
      EXPECT_EQ(after.compare(0, tagstart, before, 0, tagstart), 0) << s.path;
      std::size_t tail = before.size() - tagend;
      EXPECT_EQ(after.compare(after.size() - tail, tail, before, tagend, tail), 0) << s.path;
    }
    expectfreshparse(doc, s.path);
  }
  std::printf("edited %zu well-formed files\n", edited);
}

}  // namespace
}  // namespace kelvane
