#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zupo {

class AppendFile;
class RewrittenFile;

// The run's file writes, done in the order they are asked for.
//
// Without a writer thread every write is done at once. With one, the writes of a generation are
// collected and handed over at Commit, and the writer thread makes exactly the system calls a
// direct write makes, in the same order, while the next generation is computed. A kill at any
// moment therefore leaves the files that a direct run killed a little earlier would leave.
//
// Whatever reads a file the run writes, or waits for another program to react to one (the
// companion and its signal file), calls Sync first. The first error of the writer stops it (no
// later write is made) and is thrown by the next Commit, Sync or StopWriter.
class FileQueue {
public:
  using Task = std::function<void(std::string& content)>;

  FileQueue() = default;
  ~FileQueue();
  FileQueue(const FileQueue&) = delete;
  FileQueue& operator=(const FileQueue&) = delete;

  // From now on writes are queued; at most maxPending committed generations wait for the
  // writer (the next Commit waits for the oldest to be written).
  void StartWriter(int maxPending = 4);
  // Waits for every write and ends the writer thread; throws the writer's error if it has not
  // been thrown yet. Afterwards writes are direct again.
  void StopWriter();
  bool HasWriter() const { return thread_.joinable(); }
  // While the caller waits for the writer (a hand-over, WaitFor, Sync, StopWriter), idle is
  // called about every `every` with the time waited so far, on the caller's thread and without
  // the queue's lock: the window stays alive and a stop can be noticed while a write waits for
  // another program.
  using Idle = std::function<void(std::chrono::steady_clock::duration waited)>;
  void SetIdle(Idle idle, std::chrono::milliseconds every) {
    idle_ = std::move(idle);
    idleEvery_ = every;
  }
  // True on the writer thread (a write there must not call back into the window).
  bool OnWriter() const { return HasWriter() && std::this_thread::get_id() == thread_.get_id(); }

  // WriteFileInPlace(path, content, presentLength).
  void InPlace(const std::string& path, std::string_view content,
               size_t presentLength = std::string::npos);
  // file.Write(path, content).
  void Rewrite(RewrittenFile& file, const std::string& path, std::string_view content);
  // file.Write(content), then file.Flush() when flush is set.
  void Append(AppendFile& file, std::string_view content, bool flush);
  // Anything else, in its place in the order: task(content), with a copy of content kept until
  // then (the task may change it).
  void Run(std::string_view content, Task task);

  // Hands the writes asked for so far to the writer. Returns a ticket for WaitFor (0 without a
  // writer thread).
  uint64_t Commit();
  // Waits until every write handed over up to the Commit that gave ticket is done.
  void WaitFor(uint64_t ticket);
  // Waits until every write asked for so far is done.
  void Sync();

  // Hand-overs not yet written (0 without a writer thread).
  size_t Backlog() const;
  // Writes made by the writer thread so far (for tests and the benchmark).
  long Written() const;
  // The time callers spent waiting for the writer, in seconds.
  double WaitedSeconds() const { return waited_; }
  // The processor time of writer threads that have ended, in seconds (for the benchmark).
  double WriterCpuSeconds() const;

private:
  enum class Kind { InPlace, Rewrite, Append, Task };
  struct Op {
    Kind kind = Kind::InPlace;
    std::string path, content; // their memory is reused by later writes
    size_t length = 0;
    AppendFile* file = nullptr;
    RewrittenFile* rewritten = nullptr;
    bool flush = false;
    Task task;
  };
  struct Batch {
    std::vector<Op> ops;
    size_t used = 0;
  };
  Op& Next(Kind kind);
  void HandOver(); // the batch being filled goes to the writer
  static void Execute(Op& op);
  void WriterLoop();
  void ThrowIfFailed(); // with mu_ held
  // Waits on done_ until ready(), calling idle_ between looks.
  template <class Ready> void Await(std::unique_lock<std::mutex>& lock, Ready ready);

  std::string direct_;         // the content of a task run at once
  std::vector<Batch> batches_; // a ring: the one being filled, then those handed over
  size_t fill_ = 0, head_ = 0, pending_ = 0, maxPending_ = 0;
  uint64_t handed_ = 0, finished_ = 0; // batches handed over and written, since the start
  bool stop_ = false;
  std::exception_ptr error_;
  bool errorThrown_ = false;
  long written_ = 0;
  double writerCpu_ = 0;
  mutable std::mutex mu_;
  std::condition_variable work_, done_;
  std::thread thread_;
  Idle idle_;
  double waited_ = 0; // only the caller's thread changes and reads it
  std::chrono::milliseconds idleEvery_{5};
};

} // namespace zupo
