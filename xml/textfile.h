// Text files in their own encoding, read into UTF-16 and written back.
//
// Reading works out the encoding from a byte-order mark, else from the
// encoding the text declares (XML declaration, or an HTML meta tag), else by
// a UTF-8 test, else the system's narrow code page; zero characters are
// removed. Writing uses the byte-order mark of the last read (kept in the
// flags), else the declared encoding, else UTF-8; line ends and everything
// else are written as they are. Each step leaves a record in the result log.
//
// Declarations naming a 16- or 32-bit encoding (UTF-16, UTF-32 and their
// variants) are not believed in a file without byte-order mark: the
// declaration was just read as single bytes, so the file is not in that
// encoding. Such a file is read as if it declared nothing and written as UTF-8,
// which keeps its bytes. Files in those encodings need a byte-order mark;
// UTF-32 files have none this layer knows and are not supported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// The flag word a document keeps between reading and writing its file.
enum : std::uint32_t {
  BOM_UTF16LE = 0x1,  // FF FE
  BOM_UTF8 = 0x4,     // EF BB BF
  OPEN_READ = 0x10,   // only during readtextfile
  OPEN_WRITE = 0x20,  // only during writetextfile
  BOM_UTF16BE = 0x80, // FE FF
};

// Reads the whole file into `text` (emptied first). `log` receives this
// call's records; `flags` is read for nothing and receives the byte-order-mark
// flag of the file after a successful open (unchanged for an empty file). True
// when the file was opened and all its bytes read. Files of 2 GiB or more are
// refused.
bool readtextfile(std::u16string_view path, std::u16string& text, std::u16string* log = nullptr,
                  std::uint32_t* flags = nullptr);

// Writes `text` in the encoding chosen by `flags`, else by its declaration,
// else UTF-8. The text is converted before the file is opened: a text that
// cannot be converted leaves the file as it was and gives false.
bool writetextfile(std::u16string_view path, std::u16string_view text, std::u16string* log = nullptr,
                   std::uint32_t* flags = nullptr);

// The encoding that an XML declaration at the very start, or an HTML meta tag
// with http-equiv Content-Type in the head, declares; empty when none.
std::u16string declaredencoding(std::u16string_view text);

// The UTF-8 lead-byte test: every byte from 0x80 up must start a sequence
// with its continuation bytes present and at least 0x80; bytes from 0xF8 fail.
// A zero byte ends the test with success.
bool isutf8(const unsigned char* bytes, std::size_t length);

// Converts a buffer between two named encodings. Lengths are in units of the
// encoding: bytes for code pages, 16-bit units for UTF-16 (code page 1200),
// 32-bit units for UTF-32 (names beginning "UTF-32"). Unknown names are the
// narrow code page.
class textconverter {
 public:
  void setsource(std::u16string_view encoding, const void* buffer, int length);
  // Converts into `output` with room for `capacity` target units and returns
  // the units produced; a null output or capacity 0 only counts. 0 means
  // nothing was converted (or it would not fit).
  int convert(void* output, int capacity, std::u16string_view target);
  int convert(void* output, int capacity) { return convert(output, capacity, std::u16string(target_)); }

  int resultlength() const { return result_; }
  bool lost() const { return lost_; }  // default characters stood in for some

 private:
  std::u16string source_, target_;
  const void* buffer_ = nullptr;
  int length_ = 0;
  int result_ = 0;
  bool lost_ = false;
};

}  // namespace kelvane
