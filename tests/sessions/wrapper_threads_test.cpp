// The wrapper's log function replaced while other threads log through it: each call runs a whole
// function, every function replaced is released, and the threads' calls are unaffected.
#include <atomic>
#include <thread>

#include "wrapper_support.h"

namespace inferlet_test {
namespace {

TEST_F(WrapperTest, TheLogFunctionMayBeReplacedWhileThreadsLog) {
  constexpr int kThreads = 3, kRounds = 10;
  const std::string bytes = ReadEngine("static_batch");
  std::atomic<long> lines{0};
  std::atomic<int> finished{0};
  std::vector<std::weak_ptr<int>> replaced;
  auto replace = [&] {
    const auto token = std::make_shared<int>(static_cast<int>(replaced.size()));
    replaced.push_back(token);
    inferlet::SetLog(
        [token, &lines](inferlet::LogLevel, std::string_view message) {
          EXPECT_FALSE(message.empty());
          EXPECT_GE(*token, 0);  // the function's own state is alive while it runs
          ++lines;
        },
        inferlet::LogLevel::kVerbose);
  };
  replace();  // before the threads start, so that they log from their first call
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kRounds; ++k) {
        inferlet::Session session(inferlet::Engine::Load(bytes));  // TensorRT's lines and the library's
        const Tensor in0 = Pattern(32, t * 100 + k);
        Tensor out0(32);
        std::vector<inferlet::Output> outputs{{"out0", out0}};
        session.Run({{"in0", in0, {4, 8}}}, outputs);
        EXPECT_TRUE(Matches(out0, ReluReference(in0, 32)));
      }
      ++finished;
    });
  }
  // Replaced over and over for as long as the threads run.
  while (finished < kThreads) {
    replace();
    std::this_thread::yield();
  }
  for (std::thread& thread : threads) thread.join();
  inferlet::SetLog(nullptr);
  EXPECT_GT(lines.load(), 0);
  for (const std::weak_ptr<int>& token : replaced) EXPECT_TRUE(token.expired());
}

}  // namespace
}  // namespace inferlet_test
