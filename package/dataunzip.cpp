#include "package/dataunzip.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/log.h"
#include "package/datamd5.h"
#include "package/peimage.h"
#include "package/zipio.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {

namespace {

constexpr std::size_t readsize = 4096;
constexpr std::size_t longestname = 511;  // stored bytes; the loader's name buffer holds 512 with its zero
constexpr std::uint32_t localsignature = 0x04034b50;
constexpr int localheadersize = 30;

unzFile handle(void* archive) { return static_cast<unzFile>(archive); }

// Opens the zip archive that ends at view.end inside an already open stream.
// minizip looks for the end-of-central-directory record backwards from the
// view's end and shifts every offset by the bytes that precede the archive,
// so the archive is found wherever it lies; closing it leaves the stream open.
unzFile unzOpenInPlace(streamview& view) {
  zlib_filefunc64_def io = viewfiles(view);
  return unzOpen2_64(&view, &io);
}

bool readat(streamview& view, std::int64_t position, void* buffer, std::size_t n) {
  zlib_filefunc64_def io = viewfiles(view);
  return io.zseek64_file(&view, &view, static_cast<ZPOS64_T>(position), ZLIB_FILEFUNC_SEEK_SET) == 0 &&
         io.zread_file(&view, &view, buffer, n) == n;
}

std::uint32_t le16(const unsigned char* p) { return p[0] | std::uint32_t(p[1]) << 8; }
std::uint32_t le32(const unsigned char* p) { return packagetrailer::getle32(p); }

// Inflates (method 8) or copies (method 0) `size` bytes at `position` to the
// sink, chunk by chunk; stops once more than `limit` bytes came out. `out` is
// the count of bytes delivered, `crc` their CRC-32.
bool decompress(streamview& view, std::int64_t position, std::uint64_t size, int method, std::uint64_t limit,
                const chunksink& sink, std::uint64_t& out, uLong& crc) {
  z_stream z{};
  if (method == Z_DEFLATED && inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::vector<unsigned char> in(readsize), chunk(dataunzip::chunksize);
  auto deliver = [&](const unsigned char* p, std::size_t n) {
    out += n;
    crc = crc32(crc, p, static_cast<uInt>(n));
    return out <= limit && sink(reinterpret_cast<const char*>(p), n);
  };
  bool ended = method != Z_DEFLATED && size == 0, refused = false;
  for (std::uint64_t done = 0; done < size && !ended && !refused;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, readsize));
    if (!readat(view, position + static_cast<std::int64_t>(done), in.data(), want)) break;
    done += want;
    if (method != Z_DEFLATED) {
      refused = !deliver(in.data(), want);
      ended = done == size;
      continue;
    }
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(want);
    int r = Z_OK;
    while (r == Z_OK && (z.avail_in > 0 || z.avail_out == 0) && !refused) {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
      r = inflate(&z, Z_NO_FLUSH);
      std::size_t n = chunk.size() - z.avail_out;
      if (n > 0) refused = !deliver(chunk.data(), n);
    }
    if (r == Z_STREAM_END) ended = true;
    else if (r != Z_OK && r != Z_BUF_ERROR) break;
  }
  if (method == Z_DEFLATED) inflateEnd(&z);
  return ended && !refused;
}

// Windows reserves these names as devices at any folder level, with or
// without an extension ("NUL.txt" is the null device too).
bool isdevicename(const std::string& level) {
  std::string base = level.substr(0, level.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* f : fixed)
    if (base == f) return true;
  if (base.size() >= 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    std::string digit = base.substr(3);
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
    if (digit == "\xc2\xb9" || digit == "\xc2\xb2" || digit == "\xc2\xb3") return true;  // superscript 1, 2, 3
  }
  return false;
}

bool issafelevel(const std::string& level) {
  if (level.find_first_not_of(". ") == std::string::npos) return false;  // "", ".", "..", "...", ". ."
  for (unsigned char c : level)
    if (c < 0x20 || c == ':') return false;  // control characters, drive letters and streams
  return !isdevicename(level);
}

}  // namespace

