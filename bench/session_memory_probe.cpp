// What N sessions of one engine hold, counted by the emulated device: its live device and pinned bytes
// once the engine is loaded and once a session is made on each of profiles 0 to N-1, and what the
// sessions report. The sessions library is loaded with dlopen and driven through its function table,
// so that one probe measures any build of it (bench/session_memory.sh: the library before and after a
// change), and the emulated device it shares with the probe is this process's one.
//
//   inferlet_session_memory_probe LIBRARY ENGINE SESSIONS all|device
//
// Prints one line: "sessions=N kinds=K engine_device=B device=B pinned=B reported=B", the bytes live on
// the device (device memory, pinned host memory) less those before the engine, and the sum of
// inferlet_session_device_memory. `device` sets memory_kinds to device memory alone, which a library
// without that field refuses as a field it does not know; `all` leaves it 0, which any library takes.
#include <cudaemu.h>
#include <dlfcn.h>
#include <inferlet_sessions.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "inferlet_session_memory_probe: %s\n", what.c_str());
  return 1;
}

size_t LivePinnedBytes() { return cudaemu_live_bytes() - cudaemu_live_device_bytes(); }

// The message of a failed status, released; empty for success.
std::string Taken(const inferlet_api& api, inferlet_status* status) {
  std::string message = status ? api.status_message(status) : "";
  api.status_release(status);
  return message;
}

struct Counted {
  size_t engine_device = 0, device = 0, pinned = 0, reported = 0;
};

int Measure(const inferlet_api& api, const std::string& bytes, int sessions, bool device_only, Counted* out) {
  const size_t device_before = cudaemu_live_device_bytes(), pinned_before = LivePinnedBytes();
  inferlet_engine* engine = nullptr;
  std::string failure = Taken(api, api.engine_load(bytes.data(), bytes.size(), 0, &engine));
  if (!failure.empty()) return Fail("engine_load: " + failure);
  out->engine_device = cudaemu_live_device_bytes() - device_before;
  std::vector<inferlet_session*> made;
  for (int s = 0; s < sessions && failure.empty(); ++s) {
    inferlet_session_config config;
    inferlet_session_config_init(&config);
    config.profile = s;
    config.memory_kinds = device_only ? uint64_t{1} << INFERLET_MEMORY_DEVICE : 0;
    inferlet_session* session = nullptr;
    failure = Taken(api, api.session_create_with_config(engine, &config, &session));
    if (!failure.empty()) break;
    made.push_back(session);
    size_t reported = 0;
    failure = Taken(api, api.session_device_memory(session, &reported));
    out->reported += reported;
  }
  out->device = cudaemu_live_device_bytes() - device_before;
  out->pinned = LivePinnedBytes() - pinned_before;
  for (inferlet_session* session : made) api.session_release(session);
  api.engine_release(engine);
  return failure.empty() ? 0 : Fail("session: " + failure);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return Fail("usage: inferlet_session_memory_probe LIBRARY ENGINE SESSIONS all|device");
  const std::string kinds = argv[4];
  if (kinds != "all" && kinds != "device") return Fail("kinds is all or device, not " + kinds);
  std::ifstream file(argv[2], std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (bytes.empty()) return Fail(std::string("cannot read ") + argv[2]);
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) return Fail(dlerror());
  const auto get_api = reinterpret_cast<inferlet_get_api_fn>(dlsym(library, "inferlet_get_api"));
  const inferlet_api* api = get_api ? get_api(2) : nullptr;  // version 2's members are all it uses
  if (!api) return Fail("no table of version 2");
  const int sessions = std::atoi(argv[3]);
  Counted counted;
  if (Measure(*api, bytes, sessions, kinds == "device", &counted) != 0) return 1;
  std::printf("sessions=%d kinds=%s engine_device=%zu device=%zu pinned=%zu reported=%zu\n", sessions,
              kinds.c_str(), counted.engine_device, counted.device, counted.pinned, counted.reported);
  return 0;
}
