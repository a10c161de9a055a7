// What lets the interface grow without breaking hosts built against an earlier version: structs read
// and written only as far as the host's struct_size reaches, the function table, and the tables every
// tool shares (codes' names, TensorRT's data types).
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "session_support.h"

namespace inferlet_test {
namespace {

// A struct as a host of another version lays it out: struct_size bytes of this header's struct, then
// zeros, then `tail` (a newer host's fields this library does not know).
template <typename Config>
struct HostStruct {
  Config config;
  unsigned char tail[16];
};

// How far a host's struct reaches, against this header's and version 2's.
enum class Reach { kThisHeader, kVersion2Fields, kVersion2Sizeof, kBelowVersion2, kZero, kNewer };

// One case of either sized config: what it reaches, the newer host's first unknown byte, a field to set
// (the engine config's device, the session config's memory_kinds; 0 leaves it) and the answer, or for
// an empty message and a refusal, the struct_size refusal its reach makes.
struct SizedCase {
  const char* what;
  bool session;  // inferlet_session_config, else inferlet_engine_config
  Reach reach;
  unsigned char tail_byte;
  int64_t field;
  Answer expected;
};

size_t StructSize(Reach reach, size_t full, size_t version2_fields, size_t version2_sizeof) {
  switch (reach) {
    case Reach::kThisHeader:
      return full;
    case Reach::kVersion2Fields:
      return version2_fields;
    case Reach::kVersion2Sizeof:
      return version2_sizeof;
    case Reach::kBelowVersion2:
      return version2_fields - 1;
    case Reach::kZero:
      return 0;
    case Reach::kNewer:
      break;
  }
  return full + 8;
}

Answer SizeRefusal(size_t struct_size, size_t full, size_t version2_fields) {
  if (struct_size > full) {
    return {INFERLET_INVALID_ARGUMENT, "config sets fields this library does not know (byte " +
                                           std::to_string(full + 7) + " of " + std::to_string(struct_size) +
                                           "): it knows the first " + std::to_string(full)};
  }
  return {INFERLET_INVALID_ARGUMENT, "config.struct_size " + std::to_string(struct_size) + " is below the " +
                                         std::to_string(version2_fields) + " bytes of its first version"};
}

// The struct laid out for c, handed to the library's function, and its answer checked.
template <typename Config, typename Apply>
void ApplySized(const SizedCase& c, size_t version2_fields, size_t version2_sizeof, Config init,
                void (*set_field)(Config*, int64_t), Apply apply) {
  const size_t full = sizeof(Config);
  HostStruct<Config> host;
  std::memset(&host, 0, sizeof host);
  host.config = init;
  if (c.field != 0) set_field(&host.config, c.field);
  host.config.struct_size = StructSize(c.reach, full, version2_fields, version2_sizeof);
  host.tail[full + 7 - sizeof(Config)] = c.tail_byte;
  const Answer answer = apply(host.config);
  if (c.expected.code != INFERLET_OK && c.expected.message.empty()) {
    EXPECT_EQ(answer, SizeRefusal(host.config.struct_size, full, version2_fields));
  } else {
    EXPECT_EQ(answer, c.expected);
  }
}

// Both sized configs are read as far as their struct_size reaches: version 2's fields at least, a newer
// host's struct when its unknown fields are zero, and a field beyond the host's reach keeps its default
// (memory_kinds lies beyond version 2's sizeof, tail padding included, so that an older host's padding
// is never read as it).
TEST(SizedConfigTest, IsReadAsFarAsItsStructSizeReaches) {
  const std::string smoke = ReadEngine("smoke");
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  const Answer by_reach{INFERLET_INVALID_ARGUMENT, ""};
  const SizedCase cases[] = {
      {"this header's", true, Reach::kThisHeader, 0, 0, {}},
      {"version 2's fields exactly", true, Reach::kVersion2Fields, 0, 0, {}},
      {"a newer host's, its unknown fields zero", true, Reach::kNewer, 0, 0, {}},
      {"shorter than version 2's", true, Reach::kBelowVersion2, 0, 0, by_reach},
      {"zero", true, Reach::kZero, 0, 0, by_reach},
      {"a newer host's, an unknown field set", true, Reach::kNewer, 1, 0, by_reach},
      {"memory_kinds is read",
       true,
       Reach::kThisHeader,
       0,
       16,
       {INFERLET_INVALID_ARGUMENT,
        "memory_kinds 16 has bits that are no memory kind: only 1 << INFERLET_MEMORY_HOST, 1 << "
        "INFERLET_MEMORY_PINNED and 1 << INFERLET_MEMORY_DEVICE (0: all)"}},
      {"memory_kinds beyond version 2's sizeof is not read", true, Reach::kVersion2Sizeof, 0, 16, {}},
      {"this header's", false, Reach::kThisHeader, 0, 0, {}},
      {"version 2's fields exactly", false, Reach::kVersion2Fields, 0, 0, {}},
      {"a newer host's, its unknown fields zero", false, Reach::kNewer, 0, 0, {}},
      {"its device is read",
       false,
       Reach::kThisHeader,
       0,
       1,
       {INFERLET_INVALID_ARGUMENT, "device 1 is not a CUDA device: the process sees 1 device(s)"}},
      {"shorter than version 2's", false, Reach::kBelowVersion2, 0, 0, by_reach},
      {"zero", false, Reach::kZero, 0, 0, by_reach},
      {"a newer host's, an unknown field set", false, Reach::kNewer, 1, 0, by_reach},
  };
  for (const SizedCase& c : cases) {
    SCOPED_TRACE(std::string(c.session ? "session config, " : "engine config, ") + c.what);
    if (c.session) {
      inferlet_session_config init;
      inferlet_session_config_init(&init);
      const size_t fields = offsetof(inferlet_session_config, phase_timing) + sizeof(int32_t);
      // Version 2's struct ended in phase_timing, padded to the alignment of its pointer.
      const size_t sizeof2 = (fields + alignof(void*) - 1) / alignof(void*) * alignof(void*);
      ApplySized<inferlet_session_config>(
          c, fields, sizeof2, init,
          [](inferlet_session_config* config, int64_t value) {
            config->memory_kinds = static_cast<uint64_t>(value);
          },
          [&](const inferlet_session_config& config) {
            inferlet_session* session = nullptr;
            Answer made = Take(inferlet_session_create_with_config(engine.get(), &config, &session));
            EXPECT_EQ(session != nullptr, made.code == INFERLET_OK);
            inferlet_session_release(session);
            return made;
          });
    } else {
      inferlet_engine_config init;
      inferlet_engine_config_init(&init);
      const size_t fields = offsetof(inferlet_engine_config, allow_host_code) + sizeof(int32_t);
      ApplySized<inferlet_engine_config>(
          c, fields, sizeof(inferlet_engine_config), init,
          [](inferlet_engine_config* config, int64_t value) { config->device = static_cast<int32_t>(value); },
          [&](const inferlet_engine_config& config) {
            inferlet_engine* loaded = nullptr;
            Answer made =
                Take(inferlet_engine_load_with_config(smoke.data(), smoke.size(), &config, &loaded));
            EXPECT_EQ(loaded != nullptr, made.code == INFERLET_OK);
            inferlet_engine_release(loaded);
            return made;
          });
    }
  }
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  EXPECT_EQ(config.struct_size, sizeof config);
  EXPECT_EQ(config.device, 0);
  EXPECT_EQ(config.allow_host_code, 0);
  EXPECT_EQ(Take(inferlet_engine_load_with_config(smoke.data(), smoke.size(), &config, nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
  inferlet_session_config session_config;
  inferlet_session_config_init(&session_config);
  EXPECT_EQ(session_config.struct_size, sizeof session_config);
  EXPECT_EQ(session_config.memory_kinds, 0u);
  EXPECT_EQ(sizeof session_config, offsetof(inferlet_session_config, memory_kinds) + sizeof(uint64_t));
}

TEST(SessionConfigTest, ItsValuesAreCheckedAsTheyAreRead) {
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  config.graph_cache_size = 0;
  inferlet_session* session = nullptr;
  EXPECT_EQ(Take(inferlet_session_create_with_config(engine.get(), &config, &session)),
            (Answer{INFERLET_INVALID_ARGUMENT, "graph_cache_size 0 is below 1"}));
  EXPECT_EQ(Take(inferlet_session_create_with_config(nullptr, &config, &session)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
  EXPECT_EQ(session, nullptr);
}

TEST(DataTypeTest, EveryTensorRtTypeIsDescribedOnce) {
  struct Expected {
    const char* name;
    const char* numpy_name;
    const char* npy_descr;
    char kind;
    int32_t bits;
  };
  const Expected types[] = {
      {"kFLOAT", "float32", "<f4", 'f', 32},
      {"kHALF", "float16", "<f2", 'f', 16},
      {"kINT8", "int8", "|i1", 'i', 8},
      {"kINT32", "int32", "<i4", 'i', 32},
      {"kBOOL", "bool", "|b1", 'b', 8},
      {"kUINT8", "uint8", "|u1", 'u', 8},
      {"kFP8", "float8_e4m3fn", "<V1", 'f', 8},
      {"kBF16", "bfloat16", "<V2", 'f', 16},
      {"kINT64", "int64", "<i8", 'i', 64},
      {"kINT4", "", "", 'i', 4},
      {"kFP4", "", "", 'f', 4},
      {"kE8M0", "float8_e8m0fnu", "<V1", 'f', 8},
  };
  for (int32_t dtype = 0; dtype < static_cast<int32_t>(std::size(types)); ++dtype) {
    SCOPED_TRACE(dtype);
    inferlet_data_type_info info;
    inferlet_data_type_info_init(&info);
    ASSERT_TRUE(Ok(inferlet_describe_data_type(dtype, &info)));
    EXPECT_STREQ(info.name, types[dtype].name);
    EXPECT_STREQ(info.numpy_name, types[dtype].numpy_name);
    EXPECT_STREQ(info.npy_descr, types[dtype].npy_descr);
    EXPECT_EQ(info.kind, types[dtype].kind);
    EXPECT_EQ(info.bits, types[dtype].bits);
    EXPECT_EQ(info.struct_size, sizeof info);
  }
  inferlet_data_type_info info;
  inferlet_data_type_info_init(&info);
  for (int32_t unknown : {-1, 12}) {
    EXPECT_EQ(Take(inferlet_describe_data_type(unknown, &info)),
              (Answer{INFERLET_INVALID_ARGUMENT,
                      "data type " + std::to_string(unknown) + " is not one of TensorRT's"}));
  }
  EXPECT_EQ(Take(inferlet_describe_data_type(0, nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "info is null"}));
}

TEST(DataTypeTest, ANewerHostsLongerStructKeepsItsTail) {
  // A host compiled against a later header: the fields this library does not know are left alone.
  struct {
    inferlet_data_type_info info;
    unsigned char tail[8];
  } host;
  std::memset(&host, 0xAB, sizeof host);
  host.info.struct_size = sizeof host;
  ASSERT_TRUE(Ok(inferlet_describe_data_type(7, &host.info)));
  EXPECT_STREQ(host.info.name, "kBF16");
  EXPECT_EQ(host.info.bits, 16);
  EXPECT_EQ(host.info.struct_size, sizeof host);
  for (unsigned char byte : host.tail) ASSERT_EQ(byte, 0xAB);

  host.info.struct_size = offsetof(inferlet_data_type_info, bits);
  EXPECT_EQ(Take(inferlet_describe_data_type(7, &host.info)),
            (Answer{INFERLET_INVALID_ARGUMENT,
                    "info.struct_size " + std::to_string(offsetof(inferlet_data_type_info, bits)) +
                        " is below the " + std::to_string(sizeof(inferlet_data_type_info)) +
                        " bytes of its first version"}));
}

// Each type's tensor in exactly the bytes its elements take: the 4-bit ones two a byte, an odd count's
// last byte half used. One byte fewer is refused.
TEST(DataTypeTest, EveryTypesTensorTakesExactlyItsPackedBytes) {
  if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " has five data types";
  EngineHandle engine = LoadEngine("dtypes_all");
  ASSERT_TRUE(engine);
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  int32_t count = 0;
  ASSERT_TRUE(Ok(inferlet_engine_tensor_count(engine.get(), &count)));
  const inferlet_shape shape = Shape({1, 3});
  std::vector<inferlet_tensor> inputs, outputs;
  std::vector<std::vector<unsigned char>> data(static_cast<size_t>(count));
  for (int32_t t = 0; t < count; ++t) {
    inferlet_tensor_info tensor{};
    inferlet_data_type_info type;
    inferlet_data_type_info_init(&type);
    ASSERT_TRUE(Ok(inferlet_engine_tensor_info(engine.get(), t, &tensor)));
    ASSERT_TRUE(Ok(inferlet_describe_data_type(tensor.dtype, &type)));
    std::vector<unsigned char>& bytes = data[static_cast<size_t>(t)];
    bytes.resize((3 * static_cast<size_t>(type.bits) + 7) / 8);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = type.kind == 'b' ? i % 2 : 0x31 + 16 * i + t;
    if (type.bits == 4) bytes.back() &= 0x0F;  // the unused half of the last byte
    if (!tensor.is_input) std::fill(bytes.begin(), bytes.end(), 0xEE);
    (tensor.is_input ? inputs : outputs)
        .push_back({tensor.name, INFERLET_MEMORY_HOST, bytes.data(), bytes.size(), shape});
  }
  ASSERT_TRUE(
      Ok(inferlet_session_run(session.get(), inputs.data(), inputs.size(), outputs.data(), outputs.size())));
  for (size_t j = 0; j < outputs.size(); ++j) {
    SCOPED_TRACE(outputs[j].name);
    const auto* in = static_cast<const unsigned char*>(inputs[j].data);
    const auto* out = static_cast<const unsigned char*>(outputs[j].data);
    EXPECT_EQ(outputs[j].bytes, inputs[j].bytes);
    EXPECT_EQ(std::vector<unsigned char>(out, out + outputs[j].bytes),
              std::vector<unsigned char>(in, in + inputs[j].bytes));
  }
  EXPECT_EQ(inputs[9].bytes, 2u);  // in_int4: three elements
  inputs[9].bytes = 1;
  EXPECT_EQ(
      Take(inferlet_session_run(session.get(), inputs.data(), inputs.size(), outputs.data(), outputs.size())),
      (Answer{INFERLET_BUFFER_TOO_SMALL, "input 'in_int4' has 1 bytes, its shape [1, 3] takes 2"}));
}

TEST(ApiTableTest, HasEveryFunctionInTheHeadersOrder) {
  static_assert(INFERLET_API_VERSION == 5, "this header is version 5");
  EXPECT_EQ(inferlet_get_api(0), nullptr);
  EXPECT_EQ(inferlet_get_api(INFERLET_API_VERSION + 1), nullptr);
  const inferlet_api* api = inferlet_get_api(INFERLET_API_VERSION);
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(inferlet_get_api(1), api);
  EXPECT_EQ(api->status_code, &inferlet_status_code);
  EXPECT_EQ(api->engine_load, &inferlet_engine_load);
  EXPECT_EQ(api->session_options_init, &inferlet_session_options_init);
  EXPECT_EQ(api->session_phase_times, &inferlet_session_phase_times);  // version 1's last
  EXPECT_EQ(api->code_name, &inferlet_code_name);                      // version 2's first
  EXPECT_EQ(api->session_create_with_config, &inferlet_session_create_with_config);
  EXPECT_EQ(api->engine_load_with_config, &inferlet_engine_load_with_config);  // version 2's last
  EXPECT_EQ(inferlet_get_api(2), api);
  EXPECT_EQ(api->plugin_library_load, &inferlet_plugin_library_load);  // version 3's first and last
  EXPECT_EQ(inferlet_get_api(3), api);
  EXPECT_EQ(api->session_resolve_output_bounds,
            &inferlet_session_resolve_output_bounds);                                    // version 4's first
  EXPECT_EQ(api->engine_profile_tensor_values, &inferlet_engine_profile_tensor_values);  // version 4's last
  EXPECT_EQ(inferlet_get_api(4), api);
  EXPECT_EQ(api->session_stream, &inferlet_session_stream);    // version 5's first
  EXPECT_EQ(api->memory_describe, &inferlet_memory_describe);  // version 5's last
  // Every member is set: the table is as long as the functions it lists.
  const auto* members = reinterpret_cast<void (*const*)()>(api);
  for (size_t i = 0; i < sizeof(inferlet_api) / sizeof(members[0]); ++i) EXPECT_NE(members[i], nullptr) << i;
}

TEST(CodeNameTest, NamesEveryCode) {
  EXPECT_STREQ(inferlet_code_name(INFERLET_OK), "INFERLET_OK");
  EXPECT_STREQ(inferlet_code_name(INFERLET_SHAPE_OUT_OF_PROFILE), "INFERLET_SHAPE_OUT_OF_PROFILE");
  EXPECT_STREQ(inferlet_code_name(INFERLET_INTERNAL_ERROR), "INFERLET_INTERNAL_ERROR");
  EXPECT_STREQ(inferlet_code_name(static_cast<inferlet_code>(14)), "INFERLET_UNKNOWN_CODE");
  for (int code = INFERLET_OK; code <= INFERLET_INTERNAL_ERROR; ++code) {
    const std::string name = inferlet_code_name(static_cast<inferlet_code>(code));
    EXPECT_EQ(name.rfind("INFERLET_", 0), 0u) << code;
    EXPECT_NE(name, "INFERLET_UNKNOWN_CODE") << code;
  }
}

}  // namespace
}  // namespace inferlet_test
