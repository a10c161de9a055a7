// TensorRT's data types as the tools see them: one table, numbered as nvinfer1::DataType.
#ifndef INFERLET_SESSIONS_DATA_TYPES_H_
#define INFERLET_SESSIONS_DATA_TYPES_H_

#include <cstdint>

#include "inferlet_sessions.h"

namespace sessions {

// The entry of dtype (struct_size of this build), or null for a value that is no TensorRT data type.
const inferlet_data_type_info* dataTypeInfo(int32_t dtype);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_DATA_TYPES_H_
