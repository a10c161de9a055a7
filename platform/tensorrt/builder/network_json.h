// Reads a network description (JSON, see README.md) into a Network.
#ifndef TRT_STANDIN_BUILDER_NETWORK_JSON_H_
#define TRT_STANDIN_BUILDER_NETWORK_JSON_H_

#include <string>

#include "network.h"

namespace trt_standin {

// On failure returns false with "<key path>: <problem>", e.g. "layers[2].weights: expected 512 values".
// Checks the form of the description; build_graph checks that the network makes sense.
bool network_from_json(const std::string& text, Network* network, std::string* error);

}  // namespace trt_standin

#endif  // TRT_STANDIN_BUILDER_NETWORK_JSON_H_
