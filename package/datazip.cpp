#include "package/datazip.h"

#include <zip.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "common/log.h"
#include "package/deflatepool.h"
#include "package/zipio.h"
#include "platform/codepage.h"
#include "platform/processors.h"
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

constexpr int maxthreads = 16;
// Data in flight per thread, as many full blocks: one being compressed, one
// waiting for a worker, and room for finished ones waiting behind a slower
// older block. Small files fill the same room by their size, many at a time.
constexpr std::size_t blocksperthread = 8;

int threadcount(int asked) {
  int n = asked > 0 ? asked : sys::usableprocessors();
  return std::clamp(n, 1, maxthreads);
}

}  // namespace

// An archive's compression in flight: the pool and, oldest first, the
// entries whose blocks are in it.
struct datazip::pipeline {
  struct entry {
    std::string stored;  // the entry name in the archive's code page
    std::string path;    // as given, for messages
    std::string name;    // without leading separators, for messages
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    bool opened = false;  // started in the archive
  };

  explicit pipeline(int threads) : pool(threads, blocksperthread * blocksize * static_cast<std::size_t>(threads)) {}

  deflatepool pool;
  std::deque<entry> entries;
};

datazip::datazip(std::string name) : name_(std::move(name)) {}

datazip::~datazip() {
  pipeline_.reset();
  if (archive_) zipClose(archive_, nullptr);
}

