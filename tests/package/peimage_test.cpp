#include "package/peimage.h"

#include <gtest/gtest.h>

#include <functional>

#include "loader/startup.h"
#include "package/builder.h"
#include "package/dataunzip.h"
#include "tests/package/packagefixture.h"

namespace kelvane {
namespace {

using namespace kelvane::testing;

void set16(std::string& s, std::size_t at, std::uint32_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}
void set32(std::string& s, std::size_t at, std::uint32_t v) {
  set16(s, at, v & 0xffff);
  set16(s, at + 2, v >> 16);
}

// A small PE32+ image: DOS header, file header at 0x80, an optional header
// with 16 data directories, and two sections whose raw data fills the image
// up to `size` bytes.
constexpr std::size_t optionalheader = 0x98, securityentry = optionalheader + 112 + 32, checksumfield = optionalheader + 64;
constexpr std::size_t firstsection = 0x200;

std::string peimage(std::size_t size = 0x1000) {
  std::string b = "MZ" + noise(size - 2, 9);
  std::fill(b.begin() + 2, b.begin() + firstsection, '\0');
  set32(b, 0x3c, 0x80);
  set32(b, 0x80, 0x4550);
  set16(b, 0x84, 0x8664);
  set16(b, 0x86, 2);  // sections
  set16(b, 0x94, 240);
  set16(b, optionalheader, 0x20b);
  set32(b, checksumfield, 0x1234567);
  set32(b, optionalheader + 108, 16);
  std::size_t table = optionalheader + 240;
  set32(b, table + 16, 0x200), set32(b, table + 20, firstsection);
  set32(b, table + 40 + 16, static_cast<std::uint32_t>(size - 0x400)), set32(b, table + 40 + 20, 0x400);
  return b;
}

void setdirectory(std::string& image, std::uint64_t address, std::uint64_t size) {
  set32(image, securityentry, static_cast<std::uint32_t>(address));
  set32(image, securityentry + 4, static_cast<std::uint32_t>(size));
}

// What signing does: pad to a multiple of 8, append a table of one entry
// (revision 0x0200, a PKCS#7 blob) and point the directory at it.
std::string signature(std::size_t blob = 37, std::uint32_t revision = 0x0200) {
  std::string entry;
  put32(entry, static_cast<std::uint32_t>(8 + blob)), put16(entry, revision), put16(entry, 2);
  entry += noise(blob, 4);
  entry.resize((entry.size() + 7) / 8 * 8, '\0');
  return entry;
}

std::string sign(std::string file, const std::string& table = signature()) {
  file.resize((file.size() + 7) / 8 * 8, '\0');
  setdirectory(file, file.size(), table.size());
  return file + table;
}

// What removing the signature leaves: the padding, and no directory.
std::string unsign(std::string signedfile) {
  std::uint32_t address = packagetrailer::getle32(reinterpret_cast<const unsigned char*>(signedfile.data()) + securityentry);
  signedfile.resize(address);
  setdirectory(signedfile, 0, 0);
  return signedfile;
}

std::uint64_t tableat(const std::string& b) { return certificatestart(reinterpret_cast<const unsigned char*>(b.data()), b.size()); }
std::uint64_t dataat(const std::string& b) { return dataend(reinterpret_cast<const unsigned char*>(b.data()), b.size()); }

// The same rule through an open file, as the reader and mode selection use it.
std::pair<std::int64_t, std::int64_t> onfile(const std::string& path) {
  std::FILE* f = fs::openfile(path, "rb");
  std::pair<std::int64_t, std::int64_t> r{certificatestart(f), dataend(f)};
  std::fclose(f);
  return r;
}

class SignedPackage : public ::testing::Test {
 protected:
  SignedPackage() { fs::makefolder(workspace); }

  // The setup archive's entries, read as the worker reads them; empty when
  // the package cannot be opened.
  std::map<std::string, std::string> extracted(const std::string& bytes, std::string* setupdigest = nullptr) {
    std::string path = scratch.write("package.exe", bytes);
    dataunzip reader;
    char setup[33], app[33];
    std::map<std::string, std::string> entries;
    if (reader.unzipfopen(path, setup, app))
      for (std::uint32_t i = 0; i < reader.count(); ++i) {
        std::string name, data;
        EXPECT_EQ(reader.fileread(name, data), 0) << name;
        entries[name] = data;
        if (reader.nextfile(i) != 0) break;
      }
    if (setupdigest) *setupdigest = setup;
    return entries;
  }

