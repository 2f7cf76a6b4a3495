#include "package/builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/package/packagefixture.h"

namespace kelvane {
namespace {

using namespace kelvane::testing;

class Builder : public ::testing::Test {
 public:
  Builder() {
    fs::makefolder(work);
    fs::makefolder(archives);
    writefile(stubpath, stub);
  }
  // Runs the builder in `work` with the stub made above.
  int build() {
    insidefolder in(work);
    return buildpackage(fs::openfile(stubpath, "rb"), {0, 0, 1920, 1080, 96}, {.archivefolder = archives + fs::separator()});
  }
  std::string package() const { return readfile(work + fs::separator() + "install_test.exe"); }
  std::string archive(const char* name) const { return readfile(archives + fs::separator() + name); }

  scratchfolder scratch;
  std::string work = scratch.file("work");
  std::string archives = scratch.file("archives");
  std::string stubpath = scratch.file("stub.exe");
  std::string stub = fixturestub();
  std::string image = packagedimage(stub);  // the package's first piece
};

TEST_F(Builder, WritesStubSetupArchiveAppArchiveAndTrailer) {
  maketree(work, {{"setup\\qSetup.exe", noise(60000, 2)}, {"setup\\config.xml", "<x/>"}, {"app\\data.bin", noise(90000, 4)}});
  ASSERT_EQ(build(), 0);
  std::string setup = archive("qlib.zip"), app = archive("test.zip"), p = package();
  ASSERT_GT(setup.size(), 22u);
  ASSERT_GT(app.size(), 36864u);  // sampled, not plain MD5
  ASSERT_EQ(p.size(), image.size() + setup.size() + app.size() + 72);
  EXPECT_EQ(p.substr(0, image.size()), image);
  EXPECT_EQ(p.substr(image.size(), setup.size()), setup);  // setup first, although built second
  EXPECT_EQ(p.substr(image.size() + setup.size(), app.size()), app);

  auto t = packagetrailer::decode(reinterpret_cast<const unsigned char*>(p.data() + p.size() - 72));
  EXPECT_EQ(t.setup_offset, image.size());
  EXPECT_EQ(t.app_offset, image.size() + setup.size());
  EXPECT_EQ(std::string(t.setup_digest.begin(), t.setup_digest.end()), sampleddigest(setup));
  EXPECT_EQ(std::string(t.app_digest.begin(), t.app_digest.end()), sampleddigest(app));
}

TEST_F(Builder, BuildingTwiceGivesTheSameBytes) {
  maketree(work, {{"setup\\a\\b.txt", "b"}, {"setup\\e.txt", ""}, {"app\\x\\", ""}, {"app\\y.bin", noise(5000)}});
  ASSERT_EQ(build(), 0);
  std::string first = package();
  ASSERT_EQ(build(), 0);
  EXPECT_EQ(package(), first);
}

TEST_F(Builder, MissingFoldersGiveEmptyArchives) {
  ASSERT_EQ(build(), 0);
  std::string p = package();
  ASSERT_EQ(p.size(), image.size() + 22 + 22 + 72);
  std::string empty = p.substr(image.size(), 22);
  EXPECT_EQ(empty.substr(0, 4), "PK\x05\x06");
  auto t = packagetrailer::decode(reinterpret_cast<const unsigned char*>(p.data() + p.size() - 72));
  EXPECT_EQ(std::string(t.app_digest.begin(), t.app_digest.end()), sampleddigest(empty));
}

TEST_F(Builder, ReplacesAnOlderPackage) {
  writefile(work + fs::separator() + "install_test.exe", noise(100000));
  ASSERT_EQ(build(), 0);
  EXPECT_EQ(package().size(), image.size() + 22 + 22 + 72);
}

// The package's image is shorter than the stub: archives that would make the
// package exactly as long as the stub (or that long once signing pads it)
// get 8 zero bytes before them, or it would run as the builder.
TEST_F(Builder, APackageNeverHasTheStubsLength) {
  std::int64_t n = stubsize - std::int64_t(image.size()) - 400;
  for (int attempt = 0; attempt < 8; ++attempt) {
    maketree(work, {{"app\\noise.bin", noise(std::size_t(n), 9)}});
    ASSERT_EQ(build(), 0);
    std::string p = package();
    auto t = packagetrailer::decode(reinterpret_cast<const unsigned char*>(p.data() + p.size() - 72));
    std::int64_t gap = std::int64_t(t.setup_offset) - std::int64_t(image.size());
    std::int64_t unguarded = std::int64_t(p.size()) - gap;
    if (unguarded > stubsize - 8 && unguarded <= stubsize) {
      EXPECT_EQ(gap, 8);
      EXPECT_EQ(p.substr(image.size(), 8), std::string(8, '\0'));
      EXPECT_GT(std::int64_t(p.size()), stubsize);
      return;
    }
    EXPECT_EQ(gap, 0) << p.size();
    n += stubsize - unguarded;
  }
  FAIL() << "no package came within 8 bytes of the stub's length";
}

TEST_F(Builder, FailuresLeaveNoPackageBehind) {
  struct failure {
    const char* what;
    std::function<void(Builder&)> arrange;
  };
  const failure cases[] = {
      {"archive folder missing", [](Builder& b) { b.archives = b.scratch.file("gone"); }},
      {"package cannot be created", [](Builder& b) { fs::makefolder(b.work + fs::separator() + "install_test.exe"); }},
      {"a stub whose resources cannot be rewritten", [](Builder& b) { writefile(b.stubpath, "MZ" + noise(20000, 5)); }},
#ifdef _WIN32
      {"name outside the code page", [](Builder& b) { maketree(b.work, {{"setup\\\xe4\xb8\xad.txt", "x"}}); }},
#else
      {"name outside the code page", [](Builder& b) { maketree(b.work, {{"setup\\\xff.txt", "x"}}); }},
      {"name Windows cannot hold", [](Builder& b) { maketree(b.work, {{"app\\x\\a.txt", "a"}, {"app\\X\\b.txt", "b"}}); }},
      {"package writes fail",
       [](Builder& b) { symlink("/dev/full", (b.work + "/install_test.exe").c_str()); maketree(b.work, {{"app\\x", noise(70000)}}); }},
#endif
  };
  for (const auto& c : cases) {
    testing::removetree(work);
    fs::makefolder(work);
    archives = scratch.file("archives");
    writefile(stubpath, stub);
    c.arrange(*this);
    EXPECT_EQ(build(), -1) << c.what;
    // Only the folder that stood in the package's way may remain under its name.
    std::vector<fs::direntry> entries;
    fs::listfolder(work, entries);
    for (const auto& e : entries) {
      if (e.name == "install_test.exe") {
        EXPECT_TRUE(e.folder && !e.link) << c.what;
      }
    }
  }
}

#ifndef _WIN32
// A real read error part way through a file, from a disk that ends early (tests/support/shortdisk.sh).
class ShortDisk {
 public:
  explicit ShortDisk(std::string folder) : folder_(std::move(folder)) {}
  ~ShortDisk() {
    if (mounted_) run("unmount " + folder_);
  }
  bool mount(const std::string& name, std::size_t size, std::size_t readable) {
    mounted_ = run("mount " + folder_ + " '" + name + "' " + std::to_string(size) + " " + std::to_string(readable));
    return mounted_;
  }

