#include "test_support.h"

#include <trt_standin.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "device_state.h"

namespace inferlet_test {

ModelConfig SmokeConfig() { return {{{{10, 340}, {10, 340}}}, {{4, 4}}, {{{10, 338}}}, {{4}}}; }

ModelConfig TwoProfilesConfig() {
  return {{{{4, 4, 8}, {4, 4, 8}}, {{16, 4, 8}, {16, 4, 8}}},
          {{4, 4}, {4, 4}},
          {{{4, 4, 8}}, {{16, 4, 8}}},
          {{4}, {4}}};
}

ModelConfig MixedRankConfig() { return {{{{8, 8}, {8, 4, 8}}}, {{4, 4}}, {{{8, 8}, {8, 4, 8}}}, {{4, 4}}}; }

ModelConfig MlpConfig() { return {{{{32, 16}}}, {{4}}, {{{32, 4}}}, {{4}}}; }

std::string EnginePath(const std::string& name) {
  return std::string(INFERLET_ENGINE_DIR) + "/" + name + "-trt" + std::to_string(INFERLET_TRT_MAJOR) +
         ".engine";
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string ReadEngine(const std::string& name) { return ReadFile(EnginePath(name)); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SmokeConstructionLines() {
  return {
      "[inferlet][I] CUDA Graph is 0",
      "[inferlet][I] Loading trt_engine_core ... ",
      "mEngine Name smoke,max_batch_size 1,isRefittable 0",
      "bind 0,name in0 IsInput 1 , dtype 0",
      "shape:",
      "-1 340 ",
      "bind 1,name in1 IsInput 1 , dtype 0",
      "shape:",
      "-1 340 ",
      "bind 2,name out0 IsInput 0 , dtype 0",
      "shape:",
      "-1 338 ",
      "[inferlet][I] getNbBindings 3,getNbOptimizationProfiles 1,numBindingPerProfile 3",
      "[inferlet][I] Variable length is enabled: << mEnableVariableLen",
  };
}

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

void FreshPlatformTest::SetUp() {
  ResetDevice();
  trt_standin_reset();
}

}  // namespace inferlet_test
