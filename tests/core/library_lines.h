// The library's own lines among what a construction printed, for the construction tests of both
// devices.
#ifndef INFERLET_TESTS_CORE_LIBRARY_LINES_H_
#define INFERLET_TESTS_CORE_LIBRARY_LINES_H_

#include <string>
#include <vector>

namespace inferlet_test {

// Lines without the ones TensorRT itself wrote through the logger.
std::vector<std::string> LibraryLines(const std::vector<std::string>& lines);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_CORE_LIBRARY_LINES_H_
