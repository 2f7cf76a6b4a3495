#include "package/datamd5.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/files.h"

namespace kelvane {

namespace {

// RFC 1321: K[i] = floor(|sin(i + 1)| * 2^32), exact in double precision.
const std::array<std::uint32_t, 64>& sinetable() {
  static const std::array<std::uint32_t, 64> table = [] {
    std::array<std::uint32_t, 64> t{};
    for (int i = 0; i < 64; ++i) t[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    return t;
  }();
  return table;
}

constexpr int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

// Where the samples of n bytes start; one run of n bytes when n is short.
struct sampleplan {
  std::int64_t starts[datamd5::divisor];
  int count;
  std::int64_t length;  // bytes per sample
};

sampleplan plansamples(std::int64_t n) {
  sampleplan plan{};
  std::int64_t step = n / datamd5::divisor;
  if (step >= datamd5::samplesize) {
    for (int i = 0; i < datamd5::divisor - 1; ++i) plan.starts[i] = i * step;
    plan.starts[datamd5::divisor - 1] = n - datamd5::samplesize;
    plan.count = datamd5::divisor;
    plan.length = datamd5::samplesize;
  } else {
    plan.starts[0] = 0;
    plan.count = 1;
    plan.length = n;
  }
  return plan;
}

}  // namespace

datamd5::datamd5() { reset(); }

void datamd5::reset() {
  divisor_ = divisor;
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  fill_ = 0;
  bitcount_ = 0;
  finished_ = false;
}

void datamd5::transform(const unsigned char block[64]) {
  const auto& k = sinetable();
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8 |
           std::uint32_t(block[i * 4 + 2]) << 16 | std::uint32_t(block[i * 4 + 3]) << 24;
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    std::uint32_t next = d;
    d = c;
    c = b;
    b = b + rotl(a + f + k[i] + m[g], shifts[i]);
    a = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void datamd5::update(const unsigned char* data, std::size_t n) {
  bitcount_ += std::uint64_t(n) * 8;
  while (n > 0) {
    std::size_t take = std::min<std::size_t>(n, 64 - fill_);
    std::memcpy(block_ + fill_, data, take);
    fill_ += static_cast<std::uint32_t>(take);
    data += take;
    n -= take;
    if (fill_ == 64) {
      transform(block_);
      fill_ = 0;
    }
  }
}

void datamd5::finish() {
  if (finished_) return;
  std::uint64_t bits = bitcount_;
  static const unsigned char padding[64] = {0x80};
  std::size_t padlength = fill_ < 56 ? 56 - fill_ : 120 - fill_;
  update(padding, padlength);
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (8 * i));
  update(length, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest_[i * 4 + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
  finished_ = true;
}

void datamd5::writetext(char out[33]) {
  static const char hex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    text_[i * 2] = hex[digest_[i] >> 4];
    text_[i * 2 + 1] = hex[digest_[i] & 15];
  }
  text_[32] = '\0';
  std::memcpy(out, text_, 33);
}

void datamd5::buffermd5(const void* data, std::int64_t n, char out[33]) {
  reset();
  const auto* bytes = static_cast<const unsigned char*>(data);
  sampleplan plan = plansamples(n < 0 ? 0 : n);
  if (plan.length > 0)
    for (int i = 0; i < plan.count; ++i) update(bytes + plan.starts[i], static_cast<std::size_t>(plan.length));
  finish();
  writetext(out);
}

int datamd5::rangemd5(std::FILE* stream, std::int64_t offset, std::int64_t length, char out[33]) {
  out[0] = '\0';
  if (!stream || offset < 0 || length < 0) return -1;
  reset();
  sampleplan plan = plansamples(length);
  std::vector<unsigned char> sample(static_cast<std::size_t>(std::min<std::int64_t>(plan.length, samplesize)));
  for (int i = 0; i < plan.count; ++i) {
    // Short data (under 36864 bytes) is one run, read in sample-sized pieces.
    std::int64_t start = offset + plan.starts[i];
    std::int64_t left = plan.length;
    if (!fs::seek(stream, start, SEEK_SET)) return -1;
    while (left > 0) {
      std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, sample.size()));
      if (std::fread(sample.data(), 1, want, stream) != want) return -1;
      update(sample.data(), want);
      left -= static_cast<std::int64_t>(want);
    }
  }
  finish();
  writetext(out);
  return 0;
}

int datamd5::filemd5(std::FILE* stream, char out[33]) {
  out[0] = '\0';
  if (!stream) return -1;
  if (!fs::seek(stream, 0, SEEK_END)) return -1;
  std::int64_t size = fs::tell(stream);
  if (size < 0) return -1;
  int result = rangemd5(stream, 0, size, out);
  fs::seek(stream, 0, SEEK_END);
  return result;
}

}  // namespace kelvane
