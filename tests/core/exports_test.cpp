// The deliverable of this test's TensorRT major exposes exactly the C interface, the logger and the
// smoke-test entry, and carries no CUDA runtime symbol or dependency of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// Standard output of a shell command and its exit status.
std::string CommandOutput(const std::string& command, int* status) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string output;
  if (!pipe) {
    *status = -1;
    return output;
  }
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) output.append(buf, n);
  *status = pclose(pipe.release());
  return output;
}

// Names of the global symbols the shared library defines in its dynamic symbol table.
std::vector<std::string> DefinedDynamicGlobals(const std::string& library) {
  int status = 0;
  const std::string listing = CommandOutput("nm -D --defined-only '" + library + "'", &status);
  EXPECT_EQ(status, 0) << "nm failed on " << library;
  std::vector<std::string> names;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string value, type, name;
    if (!(fields >> value >> type >> name)) continue;
    // Upper case marks a global binding ('A' is a version node, not code or data); 'u' is a GNU
    // unique global, which C++ inline statics become and which would be exported just the same.
    const bool global =
        type.size() == 1 && ((type[0] >= 'A' && type[0] <= 'Z' && type != "A") || type == "u");
    if (global) names.push_back(name);
  }
  return names;
}

std::vector<std::string> NeededLibraries(const std::string& library) {
  int status = 0;
  const std::string listing = CommandOutput("readelf -d '" + library + "'", &status);
  EXPECT_EQ(status, 0) << "readelf failed on " << library;
  std::vector<std::string> needed;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const auto open = line.find("(NEEDED)");
    if (open == std::string::npos) continue;
    const auto start = line.find('[');
    const auto end = line.find(']', start);
    if (start != std::string::npos && end != std::string::npos)
      needed.push_back(line.substr(start + 1, end - start - 1));
  }
  return needed;
}

TEST(Exports, DeliverableDefinesExactlyTheInterfaceLoggerAndMain) {
  EXPECT_THAT(DefinedDynamicGlobals(INFERLET_DELIVERABLE),
              UnorderedElementsAre("kestrel_trt_init", "kestrel_trt_uninit", "kestrel_trt_new",
                                   "kestrel_trt_process", "kestrel_trt_delete", "gLogger", "main"));
}

TEST(Exports, DeliverableNeedsNoSharedCudaRuntime) {
  const std::vector<std::string> needed = NeededLibraries(INFERLET_DELIVERABLE);
  EXPECT_THAT(needed, ::testing::Not(IsEmpty()));
  for (const std::string& library : needed)
    EXPECT_EQ(library.rfind("libcudart", 0), std::string::npos) << library;
  const std::string nvinfer = "libnvinfer.so." + std::to_string(INFERLET_TRT_MAJOR);
  EXPECT_THAT(needed, ::testing::Contains(nvinfer));
  EXPECT_THAT(needed, ::testing::Contains("libnvinfer_plugin.so." + std::to_string(INFERLET_TRT_MAJOR)));
}

}  // namespace
