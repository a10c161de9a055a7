// A host of the installed library. Modes:
//   host lifecycle              the calls that need no engine
//   host inputs DIR             writes DIR/in0.npy and DIR/in1.npy, two samples of the smoke network
//   host run ENGINE             runs those two samples through the smoke engine, prints chosen outputs
//   host outputs FILE.npy       prints the same chosen values from a saved out0.npy
// Inputs: in0[r][j] = j % 10 + 100 r, in1 = 1. The smoke network smooths in0 + in1 along each row with
// the weights 0.25, 0.5, 0.25, so out0[0][0] = 2, out0[0][8] = 7.5, out0[0][9] = 3.5, out0[1][0] = 102
// and out0[1][337] = 109.
#include <kestrel_trt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kBatch = 2;
constexpr int kIn = 340;
constexpr int kOut = 338;

std::vector<float> Input(int which) {
  std::vector<float> data(kBatch * kIn);
  for (int r = 0; r < kBatch; ++r)
    for (int j = 0; j < kIn; ++j) data[r * kIn + j] = which == 0 ? float(j % 10 + 100 * r) : 1.0f;
  return data;
}

void PrintChosen(const float* out) {
  std::printf("out0 %g %g %g %g %g\n", out[0], out[8], out[9], out[kOut], out[kOut + 337]);
}

bool WriteNpy(const std::string& path, const std::vector<float>& data) {
  std::string header = "{'descr': '<f4', 'fortran_order': False, 'shape': (2, 340), }";
  header.append(64 - (10 + header.size() + 1) % 64, ' ');
  header += '\n';
  std::ofstream out(path, std::ios::binary);
  const unsigned char len[2] = {static_cast<unsigned char>(header.size() & 0xff),
                                static_cast<unsigned char>(header.size() >> 8)};
  out.write("\x93NUMPY\x01\x00", 8);
  out.write(reinterpret_cast<const char*>(len), 2);
  out << header;
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size() * sizeof(float)));
  return bool(out);
}

std::vector<char> ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int Run(const char* engine_path) {
  std::vector<char> engine = ReadFile(engine_path);
  std::vector<std::vector<std::vector<int>>> in_shapes{{{10, kIn}, {10, kIn}}};
  std::vector<std::vector<int>> in_item_sizes{{4, 4}};
  std::vector<std::vector<std::vector<int>>> out_shapes{{{10, kOut}}};
  std::vector<std::vector<int>> out_item_sizes{{4}};
  trt_engine_core* handle = nullptr;
  if (kestrel_trt_new(engine.data(), int(engine.size()), 0, false, in_shapes, in_item_sizes, out_shapes,
                      out_item_sizes, &handle) != 0)
    return 1;
  const std::vector<float> in0 = Input(0), in1 = Input(1);
  const void* inputs[] = {in0.data(), in1.data()};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {0};
  const int code = kestrel_trt_process(handle, 0, inputs, 2, kBatch, outputs, output_lens);
  std::printf("process %d bytes %d\n", code, output_lens[0]);
  if (code == 0) PrintChosen(static_cast<const float*>(outputs[0]));
  kestrel_trt_delete(handle);
  return code == 0 ? 0 : 1;
}

int Outputs(const char* path) {
  const std::vector<char> file = ReadFile(path);
  if (file.size() < 10 || std::memcmp(file.data(), "\x93NUMPY", 6) != 0) return 1;
  const size_t header = 10 + (unsigned char)file[8] + 256u * (unsigned char)file[9];
  if (file.size() != header + kBatch * kOut * sizeof(float)) return 1;
  std::vector<float> data(kBatch * kOut);
  std::memcpy(data.data(), file.data() + header, data.size() * sizeof(float));
  PrintChosen(data.data());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "lifecycle") {
    std::printf("init %d delete(null) %d uninit %d\n", kestrel_trt_init(), kestrel_trt_delete(nullptr),
                kestrel_trt_uninit());
    return 0;
  }
  if (mode == "inputs" && argc == 3) {
    const std::string dir = argv[2];
    return WriteNpy(dir + "/in0.npy", Input(0)) && WriteNpy(dir + "/in1.npy", Input(1)) ? 0 : 1;
  }
  if (mode == "run" && argc == 3) return Run(argv[2]);
  if (mode == "outputs" && argc == 3) return Outputs(argv[2]);
  std::fprintf(stderr, "usage: host lifecycle | inputs DIR | run ENGINE | outputs FILE.npy\n");
  return 2;
}
