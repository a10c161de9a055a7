// The library's logger: TensorRT reports through it, and the library writes its own progress and
// errors through it with a stream-like interface. Every message is one line on standard output,
// led by a tag for its severity, e.g. "[inferlet][E] Enqueue failed".
#ifndef INFERLET_LOGGING_H_
#define INFERLET_LOGGING_H_

#include <NvInfer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <type_traits>

class Logger : public nvinfer1::ILogger {
 public:
  explicit Logger(Severity threshold = Severity::kINFO) : mThreshold(threshold) {}
  ~Logger() override = default;

  // Starts a message: the severity's prefix, then text. The values that follow with << complete it,
  // and the last of them ends it with "\n". A message below the threshold is dropped whole.
  Logger& report(Severity severity, const char* text) {
    Line& line = threadLine();
    line.write(std::cout);  // a message left without its "\n" still reaches the output
    if (static_cast<int>(severity) > static_cast<int>(mThreshold)) {
      line.dropping = this;  // stays dropped even when another logger writes in between
      return *this;
    }
    if (line.dropping == this) line.dropping = nullptr;
    const auto index = static_cast<unsigned>(severity);
    if (index >= std::size(kPrefixes)) {
      // Stops even in release builds. The text is the one hosts have always seen here, from a check
      // on a std::map named prefixMapping; the table is an array now, but whoever matches the text
      // (the logger's death test among them) still finds it.
      std::fprintf(stderr, "%s:%d: Assertion `prefixMapping.find(severity) != prefixMapping.end()' failed.\n",
                   __FILE__, __LINE__);
      std::abort();
    }
    return *this << kPrefixes[index] << text;
  }

  // Text is appended as it is; any other value with its standard stream insertion.
  template <typename T>
  Logger& operator<<(const T& value) {
    Line& line = threadLine();
    if (line.dropping == this) return *this;
    if constexpr (std::is_convertible_v<const T&, const char*>) {
      const char* text = value;
      line.append(std::cout, text ? text : "");
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      line.append(std::cout, value);
    } else {
      std::ostringstream text;
      text << value;
      line.append(std::cout, text.str());
    }
    return *this;
  }

  // TensorRT's entry point.
  void log(Severity severity, const char* msg) noexcept override { report(severity, msg) << "\n"; }

 private:
  static constexpr const char* kPrefixes[] = {"[inferlet][F] ", "[inferlet][E] ", "[inferlet][W] ",
                                              "[inferlet][I] ", "[inferlet][V] "};

  // The message a thread is writing, written whole under one lock when it ends in "\n" (or, left
  // unfinished, when the thread's next message starts): lines from TensorRT's threads and ours never
  // tear, and on one thread the order against printf stays the order of the calls. Trivially
  // destructible, so it stays usable from static destructors at exit. Only a line longer than the
  // buffer is written in pieces.
  struct Line {
    const Logger* dropping;  // the logger whose message in progress here is dropped
    size_t size;
    char text[2048];

    void append(std::ostream& out, std::string_view piece) {
      if (size + piece.size() > sizeof text) write(out);
      if (piece.size() > sizeof text) return put(out, piece);
      std::memcpy(text + size, piece.data(), piece.size());
      size += piece.size();
      if (size > 0 && text[size - 1] == '\n') write(out);
    }
    void write(std::ostream& out) {
      if (size > 0) put(out, {text, size});
      size = 0;
    }
    static void put(std::ostream& out, std::string_view piece) {
      static std::mutex output;  // trivially destructible in libstdc++: usable during exit
      std::lock_guard<std::mutex> lock(output);
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
  };
  static Line& threadLine() {
    static_assert(std::is_trivially_destructible_v<Line>);
    thread_local Line line{};
    return line;
  }

  Severity mThreshold;
};

extern Logger gLogger;

// The library's own messages: an empty report text, then the message streamed with <<.
inline Logger& logError() { return gLogger.report(nvinfer1::ILogger::Severity::kERROR, ""); }
inline Logger& logInfo() { return gLogger.report(nvinfer1::ILogger::Severity::kINFO, ""); }

#endif  // INFERLET_LOGGING_H_
