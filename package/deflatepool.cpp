#include "package/deflatepool.h"

#include <zlib.h>

#include <algorithm>
#include <system_error>

#include "platform/files.h"

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
    if (!block.source.empty()) return runfile(block);
    block.compressed = ready_ && compress(block);
    block.size = block.compressed ? block.datasize() : 0;
    if (!block.compressed) block.output.clear();
    // A finished block waiting behind a slower one no longer needs its input.
    std::vector<unsigned char>().swap(block.input);
    block.primer = 0;
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

  // A source file, block after block into one stream; a failure ends the
  // stream behind the blocks read in full, as for blocks given one by one.
  // The file must still have the size it was listed with: a larger one does
  // not belong on a worker, and a file that changes is not archived.
  void runfile(deflateblock& job) {
    std::FILE* file = fs::openfile(job.source, "rb");
    job.opened = file != nullptr;
    job.compressed = true;
    if (!file) return;
    job.measured = fs::filesize(file);
    std::int64_t left = job.measured;
    const bool aslisted = job.measured == static_cast<std::int64_t>(job.listed);
    std::vector<unsigned char> tail, next;
    for (bool first = true;; first = false) {
      deflateblock part;
      readstatus status = aslisted ? readblock(file, tail, left, part) : readstatus::changed;
      if (status != readstatus::read) {
        part = deflateblock{};  // an empty last block ends the stream
        part.last = true;
        job.readfailed = true;
        job.changed = status == readstatus::changed;
      }
      if (!part.last) next = nexttail(part);  // before run() releases the input
      run(part);
      if (!part.compressed) {
        job.compressed = false;
        break;
      }
      if (job.output.empty()) job.output = std::move(part.output);
      else job.output.insert(job.output.end(), part.output.begin(), part.output.end());
      job.crc = static_cast<std::uint32_t>(crc32_combine(job.crc, part.crc, static_cast<z_off_t>(part.size)));
      job.size += part.size;
      if (first) job.text = part.text;
      if (part.last) break;
      left -= static_cast<std::int64_t>(part.size);
      tail = std::move(next);
    }
    std::fclose(file);
    if (!job.compressed) job.output.clear();
  }

  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

readstatus readblock(std::FILE* file, const std::vector<unsigned char>& tail, std::int64_t left, deflateblock& block) {
  block.input = tail;
  block.primer = tail.size();
  std::size_t want = static_cast<std::size_t>(std::clamp<std::int64_t>(left, 0, blocksize));
  block.input.resize(block.primer + want);
  std::size_t got = std::fread(block.input.data() + block.primer, 1, want, file);
  block.input.resize(block.primer + got);
  block.last = static_cast<std::int64_t>(got) >= left;
  if (std::ferror(file)) return readstatus::failed;
  if (got < want) return readstatus::changed;  // ended early: it shrank
  if (block.last && std::fgetc(file) != EOF) return readstatus::changed;  // it grew
  return std::ferror(file) ? readstatus::failed : readstatus::read;
}

std::vector<unsigned char> nexttail(const deflateblock& block) {
  std::size_t keep = std::min(primersize, block.input.size());
  return {block.input.end() - static_cast<std::ptrdiff_t>(keep), block.input.end()};
}

std::size_t deflateblock::weight() const {
  std::size_t bytes = source.empty() ? datasize() : static_cast<std::size_t>(std::min<std::uint64_t>(listed, blocksize));
  return std::max(bytes, primersize);
}

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
  return held_ >= capacity_;
}

bool deflatepool::empty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return slots_.empty();
}

void deflatepool::submit(std::unique_ptr<deflateblock> block) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t weight = block->weight();
    held_ += weight;
    slots_.push_back({std::move(block), false, weight});
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
  held_ -= slots_.front().weight;
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
