#include "engine_format.h"

#include <cstring>
#include <limits>

#include "checksum.h"

namespace trt_standin {
namespace {

// The flags byte after max_batch_size; engines without version compatibility keep the 0 or 1 that
// refittable alone wrote.
constexpr uint8_t kFlagRefittable = 1;
constexpr uint8_t kFlagVersionCompatible = 2;
// The profiles give shape tensors' values, stored after the layers (engines without keep their bytes).
constexpr uint8_t kFlagShapeValues = 4;
constexpr uint8_t kKnownEngineFlags = kFlagRefittable | kFlagVersionCompatible | kFlagShapeValues;

bool has_shape_values(const Network& net) {
  for (const Profile& p : net.profiles) {
    for (const InputRange& r : p.inputs) {
      if (r.has_values()) return true;
    }
  }
  return false;
}

class Writer {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<unsigned char>(v >> (8 * i)));
  }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void i64(int64_t v) {
    u32(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    u32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
  }
  void values(const std::vector<int64_t>& v) {
    for (int64_t x : v) i64(x);
  }
  void f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    u32(bits);
  }
  void str(const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
  }
  void dims(const Shape& d) {
    for (int32_t v : d) i32(v);
  }
  void floats(const std::vector<float>& v) {
    u32(static_cast<uint32_t>(v.size()));
    for (float f : v) f32(f);
  }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// Bounds-checked reading; the first failure sticks and every later read yields zeros.
class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  bool at_end() const { return pos_ == size_; }
  const std::string& problem() const { return problem_; }

