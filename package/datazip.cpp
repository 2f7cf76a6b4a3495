#include "package/datazip.h"

#include <zip.h>

#include <vector>

#include "common/log.h"
#include "package/zipio.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {

namespace {

// The stored name: no leading separators; empty for a folder.
std::string entryname(const std::string& path) {
  std::size_t first = path.find_first_not_of("\\/");
  if (first == std::string::npos) return {};
  std::string name = path.substr(first);
  if (name.back() == '\\' || name.back() == '/') return {};
  return name;
}

// Largest file an entry without zip64 can describe; 0xFFFFFFFF itself is
// the zip64 marker.
constexpr std::int64_t largefile = 0xFFFFFFFFLL;

}  // namespace

datazip::~datazip() {
  if (archive_) zipClose(archive_, nullptr);
}

bool datazip::zipfopen() {
  if (archive_) closezipfile();
  zlib_filefunc64_def io = utf8files();
  archive_ = zipOpen2_64(name_.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
  if (!archive_) {
    KLOG("datazip::zipfopen", "Error opening %s\n", name_.c_str());
    lasterror_ = -1;
    return false;
  }
  lasterror_ = 0;
  return true;
}

bool datazip::closezipfile() {
  int r = archive_ ? zipClose(archive_, nullptr) : ZIP_PARAMERROR;
  archive_ = nullptr;
  if (r != ZIP_OK) {
    KLOG("datazip::closezipfile", "error in closing %s\n", name_.c_str());
    return false;
  }
  KLOG("datazip::closezipfile", "zipfile %s is closed\n", name_.c_str());
  return true;
}

int datazip::isLargeFile(const std::string& path) {
  std::FILE* file = fs::openfile(fs::nativepath(path), "rb");
  if (!file) return 0;
  std::int64_t size = fs::seek(file, 0, SEEK_END) ? fs::tell(file) : -1;
  std::fclose(file);
  KLOG("datazip::isLargeFile", "File : %s is %lld bytes\n", path.c_str(), static_cast<long long>(size));
  return size < 0 || size >= largefile ? 1 : 0;
}

bool datazip::putfileinzip(const std::string& path) {
  std::string name = entryname(path);
  if (name.empty()) return true;  // a folder: no entry of its own

  if (isLargeFile(name)) {
    KLOG("datazip::putfileinzip", "%s is 4 GiB or larger, or cannot be measured\n", name.c_str());
    lasterror_ = -1;
    return false;
  }
  std::string stored;
  if (!narrowtoacp(name, stored)) {
    KLOG("datazip::putfileinzip", "name %s does not fit the ANSI code page\n", name.c_str());
    lasterror_ = -1;
    return false;
  }

  // The source is opened first, so a file that cannot be read leaves no
  // empty entry of its name behind.
  std::FILE* file = fs::openfile(fs::nativepath(name), "rb");
  if (!file) {
    KLOG("datazip::putfileinzip", "error in opening %s\n", name.c_str());
    lasterror_ = -1;
    return false;
  }
  zip_fileinfo info{};  // no time stamp: MS-DOS date 0x0020, time 0
  lasterror_ = zipOpenNewFileInZip(archive_, stored.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9);
  if (lasterror_ != ZIP_OK) {
    KLOG("datazip::putfileinzip", "err in opening %s in zipfile\n", name.c_str());
    std::fclose(file);
    return false;
  }

  std::vector<char> buffer(readbuffersize);
  std::size_t n = 0;
  do {
    n = std::fread(buffer.data(), 1, buffer.size(), file);
    if (n < buffer.size() && !std::feof(file)) {
      KLOG("datazip::putfileinzip", "error in reading %s\n", path.c_str());
      lasterror_ = -1;
    }
    if (n > 0) {
      int w = zipWriteInFileInZip(archive_, buffer.data(), static_cast<unsigned>(n));
      if (w < 0) {
        KLOG("datazip::putfileinzip", "err in writing %s in the zipfile\n", path.c_str());
        lasterror_ = w;
      }
    }
  } while (lasterror_ == ZIP_OK && n > 0);
  std::fclose(file);

  int closed = zipCloseFileInZip(archive_);
  if (closed != ZIP_OK) {
    KLOG("datazip::putfileinzip", "error in closing %s in the zipfile!\n", path.c_str());
    if (lasterror_ == ZIP_OK) lasterror_ = closed;
  }
  return lasterror_ == ZIP_OK;
}

}  // namespace kelvane
