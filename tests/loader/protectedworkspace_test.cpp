// The protected workspace of elevated runs: its name, its access list (read
// back in memory: wine does not keep access lists on disk), and its making.
#include <gtest/gtest.h>

#include <set>

#include "loader/elevatedrun.h"
#include "loader/workspace.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {
namespace {

TEST(ProtectedWorkspace, NamesAreRandomAndNeverTheUsersSetupFolder) {
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    unsigned char random[16];
    ASSERT_TRUE(elevation::randombytes(random, sizeof random));
    std::string name = protectedfoldername(random);
    EXPECT_EQ(name.size(), 8u + 32u);
    EXPECT_EQ(name.rfind("kelvane-", 0), 0u);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 8), std::string::npos) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
  const unsigned char fixed[16] = {0x00, 0x01, 0xab, 0xff};
  EXPECT_EQ(protectedfoldername(fixed), "kelvane-0001abff000000000000000000000000");
}

#ifdef _WIN32
TEST(ProtectedWorkspace, AccessListLetsOnlyAdministratorsAndSystemIn) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::u16string sddl = protectedfolderaccess();
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<const wchar_t*>(sddl.c_str()),
                                                                   SDDL_REVISION_1, &descriptor, nullptr));
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  EXPECT_TRUE(control & SE_DACL_PROTECTED);  // nothing inherited from the temporary folder
  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  ACL_SIZE_INFORMATION size{};
  ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
  ASSERT_EQ(size.AceCount, 2u);
  bool administrators = false, system = false;
  for (DWORD i = 0; i < size.AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    PSID sid = &ace->SidStart;
    administrators |= IsWellKnownSid(sid, WinBuiltinAdministratorsSid) != FALSE;
    system |= IsWellKnownSid(sid, WinLocalSystemSid) != FALSE;
  }
  EXPECT_TRUE(administrators && system);
  LocalFree(descriptor);
}
#endif

// Made in one step; a name that exists, a link included, is refused, never
// reused, and what it points at stays as it was.
TEST(ProtectedWorkspace, FolderIsMadeNewOrNotAtAll) {
  std::u16string parent = elevation::systemtemppath();
  ASSERT_FALSE(parent.empty());
  unsigned char random[16];
  ASSERT_TRUE(elevation::randombytes(random, sizeof random));
  std::u16string folder = parent + towide(protectedfoldername(random));
  unsigned long error = 0;
  ASSERT_EQ(elevation::makeprotectedfolder(folder, protectedfolderaccess(), error), elevation::made::created);
  EXPECT_TRUE(fs::isfolder(tonarrow(folder)));
#ifndef _WIN32
  struct stat status {};
  ASSERT_EQ(stat(tonarrow(folder).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
#endif
  EXPECT_EQ(elevation::makeprotectedfolder(folder, protectedfolderaccess(), error), elevation::made::exists);
#ifndef _WIN32
  std::string link = tonarrow(folder) + "-link";
  ASSERT_EQ(symlink(tonarrow(folder).c_str(), link.c_str()), 0);
  EXPECT_EQ(elevation::makeprotectedfolder(towide(link), protectedfolderaccess(), error), elevation::made::exists);
  EXPECT_EQ(unlink(link.c_str()), 0);
#endif
  EXPECT_TRUE(fs::removefolder(tonarrow(folder)));
}

TEST(ProtectedWorkspace, TakenWorkspaceIsNewAndRemovedWhole) {
  std::u16string before = widetemppath();
  ASSERT_TRUE(takeprotectedworkspace());
  std::u16string root = widetemppath();
  EXPECT_NE(root, before);
  EXPECT_EQ(root.rfind(elevation::systemtemppath(), 0), 0u);
  EXPECT_EQ(root.back(), static_cast<char16_t>(fs::separator()));
  std::string setup = narrowtemppath() + "setup";
  ASSERT_TRUE(fs::makefolder(setup));
  std::FILE* file = fs::openfile(setup + fs::separator() + "qSetup.exe", "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  releaseworkspace();
  EXPECT_FALSE(fs::isfolder(tonarrow(root)));
  EXPECT_EQ(widetemppath(), before);
}

}  // namespace
}  // namespace kelvane
