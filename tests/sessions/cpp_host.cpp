// A C++ host of the sessions interface: loads the smoke engine named on its command line, describes
// it, runs one call and prints a few of the outputs.
#include <inferlet_sessions.hpp>
#include <iostream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: cpp_host SMOKE_ENGINE\n";
    return 2;
  }
  // Errors and warnings, the library's and TensorRT's, to standard error.
  inferlet::SetLog([](inferlet::LogLevel, std::string_view message) { std::cerr << message << '\n'; });
  try {
    inferlet::Engine engine = inferlet::Engine::LoadFile(argv[1]);  // on device 0
    for (const inferlet::TensorInfo& tensor : engine.Tensors()) {   // in the engine's order
      std::cout << (tensor.is_input ? "input " : "output ") << tensor.name << ' ' << tensor.shape << '\n';
    }
    const inferlet::ShapeRange range = engine.ProfileShapes(/*profile=*/0, /*input_index=*/0);
    std::cout << "in0 takes " << range.min << " to " << range.max << '\n';

    inferlet::Session session(engine);  // profile 0, no graphs, its own stream; holds the engine

    std::vector<float> in0(2 * 340), in1(2 * 340, 1.0f), out0(2 * 338);
    for (size_t k = 0; k < in0.size(); ++k) in0[k] = float(k % 340 % 10 + 100 * (k / 340));
    std::vector<inferlet::Output> outputs{{"out0", out0}};  // host memory unless a kind is named
    session.Enqueue({{"in0", in0, {2, 340}}, {"in1", in1, {2, 340}}}, outputs);
    // ... the host's own work; host-memory inputs may already be reused ...
    session.Wait();  // out0 holds the result (Run does both)
    std::cout << "out0 " << outputs[0].shape << ": " << out0[0] << ' ' << out0[8] << ' ' << out0[9] << ' '
              << out0[338] << ' ' << out0[338 + 337] << '\n';

    // The Try forms answer a Status instead of throwing: the engine has dynamic shapes, so profile 0
    // serves one session at a time.
    inferlet::Session second;
    const inferlet::Status status = inferlet::Session::TryCreate(engine, {}, &second);
    std::cout << "second session: " << (status.ok() ? "made" : status.message()) << '\n';
  } catch (const inferlet::Error& error) {
    std::cerr << "inferlet error " << static_cast<int>(error.code()) << ": " << error.what() << '\n';
    return 1;
  }
  return 0;
}
