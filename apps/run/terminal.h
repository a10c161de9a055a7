// Where inferlet-run's text goes: library output moved off stdout for --json, and a progress line.
#ifndef INFERLET_APPS_TERMINAL_H_
#define INFERLET_APPS_TERMINAL_H_

#include <chrono>
#include <cstddef>

namespace inferlet_run {

// While alive (and active), everything written to file descriptor 1 -- the library's printf and
// std::cout lines included -- goes to standard error instead, keeping stdout for the JSON summary.
class StdoutToStderr {
 public:
  explicit StdoutToStderr(bool active);
  ~StdoutToStderr();
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_fd_ = -1;
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
