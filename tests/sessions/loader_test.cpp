// The loader's reader (src/loader/engine_reader.h), as inferlet-run and the Python package use it: which
// of the build's sessions libraries reads an engine of each major, what it describes, and the one line
// when no major reads the bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine_reader.h"

namespace {

using inferlet_loader::Candidate;
using inferlet_loader::NoneReads;
using inferlet_loader::ReadEngine;
using inferlet_loader::ReadOptions;

constexpr int kMajors[] = {INFERLET_LOADER_TEST_MAJORS};  // in the order the tools try them

std::string LibraryPath(int major) {
  return std::string(INFERLET_LIB_DIR) + "/libinferlet_sessions" + std::to_string(major) + ".so";
}

std::vector<Candidate> EveryMajor() {
  std::vector<Candidate> candidates;
  for (int major : kMajors) candidates.push_back({major, LibraryPath(major)});
  return candidates;
}

std::string EngineBytes(const std::string& name, int major) {
  std::ifstream in(std::string(INFERLET_ENGINE_DIR) + "/" + name + "-trt" + std::to_string(major) + ".engine",
                   std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

constexpr char kHostCodeHint[] =
    "; if it is a version-compatible engine, it holds host code: load it with allow_host_code set";

ReadOptions Quiet() {
  ReadOptions options;
  options.capture_tensorrt_errors = true;
  return options;
}

// Each major's engine is read by its own library, and described: the two-profile sample's tensors,
// types, formats, properties and every tensor at each profile's points, outputs resolved.
TEST(EngineReader, EachMajorsEngineIsReadByItsOwnLibraryAndDescribed) {
  for (int major : kMajors) {
    const std::string bytes = EngineBytes("two_profiles", major);
    ASSERT_FALSE(bytes.empty()) << major;
    const inferlet_loader::EngineReading reading =
        ReadEngine(bytes.data(), bytes.size(), EveryMajor(), Quiet());
    ASSERT_NE(reading.engine.get(), nullptr);
    EXPECT_EQ(reading.library->major(), major);
    EXPECT_EQ(reading.library->path(), LibraryPath(major));
    const inferlet_loader::EngineDescription& d = reading.description;
    EXPECT_EQ(d.trt_major, major);
    EXPECT_EQ(d.name, "two_profiles");
    EXPECT_EQ(d.max_batch_size, 1);
    EXPECT_FALSE(d.refittable);
    EXPECT_EQ(d.binding_count, 6);
    EXPECT_TRUE(d.dynamic_shapes);
    ASSERT_EQ(d.tensors.size(), 3u);
    EXPECT_EQ(d.tensors[2].name, "out0");
    EXPECT_FALSE(d.tensors[2].is_input);
    EXPECT_STREQ(d.tensors[2].type.name, "kFLOAT");
    EXPECT_EQ(d.tensors[2].formats, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(d.tensors[2].dims, (inferlet_loader::Dims{-1, 4, 8}));
    ASSERT_EQ(d.profiles.size(), 2u);
    EXPECT_EQ(d.profiles[1].min[2], (inferlet_loader::Dims{1, 4, 8}));
    EXPECT_EQ(d.profiles[1].opt[2], (inferlet_loader::Dims{8, 4, 8}));
    EXPECT_EQ(d.profiles[1].max[0], (inferlet_loader::Dims{16, 4, 8}));
    EXPECT_EQ(d.profiles[1].max[2], (inferlet_loader::Dims{16, 4, 8}));
    EXPECT_GT(d.context_bytes, 0u);
  }
}

struct Unread {
  std::string name;
  std::string bytes;
  std::vector<Candidate> candidates;
  std::string line;
};

std::string MajorsInOrder() {
  std::string majors;
  for (int major : kMajors) majors += (majors.empty() ? "" : ", ") + std::to_string(major);
  return majors;
}

// Bytes no candidate reads: one line, the refusal of every major when they agree, else the first's;
// a library that cannot be opened is passed over, and when none can, the first load error is the line.
TEST(EngineReader, BytesNoMajorReadsAreSaidInOneLine) {
  if (std::size(kMajors) < 2) GTEST_SKIP() << "the build has one major";
  const int first = kMajors[0], other = kMajors[1];
  const std::string missing = "/nonexistent/libinferlet_sessions9.so";
  const std::string refused_by_first =
      "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: the engine was built "
      "for TensorRT " +
      std::to_string(other) + ", this runtime is TensorRT " + std::to_string(first) + "; rebuild the engine)";
  const Unread cases[] = {
      {"not an engine", "this is not an engine", EveryMajor(),
       "no TensorRT major of this build (" + MajorsInOrder() +
           ") reads it: not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: magic "
           "tag does not match: not an engine file)"},
      {"another major's engine, one candidate",
       EngineBytes("smoke", other),
       {{first, LibraryPath(first)}},
       refused_by_first},
      {"another major's engine and a library that is not there",
       EngineBytes("smoke", other),
       {{9, missing}, {first, LibraryPath(first)}},
       refused_by_first},
      {"no library at all",
       "x",
       {{9, missing}},
       "cannot load " + missing + ": " + missing +
           ": cannot open shared object file: No such file or directory"},
  };
  for (const Unread& c : cases) {
    try {
      ReadEngine(c.bytes.data(), c.bytes.size(), c.candidates, Quiet());
      ADD_FAILURE() << c.name << ": read";
    } catch (const NoneReads& none) {
      EXPECT_EQ(none.what(), c.line) << c.name;
    }
  }
}

// A version-compatible engine is read by its major only with host code allowed; without, the refusals say
// that host code may be why.
TEST(EngineReader, AVersionCompatibleEngineIsReadOnlyWithHostCodeAllowed) {
  for (int major : kMajors) {
    if (major < 10) continue;
    SCOPED_TRACE(major);
    const std::string bytes = EngineBytes("version_compatible", major);
    ASSERT_FALSE(bytes.empty());
    ReadOptions allowed = Quiet();
    allowed.allow_host_code = true;
    const inferlet_loader::EngineReading reading =
        ReadEngine(bytes.data(), bytes.size(), EveryMajor(), allowed);
    EXPECT_EQ(reading.library->major(), major);
    EXPECT_EQ(reading.description.name, "version_compatible");
    try {
      ReadEngine(bytes.data(), bytes.size(), EveryMajor(), Quiet());
      ADD_FAILURE() << "read without host code allowed";
    } catch (const NoneReads& none) {
      EXPECT_TRUE(inferlet_loader::HostCodeMayBeWhy(none.refusals(), Quiet()));
      EXPECT_FALSE(inferlet_loader::HostCodeMayBeWhy(none.refusals(), allowed));
    }
  }
}

// Several majors that disagree: the majors tried, and each one's reason.
TEST(EngineReader, MajorsThatDisagreeNameEachOnesReason) {
  if (std::size(kMajors) < 3) GTEST_SKIP() << "the build has fewer than three majors";
  const int engine_major = kMajors[0];
  const std::vector<Candidate> every = EveryMajor();
  const std::vector<Candidate> others(every.begin() + 1, every.end());
  const std::string bytes = EngineBytes("smoke", engine_major);
  try {
    ReadEngine(bytes.data(), bytes.size(), others, Quiet());
    ADD_FAILURE() << "read";
  } catch (const NoneReads& none) {
    ASSERT_EQ(none.refusals().size(), others.size());
    EXPECT_EQ(none.refusals()[0].code, INFERLET_ENGINE_REFUSED);
    EXPECT_EQ(none.refusals()[0].message, "TensorRT " + std::to_string(others[0].major) +
                                              " could not deserialize the " + std::to_string(bytes.size()) +
                                              " bytes as an engine (TensorRT: deserializeCudaEngine: the "
                                              "engine was built for TensorRT " +
                                              std::to_string(engine_major) + ", this runtime is TensorRT " +
                                              std::to_string(others[0].major) + "; rebuild the engine)" +
                                              (others[0].major >= 10 ? kHostCodeHint : ""));
    std::string majors, reasons;
    for (size_t i = 0; i < others.size(); ++i) {
      majors += (majors.empty() ? "" : ", ") + std::to_string(others[i].major);
      reasons += "; TensorRT " + std::to_string(others[i].major) + ": " + none.refusals()[i].Reason();
    }
    EXPECT_EQ(std::string(none.what()),
              "no TensorRT major of this build (" + majors + ") reads it" + reasons);
  }
}

// The library of the test plugin ScaleOffset that a sessions library of the major takes: one that
// registers itself when loaded on 7 and 8, one with loadLibrary's entry points from 10 on.
std::string PluginLibrary(int major, const std::string& kind = "") {
  return std::string(INFERLET_BUILD_DIR) + "/trt" + std::to_string(major) + "/plugins/libtest_plugin_" +
         (kind.empty() ? (major >= 10 ? "entry" : "static") : kind) + ".so";
}

// With plugin libraries each candidate loads them before it reads the bytes; one that does not take
// them refuses (plugin set) and the next is tried: the libraries of the majors before the engine's
// pass over its plugin library, its own reads it. One major per process (a case each): a process holds
// the plugin libraries of one TensorRT 7 or 8 (docs/sessions.md, "Plugins").
class EachMajor : public testing::TestWithParam<int> {};

TEST_P(EachMajor, EachCandidateLoadsThePluginLibrariesBeforeItReads) {
  const int major = GetParam();
  const std::string bytes = EngineBytes("custom_plugin", major);
  ReadOptions options = Quiet();
  options.plugins = {PluginLibrary(major)};
  const inferlet_loader::EngineReading reading =
      ReadEngine(bytes.data(), bytes.size(), EveryMajor(), options);
  EXPECT_EQ(reading.library->major(), major);
  EXPECT_EQ(reading.description.name, "custom_plugin");
}
INSTANTIATE_TEST_SUITE_P(Plugins, EachMajor, testing::ValuesIn(kMajors),
                         [](const testing::TestParamInfo<int>& info) {
                           return "trt" + std::to_string(info.param);
                         });

TEST(EngineReader, PluginLibraryNoCandidateTakesIsEachOnesRefusal) {
  // A library no candidate takes: each one's refusal, marked as about the plugin library.
  const std::string empty = PluginLibrary(kMajors[0], "empty");
  ReadOptions options = Quiet();
  options.plugins = {empty};
  const std::string bytes = EngineBytes("custom_plugin", kMajors[0]);
  try {
    ReadEngine(bytes.data(), bytes.size(), {{kMajors[0], LibraryPath(kMajors[0])}}, options);
    ADD_FAILURE() << "read";
  } catch (const NoneReads& none) {
    ASSERT_EQ(none.refusals().size(), 1u);
    EXPECT_TRUE(none.refusals()[0].plugin);
    EXPECT_EQ(none.refusals()[0].code, INFERLET_INVALID_ARGUMENT);
    EXPECT_EQ(
        none.refusals()[0].message.rfind("plugin library '" + empty + "' registered no plugin creator", 0),
        0u)
        << none.refusals()[0].message;
  }
}

}  // namespace