bool splitentryname(const std::string& stored, std::vector<std::string>& levels, bool& isfolder) {
  levels.clear();
  isfolder = false;
  std::string name;
  if (stored.empty() || stored.size() > longestname || !acptonarrow(stored, name)) return false;
  // Windows takes the slash for a separator as well as the backslash.
  std::size_t start = 0;
  while (true) {
    std::size_t end = name.find_first_of("\\/", start);
    levels.push_back(name.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (levels.size() > 1 && levels.back().empty()) {  // "dir\": a folder entry
    levels.pop_back();
    isfolder = true;
  }
  return std::all_of(levels.begin(), levels.end(), issafelevel);
}

dataunzip::dataunzip() : view_(std::make_unique<streamview>()), current_(std::make_unique<unz_file_info64>()) {}

dataunzip::~dataunzip() { closeunzipfile(); }

bool dataunzip::unzipfopen(const std::string& path, char setupout[33], char appout[33],
                           const std::string& workspace) {
  closeunzipfile();
  setupout[0] = appout[0] = '\0';
  count_ = 0;
  package_ = fs::openfile(path, "rb");
  if (!package_) {
    KLOG("dataunzip::unzipfopen", "cannot open package %s\n", path.c_str());
    return false;
  }
  if (!readtrailer() || !opensetup() || !digest(setupout, appout) ||
      !enterworkspace(workspace.empty() ? tonarrow(fs::temppath()) : workspace)) {
    closeunzipfile();
    setupout[0] = appout[0] = '\0';
    count_ = 0;
    return false;
  }
  return true;
}

// The trailer ends where the package's data does: before a certificate table
// that signing appended, and before its padding. It is trusted only as far as
// it describes ranges inside the data: setup_offset <= app_offset <= the
// trailer's own position.
bool dataunzip::readtrailer() {
  std::int64_t size = dataend(package_);
  unsigned char bytes[trailersize];
  if (size < trailersize || !fs::seek(package_, size - trailersize, SEEK_SET) ||
      std::fread(bytes, 1, sizeof bytes, package_) != sizeof bytes) {
    KLOG("dataunzip::readtrailer", "package is too short for its trailer\n");
    return false;
  }
  trailer_ = packagetrailer::decode(bytes);
  trailerposition_ = size - trailersize;
  if (trailer_.setup_offset > trailer_.app_offset || trailer_.app_offset > trailerposition_) {
    KLOG("dataunzip::readtrailer", "trailer ranges out of order: setup %u, app %u, trailer %lld\n",
         trailer_.setup_offset, trailer_.app_offset, static_cast<long long>(trailerposition_));
    return false;
  }
  return true;
}

bool dataunzip::opensetup() {
  *view_ = streamview{};
  view_->stream = package_;
  view_->end = trailer_.app_offset;
  archive_ = unzOpenInPlace(*view_);
  if (!archive_) {
    KLOG("dataunzip::opensetup", "no setup archive before offset %u\n", trailer_.app_offset);
    return false;
  }
  unz_global_info64 info{};
  if (unzGetGlobalInfo64(handle(archive_), &info) != UNZ_OK) return false;
  count_ = static_cast<std::uint32_t>(std::min<ZPOS64_T>(info.number_entry, UINT32_MAX));
  return true;
}

// Only the nine samples of each range are read, whatever its size.
bool dataunzip::digest(char setupout[33], char appout[33]) {
  datamd5 md5;
  bool ok = md5.rangemd5(package_, trailer_.setup_offset, trailer_.app_offset - trailer_.setup_offset, setupout) == 0 &&
            md5.rangemd5(package_, trailer_.app_offset, trailerposition_ - trailer_.app_offset, appout) == 0;
  if (!ok) KLOG("dataunzip::digest", "cannot read the archive ranges\n");
  return ok;
}

bool dataunzip::enterworkspace(const std::string& workspace) {
  if (workspace.empty()) return true;  // no temporary folder: work where we are
  savedfolder_ = fs::currentfolder();
  if (savedfolder_.empty() || !fs::changefolder(workspace)) {
    KLOG("dataunzip::enterworkspace", "cannot enter %s\n", workspace.c_str());
    savedfolder_.clear();
    return false;
  }
  return true;
}

int dataunzip::entryname(std::string& name) {
  if (!archive_) return -1;
  unz_file_info64& info = *current_;
  if (unzGetCurrentFileInfo64(handle(archive_), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return -1;
  std::vector<char> stored(info.size_filename + 1);
  if (unzGetCurrentFileInfo64(handle(archive_), &info, stored.data(), stored.size(), nullptr, 0, nullptr, 0) != UNZ_OK)
    return -1;
  name.assign(stored.data(), info.size_filename);
  return 0;
}

int dataunzip::entrymethod() const { return static_cast<int>(current_->compression_method); }

int dataunzip::readentry(const chunksink& sink) {
  if (!archive_) return -1;
  if (current_->compression_method != 0 && current_->compression_method != Z_DEFLATED) {
    KLOG("dataunzip::readentry", "method %lu is neither stored nor deflated\n",
         static_cast<unsigned long>(current_->compression_method));
    return -1;
  }
  int opened = unzOpenCurrentFile(handle(archive_));
  if (opened == UNZ_BADZIPFILE) return readmismatched(sink);
  if (opened != UNZ_OK) return -1;

  // minizip keeps the CRC-32 as the data passes and compares it on closing.
  // One buffer for all entries: most are small, and a fresh 256 KiB each
  // would cost more than their data.
  std::vector<char>& chunk = chunk_;
  chunk.resize(chunksize);
  std::uint64_t delivered = 0;
  int got = 0;
  bool refused = false;
  while (!refused && (got = unzReadCurrentFile(handle(archive_), chunk.data(), chunk.size())) > 0) {
    delivered += static_cast<std::uint64_t>(got);
    refused = !sink(chunk.data(), static_cast<std::size_t>(got));
  }
  int closed = unzCloseCurrentFile(handle(archive_));
  if (refused || got < 0) return refused ? -1 : got;
  // minizip checks the CRC only once the declared size was read: a stream that
  // ends early would otherwise pass.
  if (delivered != current_->uncompressed_size) return -1;
  return closed;
}

int dataunzip::fileread(std::string& name, std::string& data) {
  if (entryname(name) != 0) return -1;
  data.clear();
  return readentry([&data](const char* p, std::size_t n) {
    data.append(p, n);
    return true;
  });
}

// minizip refuses an entry whose local header gives another name length than
// its central record. Such entries are accepted: the data starts after the
// local header's own name and extra field, and every other header field must
// still agree. minizip's header check began with a seek to the local header.
int dataunzip::readmismatched(const chunksink& sink) {
  const unz_file_info64& info = *current_;
  std::int64_t header = view_->lastseek;
  unsigned char h[localheadersize];
  if (header < 0 || !readat(*view_, header, h, sizeof h)) return -1;
  std::uint32_t flags = le16(h + 6), method = le16(h + 8);
  bool agrees = le32(h) == localsignature && method == info.compression_method &&
                (method == 0 || method == Z_DEFLATED) &&
                ((flags & 8) || (le32(h + 14) == info.crc && le32(h + 18) == info.compressed_size &&
                                 le32(h + 22) == info.uncompressed_size));
  if (!agrees || le16(h + 26) == info.size_filename) return -1;

  std::int64_t start = header + localheadersize + le16(h + 26) + le16(h + 28);
  std::uint64_t delivered = 0;
  uLong crc = crc32(0L, nullptr, 0);
  if (!decompress(*view_, start, info.compressed_size, static_cast<int>(method), info.uncompressed_size, sink,
                  delivered, crc) ||
      delivered != info.uncompressed_size)
    return -1;
  return crc == info.crc ? 0 : UNZ_CRCERROR;
}

// Closes finished files in the order they were handed over; one whose close
// fails is removed. A few files at most wait, so memory and open handles stay
// bounded.
struct entrywriter::closer {
  struct pending {
    std::FILE* file;
    std::string path;
    std::string stored;
  };
  static constexpr std::size_t most = 8;

  std::mutex lock;
  std::condition_variable changed;
  std::deque<pending> queue;
  std::string closing;  // the path of the file taken from the queue, while it is closed
  bool stopping = false;
  bool allclosed = true;
  std::thread thread{[this] { run(); }};

  ~closer() {
    {
      std::lock_guard<std::mutex> hold(lock);
      stopping = true;
    }
    changed.notify_all();
    thread.join();
  }

  void run() {
    std::unique_lock<std::mutex> hold(lock);
    while (true) {
      changed.wait(hold, [this] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      pending p = std::move(queue.front());
      queue.pop_front();
      closing = p.path;
      hold.unlock();
      bool closed = std::fclose(p.file) == 0;
      if (!closed) {
        KLOG("dataunzip::filewrite", "writing %s failed!\n", p.stored.c_str());
        fs::removefile(p.path);
      }
      hold.lock();
      closing.clear();
      allclosed = allclosed && closed;
      changed.notify_all();
    }
  }

  void hand(pending p) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return queue.size() < most; });
    queue.push_back(std::move(p));
    changed.notify_all();
  }

  bool holds(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock);
    return closing == path || std::any_of(queue.begin(), queue.end(), [&](const pending& p) { return p.path == path; });
  }

  // Waits until nothing is left to close; true when every close succeeded.
  bool drain() {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return queue.empty() && closing.empty(); });
    bool ok = allclosed;
    allclosed = true;
    return ok;
  }
};

