// The library's logger: TensorRT reports through it, and the library writes its own progress and
// errors through it with a stream-like interface. Every message is one line on standard output,
// led by a tag for its severity, e.g. "[inferlet][E] Enqueue failed".
#ifndef INFERLET_LOGGING_H_
#define INFERLET_LOGGING_H_

#include <NvInfer.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

class Logger : public nvinfer1::ILogger {
 public:
  explicit Logger(Severity threshold = Severity::kINFO) : mOut(&std::cout), mThreshold(threshold) {}
  ~Logger() override = default;

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Starts a message: the severity's prefix, then text. The values that follow with << complete it,
  // and the last of them ends it with "\n". A message below the threshold is dropped whole.
  Logger& report(Severity severity, const char* text) {
    State& state = stateFor(this);
    state.flushPartial(*mOut);  // a message left without its "\n" still reaches the output
    if (static_cast<int>(severity) > static_cast<int>(mThreshold)) {
      state.setDropped(this, true);
      return *this;
    }
    const char* prefix = prefixFor(severity);
    if (prefix == nullptr) {
      // A severity outside TensorRT's scale is a programming error; stop even in release builds.
      std::fprintf(stderr, "%s:%d: Assertion `prefixMapping.find(severity) != prefixMapping.end()' failed.\n",
                   __FILE__, __LINE__);
      std::abort();
    }
    state.setDropped(this, false);
    state.append(*mOut, prefix);
    state.append(*mOut, text);
    return *this;
  }

  template <typename T>
  Logger& operator<<(const T& value) {
    State& state = stateFor(this);
    if (!state.dropped) state.append(*mOut, value);
    return *this;
  }

  // TensorRT's entry point.
  void log(Severity severity, const char* msg) noexcept override { report(severity, msg) << "\n"; }

 private:
  // What one thread is writing. Lines are assembled per thread and written whole, so lines from
  // several threads (TensorRT's and ours) never interleave within a line; on one thread the order
  // against printf output stays the order of the calls. The state is trivially destructible, and
  // its line buffer goes away with the thread, so a handle released from a static destructor at
  // exit can still log: its pieces are then written as they come.
  struct State {
    const Logger* owner = nullptr;
    bool dropped = false;                // the owner's message in progress is dropped
    std::ostringstream* line = nullptr;  // null once the thread's buffer is gone (thread or process exit)
    // Loggers whose message in progress on this thread is dropped, so that a message stays dropped
    // when another logger writes in between.
    std::array<const Logger*, 8> droppedBy{};

    void setDropped(const Logger* logger, bool value) {
      dropped = value;
      for (const Logger*& slot : droppedBy) {
        if (slot == logger) slot = nullptr;
      }
      if (!value) return;
      for (const Logger*& slot : droppedBy) {
        if (slot == nullptr) {
          slot = logger;
          return;
        }
      }
      droppedBy[0] = logger;
    }
    bool isDropped(const Logger* logger) const {
      for (const Logger* slot : droppedBy) {
        if (slot == logger) return true;
      }
      return false;
    }

    template <typename T>
    void append(std::ostream& out, const T& value) {
      if (line == nullptr) {
        std::lock_guard<std::mutex> lock(outputMutex());
        out << value;
        return;
      }
      *line << value;
      const std::string text = line->str();
      if (!text.empty() && text.back() == '\n') write(out, text);
    }
    void flushPartial(std::ostream& out) {
      if (line != nullptr && line->tellp() > 0) write(out, line->str());
    }
    void write(std::ostream& out, const std::string& text) {
      {
        std::lock_guard<std::mutex> lock(outputMutex());
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
      }
      line->str(std::string());
    }
  };

  // Owns a thread's line buffer; when it is destroyed the thread's State falls back to direct writes.
  struct LineBuffer {
    explicit LineBuffer(State& state) : state(state) { state.line = &buffer; }
    ~LineBuffer() {
      state.flushPartial(std::cout);
      state.line = nullptr;
    }
    State& state;
    std::ostringstream buffer;
  };

  static State& stateFor(const Logger* logger) {
    thread_local State state;
    thread_local LineBuffer buffer(state);  // made on the thread's first message
    (void)buffer;
    if (state.owner != logger) {
      // Another logger takes over this thread's output; a new logger writes even before its first report.
      state.flushPartial(std::cout);
      state.owner = logger;
      state.dropped = state.isDropped(logger);
    }
    return state;
  }

  static std::mutex& outputMutex() {
    static std::mutex mutex;  // trivially destructible: usable during exit
    return mutex;
  }

  static const char* prefixFor(Severity severity) {
    static constexpr std::array<std::pair<Severity, const char*>, 5> prefixMapping{{
        {Severity::kINTERNAL_ERROR, "[inferlet][F] "},
        {Severity::kERROR, "[inferlet][E] "},
        {Severity::kWARNING, "[inferlet][W] "},
        {Severity::kINFO, "[inferlet][I] "},
        {Severity::kVERBOSE, "[inferlet][V] "},
    }};
    for (const auto& entry : prefixMapping) {
      if (entry.first == severity) return entry.second;
    }
    return nullptr;
  }

  std::ostream* mOut;
  Severity mThreshold;
};

extern Logger gLogger;

#endif  // INFERLET_LOGGING_H_
