#include "xml/textfile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"
#include "xml/codepages.h"
#include "xml/resultlog.h"
#include "xml/scanner.h"

namespace kelvane {

namespace {

struct byteordermark {
  std::string_view bytes;
  const char16_t* encoding;
  std::uint32_t flag;
  int unitsize;
};

constexpr byteordermark kMarks[] = {
    {"\xEF\xBB\xBF", u"UTF-8", BOM_UTF8, 1},
    {"\xFF\xFE", u"UTF-16LE", BOM_UTF16LE, 2},
    {"\xFE\xFF", u"UTF-16BE", BOM_UTF16BE, 2},
};
constexpr std::uint32_t kMarkFlags = BOM_UTF8 | BOM_UTF16LE | BOM_UTF16BE;
constexpr std::size_t kProbe = 1024;  // bytes examined for a mark or a declaration

int codeof(std::u16string_view name) { return std::max(codepageof(name), 0); }

// 16- and 32-bit encodings, which a file can only be in with a byte-order mark.
bool iswideencoding(std::u16string_view name) {
  switch (codepageof(name)) {
    case 1200: case 1201: case 12000: case 12001: case CP_UTF32: return true;
    default: return false;
  }
}

// The converters of these code pages take no loss flag.
bool reportsloss(int codepage) {
  switch (codepage) {
    case 65000: case 65001: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229: case 52936:
    case 54936:
      return false;
    default:
      return !(codepage >= 57002 && codepage <= 57011);
  }
}

// The state of one readtextfile or writetextfile call.
struct textfile {
  std::FILE* stream = nullptr;
  std::uint32_t flags = 0;
  std::int64_t filesize = 0;
  std::int64_t position = 0;
  int unitsize = 1;
  std::u16string log;
  std::u16string encoding;
  const byteordermark* mark = nullptr;

  ~textfile() {
    if (stream) std::fclose(stream);
  }

  void fileerror(int number) {
    const char* message = std::strerror(number);
    int bytes = static_cast<int>(std::min<std::size_t>(std::strlen(message), 100));
    char16_t wide[100];
    int units = codepage::multibytetowide(0, message, bytes, wide, 100);
    std::u16string_view text(wide, static_cast<std::size_t>(std::max(units, 0)));
    text = text.substr(0, text.find_first_of(u"\r\n"));
    addrecord(log, u"file_error", text, LOG_MSG | LOG_N, number);
  }

