#include "core/filequeue.h"

#include <ctime>
#include <utility>

#include "core/textio.h"

namespace zupo {

FileQueue::~FileQueue() {
  try {
    StopWriter();
  } catch (...) {
    // A destructor must not throw; StopWriter reports the error to a caller that asks.
  }
}

void FileQueue::StartWriter(int maxPending) {
  if (HasWriter()) return;
  maxPending_ = static_cast<size_t>(maxPending < 1 ? 1 : maxPending);
  // One batch more than may wait: the one being filled.
  if (batches_.size() != maxPending_ + 1) batches_.assign(maxPending_ + 1, Batch{});
  fill_ = head_ = pending_ = 0;
  handed_ = finished_ = 0;
  stop_ = false;
  error_ = nullptr;
  errorThrown_ = false;
  thread_ = std::thread([this] { WriterLoop(); });
}

template <class Ready> void FileQueue::Await(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (ready()) return;
  auto start = std::chrono::steady_clock::now();
  if (!idle_) {
    done_.wait(lock, ready);
  } else {
    while (!done_.wait_for(lock, idleEvery_, ready)) {
      lock.unlock();
      idle_(std::chrono::steady_clock::now() - start);
      lock.lock();
    }
  }
  waited_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void FileQueue::StopWriter() {
  if (!HasWriter()) return;
  HandOver();
  {
    std::unique_lock lock(mu_);
    Await(lock, [this] { return pending_ == 0; });
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
  std::unique_lock lock(mu_);
  ThrowIfFailed();
}

FileQueue::Op& FileQueue::Next(Kind kind) {
  Batch& b = batches_[fill_];
  if (b.used == b.ops.size()) b.ops.emplace_back();
  Op& op = b.ops[b.used++];
  op.kind = kind;
  return op;
}

void FileQueue::InPlace(const std::string& path, std::string_view content, size_t presentLength) {
  if (!HasWriter()) return WriteFileInPlace(path, content, presentLength);
  Op& op = Next(Kind::InPlace);
  op.path = path;
  op.content.assign(content);
  op.length = presentLength;
}

void FileQueue::Rewrite(RewrittenFile& file, const std::string& path, std::string_view content) {
  if (!HasWriter()) return file.Write(path, content);
  Op& op = Next(Kind::Rewrite);
  op.rewritten = &file;
  op.path = path;
  op.content.assign(content);
}

void FileQueue::Append(AppendFile& file, std::string_view content, bool flush) {
  if (!HasWriter()) {
    file.Write(content);
    if (flush) file.Flush();
    return;
  }
  Op& op = Next(Kind::Append);
  op.file = &file;
  op.content.assign(content);
  op.flush = flush;
}

void FileQueue::Run(std::string_view content, Task task) {
  if (!HasWriter()) {
    direct_.assign(content);
    return task(direct_);
  }
  Op& op = Next(Kind::Task);
  op.content.assign(content);
  op.task = std::move(task);
}

void FileQueue::Execute(Op& op) {
  switch (op.kind) {
  case Kind::InPlace:
    WriteFileInPlace(op.path, op.content, op.length);
    break;
  case Kind::Rewrite:
    op.rewritten->Write(op.path, op.content);
    break;
  case Kind::Append:
    op.file->Write(op.content);
    if (op.flush) op.file->Flush();
    break;
  case Kind::Task:
    op.task(op.content);
    op.task = nullptr;
    break;
  }
}

void FileQueue::HandOver() {
  if (batches_[fill_].used == 0) return;
  {
    std::unique_lock lock(mu_);
    // The batch after the one being filled must be free: at most maxPending_ wait.
    Await(lock, [this] { return pending_ < maxPending_; });
    ++pending_;
    ++handed_;
    fill_ = (fill_ + 1) % batches_.size();
  }
  work_.notify_one();
}

uint64_t FileQueue::Commit() {
  if (!HasWriter()) return 0;
  HandOver();
  std::unique_lock lock(mu_);
  ThrowIfFailed();
  return handed_;
}

void FileQueue::WaitFor(uint64_t ticket) {
  if (!HasWriter()) return;
  std::unique_lock lock(mu_);
  Await(lock, [this, ticket] { return finished_ >= ticket; });
  ThrowIfFailed();
}

void FileQueue::Sync() {
  if (!HasWriter()) return;
  HandOver();
  std::unique_lock lock(mu_);
  Await(lock, [this] { return pending_ == 0; });
  ThrowIfFailed();
}

size_t FileQueue::Backlog() const {
  std::unique_lock lock(mu_);
  return pending_;
}

double FileQueue::WriterCpuSeconds() const {
  std::unique_lock lock(mu_);
  return writerCpu_;
}

long FileQueue::Written() const {
  std::unique_lock lock(mu_);
  return written_;
}

void FileQueue::ThrowIfFailed() {
  if (error_ && !errorThrown_) {
    errorThrown_ = true;
    std::rethrow_exception(error_);
  }
}

void FileQueue::WriterLoop() {
  for (;;) {
    size_t at = 0;
    {
      std::unique_lock lock(mu_);
      work_.wait(lock, [this] { return pending_ > 0 || stop_; });
      if (pending_ == 0) { // stop_, and everything is written
        timespec ts{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        writerCpu_ += static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
        return;
      }
      at = head_;
    }
    Batch& b = batches_[at];
    bool failed = false;
    {
      std::unique_lock lock(mu_);
      failed = error_ != nullptr;
    }
    long n = 0;
    for (size_t k = 0; k < b.used && !failed; ++k) {
      try {
        Execute(b.ops[k]);
        ++n;
      } catch (...) {
        std::unique_lock lock(mu_);
        error_ = std::current_exception();
        failed = true;
      }
    }
    for (size_t k = 0; k < b.used; ++k) b.ops[k].task = nullptr;
    b.used = 0;
    {
      std::unique_lock lock(mu_);
      written_ += n;
      head_ = (head_ + 1) % batches_.size();
      --pending_;
      ++finished_;
    }
    done_.notify_all();
  }
}

} // namespace zupo