  uint32_t u32() {
    if (!take(4, "a number")) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(data_[pos_ - 4 + i]) << (8 * i);
    return v;
  }
  uint8_t u8() { return take(1, "a byte") ? data_[pos_ - 1] : 0; }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  int64_t i64() {
    const uint64_t low = u32();
    return static_cast<int64_t>(low | static_cast<uint64_t>(u32()) << 32);
  }
  std::vector<int64_t> values(std::size_t n) {
    std::vector<int64_t> v;
    for (std::size_t i = 0; i < n && ok_; ++i) v.push_back(i64());
    return v;
  }
  float f32() {
    const uint32_t bits = u32();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  std::string str(const char* what) {
    const uint32_t n = u32();
    if (!ok_ || !take(n, what)) return {};
    std::string s(reinterpret_cast<const char*>(data_ + pos_ - n), n);
    if (s.find('\0') != std::string::npos) fail(std::string(what) + " contains a NUL byte");
    return s;
  }
  // A count of items of at least item_size bytes each, checked against what is left.
  uint32_t count(std::size_t item_size, const char* what) {
    const uint32_t n = u32();
    if (ok_ && static_cast<uint64_t>(n) * item_size > size_ - pos_) {
      fail(std::string("count of ") + what + " runs past the end");
      return 0;
    }
    return n;
  }
  Shape dims(std::size_t rank) {
    Shape d;
    for (std::size_t i = 0; i < rank && ok_; ++i) d.push_back(i32());
    return d;
  }
  std::vector<float> floats(const char* what) {
    std::vector<float> v(count(4, what));
    for (float& f : v) f = f32();
    return v;
  }
  void fail(const std::string& why) {
    if (ok_) problem_ = why;
    ok_ = false;
  }

 private:
  bool take(std::size_t n, const char* what) {
    if (!ok_) return false;
    if (n > size_ - pos_) {
      fail(std::string("payload ends inside ") + what);
      return false;
    }
    pos_ += n;
    return true;
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
  std::string problem_;
};

void write_tensor(Writer& w, const TensorDesc& t) {
  w.str(t.name);
  w.u8(static_cast<uint8_t>(t.type));
  w.u8(static_cast<uint8_t>(t.dims.size()));
  w.dims(t.dims);
  w.u8(static_cast<uint8_t>(t.location));
}

// A network whose tensor lacks the profile's format gets a byte that loading refuses.
void write_format(Writer& w, const TensorDesc& t, std::size_t profile) {
  w.u8(profile < t.formats.size() ? static_cast<uint8_t>(t.formats[profile]) : 0xFF);
}

TensorDesc read_tensor(Reader& r) {
  TensorDesc t;
  t.name = r.str("a tensor name");
  const uint8_t type = r.u8();
  if (type >= kElementTypeCount) r.fail("unknown data type " + std::to_string(type));
  t.type = static_cast<ElementType>(type);
  const uint8_t rank = r.u8();
  if (rank > kMaxRank) r.fail("rank " + std::to_string(rank) + " exceeds 8");
  t.dims = r.dims(rank);
  const uint8_t location = r.u8();
  if (location >= kTensorLocationCount) r.fail("unknown tensor location " + std::to_string(location));
  t.location = static_cast<TensorLocation>(location);
  return t;
}

void read_formats(Reader& r, std::vector<TensorDesc>& tensors) {
  for (TensorDesc& t : tensors) {
    const uint8_t format = r.u8();
    if (format >= kTensorFormatCount) r.fail("unknown tensor format " + std::to_string(format));
    t.formats.push_back(static_cast<TensorFormat>(format));
  }
}

Layer read_layer(Reader& r) {
  Layer l;
  const uint8_t op = r.u8();
  if (op >= kLayerOpCount) r.fail("unknown layer operation " + std::to_string(op));
  l.op = static_cast<LayerOp>(op);
  const uint8_t inputs = r.u8();
  for (uint8_t k = 0; k < inputs && r.ok(); ++k) l.inputs.push_back(r.str("a layer input name"));
  l.output = r.str("a layer output name");
  l.a = r.f32();
  l.b = r.f32();
  l.units = r.i32();
  l.weights = r.floats("weights");
  l.bias = r.floats("bias");
  if (l.op == LayerOp::kPlugin && r.ok()) {
    l.plugin_name = r.str("a plugin creator name");
    l.plugin_version = r.str("a plugin creator version");
    l.plugin_namespace = r.str("a plugin creator namespace");
  }
  return l;
}

// Per profile, per input: a count (0 for an input without values), then min, opt and max.
void read_shape_values(Reader& r, Network* net) {
  for (Profile& p : net->profiles) {
    for (InputRange& range : p.inputs) {
      const uint32_t n = r.count(24, "shape values");
      range.values_min = r.values(n);
      range.values_opt = r.values(n);
      range.values_max = r.values(n);
      if (!r.ok()) return;
    }
  }
}

bool read_network(Reader& r, Network* net) {
  net->name = r.str("the network name");
  net->max_batch_size = r.i32();
  const uint8_t flags = r.u8();
  if ((flags & ~kKnownEngineFlags) != 0) r.fail("unknown engine flags " + std::to_string(flags));
  net->refittable = (flags & kFlagRefittable) != 0;
  net->version_compatible = (flags & kFlagVersionCompatible) != 0;
  const bool shape_values = (flags & kFlagShapeValues) != 0;
  // Each tensor takes at least 7 bytes (empty name, type, rank, location).
  const uint32_t n_inputs = r.count(7, "inputs");
  for (uint32_t i = 0; i < n_inputs && r.ok(); ++i) net->inputs.push_back(read_tensor(r));
  const uint32_t n_outputs = r.count(7, "outputs");
  for (uint32_t i = 0; i < n_outputs && r.ok(); ++i) net->outputs.push_back(read_tensor(r));
  const uint32_t n_profiles = r.u32();
  if (n_profiles > static_cast<uint32_t>(kMaxProfiles))
    r.fail("too many profiles: " + std::to_string(n_profiles));
  for (uint32_t p = 0; p < n_profiles && r.ok(); ++p) {
    Profile prof;
    for (const TensorDesc& in : net->inputs) {
      InputRange range;
      range.min = r.dims(in.dims.size());
      range.opt = r.dims(in.dims.size());
      range.max = r.dims(in.dims.size());
      prof.inputs.push_back(std::move(range));
      if (!r.ok()) break;
    }
    net->profiles.push_back(std::move(prof));
    read_formats(r, net->inputs);
    read_formats(r, net->outputs);
  }
  // Each layer takes at least 26 bytes (op, arity, output name, a, b, units, two counts).
  const uint32_t n_layers = r.count(26, "layers");
  for (uint32_t i = 0; i < n_layers && r.ok(); ++i) net->layers.push_back(read_layer(r));
  if (shape_values) read_shape_values(r, net);
  if (r.ok() && !r.at_end()) r.fail("unexpected bytes after the network");
  return r.ok();
}

uint32_t load_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void store_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::vector<unsigned char> serialize_engine(const Network& net, uint32_t trt_major) {
  Writer w;
  for (char c : kEngineMagic) w.u8(static_cast<uint8_t>(c));
  w.u32(kEngineFormatVersion);
  w.u32(trt_major);
  w.u32(0);  // payload size and checksum are patched in below
  w.u32(0);
  w.str(net.name);
  w.i32(net.max_batch_size);
  const bool shape_values = has_shape_values(net);
  w.u8(static_cast<uint8_t>((net.refittable ? kFlagRefittable : 0) |
                            (net.version_compatible ? kFlagVersionCompatible : 0) |
                            (shape_values ? kFlagShapeValues : 0)));
  w.u32(static_cast<uint32_t>(net.inputs.size()));
  for (const TensorDesc& t : net.inputs) write_tensor(w, t);
  w.u32(static_cast<uint32_t>(net.outputs.size()));
  for (const TensorDesc& t : net.outputs) write_tensor(w, t);
  w.u32(static_cast<uint32_t>(net.profiles.size()));
  for (std::size_t p = 0; p < net.profiles.size(); ++p) {
    for (const InputRange& range : net.profiles[p].inputs) {
      w.dims(range.min);
      w.dims(range.opt);
      w.dims(range.max);
    }
    for (const TensorDesc& t : net.inputs) write_format(w, t, p);
    for (const TensorDesc& t : net.outputs) write_format(w, t, p);
  }
  w.u32(static_cast<uint32_t>(net.layers.size()));
  for (const Layer& l : net.layers) {
    w.u8(static_cast<uint8_t>(l.op));
    w.u8(static_cast<uint8_t>(l.inputs.size()));
    for (const std::string& in : l.inputs) w.str(in);
    w.str(l.output);
    w.f32(l.a);
    w.f32(l.b);
    w.i32(l.units);
    w.floats(l.weights);
    w.floats(l.bias);
    if (l.op == LayerOp::kPlugin) {
      w.str(l.plugin_name);
      w.str(l.plugin_version);
      w.str(l.plugin_namespace);
    }
  }
  if (shape_values) {
    for (const Profile& p : net.profiles) {
      for (const InputRange& range : p.inputs) {
        w.u32(static_cast<uint32_t>(range.values_min.size()));
        w.values(range.values_min);
        w.values(range.values_opt);
        w.values(range.values_max);
      }
    }
  }
  std::vector<unsigned char>& bytes = w.bytes();
  const std::size_t payload = bytes.size() - kEngineHeaderSize;
  store_u32(bytes.data() + kOffsetPayloadSize, static_cast<uint32_t>(payload));
  store_u32(bytes.data() + kOffsetChecksum, crc32(bytes.data() + kEngineHeaderSize, payload));
  return std::move(bytes);
}

bool deserialize_engine(const void* data, std::size_t size, uint32_t trt_major, Graph* graph,
                        std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (bytes == nullptr || size == 0) {
    *error = "empty engine buffer";
    return false;
  }
  if (size < sizeof kEngineMagic || std::memcmp(bytes, kEngineMagic, sizeof kEngineMagic) != 0) {
    *error = "magic tag does not match: not an engine file";
    return false;
  }
  if (size < kEngineHeaderSize) {
    *error = "truncated engine: " + std::to_string(size) + " bytes, shorter than the header";
    return false;
  }
  const uint32_t version = load_u32(bytes + kOffsetFormatVersion);
  if (version != kEngineFormatVersion) {
    *error = "engine format version " + std::to_string(version) + " is not supported (expected " +
             std::to_string(kEngineFormatVersion) + ")";
    return false;
  }
  const uint32_t major = load_u32(bytes + kOffsetMajor);
  if (major != trt_major) {
    *error = "the engine was built for TensorRT " + std::to_string(major) + ", this runtime is TensorRT " +
             std::to_string(trt_major) + "; rebuild the engine";
    return false;
  }
  const uint32_t payload = load_u32(bytes + kOffsetPayloadSize);
  if (payload != size - kEngineHeaderSize) {
    *error = (payload > size - kEngineHeaderSize ? "truncated engine: " : "engine size mismatch: ") +
             std::to_string(size) + " bytes, the header announces " +
             std::to_string(static_cast<uint64_t>(payload) + kEngineHeaderSize);
    return false;
  }
  if (crc32(bytes + kEngineHeaderSize, payload) != load_u32(bytes + kOffsetChecksum)) {
    *error = "checksum mismatch: the engine is corrupt";
    return false;
  }
  Reader r(bytes + kEngineHeaderSize, payload);
  Network net;
  if (!read_network(r, &net)) {
    *error = "malformed engine: " + r.problem();
    return false;
  }
  std::string why;
  if (!check_network_of_major(net, trt_major, &why) || !build_graph(std::move(net), graph, &why)) {
    *error = "invalid network in engine: " + why;
    return false;
  }
  return true;
}

}  // namespace trt_standin
