// Cases that steer or read the emulated device (fault injection, call counts and traces, live-object
// counts), written once beside the cases that run on any device. Their fixtures are named
// <Something>OnEmulator, and that name is what tests/CMakeLists.txt labels `emulator`, so that
// `ctest -LE emulator` on a GPU leaves out exactly them.
//
//   INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, Case) { ... }
//   INFERLET_EMULATOR_TEST_P(CudaFaultOnEmulator, Case) { ... }
//   INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(Prefix, CudaFaultOnEmulator, generator, namer);
//
// On the emulated device these are TEST_F, TEST_P and INSTANTIATE_TEST_SUITE_P. On a real GPU the
// build has no libcudaemu.so, so none of their code may reach the linker: each case registers as one
// that skips with the reason (a parameterized case once, not per parameter), and its body becomes the
// member of a class template that is never instantiated. The compiler still checks every name the
// body uses that does not depend on the template (all of them), but emits nothing of it. The same
// holds for a suite's instantiation.
//
// Helpers of these cases that reach the emulated device must stay out of the link the same way: define
// them in the fixture's class or make them inline, function templates included (an inline function is
// emitted only where an emitted function uses it, while GCC emits every instantiation of a template of
// the file's unnamed namespace that is not inline, as it does unused static functions at -O0); support
// sources of their own are the EMULATOR_SUPPORT of inferlet_add_test, compiled only on the emulated
// device. A real device's build that still needed libcudaemu.so would fail to link, and CI builds these
// executables for the real runtime.
#ifndef INFERLET_TESTS_SUPPORT_EMULATOR_CASE_H_
#define INFERLET_TESTS_SUPPORT_EMULATOR_CASE_H_

#include <gtest/gtest.h>

#include <string_view>

#if !INFERLET_TEST_EMULATED_DEVICE
#include <tuple>
#endif

namespace inferlet_test {

inline constexpr std::string_view kOnEmulatorSuffix = "OnEmulator";

constexpr bool NamedOnEmulator(std::string_view fixture) {
  return fixture.size() > kOnEmulatorSuffix.size() &&
         fixture.substr(fixture.size() - kOnEmulatorSuffix.size()) == kOnEmulatorSuffix;
}

#if !INFERLET_TEST_EMULATED_DEVICE
// An emulator-only case as a real device runs it.
class SkippedOffEmulator : public ::testing::Test {
  void TestBody() override {
    GTEST_SKIP() << "needs the emulated CUDA device, which it steers or reads; this build runs on a real one";
  }
};

inline ::testing::TestInfo* RegisterSkippedOffEmulator(const char* suite, const char* name, const char* file,
                                                       int line) {
  // GoogleTest takes the case it creates and deletes it after the run.
  return ::testing::RegisterTest(suite, name, nullptr, nullptr, file, line,
                                 []() -> SkippedOffEmulator* { return new SkippedOffEmulator; });
}
#endif

}  // namespace inferlet_test

#define INFERLET_EMULATOR_FIXTURE_NAME_CHECK_(fixture)                          \
  static_assert(::inferlet_test::NamedOnEmulator(#fixture),                     \
                "the fixture of an emulator-only case is named ...OnEmulator, " \
                "which labels the case emulator")

#if INFERLET_TEST_EMULATED_DEVICE

#define INFERLET_EMULATOR_TEST_F(fixture, name)   \
  INFERLET_EMULATOR_FIXTURE_NAME_CHECK_(fixture); \
  TEST_F(fixture, name)

#define INFERLET_EMULATOR_TEST_P(fixture, name)   \
  INFERLET_EMULATOR_FIXTURE_NAME_CHECK_(fixture); \
  TEST_P(fixture, name)

#define INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(prefix, fixture, ...) \
  INSTANTIATE_TEST_SUITE_P(prefix, fixture, __VA_ARGS__)

#else

#define INFERLET_EMULATOR_CASE_OFF_EMULATOR_(fixture, name)                             \
  INFERLET_EMULATOR_FIXTURE_NAME_CHECK_(fixture);                                       \
  [[maybe_unused]] ::testing::TestInfo* const fixture##_##name##_skipped_ =             \
      ::inferlet_test::RegisterSkippedOffEmulator(#fixture, #name, __FILE__, __LINE__); \
  template <typename>                                                                   \
  class fixture##_##name##_NeverInstantiated_ : public fixture {                        \
    void TestBody() override;                                                           \
  };                                                                                    \
  template <typename Unused>                                                            \
  void fixture##_##name##_NeverInstantiated_<Unused>::TestBody()

#define INFERLET_EMULATOR_TEST_F(fixture, name) INFERLET_EMULATOR_CASE_OFF_EMULATOR_(fixture, name)
#define INFERLET_EMULATOR_TEST_P(fixture, name) INFERLET_EMULATOR_CASE_OFF_EMULATOR_(fixture, name)

#define INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(prefix, fixture, ...)  \
  INFERLET_EMULATOR_FIXTURE_NAME_CHECK_(fixture);                         \
  template <typename>                                                     \
  void prefix##_##fixture##_NeverInstantiated_() {                        \
    [[maybe_unused]] const auto arguments = std::make_tuple(__VA_ARGS__); \
  }

#endif

#endif  // INFERLET_TESTS_SUPPORT_EMULATOR_CASE_H_
