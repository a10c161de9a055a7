// A host for the smoke-test driver: loads a deliverable the way an application does and calls its
// exported main, with /root/marlinx/model.trt replaced for this process only.
//
//   inferlet_smoke_host <deliverable.so> <engine file>   model.trt is a copy of the engine file
//   inferlet_smoke_host <deliverable.so> --empty         model.trt exists and is empty
//   inferlet_smoke_host <deliverable.so> --missing       there is no model.trt
//
// Standard output is the driver's. On standard error: "main returned <n>" after the call.
// Exit status 0 after the call, kNoNamespace where private mounts are unavailable (reason on
// standard error), 1 for any other problem.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "private_root.h"

namespace {

constexpr int kNoNamespace = 77;
constexpr const char* kModelPath = "/root/marlinx/model.trt";

int Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: inferlet_smoke_host <deliverable.so> <engine file>|--empty|--missing");
  const std::string deliverable = argv[1];
  const std::string model = argv[2];

  std::string engine;
  if (model != "--empty" && model != "--missing") {
    std::ifstream file(model, std::ios::binary);
    if (!file) return Fail("cannot read " + model);
    engine.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // The namespace comes first: a user namespace can only be entered while the process has one thread.
  inferlet_test::PrivateRoot root;
  std::string why;
  if (!root.EnterNamespace(&why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return kNoNamespace;
  }
  if (!root.MountView(model != "--missing", &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return root.refused() ? kNoNamespace : 1;
  }
  if (model != "--missing") {
    std::ofstream out(kModelPath, std::ios::binary);
    out.write(engine.data(), static_cast<std::streamsize>(engine.size()));
    if (!out.flush()) return Fail("cannot write the private model.trt");
  }

  void* library = dlopen(deliverable.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Fail(std::string("dlopen: ") + dlerror());
  using EntryPoint = int (*)();
  auto entry = reinterpret_cast<EntryPoint>(dlsym(library, "main"));
  if (entry == nullptr) return Fail(std::string("dlsym(main): ") + dlerror());

  const int result = entry();
  std::fflush(stdout);
  std::fprintf(stderr, "main returned %d\n", result);
  return 0;
}
