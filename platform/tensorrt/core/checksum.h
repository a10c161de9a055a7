// CRC-32 (the IEEE 802.3 polynomial, as zlib computes it) of the engine payload.
#ifndef TRT_STANDIN_CORE_CHECKSUM_H_
#define TRT_STANDIN_CORE_CHECKSUM_H_

#include <cstddef>
#include <cstdint>

namespace trt_standin {

uint32_t crc32(const void* data, std::size_t size);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_CHECKSUM_H_
