#include "loader/worker.h"
#include "loader/startup.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "package/datamd5.h"
#include "package/layout.h"
#include "platform/elevation.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "tests/support/scratch.h"

namespace kelvane {
namespace {

struct entry {
  std::string name;
  std::string data;
  int rawmethod = -1;  // stored as it is under this method number, with a wrong CRC
};

// A zip archive of the entries, names stored as given, deflated unless an
// entry says otherwise.
std::string makezip(const std::string& path, const std::vector<entry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  for (const auto& e : entries) {
    bool raw = e.rawmethod >= 0;
    zipOpenNewFileInZip2(zip, e.name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, raw ? 0 : Z_DEFLATED, 9, raw);
    zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
    if (raw) zipCloseFileInZipRaw(zip, e.data.size(), 0x12345678);
    else zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  // minizip writes no other methods: a raw entry's method is set in its local
  // header (30 bytes before its name) and its directory record (46 before).
  std::string bytes = testing::readbytes(path);
  for (const auto& e : entries) {
    if (e.rawmethod < 0) continue;
    std::size_t local = bytes.find(e.name), central = bytes.rfind(e.name);
    bytes[local - 30 + 8] = bytes[central - 46 + 10] = static_cast<char>(e.rawmethod);
  }
  return bytes;
}

std::string randombytes(std::size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  for (auto& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  return bytes;
}

std::string nativename(const std::string& stored) { return fs::nativepath(stored); }

// Each case gets a workspace of its own: the temporary folder is pointed at
// the scratch folder for the test's duration.
class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
      saved_.push_back(env::get(name));
      env::set(name, scratch_.path() + fs::separator());
    }
    setup_ = {{"setup\\qSetup.exe", "MZ setup program"},
              {"setup\\config.xml", "<setup>\n  <source path=\"old\" />\n</setup>\n"},
              {"setup\\data\\nested\\blob.bin", randombytes(5000, 1)},
              {"setup\\empty.txt", ""}};
    app_ = {{"app\\big.bin", randombytes(60000, 2)}};
  }
  void TearDown() override {
    const char* names[] = {"TMPDIR", "TMP", "TEMP"};
    for (int i = 0; i < 3; ++i) saved_[i] ? env::set(names[i], *saved_[i]) : env::unset(names[i]);
  }

  // A package: filler for the program, both archives, then the trailer.
  std::string package(const std::vector<entry>& setup) {
    std::string setupzip = makezip(scratch_.file("setup.zip"), setup);
    std::string appzip = makezip(scratch_.file("app.zip"), app_);
    std::string stub(1000, 'S');
    packagetrailer trailer;
    char digest[33];
    datamd5 md5;
    trailer.setup_offset = static_cast<std::uint32_t>(stub.size());
    md5.buffermd5(setupzip.data(), static_cast<std::int64_t>(setupzip.size()), digest);
    std::copy(digest, digest + digestlength, trailer.setup_digest.begin());
    trailer.app_offset = static_cast<std::uint32_t>(stub.size() + setupzip.size());
    md5.buffermd5(appzip.data(), static_cast<std::int64_t>(appzip.size()), digest);
    std::copy(digest, digest + digestlength, trailer.app_digest.begin());
    auto bytes = trailer.encode();
    return stub + setupzip + appzip + std::string(bytes.begin(), bytes.end());
  }

