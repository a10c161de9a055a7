#include "terminal.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace inferlet_run {

LibraryOutput::LibraryOutput(Mode mode) {
  if (mode == Mode::kStdout) return;
  int target = STDERR_FILENO;
  if (mode == Mode::kHold) {
    held_ = std::tmpfile();
    if (!held_) return;  // nowhere to hold the lines: they stay on stdout
    target = fileno(held_);
  }
  std::cout.flush();
  std::fflush(stdout);
  saved_fd_ = dup(STDOUT_FILENO);
  if (saved_fd_ >= 0) dup2(target, STDOUT_FILENO);
}

void LibraryOutput::Restore() {
  if (saved_fd_ < 0) return;
  std::cout.flush();
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  saved_fd_ = -1;
}

LibraryOutput::~LibraryOutput() {
  Restore();
  if (held_) std::fclose(held_);
}

std::string LibraryOutput::Held() {
  if (!held_) return "";
  std::cout.flush();
  std::fflush(stdout);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = pread(fileno(held_), buffer, sizeof(buffer), static_cast<off_t>(text.size()))) > 0)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::Update(size_t calls, size_t target_calls, double elapsed_s, double target_s) {
  if (!enabled_ || elapsed_s < 1.0 || elapsed_s - last_s_ < 0.2) return;
  last_s_ = elapsed_s;
  const double by_calls = static_cast<double>(calls) / static_cast<double>(std::max<size_t>(target_calls, 1));
  const double by_time = target_s > 0 ? elapsed_s / target_s : 1.0;
  const double done = std::min(1.0, std::min(by_calls, by_time));
  fmt::print(stderr, "\r  timing: {} calls, {:.1f} s, {:3.0f}% ", calls, elapsed_s, done * 100);
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::Finish() {
  if (!shown_) return;
  fmt::print(stderr, "\r{:60}\r", "");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace inferlet_run
