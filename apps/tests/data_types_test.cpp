// TensorRT's data types as inferlet-run serves them, every one of the sessions library's table: what
// reports call them, how their bytes read as numbers, how random inputs of each are made, checksums
// and the .npy files of each.
#include "data_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "compare.h"
#include "npy.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::TempDir;
using inferlet_run_test::TestDataTypes;
using inferlet_run_test::TestType;

struct TypeCase {
  int value;
  const char* report_name;
  const char* descr;
  int size;
  // Two elements' bytes and their values; their checksum's sum is the values' sum.
  std::string bytes;
  double first, second;
  // Random elements lie in [low, high).
  double low, high;
  // fnv1a and sum of the 64 random bytes MakeInputData(.., seed 7, "x") gives; 0 where not pinned.
  uint64_t fnv1a;
  double sum;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// The five types of the first releases keep the random bytes they always had (pinned); the others'
// elements are decoded exactly: bfloat16 the top half of a float32, fp8 e4m3fn with bias 7, e8m0 a
// power of two.
std::vector<TypeCase> ServedTypes() {
  return {
      {0, "float32", "<f4", 4, Bytes({0, 0, 0xc0, 0x3f, 0, 0, 0x80, 0xbe}), 1.5, -0.25, -1, 1,
       0x4a6cd14af959ce03ull, 0.4931032657623291},
      {1, "float16", "<f2", 2, Bytes({0x00, 0x38, 0x00, 0xc2}), 0.5, -3.0, -1, 1.0000001,
       0x4089bb0be126f924ull, 2.0654449462890625},
      {2, "int8", "|i1", 1, Bytes({0xf9, 3}), -7, 3, -128, 128, 0x9118c4d20b091762ull, 91},
      {3, "int32", "<i4", 4, Bytes({0xf9, 0xff, 0xff, 0xff, 3, 0, 0, 0}), -7, 3, -128, 128,
       0x9216558f604010aaull, -146},
      {4, "bool", "|b1", 1, Bytes({0, 7}), 0, 1, 0, 2, 0xbe4e7fb9a45c5fb2ull, 39},
      {5, "uint8", "|u1", 1, Bytes({200, 100}), 200, 100, 0, 256, 0, 0},
      {6, "float8_e4m3fn", "<V1", 1, Bytes({0x38, 0xb5}), 1.0, -0.8125, -1, 1, 0, 0},
      {7, "bfloat16", "<V2", 2, Bytes({0x80, 0x3f, 0x20, 0xc0}), 1.0, -2.5, -1, 1, 0, 0},
      {8, "int64", "<i8", 8, Bytes({0, 0, 0, 0, 0, 1, 0, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}),
       1099511627776.0, -1, -128, 128, 0, 0},
      {11, "float8_e8m0fnu", "<V1", 1, Bytes({127, 130}), 1.0, 8.0, 0, 1, 0, 0},
  };
}

TEST(DataTypes, EveryTypeOfTheTableIsNamedReadFilledAndChecksummed) {
  for (const TypeCase& c : ServedTypes()) {
    const DataType& t = TestType(c.value);
    SCOPED_TRACE(c.report_name);
    EXPECT_EQ(t.ReportName(), c.report_name);
    EXPECT_EQ(t.npy_descr, c.descr);
    EXPECT_EQ(t.Size(), c.size);
    EXPECT_TRUE(t.Servable());
    EXPECT_EQ(ElementValue(t, c.bytes.data(), 0), c.first);
    EXPECT_EQ(ElementValue(t, c.bytes.data(), 1), c.second);
    EXPECT_EQ(ComputeChecksum(c.bytes.data(), c.bytes.size(), t, true).sum, c.first + c.second);

    const size_t bytes = 64, count = bytes / static_cast<size_t>(c.size);
    const std::string x = MakeInputData(t, true, bytes, FillMode::kRandom, 7, "x");
    EXPECT_EQ(x, MakeInputData(t, true, bytes, FillMode::kRandom, 7, "x")) << "a function of seed and name";
    EXPECT_NE(x, MakeInputData(t, true, bytes, FillMode::kRandom, 8, "x"));
    EXPECT_NE(x, MakeInputData(t, true, bytes, FillMode::kRandom, 7, "y"));
    EXPECT_EQ(MakeInputData(t, true, bytes, FillMode::kZeros, 7, "x"), std::string(bytes, '\0'));
    for (size_t i = 0; i < count; ++i) {
      const double v = ElementValue(t, x.data(), i);
      EXPECT_GE(v, c.low) << i;
      EXPECT_LT(v, c.high) << i;
    }
    const Checksum sum = ComputeChecksum(x.data(), x.size(), t, true);
    if (c.fnv1a != 0) {
      EXPECT_EQ(sum.fnv1a, c.fnv1a) << "the random bytes of an old type changed";
      EXPECT_EQ(sum.sum, c.sum);
    }
  }
}

TEST(DataTypes, TheFourBitTypesAreNamedButNotServed) {
  for (const auto& [value, name] : {std::pair{9, "kINT4"}, std::pair{10, "kFP4"}}) {
    const DataType& t = TestType(value);
    EXPECT_EQ(t.ReportName(), name);
    EXPECT_FALSE(t.Servable());
    EXPECT_EQ(t.Size(), 0);
  }
  EXPECT_EQ(TestDataTypes().all().size(), 12u);
}

TEST(DataTypes, RawFloatConversionsAreExact) {
  // bfloat16: the top 16 bits of the float32, truncated.
  const DataType& bf16 = TestType(7);
  std::mt19937 rng(3), same(3);
  char at[2];
  StoreRandom(bf16, at, rng);
  const float u = static_cast<float>(same() >> 8) * (1.0f / 16777216.0f) * 2.0f - 1.0f;
  uint32_t bits;
  std::memcpy(&bits, &u, 4);
  uint16_t stored;
  std::memcpy(&stored, at, 2);
  EXPECT_EQ(stored, bits >> 16);
  // fp8 e4m3fn, truncated toward zero; its subnormals are multiples of 2^-9.
  const std::pair<float, int> fp8[] = {{1.0f, 0x38},    {-0.5f, 0xb0}, {0.3f, 0x29}, {0.99f, 0x37},
                                       {0x1p-9f, 0x01}, {0x1p-10f, 0}, {0.0f, 0},    {0x1.8p-7f, 0x06}};
  for (const auto& [value, expected] : fp8) {
    EXPECT_EQ(FloatToFp8E4M3(value), expected) << value;
    EXPECT_LE(std::fabs(Fp8E4M3ToFloat(static_cast<uint8_t>(expected))), std::fabs(value)) << "toward zero";
  }
  EXPECT_EQ(Fp8E4M3ToFloat(0x7e), 448.0f);
  EXPECT_TRUE(std::isnan(Fp8E4M3ToFloat(0x7f)));
  const uint8_t e8m0_nan = 0xff;
  EXPECT_TRUE(std::isnan(ElementValue(TestType(11), &e8m0_nan, 0)));
}

TEST(DataTypes, ChecksumsAreFnv1aOfTheBytesAndUntypedDataSumsItsBytes) {
  EXPECT_EQ(ComputeChecksum("a", 1, TestType(2), true).fnv1a, 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(ComputeChecksum("", 0, TestType(0), true).fnv1a, 0xcbf29ce484222325ull);
  const unsigned char bytes[] = {200, 100};
  EXPECT_DOUBLE_EQ(ComputeChecksum(bytes, 2, TestType(0), false).sum, 300);
}

TEST(DataTypes, HalfConversionRoundsToNearestEven) {
  EXPECT_EQ(FloatToHalf(1.0f), 0x3c00);
  EXPECT_EQ(FloatToHalf(-2.0f), 0xc000);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7bff);
  EXPECT_EQ(FloatToHalf(1e6f), 0x7c00);
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -24)), 0x0001);             // smallest subnormal
  EXPECT_EQ(FloatToHalf(1.0f + std::ldexp(1.0f, -11)), 0x3c00);      // halfway, even stays
  EXPECT_EQ(FloatToHalf(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3c02);  // halfway, odd rounds up
  for (uint16_t bits : {0x0000, 0x0001, 0x03ff, 0x0400, 0x3555, 0x7bff, 0x8001, 0xfbff})
    EXPECT_EQ(FloatToHalf(HalfToFloat(bits)), bits) << std::hex << bits;
  EXPECT_TRUE(std::isnan(HalfToFloat(0x7e00)));
}

