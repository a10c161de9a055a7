#include "npy.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicSize = 6;

struct KindInfo {
  NpyKind kind;
  const char* descr;
  int size;
};
constexpr KindInfo kKinds[] = {
    {NpyKind::kFloat32, "<f4", 4}, {NpyKind::kFloat16, "<f2", 2}, {NpyKind::kInt8, "|i1", 1},
    {NpyKind::kInt32, "<i4", 4},   {NpyKind::kBool, "|b1", 1},    {NpyKind::kUint8, "|u1", 1},
};

const KindInfo& Info(NpyKind kind) {
  for (const KindInfo& k : kKinds)
    if (k.kind == kind) return k;
  return kKinds[0];
}

bool KindFromDescr(std::string descr, NpyKind* kind) {
  // One-byte types carry no byte order; numpy writes '|' but '<' and '=' mean the same here.
  if (descr.size() == 3 && (descr[0] == '<' || descr[0] == '=') && descr[2] == '1') descr[0] = '|';
  if (descr.size() == 3 && descr[0] == '=') descr[0] = '<';
  for (const KindInfo& k : kKinds) {
    if (descr == k.descr) {
      *kind = k.kind;
      return true;
    }
  }
  return false;
}

ToolError BadFile(const std::string& path, const std::string& why) {
  return ToolError{kExitInput, fmt::format("{}: {}", path, why)};
}

}  // namespace

NpyKind NpyKindOf(DType type) {
  switch (type) {
    case DType::kFloat:
      return NpyKind::kFloat32;
    case DType::kHalf:
      return NpyKind::kFloat16;
    case DType::kInt8:
      return NpyKind::kInt8;
    case DType::kInt32:
      return NpyKind::kInt32;
    case DType::kBool:
      return NpyKind::kBool;
  }
  return NpyKind::kUint8;
}

const char* NpyDescr(NpyKind kind) { return Info(kind).descr; }
int NpyItemSize(NpyKind kind) { return Info(kind).size; }

NpyArray ReadNpy(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw BadFile(path, std::strerror(errno));
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < kMagicSize + 4 || bytes.compare(0, kMagicSize, kMagic, kMagicSize) != 0)
    throw BadFile(path, "not a .npy file");
  const int major = static_cast<unsigned char>(bytes[kMagicSize]);
  size_t header_len = 0;
  size_t header_start = 0;
  if (major == 1) {
    header_len = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
    header_start = 10;
  } else if (major == 2 || major == 3) {
    if (bytes.size() < 12) throw BadFile(path, "truncated header");
    for (int i = 3; i >= 0; --i) header_len = header_len << 8 | static_cast<unsigned char>(bytes[8 + i]);
    header_start = 12;
  } else {
    throw BadFile(path, fmt::format("unsupported .npy format version {}", major));
  }
  if (bytes.size() < header_start + header_len) throw BadFile(path, "truncated header");
  const std::string header = bytes.substr(header_start, header_len);

  static const std::regex descr_re(R"('descr'\s*:\s*'([^']*)')");
  static const std::regex order_re(R"('fortran_order'\s*:\s*(True|False))");
  static const std::regex shape_re(R"('shape'\s*:\s*\(([^)]*)\))");
  std::smatch descr, order, shape;
  if (!std::regex_search(header, descr, descr_re) || !std::regex_search(header, order, order_re) ||
      !std::regex_search(header, shape, shape_re))
    throw BadFile(path, "malformed .npy header");
  if (order[1] == "True") throw BadFile(path, "Fortran-ordered arrays are not supported");

  NpyArray array;
  if (!KindFromDescr(descr[1], &array.kind))
    throw BadFile(path, fmt::format("unsupported element type '{}' (use float32, float16, int8, int32, "
                                    "bool or uint8, little endian)",
                                    descr[1].str()));
  static const std::regex extent_re(R"(\d+)");
  const std::string extents = shape[1];
  for (auto it = std::sregex_iterator(extents.begin(), extents.end(), extent_re);
       it != std::sregex_iterator(); ++it)
    array.shape.push_back(std::stoull(it->str()));

  size_t count = 1;
  for (size_t d : array.shape) count *= d;
  const size_t body = count * NpyItemSize(array.kind);
  const size_t data_start = header_start + header_len;
  if (bytes.size() - data_start < body)
    throw BadFile(path,
                  fmt::format("holds {} bytes of data, its shape needs {}", bytes.size() - data_start, body));
  array.data = bytes.substr(data_start, body);
  return array;
}

void WriteNpy(const std::string& path, const NpyArray& array) {
  std::string shape;
  for (size_t d : array.shape) shape += fmt::format("{}, ", d);
  if (array.shape.size() > 1)
    shape.resize(shape.size() - 2);
  else if (array.shape.size() == 1)
    shape.resize(shape.size() - 1);  // "(5,)"
  std::string header =
      fmt::format("{{'descr': '{}', 'fortran_order': False, 'shape': ({}), }}", NpyDescr(array.kind), shape);
  // Pad with blanks so that the data starts on a 64-byte boundary, and end the header with a newline.
  const size_t unpadded = kMagicSize + 2 + 2 + header.size() + 1;
  header.append((64 - unpadded % 64) % 64, ' ');
  header.push_back('\n');

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ToolError{kExitOutput, fmt::format("cannot write {}: {}", path, std::strerror(errno))};
  const uint16_t len = static_cast<uint16_t>(header.size());
  const char prefix[] = {
      '\x93', 'N', 'U', 'M', 'P', 'Y', 1, 0, static_cast<char>(len & 0xff), static_cast<char>(len >> 8)};
  out.write(prefix, sizeof(prefix));
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(array.data.data(), static_cast<std::streamsize>(array.data.size()));
  if (!out.flush()) throw ToolError{kExitOutput, fmt::format("cannot write {}", path)};
}

}  // namespace inferlet_run