  // Closes the stream; a failing close only adds a record.
  void close() {
    if (stream && std::fclose(stream) != 0) fileerror(errno);
    stream = nullptr;
    flags &= ~(OPEN_READ | OPEN_WRITE);
  }
};

bool openforreading(textfile& f, std::u16string_view path) {
  f.stream = fs::openfile(tonarrow(path), "rb");
  if (!f.stream) {
    f.fileerror(errno);
    return false;
  }
  f.flags |= OPEN_READ;
  f.filesize = fs::filesize(f.stream);
  if (f.filesize < 0 || f.filesize > INT32_MAX) {
    f.fileerror(f.filesize < 0 ? errno : EFBIG);
    return false;
  }
  std::size_t probe = static_cast<std::size_t>(std::min<std::int64_t>(f.filesize, kProbe));
  if (probe == 0) return true;

  char bytes[kProbe];
  if (std::fread(bytes, 1, probe, f.stream) != probe) {
    f.fileerror(errno);
    return false;
  }
  std::string_view head(bytes, probe);
  f.flags &= ~kMarkFlags;
  for (const auto& m : kMarks) {
    if (head.substr(0, m.bytes.size()) == m.bytes) {
      f.mark = &m;
      f.flags |= m.flag;
      f.encoding = m.encoding;
      f.unitsize = m.unitsize;
      break;
    }
  }
  std::size_t marklength = f.mark ? f.mark->bytes.size() : 0;
  if (!fs::seek(f.stream, static_cast<std::int64_t>(marklength), SEEK_SET)) {
    f.fileerror(errno);
    return false;
  }
  if (!f.mark) {
    char16_t wide[kProbe];
    int units = codepage::multibytetowide(CP_UTF8, bytes, static_cast<int>(probe), wide, static_cast<int>(probe));
    f.encoding = declaredencoding(std::u16string_view(wide, static_cast<std::size_t>(std::max(units, 0))));
    if (iswideencoding(f.encoding)) f.encoding.clear();
  }
  if (f.encoding.empty() && bytes[0] == '<') f.encoding = u"UTF-8";
  f.position = static_cast<std::int64_t>(marklength);
  if (f.mark) addrecord(f.log, u"bom");
  return true;
}

// Reads n bytes as units of the file's unit size into `buffer`, drops zero
// units and puts big-endian units in machine order; returns the unit count,
// or -1 on a short read.
template <class Unit>
int readunits(textfile& f, Unit* buffer, std::size_t n, std::u16string& records) {
  if (std::fread(buffer, 1, n, f.stream) != n) {
    f.fileerror(errno);
    return -1;
  }
  int units = static_cast<int>(n / sizeof(Unit));
  f.position += static_cast<std::int64_t>(n);
  addrecord(records, u"read", f.encoding, LOG_ENCODING | LOG_LENGTH, units);
  Unit* end = std::remove(buffer, buffer + units, Unit{0});
  if (int removed = units - static_cast<int>(end - buffer)) {
    addrecord(records, u"nulls_removed", LOG_COUNT, removed);
    units -= removed;
  }
  if constexpr (sizeof(Unit) == 2) {
    if (f.flags & BOM_UTF16BE) {
      for (int i = 0; i < units; ++i) buffer[i] = static_cast<Unit>((buffer[i] >> 8 | buffer[i] << 8) & 0xFFFF);
      addrecord(records, u"endian_swap");
    }
  }
  return units;
}

bool readrest(textfile& f, std::u16string& text, std::u16string& records) {
  std::size_t n = static_cast<std::size_t>(f.filesize - f.position);
  if (n == 0) {
    addrecord(records, u"read", f.encoding, LOG_ENCODING | LOG_LENGTH, 0);
    return true;
  }
  if (f.unitsize == 2) {
    std::size_t m = n / 2 + (n / 2) / 100;
    text.reserve(m);
    std::vector<char16_t> buffer(m + 1);
    int units = readunits(f, buffer.data(), n, records);
    if (units < 0) return false;
    text.assign(buffer.data(), static_cast<std::size_t>(units));
    return true;
  }
  std::vector<char> buffer(n);
  int units = readunits(f, buffer.data(), n, records);
  if (units < 0) return false;
  if (f.encoding.empty()) {
    if (isutf8(reinterpret_cast<const unsigned char*>(buffer.data()), static_cast<std::size_t>(units))) {
      f.encoding = u"UTF-8";
      addrecord(records, u"read", f.encoding, LOG_UPDATE | LOG_ENCODING);
    }
    addrecord(records, u"utf8_detection");
  }
  textconverter converter;
  converter.setsource(f.encoding, buffer.data(), units);
  int length = converter.convert(nullptr, 0, u"UTF-16");
  std::vector<char16_t> wide(static_cast<std::size_t>(length) + length / 100 + 1);
  length = converter.convert(wide.data(), length);
  text.reserve(static_cast<std::size_t>(length) + length / 100);
  text.assign(wide.data(), static_cast<std::size_t>(length));
  addrecord(records, u"converted_to", u"UTF-16", LOG_ENCODING | LOG_LENGTH, length);
  return true;
}

// The bytes that writing puts after the byte-order mark, with the records of
// preparing them; false when the text cannot be converted.
bool encode(textfile& f, std::u16string_view text, std::string& bytes, std::u16string& records) {
  if (text.empty()) return true;
  if (f.unitsize == 2) {
    bytes.resize(text.size() * 2);
    const bool swap = f.flags & BOM_UTF16BE;
    for (std::size_t i = 0; i < text.size(); ++i) {
      bytes[2 * i + (swap ? 1 : 0)] = static_cast<char>(text[i] & 0xFF);
      bytes[2 * i + (swap ? 0 : 1)] = static_cast<char>(text[i] >> 8);
    }
    if (swap) addrecord(records, u"endian_swap");
    return true;
  }
  textconverter converter;
  converter.setsource(u"UTF-16", text.data(), static_cast<int>(text.size()));
  int count = converter.convert(nullptr, 0, f.encoding);
  bytes.resize(static_cast<std::size_t>(count));
  if (count) count = converter.convert(bytes.data(), count);
  addrecord(records, u"converted_from", u"UTF-16", LOG_ENCODING | LOG_LENGTH, static_cast<std::int64_t>(text.size()));
  if (converter.lost()) addrecord(records, u"conversion_loss");
  return count > 0;
}

bool writeall(textfile& f, std::u16string_view path, std::u16string_view text) {
  if (text.size() > INT32_MAX / 4) {
    f.fileerror(EFBIG);
    return false;
  }
  for (const auto& m : kMarks) {
    if (f.flags & m.flag) {
      f.mark = &m;
      f.encoding = m.encoding;
      f.unitsize = m.unitsize;
      break;
    }
  }
  if (f.encoding.empty() && !text.empty()) {
    f.encoding = declaredencoding(text);
    if (f.encoding.empty() || iswideencoding(f.encoding)) f.encoding = u"UTF-8";
  }
  std::string bytes;
  std::u16string records;
  if (!encode(f, text, bytes, records)) {
    f.log += records;
    addrecord(f.log, u"conversion_failed", f.encoding, LOG_ENCODING);
    return false;
  }

  f.stream = fs::openfile(tonarrow(path), "wb");
  if (!f.stream) {
    f.fileerror(errno);
    return false;
  }
  f.flags |= OPEN_WRITE;
  if (f.mark) {
    if (std::fwrite(f.mark->bytes.data(), 1, f.mark->bytes.size(), f.stream) != f.mark->bytes.size()) {
      f.fileerror(errno);
      return false;
    }
    f.position = static_cast<std::int64_t>(f.mark->bytes.size());
    addrecord(f.log, u"bom");
  }
  f.log += records;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.stream) != bytes.size()) {
    f.fileerror(errno);
    return false;
  }
  f.position += static_cast<std::int64_t>(bytes.size());
  std::size_t units = bytes.size() / static_cast<std::size_t>(f.unitsize);
  addrecord(f.log, u"write", f.encoding, LOG_ENCODING | LOG_LENGTH, static_cast<std::int64_t>(units));
  return true;
}

}  // namespace