  std::string writepackage(const std::string& bytes) { return scratch_.write("package.exe", bytes); }
  std::string extracted(const std::string& stored) { return testing::readbytes(scratch_.file(nativename(stored))); }
  bool exists(const std::string& stored) {
    std::FILE* f = fs::openfile(scratch_.file(nativename(stored)), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  }

  testing::scratchfolder scratch_;
  std::vector<std::optional<std::string>> saved_;
  std::vector<entry> setup_, app_;
};

TEST_F(Worker, CompletePackageExtractsEveryEntryUnchanged) {
  std::string before = fs::currentfolder();
  EXPECT_EQ(extractsetup(writepackage(package(setup_))), extraction::complete);
  EXPECT_EQ(fs::currentfolder(), before);
  for (const auto& e : setup_) {
    if (e.name == "setup\\config.xml") continue;
    EXPECT_EQ(extracted(e.name), e.data) << e.name;
  }
  EXPECT_EQ(extracted("setup\\config.xml").find("\"old\""), std::string::npos) << "configuration not patched";
}

TEST_F(Worker, ChangedStoredDigestIsAMismatchAfterFullExtraction) {
  std::string good = package(setup_);
  const std::size_t trailerstart = good.size() - trailersize;
  for (std::size_t field : {trailerstart + 4, trailerstart + 40, trailerstart + 4 + 31}) {
    std::string changed = good;
    changed[field] = changed[field] == 'f' ? '0' : 'f';
    EXPECT_EQ(extractsetup(writepackage(changed)), extraction::mismatch) << field;
    EXPECT_EQ(extracted("setup\\data\\nested\\blob.bin"), setup_[2].data);
  }
  // Digests are lowercase text: the same digits in upper case do not match.
  std::string upper = good;
  for (std::size_t i = trailerstart + 40; i < good.size(); ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
  ASSERT_NE(upper, good);
  EXPECT_EQ(extractsetup(writepackage(upper)), extraction::mismatch);
}

TEST_F(Worker, UnreadablePackageFailsWithoutComparingDigests) {
  const std::string cases[] = {"", std::string(10, 'x'), std::string(2000, '\0')};
  EXPECT_EQ(extractsetup(scratch_.file("missing.exe")), extraction::failed);
  for (const auto& bytes : cases) EXPECT_EQ(extractsetup(writepackage(bytes)), extraction::failed) << bytes.size();
  EXPECT_FALSE(exists("setup\\qSetup.exe"));
}

TEST_F(Worker, CorruptedEntryIsNotWrittenAndTheRestIs) {
  std::vector<entry> setup = setup_;
  setup.insert(setup.begin() + 1, {"setup\\victim.bin", randombytes(8000, 3)});
  std::string bytes = package(setup);
  std::size_t header = bytes.find("setup\\victim.bin");
  ASSERT_NE(header, std::string::npos);
  bytes[header + 3000] ^= 0x5a;  // inside the victim's deflated data
  EXPECT_EQ(extractsetup(writepackage(bytes)), extraction::failed);
  EXPECT_FALSE(exists("setup\\victim.bin"));
  EXPECT_EQ(extracted("setup\\data\\nested\\blob.bin"), setup_[2].data);
  EXPECT_EQ(extracted("setup\\config.xml").find("\"old\""), std::string::npos) << "patched all the same";
}

TEST_F(Worker, RefusedNameFailsAndWritesNothingOutside) {
  for (const char* hostile : {"setup\\..\\..\\escaped.txt", "..\\escaped.txt", "\\escaped.txt"}) {
    std::vector<entry> setup = setup_;
    setup.push_back({hostile, "x"});
    EXPECT_EQ(extractsetup(writepackage(package(setup))), extraction::failed) << hostile;
    EXPECT_EQ(extracted("setup\\qSetup.exe"), setup_[0].data);
  }
  std::vector<fs::direntry> around;
  ASSERT_TRUE(fs::listfolder(scratch_.path(), around));
  for (const auto& e : around) EXPECT_EQ(e.name.find("escaped"), std::string::npos) << e.name;
}

// Only entries below "setup\\", stored or deflated, each naming a file no
// earlier entry named on Windows, are written; anything else fails the
// extraction and leaves nothing behind, inside or outside the setup folder.
TEST_F(Worker, EntriesOutsideTheSetupFolderOrAliasingAnEarlierOneAreNotWritten) {
  // Those after the method 12 entry name qSetup.exe on Windows.
  const std::vector<entry> refused = {
      {"evil.dll", "x"},
      {"Low\\x.dll", "x"},
      {"SETUP~1\\x.dll", "x"},
      {"setup\\method12.dll", "same size, wrong CRC", 12},
      {"setup\\QSETUP.EXE", "replaced"},
      {"setup\\qSetup.exe.", "replaced"},
      {"setup\\QSETUP~1.EXE", "replaced"},
  };
  for (const auto& bad : refused) {
    bool alias = &bad > &refused[3];
    testing::removetree(scratch_.file("setup"));
    std::vector<entry> setup = setup_;
    setup.insert(setup.begin() + 1, bad);
    EXPECT_EQ(extractsetup(writepackage(package(setup))), extraction::failed) << bad.name;
    EXPECT_EQ(extracted("setup\\qSetup.exe"), setup_[0].data) << bad.name;
    EXPECT_EQ(extracted("setup\\data\\nested\\blob.bin"), setup_[2].data) << bad.name;
    if (!alias) {
      EXPECT_FALSE(exists(bad.name)) << bad.name;
    }
  }
  std::vector<fs::direntry> around;
  ASSERT_TRUE(fs::listfolder(scratch_.path(), around));
  for (const auto& e : around)
    EXPECT_TRUE(e.name == "." || e.name == ".." || e.name == "setup" || e.name == "package.exe" ||
                e.name.find(".zip") != std::string::npos)
        << e.name;
}

TEST_F(Worker, ArchiveFailingAfterKEntriesKeepsThoseK) {
  for (std::size_t k : {1u, 3u}) {
    testing::removetree(scratch_.file("setup"));
    std::string bytes = package(setup_);
    std::size_t record = bytes.find("PK\x01\x02", 1000);
    for (std::size_t i = 0; i < k; ++i) record = bytes.find("PK\x01\x02", record + 1);
    ASSERT_NE(record, std::string::npos);
    bytes[record + 1] ^= 0x7f;  // entry k's directory record is unreadable
    EXPECT_EQ(extractsetup(writepackage(bytes)), extraction::failed) << k;
    for (std::size_t i = 0; i < setup_.size(); ++i) {
      if (setup_[i].name == "setup\\config.xml") continue;
      EXPECT_EQ(exists(setup_[i].name), i < k) << k << " " << i;
    }
  }
}

#ifndef _WIN32
// A setup folder that is a link (planted before the run) is never written
// through: the workspace reset removes the link itself, and extraction alone,
// finding one, writes nothing.
TEST_F(Worker, ASetupFolderThatIsALinkIsNeverWrittenThrough) {
  std::string outside = scratch_.file("outside");
  fs::makefolder(outside);
  scratch_.write("outside/qSetup.exe", "planted");
  ASSERT_EQ(symlink(outside.c_str(), scratch_.file("setup").c_str()), 0);
  EXPECT_EQ(extractsetup(writepackage(package(setup_))), extraction::noworkspace);
  EXPECT_EQ(testing::readbytes(outside + "/qSetup.exe"), "planted");

  std::string marker = scratch_.file("ran.txt");
  std::vector<entry> setup = {{"setup\\qSetup.exe", "#!/bin/sh\necho ran > '" + marker + "'\n"}};
  EXPECT_EQ(startup({writepackage(package(setup))}), 0);
  EXPECT_EQ(testing::readbytes(marker), "ran\n");
  // Unelevated, from a fresh setup folder in the link's place; as root, from a
  // protected folder of its own, the user's link left as it was.
  EXPECT_EQ(fs::kindof(scratch_.file("setup")), elevation::elevated() ? fs::pathkind::link : fs::pathkind::folder);
  std::vector<fs::direntry> left;
  ASSERT_TRUE(fs::listfolder(outside, left));
  EXPECT_EQ(left.size(), 3u);  // ".", ".." and the planted file, unchanged
  EXPECT_EQ(testing::readbytes(outside + "/qSetup.exe"), "planted");
}

// Unattended, the setup program's exit code is the loader's, and a damaged
// package is not installed; attended, the loader ends with 0 once it ran.
TEST_F(Worker, UnattendedRunsEndWithTheSetupProgramsCodeOrTheirOwn) {
  std::string marker = scratch_.file("ran.txt");
  std::vector<entry> setup = {{"setup\\qSetup.exe", "#!/bin/sh\necho ran >> '" + marker + "'\nexit 42\n"},
                              {"setup\\config.xml", "<setup><source path=\"old\"/></setup>"}};
  std::string good = package(setup);
  std::string mismatch = good;
  mismatch[mismatch.size() - 1] = mismatch.back() == '0' ? '1' : '0';  // the stored app digest
  std::vector<entry> damaged = setup;
  damaged.push_back({"setup\\bad.bin", "x", 12});
  std::string failed = package(damaged);
  struct {
    std::string bytes;
    std::vector<std::string> args;
    int exitcode;
    bool ran;
  } cases[] = {
      {good, {"1", "/target"}, 42, true},
      {good, {}, 0, true},
      {mismatch, {"1", "/target"}, exitdigestmismatch, false},
      {mismatch, {}, 0, true},
      {failed, {"0", "/target"}, exitextractionfailed, false},
      {failed, {}, 0, true},
  };
  for (const auto& c : cases) {
    fs::removefile(marker);
    env::unset("KZQAUTOI");  // set by the run before
    env::unset("KZQPATHI");
    std::vector<std::string> args = {writepackage(c.bytes)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(startup(args), c.exitcode) << c.exitcode << " " << c.args.size();
    EXPECT_EQ(testing::readbytes(marker), c.ran ? "ran\n" : "") << c.exitcode << " " << c.args.size();
  }
  env::unset("KZQAUTOI");
  env::unset("KZQPATHI");
}

// Without a window the same steps run in turn: extraction, then the setup
// program, found whatever letter case the archive gave its name, started
// with no arguments in the loader's current folder, and awaited.
TEST_F(Worker, HandOffRunsTheSetupProgramAndWaits) {
  std::string marker = scratch_.file("ran.txt");
  // The setup program records its arguments, its current folder, its own
  // folder, and what lies beside it.
  std::vector<entry> setup = {
      {"setup\\QSETUP.EXE", "#!/bin/sh\nhere=$(dirname \"$0\")\n{ echo \"$#:$(pwd)\"; echo \"$here\"; ls \"$here\";"
                             " cat \"$here/config.xml\"; } > '" + marker + "'\nexit 7\n"},
      {"setup\\config.xml", "<setup><source path=\"old\"/></setup>"}};
  std::string path = writepackage(package(setup));
  EXPECT_EQ(startup({path}), 0);
  std::string seen = testing::readbytes(marker);
  std::string first = "0:" + fs::currentfolder() + "\n";
  ASSERT_EQ(seen.substr(0, first.size()), first);
  std::string folder = seen.substr(first.size(), seen.find('\n', first.size()) - first.size());
  EXPECT_NE(seen.find("\nuninstall.exe\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find(path), std::string::npos) << seen;  // config.xml names the package
  if (!elevation::elevated()) {
    EXPECT_EQ(folder, scratch_.path() + "/setup");
    EXPECT_EQ(extracted("setup\\uninstall.exe"), setup[0].data);
    EXPECT_NE(extracted("setup\\config.xml").find(path), std::string::npos);
  } else {
    // Root: a protected folder of its own, gone once the setup program ended.
    std::string root = folder.substr(0, folder.rfind('/'));
    EXPECT_EQ(root.rfind(scratch_.path() + "/kelvane-", 0), 0u) << folder;
    EXPECT_FALSE(fs::isfolder(root));
    EXPECT_FALSE(fs::isfolder(scratch_.path() + "/setup"));
  }
}
#endif

}  // namespace
}  // namespace kelvane
