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
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvane {

// A constant, never derived from the number of threads: the archive's bytes
// depend on where the blocks are cut.
constexpr std::size_t blocksize = std::size_t(1) << 20;
constexpr std::size_t primersize = 32768;  // deflate's window

struct deflateblock {
  std::vector<unsigned char> input;   // the primer (at most primersize bytes), then the data
  std::size_t primer = 0;             // how many of input's bytes only prime the compressor
  bool last = false;                  // finishes the stream instead of a sync flush

  // Filled in by a worker.
  std::vector<unsigned char> output;  // raw deflate
  std::uint32_t crc = 0;              // CRC-32 of the data, without the primer
  bool text = false;                  // zlib took the block's first bytes for text
  bool compressed = false;            // false when zlib failed

  std::size_t datasize() const { return input.size() - primer; }
};

// Compresses one block on the calling thread.
void deflateone(deflateblock& block);

class deflatepool {
 public:
  // Starts `threads` workers (at least one) and holds at most `capacity`
  // blocks between submit and take.
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
  };
  void work();

  mutable std::mutex lock_;
  std::condition_variable queued_;    // a block waits for a worker, or the pool stops
  std::condition_variable finished_;  // a block has been compressed
  std::deque<slot> slots_;            // in submission order, from the oldest not yet taken
  std::size_t taken_ = 0;             // blocks taken so far: slots_[i] is block number taken_ + i
  std::size_t started_ = 0;           // number of the next block a worker picks up
  std::size_t capacity_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kelvane
