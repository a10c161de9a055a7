// Deleting a handle as a host sees it on any device: its line, then the two close lines. The order of
// the releases and what is left afterwards are checked on the emulated device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine_infer.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::ElementsAre;

class Teardown : public FreshPlatformTest {};

TEST_F(Teardown, DeletePrintsItsLineThenTheTwoCloseLines) {
  const auto outcome = CallNew(ReadEngine("smoke"), SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  int rc = -2;
  const auto lines = CapturedLines([&] { rc = kestrel_trt_delete(outcome.handle); });
  EXPECT_EQ(rc, 0);
  const long long address = static_cast<long long>(reinterpret_cast<intptr_t>(outcome.handle));
  EXPECT_THAT(lines, ElementsAre("kestrel_trt_delete " + std::to_string(address),
                                 "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok"));
}

}  // namespace
}  // namespace inferlet_test
