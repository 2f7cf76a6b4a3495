#include "package/deflatepool.h"

#include <zlib.h>

#include <system_error>

namespace kelvane {

namespace {

// One deflate state, reset for each block: the state is about 256 KiB at
// level 9, and a worker compresses thousands of small files.
class compressor {
 public:
  compressor() { ready_ = deflateInit2(&z_, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~compressor() {
    if (ready_) deflateEnd(&z_);
  }
  compressor(const compressor&) = delete;
  compressor& operator=(const compressor&) = delete;

  void run(deflateblock& block) {
    block.compressed = ready_ && compress(block);
    if (!block.compressed) block.output.clear();
  }

 private:
  bool compress(deflateblock& block) {
    if (deflateReset(&z_) != Z_OK) return false;
    if (block.primer && deflateSetDictionary(&z_, block.input.data(), static_cast<uInt>(block.primer)) != Z_OK)
      return false;
    const unsigned char* data = block.input.data() + block.primer;
    std::size_t size = block.datasize();
    block.crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(size)));

    // The bound covers the finished stream; a sync flush adds at most an
    // empty stored block. The loop below still grows the output if needed.
    block.output.resize(deflateBound(&z_, static_cast<uLong>(size)) + 16);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    std::size_t used = 0;
    for (;;) {
      z_.next_out = block.output.data() + used;
      z_.avail_out = static_cast<uInt>(block.output.size() - used);
      int r = deflate(&z_, flush);
      used = block.output.size() - z_.avail_out;
      if (r == Z_STREAM_ERROR) return false;
      bool done = block.last ? r == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out > 0;
      if (done) break;
      block.output.resize(block.output.size() * 2);
    }
    block.output.resize(used);
    block.text = z_.data_type == Z_TEXT;
    return true;
  }

  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

void deflateone(deflateblock& block) { compressor().run(block); }

deflatepool::deflatepool(int threads, std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {
  for (int i = 0; i < (threads < 1 ? 1 : threads); ++i) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked; take() compresses itself when none started
    }
  }
}

deflatepool::~deflatepool() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool deflatepool::full() const {
  std::lock_guard<std::mutex> guard(lock_);
  return slots_.size() >= capacity_;
}

bool deflatepool::empty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return slots_.empty();
}

void deflatepool::submit(std::unique_ptr<deflateblock> block) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    slots_.push_back({std::move(block), false});
  }
  queued_.notify_one();
}

std::unique_ptr<deflateblock> deflatepool::take() {
  std::unique_lock<std::mutex> guard(lock_);
  if (slots_.empty()) return nullptr;
  if (workers_.empty() && started_ == taken_) {
    ++started_;
    deflateone(*slots_.front().block);
    slots_.front().done = true;
  }
  finished_.wait(guard, [this] { return slots_.front().done; });
  std::unique_ptr<deflateblock> block = std::move(slots_.front().block);
  slots_.pop_front();
  ++taken_;
  return block;
}

void deflatepool::work() {
  compressor z;
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    queued_.wait(guard, [this] { return stopping_ || started_ < taken_ + slots_.size(); });
    if (stopping_) return;
    // Slots never move while their block is being compressed: only the
    // oldest is removed, and only once it is done.
    slot& mine = slots_[started_ - taken_];
    ++started_;
    guard.unlock();
    z.run(*mine.block);
    guard.lock();
    mine.done = true;
    finished_.notify_all();
  }
}

}  // namespace kelvane
