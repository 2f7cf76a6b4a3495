// The PE resource reader and writer on images made here byte by byte: what
// is read, the section and headers written, the package's icon and version,
// and hostile images refused.
#include "resources/peresources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "resources/iconfile.h"
#include "resources/packageresources.h"
#include "tests/resources/pefixture.h"
#include "tests/support/scratch.h"

namespace kelvane {
namespace {

using testing::bytes;
using testing::fixture;
using testing::fixturelayout;
using testing::get;
using testing::leaf;
using testing::makeimage;
using testing::put;

std::string text(const std::vector<unsigned char>& data) { return std::string(data.begin(), data.end()); }

std::string le16(unsigned v) { return {char(v), char(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// An icon group directory naming the given images (their other fields 'g').
std::string groupdir(const std::vector<std::uint16_t>& ids) {
  std::string out = le16(0) + le16(1) + le16(unsigned(ids.size()));
  for (std::uint16_t id : ids) out += std::string(12, 'g') + le16(id);
  return out;
}

// A version resource Windows can read, told apart by `tag`.
std::string versionblock(const std::string& tag) {
  std::string out = le16(0) + le16(0) + le16(1);
  for (char c : std::string("VS_VERSION_INFO")) out += le16(c);
  out += le16(0) + tag;
  out.replace(0, 2, le16(unsigned(out.size())));
  return out;
}

std::string describe(const resourceid& id) {
  return id.named ? std::string(id.text.begin(), id.text.end()) : "#" + std::to_string(id.number);
}

// "type/name/language=data" for each resource, in the order read.
std::vector<std::string> listing(const bytes& image) {
  std::vector<resource> found;
  std::string error;
  EXPECT_TRUE(readresources(image.data(), image.size(), found, error)) << error;
  std::vector<std::string> out;
  for (const resource& r : found)
    out.push_back(describe(r.type) + "/" + describe(r.name) + "/" + std::to_string(r.language) + "=" + text(r.data));
  return out;
}

// Unsorted on purpose: the reader sorts, the writer writes in PE order.
const std::vector<leaf> stubleaves = {
    {"#16", "#1", 1033, "version"},
    {"#3", "#2", 1033, "image two"},
    {"MYTYPE", "beta", 7, "b"},
    {"#3", "#1", 1033, "image one"},
    {"#24", "#1", 1033, "<manifest/>"},
    {"MYTYPE", "Alpha", 7, "a"},
    {"#14", "#1", 1033, groupdir({1, 2})},
    {"#3", "#1", 1031, "ein Bild"},
};
const std::vector<std::string> stublisting = {
    "MYTYPE/Alpha/7=a", "MYTYPE/beta/7=b", "#3/#1/1031=ein Bild", "#3/#1/1033=image one",
    "#3/#2/1033=image two", "#14/#1/1033=" + stubleaves[6].data, "#16/#1/1033=version", "#24/#1/1033=<manifest/>",
};

fixture stub(const fixturelayout& layout = {}) { return makeimage(testing::encodetree(stubleaves, 0x2000), layout); }

TEST(peresources, ReadsEveryResourceInPeOrder) {
  for (bool plus : {true, false}) {
    fixture f = stub({plus});
    EXPECT_EQ(listing(f.image), stublisting) << (plus ? "PE32+" : "PE32");
  }
}

TEST(peresources, WritesSortedSectionAndFixesTheHeaders) {
  for (bool plus : {true, false}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    fixture f = stub({plus});
    const bytes before = f.image;
    std::vector<resource> resources;
    std::string error;
    ASSERT_TRUE(readresources(before.data(), before.size(), resources, error)) << error;
    // Grow the section past one section alignment: the relocations move.
    resources.push_back({resourceid::of(10), resourceid::of(5), 1033, 0, std::vector<unsigned char>(0x1800, 'z')});
    bytes image = before;
    ASSERT_TRUE(writeresources(image, resources, error)) << error;

    std::vector<std::string> expected = stublisting;
    expected.insert(expected.begin() + 5, "#10/#5/1033=" + std::string(0x1800, 'z'));
    EXPECT_EQ(listing(image), expected);

    std::uint32_t rsrcsize = get(image, f.section(1) + 8, 4);
    EXPECT_EQ(get(image, f.directory(2), 4), 0x2000u);
    EXPECT_EQ(get(image, f.directory(2) + 4, 4), rsrcsize);
    EXPECT_EQ(get(image, f.section(1) + 16, 4), (rsrcsize + 0x1FF) / 0x200 * 0x200);
    std::uint32_t relocva = get(image, f.section(2) + 12, 4), relocraw = get(image, f.section(2) + 20, 4);
    EXPECT_EQ(relocva, 0x2000 + (rsrcsize + 0xFFF) / 0x1000 * 0x1000);
    EXPECT_GT(relocva, get(before, f.section(2) + 12, 4));
    EXPECT_EQ(relocraw, get(image, f.section(1) + 20, 4) + get(image, f.section(1) + 16, 4));
    EXPECT_EQ(get(image, f.directory(5), 4), relocva);
    EXPECT_EQ(get(image, fixture::optional + 56, 4), relocva + 0x1000);  // SizeOfImage
    std::uint32_t initialized = get(image, f.section(1) + 16, 4) + get(image, f.section(2) + 16, 4);
    EXPECT_EQ(get(image, fixture::optional + 8, 4), initialized);
    EXPECT_EQ(get(image, fixture::optional + 64, 4), 0u);  // checksum
    // The relocations' bytes moved whole; the code and headers before the
    // resources are as they were; the padding is gone.
    EXPECT_EQ(bytes(image.begin() + relocraw, image.begin() + relocraw + 12),
              bytes(before.begin() + get(before, f.section(2) + 20, 4),
                    before.begin() + get(before, f.section(2) + 20, 4) + 12));
    EXPECT_EQ(bytes(image.begin() + 0x400, image.begin() + 0x700), bytes(before.begin() + 0x400, before.begin() + 0x700));
    EXPECT_EQ(image.size(), relocraw + 0x200u);

    // The root: named types first ("MYTYPE"), then numbers ascending.
    std::size_t root = get(image, f.section(1) + 20, 4);
    EXPECT_EQ(get(image, root + 12, 2), 1u);
    EXPECT_EQ(get(image, root + 14, 2), 5u);
    std::vector<std::uint32_t> ids;
    for (int i = 1; i < 6; ++i) ids.push_back(get(image, root + 16 + 8 * i, 4));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{3, 10, 14, 16, 24}));

    // Written again, the same bytes: one fixed layout.
    bytes again = image;
    ASSERT_TRUE(readresources(again.data(), again.size(), resources, error)) << error;
    ASSERT_TRUE(writeresources(again, resources, error)) << error;
    EXPECT_TRUE(again == image);
  }
}

TEST(peresources, ShrinkingMovesTheRelocationsBack) {
  fixture f = makeimage(testing::encodetree({{"#10", "#1", 0, std::string(0x2400, 'x')}}, 0x2000));
  std::vector<resource> one = {{resourceid::of(10), resourceid::of(1), 0, 0, {'y'}}};
  std::string error;
  ASSERT_TRUE(writeresources(f.image, one, error)) << error;
  EXPECT_EQ(get(f.image, f.section(2) + 12, 4), 0x3000u);
  EXPECT_EQ(get(f.image, f.directory(5), 4), 0x3000u);
  EXPECT_EQ(get(f.image, fixture::optional + 56, 4), 0x4000u);
  EXPECT_EQ(listing(f.image), std::vector<std::string>{"#10/#1/0=y"});
}

// Hostile images: each refused with its reason, nothing read out of bounds
// (the suite runs under ASan).
TEST(peresources, RefusesHostileImages) {
  fixture good = stub();
  std::size_t root = get(good.image, good.section(1) + 20, 4);
  std::size_t rootdir = root;  // the tree starts its section
  std::size_t mytype = 0;  // the one named type, among five
  for (std::size_t i = 0; i < 5; ++i)
    if (get(good.image, rootdir + 16 + 8 * i, 4) & 0x80000000u) mytype = rootdir + 16 + 8 * i;
  ASSERT_NE(mytype, 0u);
  auto below = [&](std::size_t entry) { return root + (get(good.image, entry + 4, 4) & 0x7FFFFFFF); };
  std::size_t typedir = below(mytype);                  // its names: "beta", then "Alpha"
  std::size_t betalanguage = below(typedir + 16) + 16;  // each name's one language entry
  std::size_t alphalanguage = below(typedir + 24) + 16;
  std::size_t dataentry = root + get(good.image, alphalanguage + 4, 4);
  std::size_t betadata = root + get(good.image, betalanguage + 4, 4);
  struct row {
    const char* what;
    std::function<void(bytes&)> change;
    const char* error;
  } rows[] = {
      {"no MZ", [](bytes& b) { b[0] = 'X'; }, "not a program: no MZ header"},
      {"e_lfanew past the end", [](bytes& b) { put(b, 0x3c, 0xFFFFFFF0u, 4); }, "not a program: no PE header"},
      {"cut inside the section table", [](bytes& b) { b.resize(0x1A0); }, "the section table is cut short"},
      {"optional header larger than the file", [](bytes& b) { put(b, fixture::coff + 16, 0xFFFF, 2); b.resize(0x300); },
       "the optional header is cut short"},
      {"section data past the end", [&](bytes& b) { put(b, good.section(2) + 16, 0x7FFFFFFF, 4); },
       "a section lies beyond the end of the file"},
      {"resource root outside the sections", [&](bytes& b) { put(b, good.directory(2), 0x900000, 4); },
       "the resource directory lies outside the image's sections"},
      {"a type that loops to the root", [&](bytes& b) { put(b, mytype + 4, 0x80000000u | (rootdir - root), 4); },
       "resource directories overlap or loop"},
      {"a subdirectory outside the section", [&](bytes& b) { put(b, mytype + 4, 0xFFFFFF00u, 4); },
       "a resource directory lies outside the section"},
      {"entry counts past the section", [&](bytes& b) { put(b, rootdir + 14, 0xFFFF, 2); },
       "a resource directory's entries pass the end of the section"},
      {"a name outside the section", [&](bytes& b) { put(b, mytype, 0xFFFFFFF0u, 4); },
       "a resource name lies outside the section"},
      {"a name longer than the section", [&](bytes& b) {
         put(b, root + (get(b, mytype, 4) & 0x7FFFFFFF), 0xFFFF, 2);
       }, "a resource name passes the end of the section"},
      {"a number over 65535", [&](bytes& b) { put(b, rootdir + 16 + 8, 0x12345, 4); }, "a resource number is out of range"},
      {"data where a name directory belongs", [&](bytes& b) { put(b, mytype + 4, dataentry - root, 4); },
       "a resource type or name has data instead of a directory"},
      {"a directory where data belongs", [&](bytes& b) { put(b, alphalanguage + 4, 0x80000000u | (rootdir - root), 4); },
       "a resource language has a directory instead of data"},
      {"data outside the image", [&](bytes& b) { put(b, dataentry, 0x7FFFFF00, 4); },
       "resource data lies outside the image's sections"},
      {"data size that overflows", [&](bytes& b) { put(b, dataentry + 4, 0xFFFFFFFFu, 4); },
       "resource data lies outside the image's sections"},
      {"data over other data", [&](bytes& b) { put(b, dataentry, get(b, betadata, 4), 4); },
       "resource data overlaps other resource data"},
      {"one data entry for two leaves", [&](bytes& b) { put(b, betalanguage + 4, dataentry - root, 4); },
       "a resource data entry is used twice"},
  };
  for (const row& r : rows) {
    bytes image = good.image;
    r.change(image);
    std::vector<resource> found;
    std::string error;
    EXPECT_FALSE(readresources(image.data(), image.size(), found, error)) << r.what;
    EXPECT_EQ(error, r.error) << r.what;
    // The writer reads first: it refuses too and leaves the image alone.
    bytes written = image;
    EXPECT_FALSE(setpackageresources(written, nullptr, nullptr, error)) << r.what;
    EXPECT_TRUE(written == image) << r.what;
  }
}

TEST(peresources, RefusesLayoutsItCannotRewrite) {
  struct row {
    const char* what;
    fixturelayout layout;
    std::function<void(fixture&)> change;
    const char* error;
  } rows[] = {
      {"a data section after the resources", {true, 0, true}, [](fixture&) {},
       "a section that cannot move follows the resource section"},
      {"relocations that patch the resources", {}, [](fixture& f) {
         put(f.image, get(f.image, f.section(2) + 20, 4), 0x2000, 4);
       }, "relocations patch the resource section or a section after it"},
      {"resources not at their section's start", {}, [](fixture& f) {
         put(f.image, f.directory(2), 0x2010, 4);
       }, "the resource directory does not start its section"},
      {"an import directory in the resources", {}, [](fixture& f) { put(f.image, f.directory(1), 0x2100, 4), put(f.image, f.directory(1) + 4, 40, 4); },
       "a data directory lies in or after the resource section"},
      {"a relocation block larger than the directory", {}, [](fixture& f) {
         put(f.image, get(f.image, f.section(2) + 20, 4) + 4, 0x1000, 4);
       }, "a relocation block's size does not fit"},
  };
  for (const row& r : rows) {
    fixture f = stub(r.layout);
    r.change(f);
    bytes image = f.image;
    std::string error;
    EXPECT_FALSE(writeresources(image, {}, error)) << r.what;
    EXPECT_EQ(error, r.error) << r.what;
    EXPECT_TRUE(image == f.image) << r.what;
  }
}

// An .ico of the given images, each entry declaring its size and bit count.
std::string icofile(const std::vector<std::pair<int, std::string>>& images) {
  std::string dir = le16(0) + le16(1) + le16(unsigned(images.size())), data;
  std::uint32_t offset = std::uint32_t(6 + 16 * images.size());
  for (const auto& [side, image] : images) {
    dir += std::string{char(side & 0xFF), char(side & 0xFF), 0, 0} + le16(1) + le16(32) +
           le32(std::uint32_t(image.size())) + le32(offset + std::uint32_t(data.size()));
    data += image;
  }
  return dir + data;
}

std::vector<unsigned char> vec(const std::string& s) { return {s.begin(), s.end()}; }

// The group directory the .ico's images get under the given ids.
std::string expectedgroup(const std::string& ico, const std::vector<std::uint16_t>& ids) {
  std::string out = ico.substr(0, 6);
  for (std::size_t i = 0; i < ids.size(); ++i) out += ico.substr(6 + 16 * i, 12) + le16(ids[i]);
  return out;
}

class packageresources : public ::testing::Test {
 protected:
  // The package image and its listing after setpackageresources.
  std::vector<std::string> apply(const std::vector<leaf>& leaves, const std::string* ico, const std::string* program) {
    fixture f = makeimage(testing::encodetree(leaves, 0x2000));
    bytes icobytes = ico ? vec(*ico) : bytes(), programbytes = program ? vec(*program) : bytes();
    std::string error;
    EXPECT_TRUE(setpackageresources(f.image, ico ? &icobytes : nullptr, program ? &programbytes : nullptr, error))
        << error;
    return listing(f.image);
  }
  // 256 as 0: a PNG-compressed image first, then the smaller ones, out of size order.
  const std::string ico = icofile({{256, "\x89PNG big one"}, {16, "sixteen"}, {48, "forty-eight px"}});
};

TEST_F(packageresources, IconGroupListsExactlyTheIcoImages) {
  std::vector<std::string> expected = {
      "MYTYPE/Alpha/7=a", "MYTYPE/beta/7=b", "#3/#1/1033=\x89PNG big one", "#3/#2/1033=sixteen",
      "#3/#3/1033=forty-eight px", "#14/#1/1033=" + expectedgroup(ico, {1, 2, 3}), "#16/#1/1033=version",
      "#24/#1/1033=<manifest/>"};
  EXPECT_EQ(apply(stubleaves, &ico, nullptr), expected);

  // An image that another group still names stays, and keeps its id.
  std::vector<leaf> twogroups = stubleaves;
  twogroups.push_back({"#14", "#9", 1033, groupdir({2})});
  expected = {"MYTYPE/Alpha/7=a", "MYTYPE/beta/7=b", "#3/#1/1033=\x89PNG big one", "#3/#2/1033=image two",
              "#3/#3/1033=sixteen", "#3/#4/1033=forty-eight px", "#14/#1/1033=" + expectedgroup(ico, {1, 3, 4}),
              "#14/#9/1033=" + groupdir({2}), "#16/#1/1033=version", "#24/#1/1033=<manifest/>"};
  EXPECT_EQ(apply(twogroups, &ico, nullptr), expected);

  // Another group that cannot be read may name any image: all stay.
  std::vector<leaf> unreadable = stubleaves;
  unreadable.push_back({"#14", "#9", 1033, "not a group"});
  expected = {"MYTYPE/Alpha/7=a", "MYTYPE/beta/7=b", "#3/#1/1031=ein Bild", "#3/#1/1033=image one",
              "#3/#2/1033=image two", "#3/#3/1033=\x89PNG big one", "#3/#4/1033=sixteen", "#3/#5/1033=forty-eight px",
              "#14/#1/1033=" + expectedgroup(ico, {3, 4, 5}), "#14/#9/1033=not a group", "#16/#1/1033=version",
              "#24/#1/1033=<manifest/>"};
  EXPECT_EQ(apply(unreadable, &ico, nullptr), expected);

  // A stub without an icon group gets group 1 in English; a named group
  // comes first in PE order and is the one replaced, under its language.
  EXPECT_EQ(apply({{"#24", "#1", 1033, "m"}}, &ico, nullptr),
            (std::vector<std::string>{"#3/#1/1033=\x89PNG big one", "#3/#2/1033=sixteen", "#3/#3/1033=forty-eight px",
                                      "#14/#1/1033=" + expectedgroup(ico, {1, 2, 3}), "#24/#1/1033=m"}));
  std::vector<std::string> named = apply(
      {{"#14", "#1", 1033, groupdir({1})}, {"#14", "MAIN", 1031, groupdir({5})}, {"#3", "#1", 1031, "old"}}, &ico, nullptr);
  EXPECT_EQ(named, (std::vector<std::string>{"#3/#1/1031=old", "#3/#2/1031=\x89PNG big one", "#3/#3/1031=sixteen",
                                             "#3/#4/1031=forty-eight px", "#14/MAIN/1031=" + expectedgroup(ico, {2, 3, 4}),
                                             "#14/#1/1033=" + groupdir({1})}));
}

TEST_F(packageresources, VersionResourceOfTheSetupProgram) {
  const std::string vendor = versionblock("Beispiel");
  std::string withversion = text(makeimage(testing::encodetree(
      {{"#24", "#1", 1031, "vendor manifest"}, {"#16", "#1", 1031, vendor}, {"#16", "#1", 1036, versionblock("fr")}},
      0x2000)).image);
  std::string without = text(makeimage(testing::encodetree({{"#24", "#1", 1031, "m"}}, 0x2000)).image);

  // Written over the stub's own, under its name and language; nothing else.
  std::vector<std::string> expected = stublisting;
  expected[6] = "#16/#1/1033=" + vendor;
  EXPECT_EQ(apply(stubleaves, nullptr, &withversion), expected);
  EXPECT_EQ(apply(stubleaves, nullptr, &without), stublisting);
  // A stub without one takes the program's under the program's name and language.
  EXPECT_EQ(apply({{"#24", "#1", 1033, "m"}}, nullptr, &withversion),
            (std::vector<std::string>{"#16/#1/1031=" + vendor, "#24/#1/1033=m"}));

  // A damaged one is refused, and the image is left alone.
  std::string damaged = text(makeimage(testing::encodetree({{"#16", "#1", 1031, "VS_VERSION_INFX"}}, 0x2000)).image);
  fixture f = stub();
  bytes image = f.image, program = vec(damaged);
  std::string error;
  EXPECT_FALSE(setpackageresources(image, nullptr, &program, error));
  EXPECT_EQ(error, "the version resource is too short");
  EXPECT_TRUE(image == f.image);
}

// Builder mode's step on files, with the lines it prints.
TEST_F(packageresources, PrepareSaysWhatItDoesNotUse) {
  testing::scratchfolder scratch;
  const std::string vendor = versionblock("Beispiel");
  std::string program = text(makeimage(testing::encodetree({{"#16", "#1", 1031, vendor}}, 0x2000)).image);
  std::string badversion = text(makeimage(testing::encodetree({{"#16", "#1", 1031, std::string(40, 'x')}}, 0x2000)).image);
  std::vector<std::string> iconkept(stublisting.begin(), stublisting.end());
  std::vector<std::string> versioned = iconkept;
  versioned[6] = "#16/#1/1033=" + vendor;
  struct row {
    const char* what;
    const char* ico;  // nullptr: no file
    std::string icobytes;
    const char* program;
    std::string programbytes;
    std::string out;
    bool iconapplied;
    bool versionapplied;
  } rows[] = {
      {"both used", "a.ico", ico, "p.exe", program, "", true, true},
      {"no icon file, no setup program", nullptr, "", nullptr, "", "Open IconFile Failed!\n", false, false},
      {"a bad icon file", "a.ico", ico.substr(0, 60), nullptr, "",
       "Bad IconFile: image 1 lies beyond the end of the icon file\n", false, false},
      {"a setup program that is not one", "a.ico", ico, "p.exe", "MZ and nothing else", "", true, false},
      {"a bad version resource", "a.ico", ico, "p.exe", badversion,
       "Bad VersionResource: the version resource's length does not fit\n", true, false},
  };
  for (const row& r : rows) {
    std::string icopath = r.ico ? scratch.write(r.ico, r.icobytes) : scratch.file("none.ico");
    std::string programpath = r.program ? scratch.write(r.program, r.programbytes) : scratch.file("none.exe");
    std::string out = r.out;
    if (std::string(r.what) == "a setup program that is not one")
      out = "Bad VersionResource: " + programpath + " is not a program whose resources can be read\n";
    fixture f = stub();
    std::string error;
    ::testing::internal::CaptureStdout();
    bool ok = preparepackageimage(f.image, icopath, programpath, error);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), out) << r.what;
    EXPECT_TRUE(ok) << r.what << ": " << error;
    std::vector<std::string> got = listing(f.image);
    EXPECT_EQ(got[2] == "#3/#1/1033=\x89PNG big one", r.iconapplied) << r.what;
    EXPECT_EQ(std::find(got.begin(), got.end(), "#16/#1/1033=" + vendor) != got.end(), r.versionapplied) << r.what;
    fs::removefile(icopath);
    fs::removefile(programpath);
  }

  // A stub whose image cannot be rewritten: false, and the reason.
  fixture data = stub({true, 0, true});
  bytes before = data.image;
  std::string error;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(preparepackageimage(data.image, scratch.file("none.ico"), scratch.file("none.exe"), error));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Open IconFile Failed!\n");
  EXPECT_EQ(error, "a section that cannot move follows the resource section");
  EXPECT_TRUE(data.image == before);
}

}  // namespace
}  // namespace kelvane