bool readtextfile(std::u16string_view path, std::u16string& text, std::u16string* log, std::uint32_t* flags) {
  text.clear();
  textfile f;
  f.flags = flags ? *flags : 0;
  bool ok = openforreading(f, path);
  std::u16string records;
  if (ok) {
    ok = readrest(f, text, records);
    if (!ok) text.clear();
  }
  bool opened = f.stream != nullptr;
  f.close();
  if (opened && flags) *flags = f.flags;
  f.log += records;
  if (log) *log = std::move(f.log);
  return ok;
}

bool writetextfile(std::u16string_view path, std::u16string_view text, std::u16string* log, std::uint32_t* flags) {
  textfile f;
  f.flags = flags ? *flags : 0;
  bool ok = writeall(f, path, text);
  bool opened = f.stream != nullptr;
  f.close();
  if (opened && flags) *flags = f.flags;
  if (log) *log = std::move(f.log);
  return ok;
}

std::u16string declaredencoding(std::u16string_view text) {
  auto is = [](std::u16string_view name, std::u16string_view literal) {
    if (name.size() != literal.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      char16_t c = name[i] >= u'A' && name[i] <= u'Z' ? static_cast<char16_t>(name[i] + 32) : name[i];
      if (c != literal[i]) return false;
    }
    return true;
  };
  // The attribute `name` of the tag of `node`, scanned from `from`.
  auto attribute = [&](const noderesult& node, std::size_t from, std::u16string_view name, std::u16string& value) {
    nodescanner tag(text.substr(0, node.start + node.length), from);
    tag.foldcase = true;
    return findattribute(tag, name, &value);
  };

  nodescanner scanner(text);
  scanner.foldcase = true;
  bool html = false;
  noderesult node;
  for (;;) {
    int kind = nextnode(scanner, node);
    if (kind == NODE_NONE || kind == NODE_ERROR) return {};
    std::u16string_view name = scanner.token();
    if (kind == NODE_PI && node.start == 0 && is(name, u"xml")) {
      std::u16string value;
      return attribute(node, 2, u"encoding", value) ? value : std::u16string();
    }
    if (kind == NODE_END_TAG && is(name, u"head")) return {};
    if (kind != NODE_START_TAG) continue;
    if (!html) {
      if (!is(name, u"html")) return {};
      html = true;
      continue;
    }
    if (!is(name, u"meta")) continue;
    std::u16string equiv, content;
    if (!attribute(node, node.start + 1, u"http-equiv", equiv) || !is(equiv, u"content-type")) continue;
    if (!attribute(node, node.start + 1, u"content", content)) return {};
    std::vector<std::u16string> tokens;
    for (nodescanner words(content); nexttoken(words);) tokens.emplace_back(words.token());
    for (std::size_t i = 0; i + 2 < tokens.size(); ++i)
      if (is(tokens[i], u"charset") && tokens[i + 1] == u"=") return tokens[i + 2];
    return {};
  }
}

bool isutf8(const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length && bytes[i] != 0;) {
    unsigned char lead = bytes[i++];
    if (lead < 0x80) continue;
    int continuation = !(lead & 0x20) ? 1 : !(lead & 0x10) ? 2 : !(lead & 0x08) ? 3 : -1;
    if (continuation < 0) return false;
    for (; continuation > 0; --continuation, ++i)
      if (i >= length || bytes[i] < 0x80) return false;
  }
  return true;
}