  scratchfolder scratch;
  std::string workspace = scratch.file("workspace");
  tempfolder temp{workspace};
  tree files = {{"setup\\qSetup.exe", noise(5000, 2)}, {"setup\\config.xml", "<source path=\"\"/>"}};
  std::string setuparchive = handzip({{"setup\\qSetup.exe", files["setup\\qSetup.exe"]},
                                      {"setup\\config.xml", files["setup\\config.xml"]}});
  std::string unsignedpackage = makepackage(peimage(), setuparchive, handzip({{"app\\a.txt", "a"}}));
};

TEST_F(SignedPackage, DataEndsBeforeTheTableAndItsPadding) {
  std::string nested = signature(61) + signature(15, 0x0100);  // a table of two entries
  struct { const char* what; std::string file; std::size_t data; std::size_t table; } cases[] = {
      {"unsigned", unsignedpackage, unsignedpackage.size(), unsignedpackage.size()},
      {"signed", sign(unsignedpackage), unsignedpackage.size(), (unsignedpackage.size() + 7) / 8 * 8},
      {"two entries", sign(unsignedpackage, nested), unsignedpackage.size(), (unsignedpackage.size() + 7) / 8 * 8},
      {"signature removed", unsign(sign(unsignedpackage)), unsignedpackage.size(), (unsignedpackage.size() + 7) / 8 * 8},
      {"more than 7 zeros", unsignedpackage + std::string(9, '\0'), unsignedpackage.size() + 2,
       unsignedpackage.size() + 9},
  };
  ASSERT_NE(unsignedpackage.size() % 8, 0u);  // so signing pads
  for (const auto& c : cases) {
    EXPECT_EQ(tableat(c.file), c.table) << c.what;
    EXPECT_EQ(dataat(c.file), c.data) << c.what;
    EXPECT_EQ(onfile(scratch.write("file.exe", c.file)), std::make_pair(std::int64_t(c.table), std::int64_t(c.data)))
        << c.what;
  }
}

TEST_F(SignedPackage, SignedAndUnsignedPackagesReadAlike) {
  std::string digest, signeddigest;
  auto expected = extracted(unsignedpackage, &digest);
  ASSERT_EQ(expected, files);
  for (const std::string& p : {sign(unsignedpackage), sign(unsignedpackage, signature(900) + signature(30)),
                               unsign(sign(unsignedpackage))}) {
    EXPECT_EQ(extracted(p, &signeddigest), expected);
    EXPECT_EQ(signeddigest, digest);
  }
}

// Each case breaks the security directory or the headers before it: the rule
// then sees no table, the reader reads the trailer at the end of the file and
// mode selection goes by the plain size. `change` gets the file and the offset
// where a valid table would start.
struct hostile {
  const char* what;
  std::function<void(std::string&, std::uint64_t)> change;
  bool entryheader = false;  // changes the table's own bytes, so only a signed file has them
};

const hostile hostilecases[] = {
    {"beyond the end", [](std::string& f, std::uint64_t) { setdirectory(f, f.size() + 8, 64); }},
    {"over the last bytes", [](std::string& f, std::uint64_t) { setdirectory(f, f.size() - 8, 8); }},
    {"over the whole trailer", [](std::string& f, std::uint64_t) { setdirectory(f, f.size() - 72, 72); }},
    {"inside the sections",
     [](std::string& f, std::uint64_t) {
       std::string entry = signature(8);
       f.replace(firstsection, entry.size(), entry);  // a sound entry header, in the wrong place
       setdirectory(f, firstsection, f.size() - firstsection);
     }},
    {"inside the headers", [](std::string& f, std::uint64_t) { setdirectory(f, 0, f.size()); }},
    {"size 0", [](std::string& f, std::uint64_t at) { setdirectory(f, at, 0); }},
    {"size near 2^32", [](std::string& f, std::uint64_t at) { setdirectory(f, at, 0xfffffff8); }},
    {"address near 2^32, wrapping to the end",
     [](std::string& f, std::uint64_t) { setdirectory(f, 0xffffff00, (f.size() + 0x100) & 0xffffffff); }},
    {"entry longer than the table", [](std::string& f, std::uint64_t at) { set32(f, at, 0x10000); }, true},
    {"entry shorter than its header", [](std::string& f, std::uint64_t at) { set32(f, at, 4); }, true},
    {"unknown revision", [](std::string& f, std::uint64_t at) { set16(f, at + 4, 0x0300); }, true},
    {"e_lfanew beyond the file", [](std::string& f, std::uint64_t) { set32(f, 0x3c, 0xfffffff0); }},
    {"e_lfanew at the file's end", [](std::string& f, std::uint64_t) { set32(f, 0x3c, static_cast<std::uint32_t>(f.size() - 2)); }},
    {"optional header too short for the directory", [](std::string& f, std::uint64_t) { set16(f, 0x94, 120); }},
    {"only four directories", [](std::string& f, std::uint64_t) { set32(f, optionalheader + 108, 4); }},
    {"section table beyond the file", [](std::string& f, std::uint64_t) { set16(f, 0x86, 0xffff); }},
    {"section ending past the table", [](std::string& f, std::uint64_t) { set32(f, optionalheader + 240 + 16, 0xfffffff0); }},
    {"no PE signature", [](std::string& f, std::uint64_t) { f[0x80] = 'X'; }},
    {"not a PE32 or PE32+ header", [](std::string& f, std::uint64_t) { set16(f, optionalheader, 0x107); }},
};

// One byte buffer of exactly its size, so that ASan catches any read past it.
std::uint64_t exactstart(const std::string& b) {
  std::vector<unsigned char> copy(b.begin(), b.end());
  return certificatestart(copy.data(), copy.size());
}

TEST_F(SignedPackage, HostileHeadersMeanNoTable) {
  std::string signedpackage = sign(unsignedpackage);
  std::uint64_t table = tableat(signedpackage);
  ASSERT_EQ(table, (unsignedpackage.size() + 7) / 8 * 8);
  for (const auto& c : hostilecases) {
    std::string s = signedpackage;
    c.change(s, table);
    EXPECT_EQ(exactstart(s), s.size()) << c.what;
    EXPECT_EQ(onfile(scratch.write("file.exe", s)).first, std::int64_t(s.size())) << c.what;

    // On an unsigned package the same headers leave the package readable.
    if (c.entryheader) continue;
    std::string u = unsignedpackage;
    c.change(u, u.size() - 72);
    EXPECT_EQ(exactstart(u), u.size()) << c.what;
    EXPECT_EQ(dataat(u), u.size()) << c.what;
    EXPECT_EQ(extracted(u).size(), files.size()) << c.what;
  }
  // Truncated headers: every prefix of the image is read within its bounds.
  std::string image = peimage();
  for (std::size_t n = 0; n < optionalheader + 240 + 80; ++n) EXPECT_EQ(exactstart(image.substr(0, n)), n) << n;
}

TEST_F(SignedPackage, ModeSelectionDiscountsOnlyAValidTable) {
  auto isstubfile = [&](const std::string& bytes) {
    std::FILE* f = fs::openfile(scratch.write("own.exe", bytes), "rb");
    bool stub = isstub(f);
    bool atstart = fs::tell(f) == 0;
    std::fclose(f);
    EXPECT_TRUE(atstart);
    return stub;
  };
  std::string stub = peimage(stubsize);
  std::string signedstub = sign(stub);
  EXPECT_TRUE(isstubfile(stub));
  EXPECT_TRUE(isstubfile(signedstub));
  EXPECT_TRUE(isstubfile(unsign(signedstub)));  // a multiple of 8: no padding was added
  EXPECT_FALSE(isstubfile(stub + "x"));
  for (const auto& c : hostilecases) {
    std::string s = signedstub;
    c.change(s, stubsize);
    EXPECT_FALSE(isstubfile(s)) << c.what;
  }
}

TEST_F(SignedPackage, BuilderCopiesTheStubWithoutItsSignature) {
  std::string stub = fixturestub(), signedstub = sign(stub, signature(500));
  std::string work = scratch.file("work");
  fs::makefolder(work);
  maketree(work, files);
  int built;
  {
    insidefolder in(work);
    built = buildpackage(fs::openfile(scratch.write("stub.exe", signedstub), "rb"), {}, {.archivefolder = scratch.path() + fs::separator()});
  }
  ASSERT_EQ(built, 0);
  std::string package = readfile(work + fs::separator() + "install_test.exe");
  // The image as the unsigned stub gives it: no table, no pointer to one.
  std::string expected = packagedimage(stub);
  EXPECT_EQ(package.substr(0, expected.size()), expected);
  EXPECT_EQ(tableat(package), package.size());
  auto trailer = packagetrailer::decode(reinterpret_cast<const unsigned char*>(package.data() + package.size() - 72));
  EXPECT_EQ(trailer.setup_offset, expected.size());
  EXPECT_EQ(extracted(package).size(), files.size());
  EXPECT_EQ(extracted(sign(package)).size(), files.size());
}

TEST(ClearSignature, ZeroesTheDirectoryAndTheChecksumOfImagesOnly) {
  std::string image = peimage();
  setdirectory(image, 0x1000, 0x40);
  std::vector<unsigned char> bytes(image.begin(), image.end());
  ASSERT_TRUE(clearsignature(bytes.data(), bytes.size()));
  std::string expected = image;
  setdirectory(expected, 0, 0);
  set32(expected, checksumfield, 0);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);

  std::string notimage = "MZ" + noise(500);
  std::vector<unsigned char> other(notimage.begin(), notimage.end());
  EXPECT_FALSE(clearsignature(other.data(), other.size()));
  EXPECT_EQ(std::string(other.begin(), other.end()), notimage);
}

}  // namespace
}  // namespace kelvane
