#include "npy.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicSize = 6;

constexpr const char* kReadable[] = {"<f4", "<f2", "|i1", "<i4", "<i8", "|b1", "|u1", "<V2", "<V1"};

// One-byte numbers carry no byte order: numpy writes '|', but '<' and '=' mean the same here. Raw
// bytes: np.save writes '<' for ml_dtypes' types, numpy '|' for its own void type.
bool NormalizeDescr(std::string descr, std::string* normal) {
  if (descr.size() != 3) return false;
  if (descr[0] == '=') descr[0] = '<';
  if (descr[1] == 'V' && descr[0] == '|') descr[0] = '<';
  if (descr[1] != 'V' && descr[2] == '1' && descr[0] == '<') descr[0] = '|';
  for (const char* readable : kReadable) {
    if (descr == readable) {
      *normal = descr;
      return true;
    }
  }
  return false;
}

ToolError BadFile(const std::string& path, const std::string& why) {
  return ToolError{kExitInput, fmt::format("{}: {}", path, why)};
}

}  // namespace

int NpyItemSize(const std::string& descr) { return descr.size() > 2 ? std::atoi(descr.c_str() + 2) : 0; }

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
  if (!NormalizeDescr(descr[1], &array.descr))
    throw BadFile(path, fmt::format("unsupported element type '{}' (use float32, float16, int8, int32, "
                                    "int64, bool or uint8, little endian, or raw bytes <V2 or <V1)",
                                    descr[1].str()));
  static const std::regex extent_re(R"(\d+)");
  const std::string extents = shape[1];
  for (auto it = std::sregex_iterator(extents.begin(), extents.end(), extent_re);
       it != std::sregex_iterator(); ++it)
    array.shape.push_back(std::stoull(it->str()));

  size_t count = 1;
  for (size_t d : array.shape) count *= d;
  const size_t body = count * static_cast<size_t>(NpyItemSize(array.descr));
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
      fmt::format("{{'descr': '{}', 'fortran_order': False, 'shape': ({}), }}", array.descr, shape);
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
