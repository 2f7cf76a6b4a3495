#include "package/dataunzip.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <algorithm>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "package/builder.h"
#include "package/datazip.h"
#include "tests/package/packagefixture.h"

namespace kelvane {
namespace {

using namespace kelvane::testing;

struct extraction {
  bool opened = false;
  std::string setupdigest, appdigest;
  std::uint32_t count = 0;
  std::vector<int> reads;        // fileread result per entry
  std::vector<std::string> names;
  bool allwritten = true;
  std::string folderwhileopen;
};

// What the extraction worker does: every entry of the setup archive into `target`.
extraction extract(const std::string& package, const std::string& target) {
  extraction x;
  dataunzip reader;
  char setup[33], app[33];
  x.opened = reader.unzipfopen(package, setup, app);
  x.setupdigest = setup;
  x.appdigest = app;
  x.count = reader.count();
  x.folderwhileopen = fs::currentfolder();
  for (std::uint32_t i = 0; i < x.count; ++i) {
    std::string name, data;
    x.reads.push_back(reader.fileread(name, data));
    x.names.push_back(name);
    x.allwritten = dataunzip::filewrite(data, name, target) && x.allwritten;
    if (reader.nextfile(i) != 0) break;
  }
  reader.closeunzipfile();
  return x;
}

class PackageReader : public ::testing::Test {
 protected:
  PackageReader() {
    fs::makefolder(workspace);
    fs::makefolder(target);
  }
  std::string place(const std::string& bytes) { return scratch.write("package.exe", bytes); }