TEST(DataTypes, RandomDataDependsOnlyOnTheGenerator) {
  std::mt19937 a(42), b(42), c(43);
  const std::string x = MakeData(TestType(0), true, 4000, FillMode::kRandom, a);
  EXPECT_EQ(x, MakeData(TestType(0), true, 4000, FillMode::kRandom, b));
  EXPECT_NE(x, MakeData(TestType(0), true, 4000, FillMode::kRandom, c));
  // A longer input starts with the same values: only the seed and the name choose the stream. Fixed
  // bytes: the generator and the seeding are fixed by the C++ standard.
  const std::string in1 = MakeInputData(TestType(0), true, 400, FillMode::kRandom, 5, "in1");
  EXPECT_EQ(MakeInputData(TestType(0), true, 800, FillMode::kRandom, 5, "in1").substr(0, 400), in1);
  float first;
  std::memcpy(&first, in1.data(), sizeof(first));
  const uint64_t name_hash = Fnv1a("in1", 3);
  std::seed_seq seeds{5u, static_cast<uint32_t>(name_hash), static_cast<uint32_t>(name_hash >> 32)};
  std::mt19937 expected(seeds);
  EXPECT_EQ(first, static_cast<float>(expected() >> 8) * (1.0f / 16777216.0f) * 2.0f - 1.0f);
}

