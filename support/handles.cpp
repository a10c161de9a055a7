#include "handles.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace inferlet_test {

StdoutCapture::StdoutCapture() {
  std::cout.flush();
  std::fflush(stdout);
  char path[] = "/tmp/inferlet-stdout-XXXXXX";
  capture_fd_ = mkstemp(path);
  if (capture_fd_ < 0) throw std::runtime_error("mkstemp failed");
  unlink(path);
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(capture_fd_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
  if (saved_fd_ >= 0) Stop();
}

std::string StdoutCapture::Stop() {
  std::cout.flush();
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  saved_fd_ = -1;
  std::string text;
  lseek(capture_fd_, 0, SEEK_SET);
  char buf[4096];
  for (ssize_t n; (n = read(capture_fd_, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(capture_fd_);
  capture_fd_ = -1;
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> CapturedLines(const std::function<void()>& body) {
  StdoutCapture capture;
  body();
  return SplitLines(capture.Stop());
}

void HandleDeleter::operator()(trt_engine_core* handle) const {
  if (!quiet) {
    kestrel_trt_delete(handle);
    return;
  }
  StdoutCapture capture;
  kestrel_trt_delete(handle);
}

namespace {

int New(const std::string& engine, const ModelConfig& config, int device_id, bool use_cuda_graph,
        trt_engine_core** handle) {
  ModelConfig copy = config;
  return kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), device_id, use_cuda_graph,
                         copy.in_shapes, copy.in_item_sizes, copy.out_shapes, copy.out_item_sizes, handle);
}

}  // namespace

Handle NewHandle(const std::string& engine, const ModelConfig& config, bool use_cuda_graph) {
  trt_engine_core* handle = nullptr;
  const int code = New(engine, config, 0, use_cuda_graph, &handle);
  return Handle(code == 0 ? handle : nullptr);
}

Handle NewHandle(const SampleModel& model, bool use_cuda_graph) {
  return NewHandle(model.engine, model.config, use_cuda_graph);
}

trt_engine_core* UntouchedHandle() {
  static char marker;
  return reinterpret_cast<trt_engine_core*>(&marker);
}

NewOutcome CallNew(const std::string& engine, const ModelConfig& config, int device_id, bool use_cuda_graph) {
  NewOutcome outcome;
  outcome.handle = UntouchedHandle();
  outcome.lines =
      CapturedLines([&] { outcome.rc = New(engine, config, device_id, use_cuda_graph, &outcome.handle); });
  return outcome;
}

std::vector<std::string> DeleteHandle(trt_engine_core* handle) {
  return CapturedLines([&] { kestrel_trt_delete(handle); });
}

CallInputs::CallInputs(const ModelConfig& config, int profile, int batch_size, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 12345u;
  for (const std::vector<int>& shape : config.in_shapes.at(static_cast<size_t>(profile))) {
    size_t per_sample = 1;
    for (size_t d = 1; d < shape.size(); ++d) per_sample *= static_cast<size_t>(shape[d]);
    std::vector<float> values(per_sample * static_cast<size_t>(batch_size > 0 ? batch_size : 0));
    for (float& value : values) {
      state = state * 1664525u + 1013904223u;
      value = static_cast<float>(static_cast<int>(state >> 20) - 2048) / 512.0f;  // [-4, 4), exact in float
    }
    buffers_.push_back(std::move(values));
  }
  for (const std::vector<float>& values : buffers_) pointers_.push_back(values.data());
}

CallResult Call(trt_engine_core* handle, const ModelConfig& config, int profile, int batch_size,
                uint32_t seed, int input_num_delta) {
  const CallInputs inputs(config, profile, batch_size, seed);
  const size_t n_out = config.out_shapes.at(static_cast<size_t>(profile)).size();
  std::vector<void*> outputs(n_out, nullptr);
  std::vector<int> output_lens(n_out, 0);
  CallResult result;
  result.code = kestrel_trt_process(handle, profile, inputs.pointers(), inputs.count() + input_num_delta,
                                    batch_size, outputs.data(), output_lens.data());
  if (result.code == 0) {
    for (size_t j = 0; j < n_out; ++j) {
      result.outputs.emplace_back(static_cast<const char*>(outputs[j]), static_cast<size_t>(output_lens[j]));
    }
  }
  return result;
}

uint64_t Fingerprint(const CallResult& result) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (const std::string& output : result.outputs) {
    for (int shift = 0; shift < 64; shift += 8) mix(static_cast<unsigned char>(output.size() >> shift));
    for (char byte : output) mix(static_cast<unsigned char>(byte));
  }
  return hash;
}

}  // namespace inferlet_test
