// Raw deflate (level 9, window bits -15, memory level 8, default strategy) of
// blocks on worker threads, handed back in the order they were given.
//
// A stream too long for one block is cut into blocks of `blocksize` bytes;
// each is compressed on its own, primed with the 32 KiB that precede it, and
// all but the stream's last end on a byte boundary (a sync flush). Joined in
// order, the outputs of one stream's blocks form one valid raw deflate
// stream. Each block's output depends only on its bytes and its primer, so the
// joined bytes are the same whatever the number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvane {

// A constant, never derived from the number of threads: the archive's bytes
// depend on where the blocks are cut.
constexpr std::size_t blocksize = std::size_t(1) << 20;
constexpr std::size_t primersize = 32768;  // deflate's window

struct deflateblock {
  // Either the data itself...
  std::vector<unsigned char> input;   // the primer (at most primersize bytes), then the data; released once compressed
  std::size_t primer = 0;             // how many of input's bytes only prime the compressor
  bool last = false;                  // finishes the stream instead of a sync flush
  // ...or a file (native path) that the worker opens, reads and compresses
  // whole, block by block: the same bytes as its blocks given one by one.
  // Under wine opening and closing a file are server round trips, so small
  // files are read where they are compressed, several at a time.
  std::string source;
  std::uint64_t listed = 0;           // a source file's size before opening

  // The bytes it holds in the pool, for the pool's limit: its data, or the
  // source file's listed size; at least a primer's worth, so that a pool of
  // tiny files still has a bounded number of them.
  std::size_t weight() const;

  // Filled in by a worker.
  std::vector<unsigned char> output;  // raw deflate
  std::uint32_t crc = 0;              // CRC-32 of the data, without the primer
  std::uint64_t size = 0;             // bytes of data behind output
  bool text = false;                  // zlib took the first block's first bytes for text
  bool compressed = false;            // false when zlib failed
  // For a source file only.
  bool opened = false;                // false: nothing was read
  std::int64_t measured = -1;         // its size when opened, -1 when it could not be measured
  bool readfailed = false;            // the stream ends behind the blocks read in full
  bool changed = false;               // ...because the file's size changed after it was listed or opened

  std::size_t datasize() const { return input.size() - primer; }
};

enum class readstatus {
  read,
  failed,   // a read error
  changed,  // the file ended before its size, or holds more than it
};

// Fills `block` with the next block of `file`, primed with `tail` (the 32 KiB
// before it, empty at the start): the next min(`left`, blocksize) bytes, where
// `left` is what the file still holds by its size when it was opened. The
// block that takes the last of them is the last, and the file must end there:
// an entry's sizes are those of the data it holds, and a file that is being
// written while it is archived fails instead of being stored half old, half new.
readstatus readblock(std::FILE* file, const std::vector<unsigned char>& tail, std::int64_t left, deflateblock& block);

// The primer of the block after `block`: the last 32 KiB of its input.
std::vector<unsigned char> nexttail(const deflateblock& block);

// Compresses one block, or one source file, on the calling thread.
void deflateone(deflateblock& block);

class deflatepool {
 public:
  // Starts `threads` workers (at least one) and holds blocks between submit
  // and take up to `capacity` bytes of their weight. By bytes rather than
  // blocks: a queue deep in small files keeps every worker busy while one
  // waits for its file to open, and one of large blocks stays as small.
  deflatepool(int threads, std::size_t capacity);
  ~deflatepool();  // stops the workers; blocks not taken are dropped
  deflatepool(const deflatepool&) = delete;
  deflatepool& operator=(const deflatepool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()); }  // may be fewer than asked
  bool full() const;
  bool empty() const;
  // Queues a block for compression; the caller keeps the pool from overfilling
  // by taking a block first whenever it is full.
  void submit(std::unique_ptr<deflateblock> block);
  // The oldest block not yet taken, once it is compressed; null when none is
  // queued.
  std::unique_ptr<deflateblock> take();

 private:
  struct slot {
    std::unique_ptr<deflateblock> block;
    bool done = false;
    std::size_t weight = 0;  // as it was submitted
  };
  void work();

  mutable std::mutex lock_;
  std::condition_variable queued_;    // a block waits for a worker, or the pool stops
  std::condition_variable finished_;  // a block has been compressed
  std::deque<slot> slots_;            // in submission order, from the oldest not yet taken
  std::size_t taken_ = 0;             // blocks taken so far: slots_[i] is block number taken_ + i
  std::size_t started_ = 0;           // number of the next block a worker picks up
  std::size_t capacity_;
  std::size_t held_ = 0;              // the weight of the blocks in slots_
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kelvane
