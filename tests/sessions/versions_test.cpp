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

// A config as a host of another version lays it out: struct_size bytes of this header's config, then
// zeros, then `tail` (a newer host's fields this library does not know).
struct HostConfig {
  inferlet_session_config config;
  unsigned char tail[16];
};

struct ConfigSize {
  const char* what;
  size_t struct_size;
  unsigned char tail_byte;
  Answer expected;
};

TEST(SessionConfigTest, IsReadAsFarAsItsStructSizeReaches) {
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  const size_t full = sizeof(inferlet_session_config);
  const size_t version2 = offsetof(inferlet_session_config, phase_timing) + sizeof(int32_t);
  const ConfigSize cases[] = {
      {"this header's", full, 0, {}},
      {"version 2's fields exactly", version2, 0, {}},
      {"a newer host's, its unknown fields zero", full + 8, 0, {}},
      {"shorter than version 2's",
       version2 - 1,
       0,
       {INFERLET_INVALID_ARGUMENT, "config.struct_size " + std::to_string(version2 - 1) + " is below the " +
                                       std::to_string(version2) + " bytes of its first version"}},
      {"zero",
       0,
       0,
       {INFERLET_INVALID_ARGUMENT,
        "config.struct_size 0 is below the " + std::to_string(version2) + " bytes of its first version"}},
      {"a newer host's, an unknown field set",
       full + 8,
       1,
       {INFERLET_INVALID_ARGUMENT, "config sets fields this library does not know (byte " +
                                       std::to_string(full + 7) + " of " + std::to_string(full + 8) +
                                       "): it knows the first " + std::to_string(full)}},
  };
  for (const ConfigSize& c : cases) {
    SCOPED_TRACE(c.what);
    HostConfig host;
    std::memset(&host, 0, sizeof host);
    inferlet_session_config_init(&host.config);
    host.config.struct_size = c.struct_size;
    host.tail[7] = c.tail_byte;
    inferlet_session* session = nullptr;
    EXPECT_EQ(Take(inferlet_session_create_with_config(engine.get(), &host.config, &session)), c.expected);
    EXPECT_EQ(session != nullptr, c.expected.code == INFERLET_OK);
    inferlet_session_release(session);
  }
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
  static_assert(INFERLET_API_VERSION == 3, "this header is version 3");
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
