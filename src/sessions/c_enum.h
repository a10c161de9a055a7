// Enumerations the host hands in: in C any int is a value of an enumeration, while C++ may assume only
// those in the range of its enumerators. Reading the stored integer keeps a host's stray value defined.
#ifndef INFERLET_SESSIONS_C_ENUM_H_
#define INFERLET_SESSIONS_C_ENUM_H_

#include <cstring>
#include <type_traits>

namespace sessions {

template <typename Enum>
int cEnumValue(const Enum& value) {
  std::underlying_type_t<Enum> raw;
  std::memcpy(&raw, &value, sizeof raw);
  return static_cast<int>(raw);
}

}  // namespace sessions

#endif  // INFERLET_SESSIONS_C_ENUM_H_
