// Reads arbitrary bytes as a text file, parses the text and writes it back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/text.h"
#include "xml/textfile.h"
#include "xml/xmldoc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  static const std::string in = "/tmp/kelvane-fuzz-textfile-" + std::to_string(getpid()) + ".in";
  static const std::string out = "/tmp/kelvane-fuzz-textfile-" + std::to_string(getpid()) + ".out";
  std::FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  xmldoc doc;
  doc.loadfile(towide(in));
  doc.savefile(towide(out));
  // A document loaded with a byte-order mark is saved with it and reads back
  // as the same text. (Without one, a leading U+FEFF would read back as a mark.)
  std::u16string text;
  if (doc.docflags() && readtextfile(towide(out), text) && text != doc.text()) std::abort();
  return 0;
}