namespace {

// Conversions done here rather than by the platform: to and from UTF-32.
using units32 = std::vector<std::uint32_t>;

std::string utf32toutf8(const std::uint32_t* in, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    std::uint32_t v = in[i];
    if (v < 0x80) {
      out += static_cast<char>(v);
    } else if (v < 0x800) {
      out += static_cast<char>(0xC0 | v >> 6);
      out += static_cast<char>(0x80 | (v & 0x3F));
    } else if (v <= 0xFFFF) {
      out += static_cast<char>(0xE0 | v >> 12);
      out += static_cast<char>(0x80 | (v >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (v & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (v >> 18 & 0x7));
      out += static_cast<char>(0x80 | (v >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (v >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (v & 0x3F));
    }
  }
  return out;
}

std::u16string utf32toutf16(const std::uint32_t* in, int length) {
  std::u16string out;
  for (int i = 0; i < length; ++i) {
    std::uint32_t v = in[i];
    if (v >= 0x10000) {
      out += static_cast<char16_t>(0xD800 | ((v - 0x10000) >> 10 & 0x3FF));
      out += static_cast<char16_t>(0xDC00 | (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(v);
    }
  }
  return out;
}

units32 utf16toutf32(const char16_t* in, int length) {
  units32 out;
  for (int i = 0; i < length; ++i) {
    char16_t u = in[i];
    if (u < 0xD800 || u > 0xDFFF) {
      out.push_back(u);
    } else if (i + 1 < length && in[i + 1] != 0) {
      out.push_back((((u & 0x3FFu) << 10) | (in[++i] & 0x3FFu)) + 0x10000);
    } else {
      out.push_back(u'?');
    }
  }
  return out;
}

units32 utf8toutf32(const unsigned char* in, int length) {
  units32 out;
  for (int i = 0; i < length;) {
    unsigned char lead = in[i++];
    if (lead < 0x80) {
      out.push_back(lead);
      continue;
    }
    int continuation = !(lead & 0x20) ? 1 : !(lead & 0x10) ? 2 : !(lead & 0x08) ? 3 : -1;
    std::uint32_t value = lead & (0x3F >> (continuation < 0 ? 0 : continuation));
    bool good = continuation > 0;
    for (; good && continuation > 0; --continuation, ++i) {
      if (i >= length || in[i] < 0x80) good = false;
      else value = value << 6 | (in[i] & 0x3F);
      if (!good) break;
    }
    out.push_back(good ? value : u'?');
  }
  return out;
}

// Copies a result into the caller's buffer when it fits; returns the units.
template <class Units>
int deliver(const Units& result, void* output, int capacity) {
  int count = static_cast<int>(result.size());
  if (!output || capacity == 0) return count;
  if (count > capacity) return 0;
  std::memcpy(output, result.data(), result.size() * sizeof(result[0]));
  return count;
}

}  // namespace

void textconverter::setsource(std::u16string_view encoding, const void* buffer, int length) {
  source_ = encoding;
  buffer_ = buffer;
  length_ = std::max(length, 0);
}

int textconverter::convert(void* output, int capacity, std::u16string_view target) {
  target_ = target;
  lost_ = false;
  if (!output) capacity = 0;
  const int from = codeof(source_), to = codeof(target_);
  bool* loss = reportsloss(to) ? &lost_ : nullptr;
  const auto* bytes = static_cast<const char*>(buffer_);
  const auto* wide = static_cast<const char16_t*>(buffer_);
  const auto* wide32 = static_cast<const std::uint32_t*>(buffer_);
  int r = 0;
  if (length_ == 0) {
    r = 0;
  } else if (from == CP_UTF32) {
    if (to == CP_UTF8) r = deliver(utf32toutf8(wide32, length_), output, capacity);
    else if (to == CP_UTF16) r = deliver(utf32toutf16(wide32, length_), output, capacity);
  } else if (from == CP_UTF16) {
    if (to == CP_UTF32) r = deliver(utf16toutf32(wide, length_), output, capacity);
    else r = codepage::widetomultibyte(to, wide, length_, static_cast<char*>(output), capacity, loss);
  } else if (to == CP_UTF16) {
    r = codepage::multibytetowide(from, bytes, length_, static_cast<char16_t*>(output), capacity);
  } else if (to == CP_UTF32) {
    if (from == CP_UTF8) r = deliver(utf8toutf32(reinterpret_cast<const unsigned char*>(bytes), length_), output, capacity);
  } else {
    std::vector<char16_t> middle(static_cast<std::size_t>(length_));
    int units = codepage::multibytetowide(from, bytes, length_, middle.data(), length_);
    if (units) r = codepage::widetomultibyte(to, middle.data(), units, static_cast<char*>(output), capacity, loss);
  }
  result_ = r;
  return r;
}

}  // namespace kelvane
