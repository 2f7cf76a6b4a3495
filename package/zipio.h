// File access for minizip through its custom I/O interface, so the archive
// code never depends on minizip's own narrow-path fopen:
//  - utf8files: archives named by UTF-8 paths (any character on Windows);
//  - streamview: a window [0, end) of a stream that is already open, whose
//    close leaves the stream open. The package reader opens the setup archive
//    inside the package this way, ending where the app archive begins.
#pragma once

#include <cstdint>
#include <cstdio>

#include <ioapi.h>

namespace kelvane {

zlib_filefunc64_def utf8files();

struct streamview {
  std::FILE* stream = nullptr;
  std::int64_t end = 0;       // first position past the view
  std::int64_t position = 0;  // the view's own position, independent of the stream's
  std::int64_t lastseek = -1; // target of the most recent seek (where a header read starts)
};

// Functions reading `view`; the "file name" handed to minizip's open is ignored.
zlib_filefunc64_def viewfiles(streamview& view);

}  // namespace kelvane
