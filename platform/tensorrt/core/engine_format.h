// The engine file: a fixed header (magic, format version, TensorRT major, payload size, CRC-32 of
// the payload) followed by the network, all little-endian. README.md describes the layout.
#ifndef TRT_STANDIN_CORE_ENGINE_FORMAT_H_
#define TRT_STANDIN_CORE_ENGINE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph.h"
#include "network.h"

namespace trt_standin {

constexpr char kEngineMagic[8] = {'T', 'R', 'T', 'S', 'T', 'A', 'N', 'D'};
constexpr uint32_t kEngineFormatVersion = 2;  // 2: formats and locations of the I/O tensors
constexpr std::size_t kEngineHeaderSize = 24;

// Byte offsets of the header fields.
constexpr std::size_t kOffsetFormatVersion = 8;
constexpr std::size_t kOffsetMajor = 12;
constexpr std::size_t kOffsetPayloadSize = 16;
constexpr std::size_t kOffsetChecksum = 20;

std::vector<unsigned char> serialize_engine(const Network& network, uint32_t trt_major);

// Reads an engine built for trt_major. Never reads outside [data, data + size). On failure returns
// false with a one-line reason; the network is then checked by build_graph as well.
bool deserialize_engine(const void* data, std::size_t size, uint32_t trt_major, Graph* graph,
                        std::string* error);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_ENGINE_FORMAT_H_
