// Generated weights for network descriptions: {"fill": "random", "seed": S} and {"fill": "constant"}.
#ifndef TRT_STANDIN_BUILDER_WEIGHT_FILL_H_
#define TRT_STANDIN_BUILDER_WEIGHT_FILL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trt_standin {

// count values uniform in [-1, 1): splitmix64 from seed, top 24 bits of each output scaled.
// The sequence is fixed so that engines and expected results can be reproduced anywhere.
std::vector<float> random_weights(uint64_t seed, std::size_t count);

}  // namespace trt_standin

#endif  // TRT_STANDIN_BUILDER_WEIGHT_FILL_H_
