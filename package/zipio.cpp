#include "package/zipio.h"

#include <algorithm>
#include <string>

#include "platform/files.h"

namespace kelvane {

namespace {

std::FILE* asfile(voidpf stream) { return static_cast<std::FILE*>(stream); }
streamview* asview(voidpf stream) { return static_cast<streamview*>(stream); }

voidpf ZCALLBACK fileopen(voidpf, const void* name, int mode) {
  if (!name) return nullptr;
  // The same choice as minizip's own stdio functions.
  const char* how = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ ? "rb"
                    : (mode & ZLIB_FILEFUNC_MODE_EXISTING)                             ? "r+b"
                                                                                       : "wb";
  return fs::openfile(static_cast<const char*>(name), how);
}

uLong ZCALLBACK fileread(voidpf, voidpf stream, void* buf, uLong size) {
  return static_cast<uLong>(std::fread(buf, 1, size, asfile(stream)));
}

uLong ZCALLBACK filewrite(voidpf, voidpf stream, const void* buf, uLong size) {
  return static_cast<uLong>(std::fwrite(buf, 1, size, asfile(stream)));
}

ZPOS64_T ZCALLBACK filetell(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(fs::tell(asfile(stream)));
}

int origin(int how) {
  switch (how) {
    case ZLIB_FILEFUNC_SEEK_CUR: return SEEK_CUR;
    case ZLIB_FILEFUNC_SEEK_END: return SEEK_END;
    default: return SEEK_SET;
  }
}

long ZCALLBACK fileseek(voidpf, voidpf stream, ZPOS64_T offset, int how) {
  return fs::seek(asfile(stream), static_cast<std::int64_t>(offset), origin(how)) ? 0 : -1;
}

int ZCALLBACK fileclose(voidpf, voidpf stream) { return std::fclose(asfile(stream)); }

int ZCALLBACK fileerror(voidpf, voidpf stream) { return std::ferror(asfile(stream)); }

voidpf ZCALLBACK viewopen(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;  // read-only
  asview(opaque)->position = 0;
  return opaque;
}

streamwindow* windowat(streamview& v, std::int64_t position) {
  for (streamwindow& w : v.windows)
    if (w.start >= 0 && position >= w.start && position < w.start + static_cast<std::int64_t>(w.used)) return &w;
  return nullptr;
}

bool readstream(streamview& v, std::int64_t position, char* buf, std::size_t want, std::size_t& got) {
  if (!fs::seek(v.stream, position, SEEK_SET)) return false;
  got = std::fread(buf, 1, want, v.stream);
  return got > 0;
}

// Fills the window not read last with the stream from `position` on.
streamwindow* refill(streamview& v, std::int64_t position) {
  streamwindow& w = v.windows[1 - v.recent];
  w.bytes.resize(streamview::windowsize);
  w.start = -1;
  std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(v.end - position, streamview::windowsize));
  if (!readstream(v, position, w.bytes.data(), want, w.used)) return nullptr;
  w.start = position;
  return &w;
}

// Reads never go past the view's end, whatever the archive's records claim.
uLong ZCALLBACK viewread(voidpf, voidpf stream, void* buf, uLong size) {
  streamview* v = asview(stream);
  std::int64_t left = v->end - v->position;
  if (left <= 0) return 0;
  std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, size));
  char* out = static_cast<char*>(buf);
  std::size_t done = 0;
  while (done < want) {
    streamwindow* w = windowat(*v, v->position);
    if (!w && want - done >= streamview::windowsize) {  // a large read goes straight to the caller
      std::size_t got = 0;
      if (!readstream(*v, v->position, out + done, want - done, got)) break;
      done += got;
      v->position += static_cast<std::int64_t>(got);
      continue;
    }
    if (!w && !(w = refill(*v, v->position))) break;
    v->recent = static_cast<int>(w - v->windows);
    std::size_t offset = static_cast<std::size_t>(v->position - w->start);
    std::size_t n = std::min(w->used - offset, want - done);
    std::copy(w->bytes.data() + offset, w->bytes.data() + offset + n, out + done);
    done += n;
    v->position += static_cast<std::int64_t>(n);
  }
  return static_cast<uLong>(done);
}

uLong ZCALLBACK viewwrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK viewtell(voidpf, voidpf stream) { return static_cast<ZPOS64_T>(asview(stream)->position); }

long ZCALLBACK viewseek(voidpf, voidpf stream, ZPOS64_T offset, int how) {
  streamview* v = asview(stream);
  // minizip passes negative relative moves as wrapped unsigned values.
  std::int64_t delta = static_cast<std::int64_t>(offset);
  std::int64_t base = how == ZLIB_FILEFUNC_SEEK_CUR ? v->position : how == ZLIB_FILEFUNC_SEEK_END ? v->end : 0;
  if (how == ZLIB_FILEFUNC_SEEK_SET && offset > static_cast<ZPOS64_T>(v->end)) return -1;
  std::int64_t target = base + delta;
  if (target < 0 || target > v->end) return -1;
  v->position = target;
  v->lastseek = target;
  return 0;
}

int ZCALLBACK viewclose(voidpf, voidpf) { return 0; }  // the stream belongs to the caller

int ZCALLBACK viewerror(voidpf, voidpf stream) { return std::ferror(asview(stream)->stream); }

}  // namespace

zlib_filefunc64_def utf8files() {
  zlib_filefunc64_def f{};
  f.zopen64_file = fileopen;
  f.zread_file = fileread;
  f.zwrite_file = filewrite;
  f.ztell64_file = filetell;
  f.zseek64_file = fileseek;
  f.zclose_file = fileclose;
  f.zerror_file = fileerror;
  return f;
}

zlib_filefunc64_def viewfiles(streamview& view) {
  zlib_filefunc64_def f{};
  f.zopen64_file = viewopen;
  f.zread_file = viewread;
  f.zwrite_file = viewwrite;
  f.ztell64_file = viewtell;
  f.zseek64_file = viewseek;
  f.zclose_file = viewclose;
  f.zerror_file = viewerror;
  f.opaque = &view;
  return f;
}

}  // namespace kelvane
