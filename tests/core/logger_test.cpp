// The logger as a user of the library sees it on standard output: one line per message, led by the
// severity's tag, messages below the threshold dropped whole, and safe to use from several threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "logging.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using Severity = nvinfer1::ILogger::Severity;

template <typename Body>
std::string Captured(Body body) {
  StdoutCapture capture;
  body();
  return capture.Stop();
}

TEST(Logger, EachSeverityHasItsPrefixAndTensorRtMessagesBecomeWholeLines) {
  Logger everything(Severity::kVERBOSE);
  const std::string out = Captured([&] {
    everything.log(Severity::kINTERNAL_ERROR, "internal");
    everything.log(Severity::kERROR, "error");
    everything.log(Severity::kWARNING, "warning");
    everything.log(Severity::kINFO, "info");
    everything.log(Severity::kVERBOSE, "verbose");
  });
  EXPECT_EQ(out,
            "[inferlet][F] internal\n"
            "[inferlet][E] error\n"
            "[inferlet][W] warning\n"
            "[inferlet][I] info\n"
            "[inferlet][V] verbose\n");
}

TEST(Logger, GlobalLoggerDropsVerboseMessagesWithoutEvenTheNewline) {
  EXPECT_EQ(Captured([] { gLogger.log(Severity::kVERBOSE, "chatty"); }), "");
  EXPECT_EQ(Captured([] { gLogger.report(Severity::kVERBOSE, "") << "dropped " << 42 << "\n"; }), "");
  EXPECT_EQ(Captured([] { gLogger.log(Severity::kINFO, "kept"); }), "[inferlet][I] kept\n");
}

TEST(Logger, DroppedMessageDoesNotSwallowTheNextOne) {
  const std::string out = Captured([] {
    gLogger.report(Severity::kVERBOSE, "") << "noise " << 7 << "\n";
    gLogger.report(Severity::kERROR, "") << "real problem\n";
  });
  EXPECT_EQ(out, "[inferlet][E] real problem\n");
}

TEST(Logger, StreamsValuesWithTheStandardInsertions) {
  const std::string out = Captured([] {
    gLogger.report(Severity::kINFO, "") << "flag " << true << " off " << false << " n " << -17 << " big "
                                        << 18446744073709551615UL << " s " << std::string("text") << "\n";
  });
  EXPECT_EQ(out, "[inferlet][I] flag 1 off 0 n -17 big 18446744073709551615 s text\n");
}

TEST(Logger, ReportTextFollowsThePrefixDirectly) {
  const std::string out = Captured([] { gLogger.report(Severity::kWARNING, "GPU") << " is warm\n"; });
  EXPECT_EQ(out, "[inferlet][W] GPU is warm\n");
}

TEST(Logger, ErrorThresholdKeepsOnlyErrorsAndInternalErrors) {
  Logger errors_only(Severity::kERROR);
  const std::string out = Captured([&] {
    errors_only.log(Severity::kINTERNAL_ERROR, "a");
    errors_only.log(Severity::kERROR, "b");
    errors_only.log(Severity::kWARNING, "c");
    errors_only.log(Severity::kINFO, "d");
    errors_only.log(Severity::kVERBOSE, "e");
    errors_only.report(Severity::kWARNING, "") << "f" << 1 << "\n";
  });
  EXPECT_EQ(out, "[inferlet][F] a\n[inferlet][E] b\n");
}

// The library writes descriptions with printf and messages with the logger; a reader must see them in
// the order they were written.
TEST(Logger, LinesKeepTheirOrderAgainstPrintf) {
  const std::string out = Captured([] {
    std::printf("first\n");
    gLogger.report(Severity::kINFO, "") << "second " << 2 << "\n";
    std::printf("third\n");
    gLogger.log(Severity::kWARNING, "fourth");
    std::puts("fifth");
  });
  EXPECT_EQ(out, "first\n[inferlet][I] second 2\nthird\n[inferlet][W] fourth\nfifth\n");
}

// A whole line given as the report text is a complete message; it must not wait for a later message.
TEST(Logger, LineGivenWholeToReportIsWrittenAtOnce) {
  const std::string out = Captured([] {
    gLogger.report(Severity::kWARNING, "whole line\n");
    std::printf("after\n");
  });
  EXPECT_EQ(out, "[inferlet][W] whole line\nafter\n");
}

// Lines are assembled in a fixed per-thread buffer; one longer than it must still come out whole and in
// order, and a message left without its "\n" is written when the next one starts.
TEST(Logger, LongLinesAndUnfinishedMessagesReachTheOutputComplete) {
  const std::string long_text(5000, 'x');
  const std::string out = Captured([&] {
    gLogger.report(Severity::kINFO, "") << "head " << long_text << " " << 12 << " tail\n";
    gLogger.report(Severity::kERROR, "") << "unfinished";
    gLogger.report(Severity::kWARNING, "") << "next\n";
  });
  EXPECT_EQ(out,
            "[inferlet][I] head " + long_text + " 12 tail\n[inferlet][E] unfinished[inferlet][W] next\n");
}

// The threshold is applied first, so only a value outside the scale that is not above the threshold
// reaches the prefix lookup; that one stops the process even in a release build.
TEST(LoggerDeathTest, SeverityOutsideTheScaleStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(gLogger.log(static_cast<Severity>(-1), "x"), "prefixMapping");
  EXPECT_DEATH(gLogger.report(static_cast<Severity>(-1000), "") << "x\n", "prefixMapping");
  EXPECT_EQ(Captured([] { gLogger.log(static_cast<Severity>(5), "beyond verbose"); }), "");
}

// Whether a message is being dropped belongs to the logger it was started on; another logger writing
// in between must not revive the rest of a dropped message.
TEST(Logger, RestOfADroppedMessageStaysDroppedAfterAnotherLoggerWrites) {
  Logger other(Severity::kINFO);
  const std::string out = Captured([&] {
    gLogger.report(Severity::kVERBOSE, "") << "dropped start ";
    other.report(Severity::kERROR, "") << "other line\n";
    gLogger << "dropped rest\n";
  });
  EXPECT_EQ(out, "[inferlet][E] other line\n");
}

// TensorRT logs from its own threads while the library logs from the caller's: every captured line
// must be exactly one whole message.
TEST(Logger, MessagesFromEightThreadsNeverTearWithinALine) {
  constexpr int kThreads = 8;
  constexpr int kMessages = 300;
  auto message = [](int t, int i) {
    return "thread " + std::to_string(t) + " message " + std::to_string(i) + " " +
           std::string(t + 20, 'a' + t);
  };
  const std::string out = Captured([&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kMessages; ++i) {
          if (i % 2 == 0) {
            gLogger.report(Severity::kINFO, "")
                << "thread " << t << " message " << i << " " << std::string(t + 20, 'a' + t) << "\n";
          } else {
            gLogger.log(Severity::kWARNING, ("thread " + std::to_string(t) + " message " + std::to_string(i) +
                                             " " + std::string(t + 20, 'a' + t))
                                                .c_str());
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  });

  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kMessages; ++i) {
      expected[std::string(i % 2 == 0 ? "[inferlet][I] " : "[inferlet][W] ") + message(t, i)] += 1;
    }
  }
  std::map<std::string, int> seen;
  for (const std::string& line : SplitLines(out)) seen[line] += 1;
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace inferlet_test
