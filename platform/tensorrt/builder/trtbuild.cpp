// trtbuild --trt MAJOR NETWORK.json -o ENGINE: compiles a network description into an engine file for
// one of the majors this stand-in is built for (TRT_STANDIN_MAJORS_LIST, ascending).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "engine_format.h"
#include "graph.h"
#include "network_json.h"

namespace {

constexpr int kExitDescription = 1;
constexpr int kExitUsage = 2;

constexpr int kMajors[] = {TRT_STANDIN_MAJORS_LIST};

// The majors joined by separator, the last two by last_separator ("a|b|c", or "a, b or c").
std::string Majors(const std::string& separator, const std::string& last_separator) {
  std::string text;
  const size_t count = std::size(kMajors);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += i + 1 == count ? last_separator : separator;
    text += std::to_string(kMajors[i]);
  }
  return text;
}

std::string Usage() { return "usage: trtbuild --trt " + Majors("|", "|") + " NETWORK.json -o ENGINE\n"; }

std::string Help() {
  return "Compiles a network description (JSON: inputs, outputs, layers, optimization profiles) into an\n"
         "engine file that the stand-in TensorRT of the given major deserializes. The format is described\n"
         "under \"Network description\" in platform/tensorrt/README.md; platform/tensorrt/samples/ holds\n"
         "examples.\n"
         "\n"
         "  --trt MAJOR    TensorRT major the engine is built for: " +
         Majors(", ", " or ") +
         "\n"
         "  -o ENGINE      engine file to write\n"
         "  -h, --help     print this help and exit\n"
         "\n"
         "Exit status: 0 success, 1 a description that cannot be read or built, or an engine that cannot\n"
         "be written, 2 bad command line.\n";
}

int usage(const std::string& problem) {
  std::cerr << "trtbuild: " << problem << "\n" << Usage();
  return kExitUsage;
}

bool KnownMajor(const std::string& text) {
  for (int major : kMajors)
    if (text == std::to_string(major)) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string major, input, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << Usage() << Help();
      return 0;
    }
    if ((arg == "--trt" || arg == "-o") && i + 1 < argc) {
      (arg == "--trt" ? major : output) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return usage("unknown or incomplete option '" + arg + "'");
    } else if (input.empty()) {
      input = arg;
    } else {
      return usage("more than one network description given");
    }
  }
  if (!KnownMajor(major)) return usage("--trt must be " + Majors(", ", " or "));
  if (input.empty()) return usage("no network description given");
  if (output.empty()) return usage("no output file given (-o ENGINE)");

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << "trtbuild: " << input << ": cannot open: " << std::strerror(errno) << "\n";
    return kExitDescription;
  }
  std::ostringstream text;
  text << in.rdbuf();

  trt_standin::Network network;
  trt_standin::Graph graph;
  std::string error;
  const auto trt_major = static_cast<uint32_t>(std::stoul(major));
  if (!trt_standin::network_from_json(text.str(), &network, &error) ||
      !trt_standin::check_network_of_major(network, trt_major, &error) ||
      !trt_standin::build_graph(network, &graph, &error)) {
    std::cerr << "trtbuild: " << input << ": " << error << "\n";
    return kExitDescription;
  }

  const std::vector<unsigned char> engine = trt_standin::serialize_engine(network, trt_major);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(engine.data()), static_cast<std::streamsize>(engine.size()));
  out.close();
  if (!out) {
    std::cerr << "trtbuild: " << output << ": cannot write the engine\n";
    std::remove(output.c_str());
    return kExitDescription;
  }
  return 0;
}
