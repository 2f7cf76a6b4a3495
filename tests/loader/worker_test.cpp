#include "loader/worker.h"
#include "loader/startup.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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
};

// A deflated zip archive of the entries, names stored as given.
std::string makezip(const std::string& path, const std::vector<entry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  for (const auto& e : entries) {
    zipOpenNewFileInZip(zip, e.name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9);
    zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  return testing::readbytes(path);
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