 private:
  static bool run(const std::string& arguments) {
    return std::system((std::string("cd / && " KELVANE_SOURCE_DIR "/tests/support/shortdisk.sh ") + arguments).c_str()) == 0;
  }
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(Builder, AFileThatFailsToReadHalfwayStopsTheBuild) {
  if (geteuid() != 0) GTEST_SKIP() << "a loop device needs root";
  // Several blocks are read on the builder's thread, less than one on the
  // worker that compresses it.
  struct { const char* name; std::size_t size, readable; } cases[] = {{"big.bin", 6000000, 3000000},
                                                                      {"small.bin", 700000, 300000}};
  maketree(work, {{"setup\\qSetup.exe", noise(1000)}});
  for (const auto& c : cases) {
    ShortDisk disk(work + "/app");
    ASSERT_TRUE(disk.mount(c.name, c.size, c.readable));
    ::testing::internal::CaptureStdout();
    int result = build();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, -1) << out;
    EXPECT_NE(out.find(std::string("error in reading app\\") + c.name), std::string::npos) << out;
    std::FILE* package = fs::openfile(work + "/install_test.exe", "rb");
    EXPECT_EQ(package, nullptr) << c.name;
    if (package) std::fclose(package);
  }
}
#endif

}  // namespace
}  // namespace kelvane
