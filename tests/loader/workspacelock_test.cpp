#include "loader/workspacelock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "platform/userlock.h"
#include "tests/support/scratch.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#define ownprocessid() GetCurrentProcessId()
#else
#include <fcntl.h>
#include <unistd.h>
#define ownprocessid() getpid()
#endif

namespace kelvane {
namespace {

TEST(WorkspaceLock, FoldsNamesTheWayWindowsComparesThem) {
  struct { std::u16string name, folded; } cases[] = {
      {u"c:/Users/ana/Temp\\", u"C:\\USERS\\ANA\\TEMP\\"},
      {u"0-9_~.@", u"0-9_~.@"},
      {u"\u00e0\u00fe\u00f7\u00ff\u00df", u"\u00c0\u00de\u00f7\u0178\u00df"},  // Latin-1; sharp s has no capital
      {u"\u0101\u0133\u013a\u0148\u014b\u017e\u0131", u"\u0100\u0132\u0139\u0147\u014a\u017d\u0131"},
      {u"\u03b1\u03c9\u03c2\u03ac\u03af\u03cc\u03ce", u"\u0391\u03a9\u03a3\u0386\u038a\u038c\u038f"},
      {u"\u0430\u044f\u0451\u045f\u0461\u04c2\u04d1", u"\u0410\u042f\u0401\u040f\u0460\u04c1\u04d0"},
      {u"\uff41\uff5a\u4e2d", u"\uff21\uff3a\u4e2d"},
  };
  for (const auto& c : cases) EXPECT_EQ(foldname(c.name), c.folded) << tonarrow(c.name);
}

TEST(WorkspaceLock, OneNamePerFolderWhateverItsSpelling) {
  struct { std::u16string a, b; bool same; } cases[] = {
      {u"C:\\Users\\Ana\\AppData\\Local\\Temp\\setup", u"c:\\users\\ana\\APPDATA\\local\\temp\\SETUP", true},
      {u"C:\\Temp\\setup", u"C:/Temp/setup", true},
      {u"C:\\Temp\\\u00c4rger\\setup", u"c:\\temp\\\u00e4rger\\setup", true},
      {u"C:\\\u041f\u043e\u043b\u044c\u0437\\setup", u"C:\\\u041f\u041e\u041b\u042c\u0417\\setup", true},
      {u"C:\\Temp\\setup", u"C:\\Temp2\\setup", false},
      {u"C:\\Temp\\setup", u"D:\\Temp\\setup", false},
      {u"C:\\\u4e2d\\setup", u"C:\\\u6587\\setup", false},
  };
  for (const auto& c : cases) {
    std::string a = workspacelockname(c.a), b = workspacelockname(c.b);
    EXPECT_EQ(a == b, c.same) << tonarrow(c.a) << " / " << tonarrow(c.b);
    for (const auto& name : {a, b}) {
      EXPECT_EQ(name.rfind("Kelvane-workspace-", 0), 0u) << name;
      EXPECT_EQ(name.size(), 50u);
      EXPECT_EQ(name.find_first_not_of("Kelvane-workspace0123456789abcdef"), std::string::npos) << name;
    }
  }
}

#ifdef _WIN32
// What the loader names its lock after: the temporary folder in its long form.
TEST(WorkspaceLock, ShortSpellingOfAFolderReadsLong) {
  std::u16string folder = fs::temppath() + u"Kelvane long folder name " + towide(std::to_string(ownprocessid()));
  ASSERT_TRUE(fs::makefolder(tonarrow(folder)));
  wchar_t shortform[MAX_PATH];
  DWORD n = GetShortPathNameW(reinterpret_cast<const wchar_t*>(folder.c_str()), shortform, MAX_PATH);
  std::u16string spelled(reinterpret_cast<const char16_t*>(shortform), n);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  EXPECT_NE(foldname(spelled), foldname(folder));
  EXPECT_EQ(fs::longname(spelled + u"\\"), folder + u"\\");
  EXPECT_EQ(fs::longname(u"C:\\no such folder\\"), u"C:\\no such folder\\");
  fs::removefolder(tonarrow(folder));
}
#endif

TEST(WorkspaceLock, HeldWorkspaceWaitsWhenUnattendedAndEndsWhenAttended) {
  struct { bool held, attended; workspaceaction action; } cases[] = {
      {false, false, workspaceaction::proceed},
      {false, true, workspaceaction::proceed},
      {true, false, workspaceaction::wait},
      {true, true, workspaceaction::bringforward},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decideworkspace(c.held, c.attended), c.action) << c.held << c.attended;
}

// The platform's lock, within one process: another thread with its own handle
// finds it held and learns who holds it, and takes it once it is given up.
TEST(WorkspaceLock, TakenLockIsHeldForOthersUntilGivenUp) {
  std::string name = "Kelvane-workspace-test-" + std::to_string(ownprocessid());
  userlock::lock* mine = userlock::open(name);
  userlock::lock* theirs = userlock::open(name);
  ASSERT_TRUE(mine && theirs);
  ASSERT_EQ(userlock::trytake(mine), userlock::state::taken);
  auto fromanotherthread = [&](userlock::state (*attempt)(userlock::lock*)) {
    userlock::state seen = userlock::state::failed;
    std::thread([&] { seen = attempt(theirs); }).join();
    return seen;
  };
  EXPECT_EQ(fromanotherthread(userlock::trytake), userlock::state::held);
  userlock::process holder = userlock::holder(theirs);
  EXPECT_EQ(holder.id, static_cast<unsigned long>(ownprocessid()));
  EXPECT_EQ(holder.created, userlock::currentprocess().created);
  EXPECT_NE(holder.created, 0u);
  EXPECT_TRUE(userlock::stillrunning(holder));
  // The same id with another creation time is another process: never brought forward.
  EXPECT_FALSE(userlock::stillrunning({holder.id, holder.created - 1}));
  EXPECT_FALSE(ui::bringforward({holder.id, holder.created + 1}));
  userlock::close(mine);
  EXPECT_EQ(fromanotherthread(userlock::take), userlock::state::taken);
  userlock::close(theirs);
  fs::removefile(tonarrow(fs::temppath()) + name + ".lock");  // the POSIX lock's file
}

// A lock this process may not even open (on Windows an elevated holder's
// mutex seen from an unelevated loader) is held, never "no lock": the loader
// must not go on into a workspace another installation uses. It is free once
// its holder has gone.
TEST(WorkspaceLock, LockWeMayNotOpenIsHeld) {
  std::string name = "Kelvane-workspace-denied-" + std::to_string(ownprocessid());
#ifdef _WIN32
  // Made by "another": owned by SYSTEM, with an access list that lets only
  // SYSTEM in (wine grants an object's owner everything).
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;SY)", SDDL_REVISION_1,
                                                                   &attributes.lpSecurityDescriptor, nullptr));
  std::u16string full = u"Local\\" + towide(name);
  HANDLE theirs = CreateMutexExW(&attributes, reinterpret_cast<const wchar_t*>(full.c_str()),
                                 CREATE_MUTEX_INITIAL_OWNER, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  LocalFree(attributes.lpSecurityDescriptor);
  ASSERT_TRUE(theirs);
  ASSERT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<const wchar_t*>(full.c_str())), nullptr);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  auto release = [&] { CloseHandle(theirs); };