// Each type's .npy form written and read back, and --compare's rule on each: elements compared as
// the numbers they are, within the tolerance.
TEST(DataTypes, EveryTypeRoundTripsThroughNpyAndComparesAsNumbers) {
  TempDir dir;
  for (const TypeCase& c : ServedTypes()) {
    const DataType& t = TestType(c.value);
    SCOPED_TRACE(c.report_name);
    NpyArray a;
    a.descr = t.npy_descr;
    a.shape = {2};
    a.data = c.bytes;
    const std::string path = dir.File(std::to_string(c.value) + ".npy");
    WriteNpy(path, a);
    const NpyArray b = ReadNpy(path);
    EXPECT_EQ(b.descr, t.npy_descr);
    EXPECT_EQ(b.data, c.bytes);
    Reference reference{"out0", path, b, t, true};
    NpyArray swapped = b;  // the two elements exchanged
    const size_t n = static_cast<size_t>(c.size);
    swapped.data = c.bytes.substr(n) + c.bytes.substr(0, n);
    const double diff = std::fabs(c.first - c.second);
    EXPECT_EQ(CompareOutput(reference, b, 0, 0).out_of_tolerance, 0u);
    const OutputComparison within = CompareOutput(reference, swapped, 0, diff);
    EXPECT_EQ(within.out_of_tolerance, 0u);
    EXPECT_EQ(within.max_abs_diff, diff);
    EXPECT_EQ(CompareOutput(reference, swapped, 0, diff * 0.99).out_of_tolerance, 2u);
  }
}

TEST(DataTypes, RawBytesAreReadWithEitherByteOrderMark) {
  TempDir dir;
  for (const char* descr : {"|V2", "<V2", "|V1", "=i8", "<u1"}) {
    const std::string path = dir.File("raw.npy");
    NpyArray a;
    a.descr = descr;
    a.shape = {3};
    a.data.assign(3 * static_cast<size_t>(NpyItemSize(descr)), '\x11');
    WriteNpy(path, a);
    const NpyArray b = ReadNpy(path);
    const std::string normal = std::string(descr) == "=i8"   ? "<i8"
                               : std::string(descr) == "<u1" ? "|u1"
                               : descr[1] == 'V'             ? std::string("<") + (descr + 1)
                                                             : descr;
    EXPECT_EQ(b.descr, normal) << descr;
    EXPECT_EQ(b.data, a.data);
  }
}

}  // namespace
}  // namespace inferlet_run