bool datazip::zipfopen() {
  if (archive_) closezipfile();
  zlib_filefunc64_def io = utf8files();
  archive_ = zipOpen2_64(name_.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
  writefailed_ = false;
  readfailed_ = false;
  if (!archive_) {
    KLOG("datazip::zipfopen", "Error opening %s\n", name_.c_str());
    lasterror_ = -1;
    return false;
  }
  lasterror_ = 0;
  pipeline_ = std::make_unique<pipeline>(threadcount(threads_));
  KLOG("datazip::zipfopen", "%s is compressed on %d threads\n", name_.c_str(), pipeline_->pool.threads());
  return true;
}

bool datazip::closezipfile() {
  if (pipeline_) {
    while (!pipeline_->pool.empty()) writeoldest();
    pipeline_.reset();
  }
  int r = archive_ ? zipClose(archive_, nullptr) : ZIP_PARAMERROR;
  archive_ = nullptr;
  if (r != ZIP_OK || writefailed_) {
    KLOG("datazip::closezipfile", "error in closing %s\n", name_.c_str());
    return false;
  }
  if (readfailed_) return false;  // the file's own message said why
  KLOG("datazip::closezipfile", "zipfile %s is closed\n", name_.c_str());
  return true;
}

int datazip::isLargeFile(const std::string& path) {
  std::FILE* file = fs::openfile(fs::nativepath(path), "rb");
  if (!file) return 0;
  int large = islarge(path, fs::filesize(file));
  std::fclose(file);
  return large;
}

// The size line every file gets in the log, measured on the open file (by the
// writer's thread or a worker, so each file is opened once), and whether an
// entry without zip64 holds that size; -1 means it could not be measured.
int datazip::islarge(const std::string& path, std::int64_t size) {
  if (!progress_) KLOG("datazip::isLargeFile", "File : %s is %lld bytes\n", path.c_str(), static_cast<long long>(size));
  return size < 0 || size >= largefile ? 1 : 0;
}

bool datazip::putfileinzip(const std::string& path) {
  std::string name = entryname(path);
  if (name.empty()) return true;  // a folder: no entry of its own
  std::int64_t listed = fs::pathsize(fs::nativepath(name));
  if (listed < 0 || listed > static_cast<std::int64_t>(blocksize)) return putlargefile(path, name);

  // A file of one block at most is opened, read and compressed by a worker;
  // what fails there is reported when its entry is written.
  std::string stored;
  if (!queueable(name, stored)) return false;
  pipeline_->entries.push_back({stored, path, name});
  auto job = std::make_unique<deflateblock>();
  job->source = fs::nativepath(name);
  job->listed = static_cast<std::uint64_t>(listed);
  job->last = true;  // the whole entry
  submit(std::move(job));
  return !writefailed_ && !readfailed_;
}

// A file read here, block by block, each compressed on a worker.
bool datazip::putlargefile(const std::string& path, const std::string& name) {
  // The source is opened first, so a file that cannot be read leaves no
  // empty entry of its name behind.
  std::FILE* file = fs::openfile(fs::nativepath(name), "rb");
  if (!file) {
    KLOG("datazip::putfileinzip", "error in opening %s\n", name.c_str());
    markreadfailed();
    return false;
  }
  std::string stored;
  std::int64_t size = fs::filesize(file);
  readstatus read = readstatus::failed;
  bool queued = false;
  if (islarge(name, size)) {
    KLOG("datazip::putfileinzip", "%s is 4 GiB or larger, or cannot be measured\n", name.c_str());
    markreadfailed();
  } else if (queueable(name, stored)) {
    pipeline_->entries.push_back({stored, path, name});
    queued = true;
    read = readentry(file, size);
  }
  std::fclose(file);
  if (queued && read != readstatus::read) readfailed(path, read == readstatus::changed);
  return read == readstatus::read && !writefailed_ && !readfailed_;
}

// The checks an entry passes before anything of it is queued: a name the
// code page holds (`stored` receives it) and an archive that takes it.
bool datazip::queueable(const std::string& name, std::string& stored) {
  if (!narrowtocodepage(name, codepage_, stored)) {
    KLOG("datazip::putfileinzip", "name %s does not fit the ANSI code page (%u)\n", name.c_str(),
         codepage_ ? codepage_ : codepage::ansicodepage());
    lasterror_ = -1;
    return false;
  }
  if (!archive_ || writefailed_) {
    KLOG("datazip::putfileinzip", "err in opening %s in zipfile\n", name.c_str());
    if (!archive_) lasterror_ = ZIP_PARAMERROR;
    return false;
  }
  return true;
}

void datazip::submit(std::unique_ptr<deflateblock> block) {
  while (pipeline_->pool.full()) writeoldest();
  pipeline_->pool.submit(std::move(block));
}

// Hands the file to the pool block by block, `size` bytes as measured when
// it was opened. After a failure the entry is ended behind the blocks read
// completely, so the archive stays well formed.
readstatus datazip::readentry(std::FILE* file, std::int64_t size) {
  std::vector<unsigned char> tail;
  for (;;) {
    auto block = std::make_unique<deflateblock>();
    readstatus read = readblock(file, tail, size, *block);
    if (read != readstatus::read) {
      block = std::make_unique<deflateblock>();  // an empty last block ends the stream
      block->last = true;
    }
    size -= static_cast<std::int64_t>(block->datasize());
    if (!block->last) tail = nexttail(*block);
    bool last = block->last;
    submit(std::move(block));
    if (last) return read;
  }
}

// Writes the oldest compressed block into the archive: the first of an entry
// starts it, the last finishes it with the size and CRC-32 of the file.
void datazip::writeoldest() {
  std::unique_ptr<deflateblock> block = pipeline_->pool.take();
  pipeline::entry& entry = pipeline_->entries.front();
  if (!block->source.empty() && !sourceread(*block, entry.name)) {
    pipeline_->entries.pop_front();
    return;
  }
  if (!writefailed_ && !entry.opened) {
    zip_fileinfo info{};  // no time stamp: MS-DOS date 0x0020, time 0
    // The text mark that minizip's own compression sets from zlib's guess.
    info.internal_fa = block->text ? 1 : 0;
    int r = zipOpenNewFileInZip2(archive_, entry.stored.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                 Z_DEFLATED, 9, 1);
    if (r != ZIP_OK) {
      KLOG("datazip::putfileinzip", "err in opening %s in zipfile\n", entry.path.c_str());
      writefailed(r);
    }
    entry.opened = r == ZIP_OK;
  }
  if (!writefailed_) {
    int w = block->compressed ? zipWriteInFileInZip(archive_, block->output.data(), static_cast<unsigned>(block->output.size()))
                              : Z_MEM_ERROR;
    if (w < 0) {
      KLOG("datazip::putfileinzip", "err in writing %s in the zipfile\n", entry.path.c_str());
      writefailed(w);
    }
    entry.crc = static_cast<std::uint32_t>(crc32_combine(entry.crc, block->crc, static_cast<z_off_t>(block->size)));
    entry.size += block->size;
  }
  if (!block->last) return;
  if (entry.opened) {
    int closed = zipCloseFileInZipRaw(archive_, static_cast<uLong>(entry.size), entry.crc);
    if (closed != ZIP_OK && !writefailed_) {
      KLOG("datazip::putfileinzip", "error in closing %s in the zipfile!\n", entry.path.c_str());
      writefailed(closed);
    }
  }
  if (block->readfailed) readfailed(entry.path, block->changed);
  if (progress_) progress_->entrywritten(entry.size);
  pipeline_->entries.pop_front();
}

// What a worker found when it opened a source file, reported in the order
// the files were given, as if read here. False when nothing of it is written.
bool datazip::sourceread(const deflateblock& block, const std::string& name) {
  if (!block.opened) {
    KLOG("datazip::putfileinzip", "error in opening %s\n", name.c_str());
    markreadfailed();
    return false;
  }
  if (islarge(name, block.measured)) {
    KLOG("datazip::putfileinzip", "%s is 4 GiB or larger, or cannot be measured\n", name.c_str());
    markreadfailed();
    return false;
  }
  return true;
}

// Once the archive has refused something, it cannot be made whole: later
// entries are refused, and closezipfile reports the failure.
void datazip::writefailed(int error) {
  writefailed_ = true;
  lasterror_ = error;
}

// A file could not be read completely, or changed while it was read.
void datazip::readfailed(const std::string& path, bool changed) {
  if (changed) KLOG("datazip::putfileinzip", "%s changed while it was read\n", path.c_str());
  else KLOG("datazip::putfileinzip", "error in reading %s\n", path.c_str());
  markreadfailed();
}

// A file could not be archived: the archive cannot be complete, which this
// or a later call, or closezipfile, reports.
void datazip::markreadfailed() {
  readfailed_ = true;
  lasterror_ = -1;
}

}  // namespace kelvane