#else
  if (geteuid() == 0) GTEST_SKIP() << "root opens any file: nothing is denied";
  std::string path = tonarrow(fs::temppath()) + name + ".lock";
  int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0);
  ASSERT_GE(made, 0);
  ::close(made);
  auto release = [&] { fs::removefile(path); };
#endif
  userlock::lock* mine = userlock::open(name);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(userlock::trytake(mine), userlock::state::held);
  EXPECT_EQ(userlock::holder(mine).id, 0u);
  release();
  EXPECT_EQ(userlock::take(mine), userlock::state::taken);
  EXPECT_EQ(userlock::holder(mine).id, static_cast<unsigned long>(ownprocessid()));
  userlock::close(mine);
#ifndef _WIN32
  fs::removefile(path);
#endif
}

#ifndef _WIN32
// A link planted under the lock file's name is never opened through, whether
// its target exists or not: the holder would truncate and write it.
TEST(WorkspaceLock, LinkInPlaceOfTheLockFileIsNotFollowed) {
  std::string name = "Kelvane-workspace-link-" + std::to_string(ownprocessid());
  std::string path = tonarrow(fs::temppath()) + name + ".lock";
  std::string target = path + ".target";
  for (bool targetexists : {true, false}) {
    if (targetexists) {
      std::FILE* f = std::fopen(target.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fputs("keep", f);
      std::fclose(f);
    }
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    userlock::lock* l = userlock::open(name);
    if (l) userlock::close(l);
    EXPECT_EQ(l, nullptr) << targetexists;
    EXPECT_EQ(fs::kindof(path), fs::pathkind::link) << targetexists;
    if (targetexists) {
      EXPECT_EQ(testing::readbytes(target), "keep");
    } else {
      EXPECT_EQ(fs::kindof(target), fs::pathkind::missing);
    }
    fs::removefile(path);
    fs::removefile(target);
  }
}
#endif

}  // namespace
}  // namespace kelvane