entrywriter::entrywriter(std::string folder) : folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '\\' && folder_.back() != '/') folder_ += fs::separator();
}

entrywriter::~entrywriter() {
  if (file_) discard();
  finish();
}

void entrywriter::draincloser() {
  if (closer_) closesok_ = closer_->drain() && closesok_;
}

bool entrywriter::finish() {
  draincloser();
  bool ok = closesok_;
  closesok_ = true;
  return ok;
}

// Makes the first `count` levels below the folder, each only the first time it
// is met; `path` becomes the innermost one followed by a separator.
bool entrywriter::makefolders(const std::vector<std::string>& levels, std::size_t count, std::string& path) {
  path = folder_;
  for (std::size_t i = 0; i < count; ++i) {
    path += levels[i];
    // One that exists already is fine, unless it is a link: never write through one.
    if (!made_.count(path)) {
      if (!fs::makefolder(path)) return false;
      made_.insert(path);
    }
    path += fs::separator();
  }
  return true;
}

bool entrywriter::begin(const std::string& stored) {
  if (file_) discard();
  stored_ = stored;
  failed_ = false;
  std::vector<std::string> levels;
  if (!splitentryname(stored, levels, isfolder_)) {
    KLOG("dataunzip::filewrite", "refused entry name %s\n", stored.c_str());
    return false;
  }
  std::string path;
  if (!makefolders(levels, isfolder_ ? levels.size() : levels.size() - 1, path)) return false;
  if (isfolder_) return true;
  path_ = path + levels.back();
  // An archive may hold a name twice: the earlier file must be closed before
  // this one could have to be removed.
  if (closer_ && closer_->holds(path_)) draincloser();
  file_ = fs::openfile(path_, "wb");
  if (!file_) {
    KLOG("dataunzip::filewrite", "fopen %s filename failed!\n", stored.c_str());
    return false;
  }
  // Chunks are large: the runtime's own buffer would only copy them once more.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

bool entrywriter::write(const char* data, std::size_t n) {
  if (isfolder_) return n == 0;  // a folder entry holds no data
  if (!file_ || failed_) return false;
  failed_ = std::fwrite(data, 1, n, file_) != n;
  if (failed_) KLOG("dataunzip::filewrite", "writing %s failed!\n", stored_.c_str());
  return !failed_;
}

bool entrywriter::end(bool whole) {
  if (isfolder_) return whole;
  if (!file_) return false;
  std::FILE* file = file_;
  file_ = nullptr;
  if (whole && !failed_) {
    if (!closer_) closer_ = std::make_unique<closer>();
    closer_->hand({file, path_, stored_});
    return true;
  }
  std::fclose(file);
  fs::removefile(path_);
  return false;
}

void entrywriter::discard() {
  std::fclose(file_);
  file_ = nullptr;
  fs::removefile(path_);
}

bool dataunzip::filewrite(const std::string& data, const std::string& name, const std::string& folder) {
  std::vector<std::string> levels;
  bool isfolder = false;
  if (!splitentryname(name, levels, isfolder)) {
    KLOG("dataunzip::filewrite", "refused entry name %s\n", name.c_str());
    return false;
  }
  if (!folder.empty() && !fs::changefolder(folder)) {
    KLOG("dataunzip::filewrite", "cannot enter %s\n", folder.c_str());
    return false;
  }
  entrywriter writer(folder);
  bool begun = writer.begin(name);
  return begun && writer.end(writer.write(data.data(), data.size())) && writer.finish();
}

int dataunzip::nextfile(std::uint32_t i) {
  if (std::uint64_t(i) + 1 >= count_) return 0;  // the last entry: stay
  return archive_ && unzGoToNextFile(handle(archive_)) == UNZ_OK ? 0 : -1;
}

void dataunzip::closeunzipfile() {
  if (archive_) unzClose(handle(archive_));  // leaves the package stream open
  archive_ = nullptr;
  if (package_) std::fclose(package_);
  package_ = nullptr;
  if (!savedfolder_.empty()) fs::changefolder(savedfolder_);
  savedfolder_.clear();
}

}  // namespace kelvane
