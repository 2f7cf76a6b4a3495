#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "platform/text.h"

namespace kelvane::fs {

char separator() { return '/'; }

std::string nativepath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::FILE* openfile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool seek(std::FILE* file, std::int64_t offset, int origin) { return fseeko(file, offset, origin) == 0; }

std::int64_t tell(std::FILE* file) { return ftello(file); }

std::int64_t pathsize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool listfolder(const std::string& path, std::vector<direntry>& entries) {
  entries.clear();
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  while (dirent* d = readdir(dir)) {
    direntry e;
    e.name = d->d_name;
    struct stat st {};
    std::string full = path + "/" + e.name;
    if (lstat(full.c_str(), &st) == 0) {
      e.link = S_ISLNK(st.st_mode);
      if (e.link) {
        struct stat target {};
        e.folder = stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
      } else {
        e.folder = S_ISDIR(st.st_mode);
      }
    }
    entries.push_back(std::move(e));
  }
  closedir(dir);
  return true;
}

bool makefolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || isfolder(path); }

// rmdir and unlink never follow a final link.
bool removefolder(const std::string& path) { return removelink(path) || rmdir(path.c_str()) == 0; }

bool removefile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool changefolder(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string currentfolder() {
  char* cwd = getcwd(nullptr, 0);
  if (!cwd) return {};
  std::string result(cwd);
  std::free(cwd);
  return result;
}

pathkind kindof(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return pathkind::missing;
  if (S_ISLNK(st.st_mode)) return pathkind::link;
  return S_ISDIR(st.st_mode) ? pathkind::folder : pathkind::file;
}

bool removelink(const std::string& path) { return kindof(path) == pathkind::link && unlink(path.c_str()) == 0; }

bool isfolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isabsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string maketempfolder() {
  std::string pattern = tonarrow(temppath()) + "kelvane-XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern + "/";
}

std::string ownexecutable() {
#ifdef __APPLE__
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
  path.resize(std::strlen(path.c_str()));
  char* real = realpath(path.c_str(), nullptr);
#else
  char* real = realpath("/proc/self/exe", nullptr);
#endif
  if (!real) return {};
  std::string result(real);
  std::free(real);
  return result;
}

std::u16string temppath() {
  // The POSIX temporary folder: TMPDIR when set, else /tmp.
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return towide(path);
}

std::u16string longname(const std::u16string& path) { return path; }

}  // namespace kelvane::fs
