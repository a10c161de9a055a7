#include "run_files.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "exit_codes.h"

namespace inferlet_run {

void PrepareOutputDir(const std::string& dir) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec))
    throw ToolError{kExitOutput, fmt::format("--save-outputs {}: not a directory", dir)};
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir))
    throw ToolError{kExitOutput, fmt::format("--save-outputs {}: cannot create the directory: {}", dir,
                                             ec ? ec.message() : "it is not a directory")};
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    throw ToolError{kExitOutput,
                    fmt::format("--save-outputs {}: cannot write into it: {}", dir, std::strerror(errno))};
}

std::ofstream OpenTimesFile(const std::string& path) {
  std::ofstream out(path, std::ios::trunc);
  if (!out)
    throw ToolError{kExitOutput,
                    fmt::format("--export-times {}: cannot write: {}", path, std::strerror(errno))};
  return out;
}

void WriteTimes(std::ofstream& out, const std::string& path, const std::vector<double>& starts_us,
                const std::vector<double>& latencies_us) {
  out << "[\n";
  for (size_t i = 0; i < latencies_us.size(); ++i)
    out << nlohmann::ordered_json{{"call", i + 1},
                                  {"start_us", starts_us[i]},
                                  {"latency_us", latencies_us[i]}}
               .dump()
        << (i + 1 < latencies_us.size() ? ",\n" : "\n");
  out << "]\n";
  out.flush();
  if (!out) throw ToolError{kExitOutput, fmt::format("--export-times {}: cannot write the file", path)};
}

void WriteSessionTimes(std::ofstream& out, const std::string& path,
                       const std::vector<std::vector<double>>& starts_us,
                       const std::vector<std::vector<double>>& latencies_us) {
  size_t left = 0;
  for (const std::vector<double>& l : latencies_us) left += l.size();
  out << "[\n";
  for (size_t s = 0; s < latencies_us.size(); ++s)
    for (size_t i = 0; i < latencies_us[s].size(); ++i)
      out << nlohmann::ordered_json{{"session", s},
                                    {"call", i + 1},
                                    {"start_us", starts_us[s][i]},
                                    {"latency_us", latencies_us[s][i]}}
                 .dump()
          << (--left > 0 ? ",\n" : "\n");
  out << "]\n";
  out.flush();
  if (!out) throw ToolError{kExitOutput, fmt::format("--export-times {}: cannot write the file", path)};
}

std::string OutputFile(const std::string& dir, const std::string& output) {
  std::string file = output;
  for (char& c : file)
    if (c == '/' || c == '\0') c = '_';
  return dir + "/" + file + ".npy";
}

NpyArray OutputArray(const OutputResult& r, const void* data, const TensorConfig& t) {
  NpyArray a;
  const long long sample = t.SampleBytes();
  const bool whole = sample > 0 && r.bytes == sample * r.shape[0];
  // Typed at the shape the call wrote, which may be no batch of the configured samples (a data-dependent
  // output's, an output a shape tensor shapes).
  long long shaped = r.typed ? t.item_size : -1;
  for (int d : r.shape) shaped = d < 0 ? -1 : shaped * d;
  const bool typed = shaped >= 0 && r.bytes == shaped;
  a.descr = typed ? r.dtype.npy_descr : kNpyBytes;
  if (!typed && whole) {
    a.shape = {static_cast<size_t>(r.shape[0]), static_cast<size_t>(sample)};
  } else if (!typed) {
    a.shape = {static_cast<size_t>(r.bytes)};
  } else {
    a.shape.assign(r.shape.begin(), r.shape.end());
  }
  a.data.assign(static_cast<const char*>(data), static_cast<size_t>(r.bytes));
  return a;
}

void SaveOutput(const std::string& dir, OutputResult& r, const void* data, const TensorConfig& t) {
  const NpyArray a = OutputArray(r, data, t);
  r.saved_to = OutputFile(dir, r.name);
  WriteNpy(r.saved_to, a);
}

}  // namespace inferlet_run
