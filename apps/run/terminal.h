// Where inferlet-run's text goes: library output moved off stdout or held back, and a progress line.
#ifndef INFERLET_APPS_TERMINAL_H_
#define INFERLET_APPS_TERMINAL_H_

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace inferlet_run {

// Where the library's own lines (its printf and std::cout output, written to file descriptor 1) go
// while an object of this class is alive: left on stdout, moved to stderr (keeping stdout for the
// JSON summary), or held back in a temporary file (--quiet) for the caller to show after a failure.
// File descriptor 1 itself is redirected, so that output of any library of the process is caught.
class LibraryOutput {
 public:
  enum class Mode { kStdout, kStderr, kHold };
  explicit LibraryOutput(Mode mode);
  ~LibraryOutput();
  LibraryOutput(const LibraryOutput&) = delete;
  LibraryOutput& operator=(const LibraryOutput&) = delete;

  // Puts file descriptor 1 back; later calls do nothing.
  void Restore();
  // What was held back so far (kHold only).
  std::string Held();

 private:
  int saved_fd_ = -1;
  std::FILE* held_ = nullptr;
};

// A self-overwriting "calls done" line on standard error, shown only when standard error is a
// terminal and the run has lasted a second; erased when the run ends.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine() { Finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Update(size_t calls, size_t target_calls, double elapsed_s, double target_s);
  void Finish();

 private:
  bool enabled_;
  bool shown_ = false;
  double last_s_ = 0;
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_TERMINAL_H_
