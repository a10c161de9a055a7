// .npy files: what the tool writes reads back unchanged, and files numpy writes are understood.
#include "npy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "exit_codes.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::TempDir;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The bytes numpy 1.x writes for np.save(f, np.array([[1.5, -2.0, 3.0]], dtype=np.float32)).
std::string NumpyFloat32File() {
  std::string header = "{'descr': '<f4', 'fortran_order': False, 'shape': (1, 3), }";
  header.append(128 - 10 - header.size() - 1, ' ');
  header.push_back('\n');
  std::string file("\x93NUMPY\x01\x00", 8);
  file.push_back(static_cast<char>(header.size()));
  file.push_back('\0');
  const float values[] = {1.5f, -2.0f, 3.0f};
  return file + header + std::string(reinterpret_cast<const char*>(values), sizeof(values));
}

TEST(Npy, EveryKindRoundTripsWithShapeAndBytes) {
  TempDir dir;
  int file = 0;
  for (const char* kind : {"<f4", "<f2", "|i1", "<i4", "|b1", "|u1", "<i8", "<V2", "<V1"}) {
    NpyArray a;
    a.descr = kind;
    a.shape = {2, 3, 5};
    a.data.resize(30 * static_cast<size_t>(NpyItemSize(kind)));
    for (size_t i = 0; i < a.data.size(); ++i) a.data[i] = static_cast<char>(i * 7 + 1);
    const std::string path = dir.File("a" + std::to_string(file++) + ".npy");
    WriteNpy(path, a);
    const std::string raw = ReadBytes(path);
    EXPECT_EQ((raw.size() - a.data.size()) % 64, 0u) << "data must start on a 64-byte boundary";
    EXPECT_EQ(raw.back(), a.data.back());
    const NpyArray b = ReadNpy(path);
    EXPECT_EQ(b.descr, kind);
    EXPECT_EQ(b.shape, a.shape);
    EXPECT_EQ(b.data, a.data);
  }
}

TEST(Npy, OneDimensionalAndScalarShapesKeepNumpySyntax) {
  TempDir dir;
  NpyArray a;
  a.descr = "<i4";
  a.shape = {4};
  a.data.assign(16, '\x01');
  WriteNpy(dir.File("v.npy"), a);
  EXPECT_NE(ReadBytes(dir.File("v.npy")).find("'shape': (4,)"), std::string::npos);
  EXPECT_EQ(ReadNpy(dir.File("v.npy")).shape, std::vector<size_t>{4});

  a.shape = {};
  a.data.assign(4, '\x02');
  WriteNpy(dir.File("s.npy"), a);
  EXPECT_NE(ReadBytes(dir.File("s.npy")).find("'shape': ()"), std::string::npos);
  const NpyArray s = ReadNpy(dir.File("s.npy"));
  EXPECT_TRUE(s.shape.empty());
  EXPECT_EQ(s.data, std::string(4, '\x02'));
}

TEST(Npy, ReadsWhatNumpyWrites) {
  TempDir dir;
  WriteBytes(dir.File("np.npy"), NumpyFloat32File());
  const NpyArray a = ReadNpy(dir.File("np.npy"));
  EXPECT_EQ(a.descr, "<f4");
  EXPECT_EQ(a.shape, (std::vector<size_t>{1, 3}));
  float values[3];
  ASSERT_EQ(a.data.size(), sizeof(values));
  std::memcpy(values, a.data.data(), sizeof(values));
  EXPECT_EQ(values[0], 1.5f);
  EXPECT_EQ(values[1], -2.0f);
  EXPECT_EQ(values[2], 3.0f);
}

TEST(Npy, RefusesWhatItCannotHonour) {
  TempDir dir;
  auto expect_refused = [&](const std::string& bytes, const std::string& why) {
    WriteBytes(dir.File("bad.npy"), bytes);
    try {
      ReadNpy(dir.File("bad.npy"));
      ADD_FAILURE() << "accepted a file with " << why;
    } catch (const ToolError& e) {
      EXPECT_EQ(e.code, kExitInput);
      EXPECT_NE(e.message.find(why), std::string::npos) << e.message;
    }
  };
  const std::string good = NumpyFloat32File();
  std::string fortran = good;
  fortran.replace(fortran.find("False"), 5, "True ");
  expect_refused(fortran, "Fortran");
  std::string big_endian = good;
  big_endian.replace(big_endian.find("<f4"), 3, ">f4");
  expect_refused(big_endian, "unsupported element type '>f4'");
  std::string float64 = good;
  float64.replace(float64.find("<f4"), 3, "<f8");
  expect_refused(float64, "unsupported element type '<f8'");
  expect_refused(good.substr(0, good.size() - 1), "holds 11 bytes of data, its shape needs 12");
  expect_refused("just text, not an array", "not a .npy file");

  try {
    ReadNpy(dir.File("missing.npy"));
    ADD_FAILURE() << "read a file that does not exist";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitInput);
    EXPECT_NE(e.message.find("No such file or directory"), std::string::npos);
  }
}

TEST(Npy, WritingIntoAMissingDirectoryIsAnOutputError) {
  NpyArray a;
  a.shape = {1};
  a.data.assign(4, '\0');
  try {
    WriteNpy("/nonexistent-dir/x.npy", a);
    ADD_FAILURE() << "wrote into a directory that does not exist";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitOutput);
  }
}

}  // namespace
}  // namespace inferlet_run
