// A host of the installed sessions library, through its C++ wrapper. Modes:
//   sessions_host start        calls that reach the library but no device: the major it was built
//                              for, and a refused load through a Try form and as an exception
//   sessions_host run ENGINE   the smoke engine's two samples in0[r][j] = j % 10 + 100 r, in1 = 1 in
//                              host memory; prints out0's shape and the values the legacy host prints
//                              (out0[0][0] = 2, [0][8] = 7.5, [0][9] = 3.5, [1][0] = 102, [1][337] = 109)
#include <cstdio>
#include <inferlet_sessions.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kBatch = 2;
constexpr int kIn = 340;
constexpr int kOut = 338;

int Start() {
  inferlet::Engine engine;
  const inferlet::Status status = inferlet::Engine::TryLoad(nullptr, 0, 0, &engine);
  std::string thrown = "nothing";
  try {
    inferlet::Engine::Load(nullptr, 0);
  } catch (const inferlet::Error& error) {
    thrown = "code " + std::to_string(static_cast<int>(error.code())) + ": " + error.what();
  }
  std::printf("TensorRT %d (built for %d)\n", inferlet::TensorRtMajor(), SESSIONS_HOST_MAJOR);
  std::printf("TryLoad: code %d: %s\n", static_cast<int>(status.code()), status.message());
  std::printf("Load threw %s\n", thrown.c_str());
  return 0;
}

int Run(const char* engine_path) {
  std::vector<float> in0(kBatch * kIn), in1(kBatch * kIn, 1.0f), out0(kBatch * kOut);
  for (int r = 0; r < kBatch; ++r)
    for (int j = 0; j < kIn; ++j) in0[r * kIn + j] = float(j % 10 + 100 * r);
  try {
    inferlet::Session session(inferlet::Engine::LoadFile(engine_path));
    std::vector<inferlet::Output> outputs{{"out0", out0}};
    session.Run({{"in0", in0, {kBatch, kIn}}, {"in1", in1, {kBatch, kIn}}}, outputs);
    std::ostringstream shape;
    shape << outputs[0].shape;
    std::printf("shape %s\n", shape.str().c_str());
  } catch (const inferlet::Error& error) {
    std::fprintf(stderr, "sessions_host: code %d: %s\n", static_cast<int>(error.code()), error.what());
    return 1;
  }
  std::printf("out0 %g %g %g %g %g\n", out0[0], out0[8], out0[9], out0[kOut], out0[kOut + 337]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "start" && argc == 2) return Start();
  if (mode == "run" && argc == 3) return Run(argv[2]);
  std::fprintf(stderr, "usage: sessions_host start | run ENGINE\n");
  return 2;
}
