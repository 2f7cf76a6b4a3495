// File access for minizip through its custom I/O interface, so the archive
// code never depends on minizip's own narrow-path fopen:
//  - utf8files: archives named by UTF-8 paths (any character on Windows);
//  - streamview: a window [0, end) of a stream that is already open, whose
//    close leaves the stream open. The package reader opens the setup archive
//    inside the package this way, ending where the app archive begins.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <ioapi.h>

namespace kelvane {

zlib_filefunc64_def utf8files();

// minizip reads headers a few bytes at a time and entry data 16 KiB at a
// time, each after a seek. The view answers those reads from two windows of
// the stream held in memory, one following the central directory and one the
// entries' data, so the package is read in large pieces and a seek costs
// nothing.
struct streamwindow {
  std::vector<char> bytes;
  std::int64_t start = -1;  // stream position of bytes[0]; -1 while empty
  std::size_t used = 0;
};

struct streamview {
  static constexpr std::size_t windowsize = 256 * 1024;

  std::FILE* stream = nullptr;
  std::int64_t end = 0;       // first position past the view
  std::int64_t position = 0;  // the view's own position, independent of the stream's
  std::int64_t lastseek = -1; // target of the most recent seek (where a header read starts)
  streamwindow windows[2];
  int recent = 0;             // the window read last; a refill takes the other
};

// Functions reading `view`; the "file name" handed to minizip's open is ignored.
zlib_filefunc64_def viewfiles(streamview& view);

}  // namespace kelvane
