// Structs that start with struct_size, the sizeof the host was compiled with, so that they can grow:
// the library reads and writes only that far (see "Versions" in inferlet_sessions.h).
#ifndef INFERLET_SESSIONS_SIZED_STRUCT_H_
#define INFERLET_SESSIONS_SIZED_STRUCT_H_

#include <cstddef>
#include <cstring>
#include <string>

#include "status.h"

namespace sessions {

// minimum_size: where the last field of the struct's first version ends; every host's reaches that.
inline Status checkStructSize(size_t host_size, size_t minimum_size, const char* what) {
  if (host_size >= minimum_size) return Status();
  return Status::failure(INFERLET_INVALID_ARGUMENT,
                         std::string(what) + ".struct_size " + std::to_string(host_size) + " is below the " +
                             std::to_string(minimum_size) + " bytes of its first version");
}

// The host's struct over `defaults`: fields it lacks keep theirs. A longer struct (a newer host's) is
// taken when the fields this library does not know are zero, their meaning "as before".
template <typename T>
Status readSized(const T& host, size_t minimum_size, const char* what, T* value) {
  Status status = checkStructSize(host.struct_size, minimum_size, what);
  if (!status.ok()) return status;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&host);
  for (size_t i = sizeof(T); i < host.struct_size; ++i) {
    if (bytes[i] != 0) {
      return Status::failure(INFERLET_INVALID_ARGUMENT,
                             std::string(what) + " sets fields this library does not know (byte " +
                                 std::to_string(i) + " of " + std::to_string(host.struct_size) +
                                 "): it knows the first " + std::to_string(sizeof(T)));
    }
  }
  const size_t known = host.struct_size < sizeof(T) ? host.struct_size : sizeof(T);
  std::memcpy(static_cast<void*>(value), &host, known);
  value->struct_size = sizeof(T);
  return Status();
}

// value into the host's struct, as far as it reaches; struct_size stays the host's.
template <typename T>
Status writeSized(const T& value, size_t minimum_size, const char* what, T* host) {
  const size_t host_size = host->struct_size;
  Status status = checkStructSize(host_size, minimum_size, what);
  if (!status.ok()) return status;
  std::memcpy(static_cast<void*>(host), &value, host_size < sizeof(T) ? host_size : sizeof(T));
  host->struct_size = host_size;
  return Status();
}

}  // namespace sessions

#endif  // INFERLET_SESSIONS_SIZED_STRUCT_H_