  scratchfolder scratch;
  std::string workspace = scratch.file("workspace");
  std::string target = scratch.file("target");
  tempfolder temp{workspace};
};

TEST_F(PackageReader, ExtractsWhatTheBuilderWroteByteForByte) {
  const tree setup = {{"setup\\qSetup.exe", noise(70000)},  // several read chunks, sampled digest
                      {"setup\\config.xml", "<source path=\"\"/>"},
                      {"setup\\empty.txt", ""},
                      {"setup\\.hidden", "dot"},
                      {"setup\\caf\xc3\xa9.txt", "accent"},
                      {"setup\\a\\b\\c\\deep.txt", "three levels"}};
  const tree app = {{"app\\customData.ini", "[app]"}, {"app\\big.bin", noise(50000, 7)}};
  fs::makefolder(scratch.file("build"));
  maketree(scratch.file("build"), setup);
  maketree(scratch.file("build"), app);
  scratch.write("stub.bin", fixturestub());
  int built;
  {
    insidefolder in(scratch.file("build"));
    built = buildpackage(fs::openfile(scratch.file("stub.bin"), "rb"), {}, {.archivefolder = scratch.path() + fs::separator()});
  }
  ASSERT_EQ(built, 0);
  std::string package = readfile(scratch.file("build") + fs::separator() + "install_test.exe");
  auto trailer = packagetrailer::decode(reinterpret_cast<const unsigned char*>(package.data()) + package.size() - 72);

  std::string before = fs::currentfolder();
  extraction x = extract(place(package), target);
  EXPECT_TRUE(x.opened);
  EXPECT_EQ(fs::currentfolder(), before);
  EXPECT_EQ(x.folderwhileopen, tonarrow(fs::temppath()).substr(0, x.folderwhileopen.size()));
  EXPECT_EQ(x.setupdigest, std::string(trailer.setup_digest.begin(), trailer.setup_digest.end()));
  EXPECT_EQ(x.appdigest, std::string(trailer.app_digest.begin(), trailer.app_digest.end()));
  ASSERT_EQ(x.count, setup.size());  // the setup archive, not the app archive that follows it
  EXPECT_TRUE(x.allwritten);
  for (int r : x.reads) EXPECT_EQ(r, 0);
  for (const auto& [name, data] : setup) EXPECT_EQ(readfile(target + fs::separator() + fs::nativepath(name)), data) << name;
}

TEST_F(PackageReader, EmptyArchivesGiveNoEntriesAndPlainDigests) {
  std::string empty = handzip({});
  ASSERT_EQ(empty.size(), 22u);
  std::string before = fs::currentfolder();
  extraction x = extract(place(makepackage("MZ stub", empty, empty)), target);
  EXPECT_TRUE(x.opened);
  EXPECT_EQ(x.count, 0u);
  EXPECT_EQ(x.setupdigest, sampleddigest(empty));
  EXPECT_EQ(x.appdigest, sampleddigest(empty));
  EXPECT_NE(x.folderwhileopen, before);  // the workspace, while open
  EXPECT_EQ(fs::currentfolder(), before);
}

TEST_F(PackageReader, RefusesTrailersThatDescribeNoRangesInsideTheFile) {
  std::string archive = handzip({{"setup\\a.txt", "a"}});
  std::string good = makepackage("stub", archive, handzip({}));
  auto withoffsets = [&](std::uint32_t setup, std::uint32_t app) {
    std::string p = good;
    auto* t = reinterpret_cast<unsigned char*>(p.data() + p.size() - 72);
    packagetrailer::putle32(t, setup);
    packagetrailer::putle32(t + 36, app);
    return p;
  };
  std::uint32_t trailerat = static_cast<std::uint32_t>(good.size() - 72);
  struct { const char* what; std::string bytes; } cases[] = {
      {"empty file", ""},
      {"shorter than a trailer", std::string(71, 'x')},
      {"only a trailer of zeros", std::string(72, '\0')},
      {"setup after app", withoffsets(40, 4)},
      {"app inside the trailer", withoffsets(4, trailerat + 1)},
      {"app beyond the file", withoffsets(4, 0xFFFFFFFF)},
      {"both beyond the file", withoffsets(0xFFFFFFF0, 0xFFFFFFFF)},
      {"no archive in the setup range", makepackage("stub", noise(300), handzip({}))},
  };
  std::string before = fs::currentfolder();
  for (const auto& c : cases) {
    extraction x = extract(place(c.bytes), target);
    EXPECT_FALSE(x.opened) << c.what;
    EXPECT_EQ(x.count, 0u) << c.what;
    EXPECT_EQ(x.setupdigest, "") << c.what;
    EXPECT_EQ(fs::currentfolder(), before) << c.what;
  }
  EXPECT_TRUE(extract(place(good), target).opened);
}

TEST_F(PackageReader, AcceptsALocalNameOfAnotherLength) {
  struct { const char* local; bool deflated; std::optional<std::uint32_t> crc; int expected; } cases[] = {
      {"setup\\a-much-longer-local-name.txt", false, {}, 0},
      {"x", false, {}, 0},
      {"", false, {}, 0},
      {"setup\\b.txt", false, {}, 0},        // same length, other text: never checked
      {"y", false, 0x12345678u, UNZ_CRCERROR},  // still checked: the CRC
      {"setup\\a-much-longer-local-name.txt", true, {}, 0},
      {"x", true, {}, 0},
      {"x", true, 0x12345678u, UNZ_CRCERROR},
  };
  for (const auto& c : cases) {
    // Text that deflates well, so inflating takes several output chunks.
    std::string data = std::string(20000, 'a') + noise(5000, 11) + std::string(20000, 'b');
    std::string archive = handzip(
        {{"setup\\a.txt", data, std::string(c.local), c.crc, {}, c.deflated}, {"setup\\next.txt", "next", {}, {}, {}, true}});
    dataunzip reader;
    char s[33], a[33];
    ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", archive, handzip({}))), s, a));
    std::string name, got;
    EXPECT_EQ(reader.fileread(name, got), c.expected) << c.local << c.deflated;
    EXPECT_EQ(name, "setup\\a.txt");
    EXPECT_EQ(got, data) << c.local << c.deflated;
    ASSERT_EQ(reader.nextfile(0), 0);
    EXPECT_EQ(reader.fileread(name, got), 0);
    EXPECT_EQ(got, "next");
    reader.closeunzipfile();
  }
}

TEST_F(PackageReader, DamagedEntriesAreReportedAsFailures) {
  struct { const char* what; handentry entry; } cases[] = {
      {"wrong CRC", {"setup\\a.txt", "payload", {}, 0xDEADBEEFu}},
      {"data shorter than its size", {"setup\\a.txt", "payload", {}, {}, 100u}},
      {"deflated data shorter than its size", {"setup\\a.txt", "payload", {}, {}, 100u, true}},
      {"mismatched name, data shorter than its size", {"setup\\a.txt", "payload", "a", {}, 100u, true}},
  };
  for (const auto& c : cases) {
    dataunzip reader;
    char s[33], a[33];
    ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", handzip({c.entry}), handzip({}))), s, a));
    std::string name, data;
    EXPECT_LT(reader.fileread(name, data), 0) << c.what;
  }
}

TEST_F(PackageReader, NextFileStaysAtTheLastEntry) {
  dataunzip reader;
  char s[33], a[33];
  ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", handzip({{"a", "1"}, {"b", "2"}}), handzip({}))), s, a));
  std::string name, data;
  ASSERT_EQ(reader.nextfile(0), 0);
  ASSERT_EQ(reader.nextfile(1), 0);
  EXPECT_EQ(reader.fileread(name, data), 0);
  EXPECT_EQ(name, "b");
}

// The files and folders below a folder, however deep, by relative name.
std::vector<std::string> listing(const std::string& folder, const std::string& prefix = "") {
  std::vector<fs::direntry> entries;
  std::vector<std::string> names;
  if (!fs::listfolder(folder, entries)) return names;
  for (const auto& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    names.push_back(prefix + e.name + (e.folder ? "/" : ""));
    if (e.folder)
      for (auto& inner : listing(folder + fs::separator() + e.name, prefix + e.name + "/")) names.push_back(inner);
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifndef _WIN32
// Files may grow to `bytes` and no further while it lives: a write past that
// fails as it would on a full disk.
class filesizelimit {
 public:
  explicit filesizelimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~filesizelimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};
#endif

// Each entry streams to its file through the worker's path (entryname,
// entrywriter, readentry); whatever fails leaves no file under its name and no
// other file behind, and the entry after it is written all the same.
TEST_F(PackageReader, StreamedEntriesLeaveWholeFilesOrNone) {
  const std::size_t chunk = dataunzip::chunksize;
  // Compressible and random blocks mixed: many chunks in, many chunks out.
  std::string large;
  for (int i = 0; large.size() < 4 * chunk + 1000; ++i) large += i % 3 ? std::string(50000, char('a' + i % 26)) : noise(30000, i);
  std::string corruptlast = noise(2 * chunk + 5000, 5);
  std::uint32_t goodcrc = crc32(0, reinterpret_cast<const Bytef*>(corruptlast.data()), corruptlast.size());
  corruptlast[corruptlast.size() - 10] ^= 0x40;  // stored: the damage is seen only in the last chunk
  struct { const char* what; handentry entry; bool kept; std::size_t writelimit; } cases[] = {
      {"several chunks, deflated", {"setup\\big\\large.bin", large, {}, {}, {}, true}, true, 0},
      {"several chunks, stored", {"setup\\big\\large.bin", large}, true, 0},
      {"empty", {"setup\\big\\large.bin", ""}, true, 0},
      {"empty, deflated", {"setup\\big\\large.bin", "", {}, {}, {}, true}, true, 0},
      {"CRC fails in the last chunk", {"setup\\big\\large.bin", corruptlast, {}, goodcrc}, false, 0},
      {"deflated data ends early", {"setup\\big\\large.bin", large, {}, {}, std::uint32_t(large.size() + 1), true}, false, 0},
      {"stored data ends early", {"setup\\big\\large.bin", large.substr(0, chunk + 7), {}, {}, std::uint32_t(chunk + 8)}, false, 0},
#ifndef _WIN32
      {"write fails halfway", {"setup\\big\\large.bin", large, {}, {}, {}, true}, false, 2 * chunk + chunk / 2},
#endif
  };
  for (const auto& c : cases) {
    testing::removetree(target);
    fs::makefolder(target);
    std::string archive = handzip({c.entry, {"setup\\big\\after.txt", "after", {}, {}, {}, true}});
    dataunzip reader;
    char s[33], a[33];
    ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", archive, handzip({}))), s, a));
    std::vector<bool> written;
    {
#ifndef _WIN32
      std::optional<filesizelimit> limit;
      if (c.writelimit) limit.emplace(c.writelimit);
#endif
      entrywriter writer(target);
      for (std::uint32_t i = 0; i < reader.count(); ++i) {
        std::string name;
        ASSERT_EQ(reader.entryname(name), 0);
        ASSERT_TRUE(writer.begin(name)) << c.what;
        int read = reader.readentry([&](const char* p, std::size_t n) {
          EXPECT_LE(n, chunk);
          return writer.write(p, n);
        });
        written.push_back(writer.end(read == 0));
        ASSERT_EQ(reader.nextfile(i), 0);
      }
    }
    reader.closeunzipfile();
    EXPECT_EQ(written, (std::vector<bool>{c.kept, true})) << c.what;
    std::vector<std::string> expected = {"setup/", "setup/big/", "setup/big/after.txt"};
    if (c.kept) expected.push_back("setup/big/large.bin");
    EXPECT_EQ(listing(target), expected) << c.what;
    if (c.kept) {
      EXPECT_EQ(readfile(target + fs::separator() + fs::nativepath("setup\\big\\large.bin")), c.entry.data) << c.what;
    }
  }
}

// A name stored twice: the second copy is damaged, so the name holds no file,
// although the first copy's file may still have been closing.
TEST_F(PackageReader, ADamagedSecondCopyOfANameLeavesNoFile) {
  std::string archive = handzip({{"setup\\twice.bin", noise(5000, 1)},
                                 {"setup\\twice.bin", noise(5000, 2), {}, 0xDEADBEEFu}});
  dataunzip reader;
  char s[33], a[33];
  ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", archive, handzip({}))), s, a));
  entrywriter writer(target);
  std::vector<bool> written;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string name;
    ASSERT_EQ(reader.entryname(name), 0);
    ASSERT_TRUE(writer.begin(name));
    written.push_back(writer.end(reader.readentry([&](const char* p, std::size_t n) { return writer.write(p, n); }) == 0));
    ASSERT_EQ(reader.nextfile(i), 0);
  }
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(written, (std::vector<bool>{true, false}));
  EXPECT_EQ(listing(target), (std::vector<std::string>{"setup/"}));
}

// The whole-entry operations stay: fileread delivers the data even when the
// CRC fails, and filewrite of data that cannot be written whole leaves no file.
TEST_F(PackageReader, FileReadDeliversDamagedDataAndReportsIt) {
  std::string data = noise(dataunzip::chunksize * 2 + 3, 9);
  dataunzip reader;
  char s[33], a[33];
  ASSERT_TRUE(reader.unzipfopen(place(makepackage("stub", handzip({{"setup\\x", data, {}, 0xDEADBEEFu, {}, true}}), handzip({}))), s, a));
  std::string name, got;
  EXPECT_EQ(reader.fileread(name, got), UNZ_CRCERROR);
  EXPECT_EQ(got, data);
#ifndef _WIN32
  filesizelimit limit(1000);
  EXPECT_FALSE(dataunzip::filewrite(data, "setup\\x", target));
  EXPECT_EQ(listing(target), (std::vector<std::string>{"setup/"}));
#endif
}

// Counts the files below a folder, however deep.
int countfiles(const std::string& folder) {
  std::vector<fs::direntry> entries;
  int n = 0;
  if (!fs::listfolder(folder, entries)) return 0;
  for (const auto& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    n += e.folder ? countfiles(folder + fs::separator() + e.name) : 1;
  }
  return n;
}

TEST(EntryNames, NamesThatCouldLeaveTheFolderAreNeverWritten) {
  scratchfolder scratch;
  std::string inner = scratch.file("a");
  fs::makefolder(inner);
  inner += fs::separator() + std::string("b");
  fs::makefolder(inner);
  const std::string names[] = {"",
                               "..\\escape.txt",
                               "a\\..\\..\\escape.txt",
                               "..",
                               ".\\x.txt",
                               "a\\.\\x.txt",
                               "a\\\\x.txt",
                               "\\x.txt",
                               "/x.txt",
                               "../escape.txt",
                               "a/../../escape.txt",
                               "a\\..//escape.txt",
                               "C:\\x.txt",
                               "C:x.txt",
                               "x.txt:stream",
                               "...\\x.txt",
                               ". .\\x.txt",
                               "CON",
                               "nul.txt",
                               "a\\Com1.log",
                               "LPT9\\x.txt",
                               "aux",
                               "prn.tar.gz",
                               "CON .txt",
#ifdef _WIN32
                               "COM\xb9",  // superscript one in code page 1252
#else
                               "COM\xc2\xb9",
#endif
                               "x\x01.txt",
                               std::string("x\0y", 3),
                               std::string(512, 'n'),
                               std::string(300, 'n') + "\\" + std::string(300, 'm')};
  std::string before = fs::currentfolder();
  for (const auto& name : names) {
    EXPECT_FALSE(dataunzip::filewrite("data", name, inner)) << name;
    fs::changefolder(before);
  }
  EXPECT_EQ(countfiles(scratch.path()), 0);
}

TEST(EntryNames, SafeNamesAreWrittenBelowTheFolder) {
  scratchfolder scratch;
  struct { std::string name; std::string path; } cases[] = {
      {"plain.txt", "plain.txt"},
      {".hidden", ".hidden"},
      {"..dots", "..dots"},
      {"setup\\a\\b\\c.txt", "setup/a/b/c.txt"},  // three folders, outermost first
      {"setup/slash.txt", "setup/slash.txt"},
      {"CONFIG.SYS", "CONFIG.SYS"},
      {"COM10", "COM10"},
      {"console.log", "console.log"},
      {std::string(200, 'x'), std::string(200, 'x')},
  };
  for (const auto& c : cases) {
    std::string data = "data of " + c.name;
    EXPECT_TRUE(dataunzip::filewrite(data, c.name, scratch.path())) << c.name;
    EXPECT_EQ(fs::currentfolder(), scratch.path());
    EXPECT_EQ(readfile(scratch.path() + fs::separator() + fs::nativepath(c.path)), data) << c.name;
  }
  EXPECT_TRUE(dataunzip::filewrite("", "setup\\empty\\", scratch.path()));  // a folder entry
  EXPECT_TRUE(fs::isfolder(scratch.path() + fs::separator() + fs::nativepath("setup\\empty")));
  EXPECT_TRUE(dataunzip::filewrite("", "setup\\empty.txt", scratch.path()));
  EXPECT_EQ(readfile(scratch.path() + fs::separator() + fs::nativepath("setup\\empty.txt")), "");
}

}  // namespace
}  // namespace kelvane
