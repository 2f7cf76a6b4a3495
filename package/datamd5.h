// The sampled digest that identifies each archive of a package: MD5 (RFC 1321)
// over at most nine 4096-byte samples, as 32 lowercase hex digits.
//
// For n bytes with step = n / 9 >= 4096 (n >= 36864) the samples start at
// i * step for i = 0..7, and the ninth is the last 4096 bytes; shorter data is
// hashed whole. Only the samples are ever read, so digesting an archive of any
// size costs the same 36864 bytes of reading and memory.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kelvane {

class datamd5 {
 public:
  static constexpr int samplesize = 4096;
  static constexpr int divisor = 9;

  datamd5();

  // Digest of n bytes in memory; writes 32 hex digits and a zero into out.
  void buffermd5(const void* data, std::int64_t n, char out[33]);

  // Digest of a whole open stream (from offset 0 to its end). The stream is
  // left at its end. Returns 0, or -1 when the stream cannot be measured or a
  // sample cannot be read (then out holds an empty string).
  int filemd5(std::FILE* stream, char out[33]);

  // Digest of the byte range [offset, offset + length) of an open stream, the
  // same text buffermd5 gives for those bytes. Returns 0 or -1 as filemd5.
  int rangemd5(std::FILE* stream, std::int64_t offset, std::int64_t length, char out[33]);

 private:
  void reset();
  void update(const unsigned char* data, std::size_t n);
  void finish();
  void transform(const unsigned char block[64]);
  void writetext(char out[33]);

  int divisor_ = divisor;
  std::uint32_t state_[4];
  unsigned char block_[64];
  std::uint32_t fill_ = 0;
  std::uint64_t bitcount_ = 0;
  unsigned char digest_[16];
  char text_[33];
  bool finished_ = false;
};

}  // namespace kelvane
