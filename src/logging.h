// The library's logger: TensorRT reports through it, and the library writes its own progress and
// errors through it with a stream-like interface. Every message is one line on standard output,
// led by a tag for its severity, e.g. "[inferlet][E] Enqueue failed".
#ifndef INFERLET_LOGGING_H_
#define INFERLET_LOGGING_H_

#include <NvInfer.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

class Logger : public nvinfer1::ILogger {
 public:
  explicit Logger(Severity threshold = Severity::kINFO) : mOut(&std::cout), mThreshold(threshold) {}
  ~Logger() override = default;

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Starts a message: the severity's prefix, then text. The values that follow with << complete it,
  // and the last of them ends it with "\n". A message below the threshold is dropped whole.
  Logger& report(Severity severity, const char* text) {
    Pending& pending = pendingFor(this);
    pending.flushPartial(*mOut);  // a message left without its "\n" still reaches the output
    if (static_cast<int>(severity) > static_cast<int>(mThreshold)) {
      pending.dropped = true;
      return *this;
    }
    const auto prefix = prefixMapping().find(severity);
    if (prefix == prefixMapping().end()) {
      // A severity outside TensorRT's scale is a programming error; stop even in release builds.
      std::fprintf(stderr, "%s:%d: Assertion `prefixMapping.find(severity) != prefixMapping.end()' failed.\n",
                   __FILE__, __LINE__);
      std::abort();
    }
    pending.dropped = false;
    pending.line << prefix->second << text;
    pending.emitIfComplete(*mOut);  // a text that ends in "\n" is a whole message already
    return *this;
  }

  template <typename T>
  Logger& operator<<(const T& value) {
    Pending& pending = pendingFor(this);
    if (!pending.dropped) {
      pending.line << value;
      pending.emitIfComplete(*mOut);
    }
    return *this;
  }

  // TensorRT's entry point.
  void log(Severity severity, const char* msg) noexcept override { report(severity, msg) << "\n"; }

 private:
  // The message a thread is writing. Lines are assembled per thread and written whole, so lines
  // from several threads (TensorRT's and ours) never interleave within a line; on one thread the
  // order against printf output stays the order of the calls.
  struct Pending {
    const Logger* owner = nullptr;
    bool dropped = false;
    std::map<const Logger*, bool> droppedBy;  // state of the other loggers' messages on this thread
    std::ostringstream line;

    void emitIfComplete(std::ostream& out) {
      const std::string& text = line.str();
      if (!text.empty() && text.back() == '\n') write(out, text);
    }
    void flushPartial(std::ostream& out) {
      if (line.tellp() > 0) write(out, line.str());
    }
    void write(std::ostream& out, const std::string& text) {
      {
        std::lock_guard<std::mutex> lock(outputMutex());
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
      }
      line.str(std::string());
    }
  };

  static Pending& pendingFor(const Logger* logger) {
    thread_local Pending pending;
    if (pending.owner != logger) {
      pending.flushPartial(std::cout);
      if (pending.owner) pending.droppedBy[pending.owner] = pending.dropped;
      pending.owner = logger;
      const auto known = pending.droppedBy.find(logger);
      pending.dropped = known != pending.droppedBy.end() && known->second;  // a fresh logger writes
    }
    return pending;
  }

  static std::mutex& outputMutex() {
    static std::mutex mutex;
    return mutex;
  }

  static const std::map<Severity, std::string>& prefixMapping() {
    static const std::map<Severity, std::string> mapping{
        {Severity::kINTERNAL_ERROR, "[inferlet][F] "}, {Severity::kERROR, "[inferlet][E] "},
        {Severity::kWARNING, "[inferlet][W] "},        {Severity::kINFO, "[inferlet][I] "},
        {Severity::kVERBOSE, "[inferlet][V] "},
    };
    return mapping;
  }

  std::ostream* mOut;
  Severity mThreshold;
};

extern Logger gLogger;

#endif  // INFERLET_LOGGING_H_
