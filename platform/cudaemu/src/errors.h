// Names and texts of cudaError_t values.
#ifndef CUDAEMU_SRC_ERRORS_H_
#define CUDAEMU_SRC_ERRORS_H_

namespace cudaemu {

// Both answer "unrecognized error code" for a value the runtime does not define.
const char* error_name(int code);
const char* error_text(int code);

// Looks up a code by its enumerator name ("cudaErrorMemoryAllocation").
bool parse_error_code(const char* name, int* code);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_ERRORS_H_
