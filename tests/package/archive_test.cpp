#include "package/datazip.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zip.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "loader/workspace.h"
#include "package/deflatepool.h"
#include "package/filelist.h"
#include "tests/package/packagefixture.h"

namespace kelvane {
namespace {

using namespace kelvane::testing;

struct entryfields {
  std::string name, data;
  unz_file_info64 info{};
};

// Every entry of an archive as minizip's reader sees it.
std::vector<entryfields> readarchive(const std::string& path, std::uint64_t* commentlength = nullptr) {
  std::vector<entryfields> entries;
  unzFile z = unzOpen64(path.c_str());
  if (!z) return entries;
  unz_global_info64 global{};
  unzGetGlobalInfo64(z, &global);
  if (commentlength) *commentlength = global.size_comment;
  for (int r = unzGoToFirstFile(z); r == UNZ_OK; r = unzGoToNextFile(z)) {
    entryfields e;
    char name[512];
    unzGetCurrentFileInfo64(z, &e.info, name, sizeof name, nullptr, 0, nullptr, 0);
    e.name = name;
    unzOpenCurrentFile(z);
    char buffer[4096];
    int n;
    while ((n = unzReadCurrentFile(z, buffer, sizeof buffer)) > 0) e.data.append(buffer, n);
    EXPECT_EQ(unzCloseCurrentFile(z), UNZ_OK) << e.name;
    entries.push_back(e);
  }
  unzClose(z);
  return entries;
}

std::vector<std::string> namesof(const std::vector<entryfields>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

class ArchiveTest : public ::testing::Test {
 protected:
  scratchfolder scratch;
  insidefolder in{scratch.path()};
  std::string archive = scratch.file("out.zip");
};

TEST_F(ArchiveTest, EveryEntryHasTheFixedForm) {
  maketree(scratch.path(), {{"app\\text.txt", std::string(3000, 'a')}, {"app\\noise.bin", noise(40000)}, {"app\\empty", ""}});
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  for (const char* path : {"app\\text.txt", "app\\noise.bin", "app\\empty"}) EXPECT_TRUE(writer.putfileinzip(path));
  ASSERT_TRUE(writer.closezipfile());

  std::uint64_t comment = 99;
  auto entries = readarchive(archive, &comment);
  EXPECT_EQ(comment, 0u);
  ASSERT_EQ(namesof(entries), (std::vector<std::string>{"app\\text.txt", "app\\noise.bin", "app\\empty"}));
  for (const auto& e : entries) {
    EXPECT_EQ(e.info.version, 0u) << e.name;
    EXPECT_EQ(e.info.version_needed, 20u) << e.name;
    EXPECT_EQ(e.info.flag, 2u) << e.name;
    EXPECT_EQ(e.info.compression_method, 8u) << e.name;
    EXPECT_EQ(e.info.dosDate, 0x00200000u) << e.name;  // date 0x0020, time 0
    EXPECT_EQ(e.info.external_fa, 0u) << e.name;
    EXPECT_EQ(e.info.size_file_extra, 0u) << e.name;
    EXPECT_EQ(e.info.size_file_comment, 0u) << e.name;
    EXPECT_EQ(e.data, readfile(fs::nativepath(e.name))) << e.name;
  }
  // The local headers carry the same fixed fields: version 20, flag 2, method 8, no extra field.
  std::string bytes = readfile(archive);
  EXPECT_EQ(bytes.substr(0, 10), std::string("PK\x03\x04\x14\x00\x02\x00\x08\x00", 10));
  EXPECT_EQ(bytes.substr(10, 4), std::string("\x00\x00\x20\x00", 4));
  EXPECT_EQ(bytes.substr(28, 2), std::string("\x00\x00", 2));
}

TEST_F(ArchiveTest, PathsBecomeEntryNames) {
  maketree(scratch.path(), {{"a.txt", "a"}, {"sub\\b.txt", "b"}});
  struct { const char* path; bool result; const char* entry; } cases[] = {
      {"a.txt", true, "a.txt"},
      {"\\\\a.txt", true, "a.txt"},        // leading separators are dropped
      {"/\\sub\\b.txt", true, "sub\\b.txt"},
      {"sub\\", true, nullptr},            // a folder: no entry
      {"\\", true, nullptr},
      {"a.txt", true, "a.txt"},            // twice: two entries of one name
  };
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    EXPECT_EQ(writer.putfileinzip(c.path), c.result) << c.path;
    if (c.entry) expected.push_back(c.entry);
  }
  ASSERT_TRUE(writer.closezipfile());
  EXPECT_EQ(namesof(readarchive(archive)), expected);
}

TEST_F(ArchiveTest, AnArchiveThatCannotBeCreatedFailsEveryLaterCall) {
  maketree(scratch.path(), {{"a.txt", "a"}});
  datazip writer(scratch.file("no-such-folder") + fs::separator() + "out.zip");
  EXPECT_FALSE(writer.zipfopen());
  EXPECT_EQ(writer.lasterror(), -1);
  EXPECT_FALSE(writer.putfileinzip("a.txt"));
  EXPECT_FALSE(writer.closezipfile());
}

TEST_F(ArchiveTest, SameFilesGiveIdenticalArchives) {
  maketree(scratch.path(), {{"app\\x.txt", "x"}, {"app\\n.bin", noise(20000)}});
  std::string first;
  for (int round = 0; round < 2; ++round) {
    datazip writer(archive);
    ASSERT_TRUE(writer.zipfopen());
    EXPECT_TRUE(filelist().GetAllFileInfoAndZip("app", writer));
    ASSERT_TRUE(writer.closezipfile());
    if (round == 0) first = readfile(archive);
  }
  EXPECT_EQ(readfile(archive), first);
}

TEST_F(ArchiveTest, NamesOutsideTheCodePageAreRefused) {
#ifdef _WIN32
  std::string name = "\xe4\xb8\xad.txt";  // the tests' code page is 1252: no Chinese
#else
  std::string name = "\xff.txt";  // the "code page" is UTF-8: not valid in it
#endif
  writefile(name, "x");
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_FALSE(writer.putfileinzip(name));
  ASSERT_TRUE(writer.closezipfile());
  EXPECT_TRUE(readarchive(archive).empty());
}

// Data that deflate can shrink only with its window: a 20 KiB stretch of
// noise repeated, with fresh noise now and then. A block compressed without
// the 32 KiB before it would store the stretch again (about a quarter more).
std::string windowed(std::size_t n, std::uint32_t seed) {
  std::string stretch = noise(20000, seed), data;
  for (std::uint32_t i = 0; data.size() < n; ++i) data += i % 50 == 49 ? noise(30000, seed + i) : stretch;
  data.resize(n);
  return data;
}

// The compressed bytes of each entry, as stored.
std::map<std::string, std::string> rawentries(const std::string& path) {
  std::map<std::string, std::string> entries;
  unzFile z = unzOpen64(path.c_str());
  for (int r = unzGoToFirstFile(z); r == UNZ_OK; r = unzGoToNextFile(z)) {
    char name[512];
    unzGetCurrentFileInfo64(z, nullptr, name, sizeof name, nullptr, 0, nullptr, 0);
    int method = 0, level = 0;
    unzOpenCurrentFile2(z, &method, &level, 1);
    char buffer[65536];
    int n;
    while ((n = unzReadCurrentFile(z, buffer, sizeof buffer)) > 0) entries[name].append(buffer, n);
    unzCloseCurrentFile(z);
  }
  unzClose(z);
  return entries;
}

// A link is made to point at `target` (a folder when `folder`).
bool makelink(const std::string& link, const std::string& target, bool folder) {
#ifdef _WIN32
  std::u16string l = towide(link), t = towide(target);
  return CreateSymbolicLinkW(reinterpret_cast<const wchar_t*>(l.c_str()), reinterpret_cast<const wchar_t*>(t.c_str()),
                             folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) != 0;
#else
  return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

TEST_F(ArchiveTest, EveryThreadCountGivesTheSameBytes) {
  const tree files = {{"app\\several.bin", windowed(3 * blocksize + 12345, 3)},
                      {"app\\one block.bin", windowed(blocksize, 4)},
                      {"app\\one over.bin", windowed(blocksize + 1, 5)},
                      {"app\\empty", ""},
                      {"app\\small.txt", std::string(5000, 's')}};
  maketree(scratch.path(), files);
  std::string first;
  for (int threads : {1, 2, 8}) {
    datazip writer(archive);
    writer.setthreads(threads);
    ASSERT_TRUE(writer.zipfopen());
    EXPECT_TRUE(filelist().GetAllFileInfoAndZip("app", writer));
    ASSERT_TRUE(writer.closezipfile());
    if (first.empty()) first = readfile(archive);
    EXPECT_EQ(readfile(archive), first) << threads << " threads";
  }
  auto entries = readarchive(archive);  // with the CRC-32 of each checked
  ASSERT_EQ(entries.size(), files.size());
  for (const auto& e : entries) EXPECT_EQ(e.data, files.at(e.name)) << e.name;

  // More blocks cost little, because each is primed with the data before it.
  for (const auto& [name, packed] : rawentries(archive)) {
    if (files.at(name).size() <= blocksize) continue;
    std::string whole = rawdeflate(files.at(name));
    EXPECT_LE(packed.size(), whole.size() + whole.size() / 200) << name;  // at most 0.5 % larger
  }
}

// A file that a worker reads whole (chosen by its size before opening) is
// compressed into the same stream as the same file read and handed over block
// by block; one whose size is no longer the listed one is not read at all.
TEST_F(ArchiveTest, AFileReadWholeOnAWorkerGivesTheStreamOfItsBlocks) {
  const std::string data = windowed(3 * blocksize + 777, 8);
  writefile("whole.bin", data);
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  ASSERT_TRUE(writer.putfileinzip("whole.bin"));  // larger than a block: read here
  ASSERT_TRUE(writer.closezipfile());

  deflateblock job;
  job.source = "whole.bin";
  job.listed = data.size();
  job.last = true;
  deflateone(job);
  ASSERT_TRUE(job.opened && job.compressed && !job.readfailed);
  EXPECT_EQ(job.measured, static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(job.size, data.size());
  EXPECT_EQ(job.crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_EQ(std::string(job.output.begin(), job.output.end()), rawentries(archive).at("whole.bin"));

  deflateblock grown;
  grown.source = "whole.bin";
  grown.listed = 100;
  grown.last = true;
  deflateone(grown);
  EXPECT_TRUE(grown.readfailed && grown.changed);
  EXPECT_EQ(grown.size, 0u);
}

// A file is read as far as its size when opened, and must end exactly there:
// one that shrinks or grows meanwhile is a failure, never an entry whose sizes
// do not match its data. `left` stands for the size measured at opening.
TEST_F(ArchiveTest, AFileThatChangesWhileReadFailsItsBlock) {
  const std::string data = noise(blocksize + 5000, 9);
  writefile("moving.bin", data);
  struct { const char* what; std::int64_t left; std::size_t skip; readstatus status; std::size_t got; bool last; } cases[] = {
      {"as measured, first block", std::int64_t(data.size()), 0, readstatus::read, blocksize, false},
      {"as measured, last block", 5000, blocksize, readstatus::read, 5000, true},
      {"shrank", std::int64_t(data.size()) + 10, blocksize, readstatus::changed, 5000, false},
      {"grew", 4000, blocksize, readstatus::changed, 4000, true},
      {"grew past an empty file", 0, 0, readstatus::changed, 0, true},
  };
  for (const auto& c : cases) {
    std::FILE* file = fs::openfile("moving.bin", "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(fs::seek(file, static_cast<std::int64_t>(c.skip), SEEK_SET));
    deflateblock block;
    EXPECT_EQ(readblock(file, {}, c.left, block), c.status) << c.what;
    EXPECT_EQ(block.datasize(), c.got) << c.what;
    EXPECT_EQ(block.last, c.last) << c.what;
    std::fclose(file);
  }
}

// A file that cannot be opened is a failure of the archive too: every later
// call and closezipfile say so, whichever thread met it.
TEST_F(ArchiveTest, AFileThatCannotBeOpenedFailsTheArchive) {
  writefile("a.txt", "a");
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_FALSE(writer.putfileinzip("missing.bin"));  // measured -1: opened on this thread
  EXPECT_FALSE(writer.putfileinzip("a.txt"));
  EXPECT_FALSE(writer.closezipfile());
  EXPECT_EQ(writer.lasterror(), -1);
  EXPECT_EQ(namesof(readarchive(archive)), std::vector<std::string>{"a.txt"});  // no empty entry for it
}

// A file reached through a link is sized by the file it leads to, so one over
// the largest a worker reads whole is archived in full.
TEST_F(ArchiveTest, AFileThroughALinkIsArchivedWhole) {
  const std::string data = windowed(17 * blocksize + 99, 10);
  writefile("target.bin", data);
  if (!makelink(scratch.file("link.bin"), scratch.file("target.bin"), false)) GTEST_SKIP() << "no symbolic links here";
  // Wine makes the link but cannot open a file through it.
  std::FILE* through = fs::openfile("link.bin", "rb");
  if (!through) GTEST_SKIP() << "a link made here cannot be read through";
  std::fclose(through);
  EXPECT_EQ(fs::pathsize("link.bin"), static_cast<std::int64_t>(data.size()));
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_TRUE(writer.putfileinzip("link.bin"));
  ASSERT_TRUE(writer.closezipfile());
  auto entries = readarchive(archive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].data == data);
}

// Files of one block or less: the archive minizip writes when it compresses
// each file in one go, byte for byte (text marks in the central directory too).
TEST_F(ArchiveTest, FilesOfOneBlockAreStoredAsOneCompressionStoresThem) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a\\text.txt", "plain text, plain text, more plain text\r\n"},
      {"a\\noise.bin", noise(70000, 6)},
      {"a\\empty", ""},
      {"a\\one block.bin", windowed(blocksize, 7)}};
  for (const auto& [name, data] : files) maketree(scratch.path(), {{name, data}});

  std::string reference = scratch.file("reference.zip");
  zipFile z = zipOpen64(reference.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, data] : files) {
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip(z, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9), ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(z, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(z), ZIP_OK);
  }
  ASSERT_EQ(zipClose(z, nullptr), ZIP_OK);

  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  for (const auto& file : files) EXPECT_TRUE(writer.putfileinzip(file.first));
  ASSERT_TRUE(writer.closezipfile());
  EXPECT_EQ(readfile(archive), readfile(reference));
}

#ifndef _WIN32
TEST_F(ArchiveTest, FilesTooLargeForAnEntryAreRefused) {
  struct { std::int64_t size; int large; } cases[] = {{0, 0}, {0x7FFFFFFF, 0}, {0xFFFFFFFE, 0}, {0xFFFFFFFF, 1}, {0x100000000, 1}};
  for (const auto& c : cases) {
    writefile("sparse.bin", "");
    ASSERT_EQ(truncate("sparse.bin", c.size), 0);
    datazip writer;
    EXPECT_EQ(writer.isLargeFile("sparse.bin"), c.large) << c.size;
  }
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_FALSE(writer.putfileinzip("sparse.bin"));  // refused before reading a byte
  EXPECT_FALSE(writer.closezipfile());
}

TEST_F(ArchiveTest, AReadErrorIsReported) {
  // The process's own memory file opens, but reading its first page fails.
  // It measures 0 bytes, so a worker reads it, and the failure shows at the
  // latest when the archive is closed.
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  bool put = false, closed = false;
  {
    insidefolder root("/");
    put = writer.putfileinzip("proc\\self\\mem");
    closed = writer.closezipfile();
  }
  EXPECT_FALSE(put && closed);
  EXPECT_EQ(writer.lasterror(), -1);
  // The entry ends behind what was read in full, here nothing, and the
  // archive stays well formed.
  auto entries = readarchive(archive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "proc\\self\\mem");
  EXPECT_EQ(entries[0].data, "");
}

TEST_F(ArchiveTest, AFileLongerThanItsSizeFailsTheArchive) {
  // /proc/self/status measures 0 bytes and holds more.
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  bool put = false, closed = false;
  ::testing::internal::CaptureStdout();
  {
    insidefolder root("/");
    put = writer.putfileinzip("proc\\self\\status");
    closed = writer.closezipfile();
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(closed) << put;
  EXPECT_NE(out.find("proc\\self\\status changed while it was read"), std::string::npos) << out;
  auto entries = readarchive(archive);  // still well formed, the entry empty
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].data, "");
}

TEST_F(ArchiveTest, AFailedWriteIsReported) {
  writefile("noise.bin", noise(300000));
  datazip writer("/dev/full");
  ASSERT_TRUE(writer.zipfopen());
  bool put = writer.putfileinzip("noise.bin");
  bool closed = writer.closezipfile();
  EXPECT_FALSE(put && closed);
}
#endif

class TreeWalk : public ArchiveTest {};

TEST_F(TreeWalk, ArchivesDepthFirstWithBackslashNames) {
  maketree(scratch.path(), {{"app\\b.txt", "b"},
                            {"app\\A\\inner\\x.txt", "x"},
                            {"app\\A\\y.txt", "y"},
                            {".keep", ""},
                            {"app\\.dot", "dot"},
                            {"app\\c\\", ""},
                            {"app\\c\\d\\", ""},
                            {"app\\empty.txt", ""}});
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_TRUE(filelist().GetAllFileInfoAndZip("app", writer));
  ASSERT_TRUE(writer.closezipfile());
  // Listing order is case-insensitive by name; a folder's files come at its place.
  EXPECT_EQ(namesof(readarchive(archive)),
            (std::vector<std::string>{"app\\.dot", "app\\A\\inner\\x.txt", "app\\A\\y.txt", "app\\b.txt", "app\\empty.txt"}));
}

TEST_F(TreeWalk, AMissingFolderAddsNothing) {
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_FALSE(filelist().GetAllFileInfoAndZip("app", writer));
  ASSERT_TRUE(writer.closezipfile());
  EXPECT_EQ(readfile(archive).size(), 22u);  // only the end record
}

TEST_F(TreeWalk, DeletesAFolderWithEverythingBelowIt) {
  maketree(scratch.path(), {{"old\\a.txt", "a"}, {"old\\.b", "b"}, {"old\\s\\t\\u.txt", "u"}, {"old\\e\\", ""}});
  EXPECT_TRUE(filelist::deletepath(scratch.file("old")));
  EXPECT_FALSE(fs::isfolder(scratch.file("old")));
  EXPECT_FALSE(filelist::deletepath(scratch.file("old")));  // nothing to list any more
}

TEST_F(TreeWalk, IntitempClearsTheWorkspaceSetupFolder) {
  fs::makefolder(scratch.file("ws"));
  tempfolder temp(scratch.file("ws"));
  maketree(scratch.file("ws"), {{"setup\\qSetup.exe", "old"}, {"setup\\x\\y", "old"}, {"keep.txt", "k"}});
  EXPECT_TRUE(intitemp());
  EXPECT_FALSE(fs::isfolder(scratch.file("ws") + fs::separator() + "setup"));
  EXPECT_EQ(readfile(scratch.file("ws") + fs::separator() + "keep.txt"), "k");
  EXPECT_FALSE(intitemp());  // a first run: no old folder
}

TEST_F(TreeWalk, LinksAreRemovedNeverFollowed) {
  maketree(scratch.path(), {{"outside\\precious.txt", "p"}, {"outside\\sub\\deep.txt", "d"}, {"old\\a.txt", "a"}});
  std::string old = scratch.file("old") + fs::separator();
  if (!makelink(old + "tofolder", scratch.file("outside"), true)) GTEST_SKIP() << "no symbolic links here";
  ASSERT_TRUE(makelink(old + "tofile", scratch.file("outside") + fs::separator() + "precious.txt", false));
  EXPECT_TRUE(filelist::deletepath(scratch.file("old")));
  EXPECT_FALSE(fs::isfolder(scratch.file("old")));
  EXPECT_EQ(readfile(scratch.file("outside") + fs::separator() + "precious.txt"), "p");
  EXPECT_EQ(readfile(scratch.file("outside") + fs::separator() + fs::nativepath("sub\\deep.txt")), "d");
}

// The folder to delete may itself be a link (planted in a temporary folder
// that others can write): the link goes, its target and everything in it stay.
TEST_F(TreeWalk, AFolderThatIsALinkIsRemovedItselfNeverFollowed) {
  maketree(scratch.path(), {{"outside\\precious.txt", "p"}, {"outside\\sub\\deep.txt", "d"}, {"empty\\", ""}});
  for (std::string target : {"outside", "empty"}) {
    std::string link = scratch.file("to" + target);
    // wine 8's CreateSymbolicLinkW reports success and makes nothing.
    if (!makelink(link, scratch.file(target), true) || fs::kindof(link) != fs::pathkind::link)
      GTEST_SKIP() << "no symbolic links here";
    bool removed = filelist::deletepath(link);
#ifndef _WIN32
    EXPECT_TRUE(removed) << target;
#endif
    // wine opens a link only through to its target: there it cannot go, and stays.
    EXPECT_EQ(fs::kindof(link), removed ? fs::pathkind::missing : fs::pathkind::link) << target;
    EXPECT_TRUE(fs::isfolder(scratch.file(target))) << target;
  }
  EXPECT_EQ(readfile(scratch.file("outside") + fs::separator() + "precious.txt"), "p");
  EXPECT_EQ(readfile(scratch.file("outside") + fs::separator() + fs::nativepath("sub\\deep.txt")), "d");
}

#ifndef _WIN32

TEST_F(TreeWalk, ArchiveWalkEndsOnLinkCycles) {
  maketree(scratch.path(), {{"app\\a.txt", "a"}, {"target.txt", "t"}});
  ASSERT_EQ(symlink(scratch.file("app").c_str(), scratch.file("app/loop").c_str()), 0);
  ASSERT_EQ(symlink("..", scratch.file("app/up").c_str()), 0);
  ASSERT_EQ(symlink(scratch.file("target.txt").c_str(), scratch.file("app/file").c_str()), 0);
  datazip writer(archive);
  ASSERT_TRUE(writer.zipfopen());
  EXPECT_TRUE(filelist().GetAllFileInfoAndZip("app", writer));
  ASSERT_TRUE(writer.closezipfile());
  auto entries = readarchive(archive);
  ASSERT_EQ(namesof(entries), (std::vector<std::string>{"app\\a.txt", "app\\file"}));
  EXPECT_EQ(entries[1].data, "t");  // a link to a file is archived as that file
}
#endif

}  // namespace
}  // namespace kelvane
