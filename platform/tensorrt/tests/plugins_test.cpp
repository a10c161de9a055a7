// The plugin registry (getPluginRegistry) and plugin layers, for every major: registration and lookup by
// name, version and namespace, an engine refused while its layer's creator is missing and computed with
// the creator's fields once it is registered, the test plugin libraries registering themselves when
// loaded and, on 10 and later, IPluginRegistry::loadLibrary with its refusals. The registry is global to
// the process, so every test here registers creators of its own names, and the libraries' creator
// ("ScaleOffset" version "1") is looked up, never assumed absent; ctest runs each test in a process of
// its own.
#include <dlfcn.h>

#include <cstring>

#include "io_support.h"

#if NV_TENSORRT_MAJOR >= 10
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // the registry's IPluginCreator calls
#endif

namespace trt_test {
namespace {

// The registry's own lines (registerCreator, loadLibrary) reach the logger last given to
// initLibNvInferPlugins, which must outlive them: this one lives as long as the process.
RecordingLogger& registry_logger() {
  static auto* logger = new RecordingLogger;
  return *logger;
}

class PluginTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    registry_logger().lines.clear();
    initLibNvInferPlugins(&registry_logger(), "");
  }

  // The last kERROR line the registry logged, "" without one.
  static std::string last_registry_error() {
    std::string last;
    for (const auto& line : registry_logger().lines) {
      if (line.first == Severity::kERROR) last = line.second;
    }
    return last;
  }
};

// A creator whose fields give the plugin layer's scale and offset (none when fields is false).
#if NV_TENSORRT_MAJOR >= 10
class ProbeCreator final : public nvinfer1::IPluginCreatorV3One {
#else
class ProbeCreator final : public nvinfer1::IPluginCreator {
#endif
 public:
  ProbeCreator(const char* name, const char* version, float scale, float offset, bool fields = true)
      : name_(name), version_(version), scale_(scale), offset_(offset) {
    fields_[0] = nvinfer1::PluginField("scale", &scale_, nvinfer1::PluginFieldType::kFLOAT32, 1);
    fields_[1] = nvinfer1::PluginField("offset", &offset_, nvinfer1::PluginFieldType::kFLOAT32, 1);
    collection_.nbFields = fields ? 2 : 0;
    collection_.fields = fields_;
  }
#if NV_TENSORRT_MAJOR >= 10
  nvinfer1::IPluginV3* createPlugin(const char*, const nvinfer1::PluginFieldCollection*,
                                    nvinfer1::TensorRTPhase) noexcept override {
    return nullptr;
  }
#else
  nvinfer1::IPluginV2* createPlugin(const char*, const nvinfer1::PluginFieldCollection*) noexcept override {
    return nullptr;
  }
  nvinfer1::IPluginV2* deserializePlugin(const char*, const void*, size_t) noexcept override {
    return nullptr;
  }
  void setPluginNamespace(const char*) noexcept override {}
#endif
  const nvinfer1::PluginFieldCollection* getFieldNames() noexcept override { return &collection_; }
  const char* getPluginName() const noexcept override { return name_; }
  const char* getPluginVersion() const noexcept override { return version_; }
  const char* getPluginNamespace() const noexcept override { return "trt_test"; }

 private:
  const char* name_;
  const char* version_;
  float scale_, offset_;
  nvinfer1::PluginField fields_[2];
  nvinfer1::PluginFieldCollection collection_{};
};

// The registry's lookup by name, version and namespace, whichever call the major has.
bool registered(const char* name, const char* version, const char* ns) {
#if NV_TENSORRT_MAJOR >= 10
  return getPluginRegistry()->getCreator(name, version, ns) != nullptr;
#else
  return getPluginRegistry()->getPluginCreator(name, version, ns) != nullptr;
#endif
}

int32_t creator_count() {
  int32_t count = -1;
#if NV_TENSORRT_MAJOR >= 10
  getPluginRegistry()->getAllCreators(&count);
#else
  getPluginRegistry()->getPluginCreatorList(&count);
#endif
  return count;
}

// A network of one plugin layer, in0 [-1, 4] -> out0, naming the creator.
std::string plugin_network(const std::string& name, const std::string& version, const std::string& ns) {
  return R"({"name": "plugin_probe",
    "inputs": [{"name": "in0", "dtype": "float", "dims": [-1, 4]}],
    "outputs": [{"name": "out0", "dtype": "float", "dims": [-1, 4]}],
    "layers": [{"op": "plugin", "inputs": ["in0"], "output": "out0",
                "creator": {"name": ")" +
         name + R"(", "version": ")" + version + R"(", "namespace": ")" + ns + R"("}}],
    "profiles": [{"in0": {"min": [1, 4], "opt": [2, 4], "max": [4, 4]}}]})";
}

// out0 of two samples of in0 = 0, 1, ..., 7.
std::vector<float> run_two_samples(Loaded& l) {
  DeviceBuffer in(8 * sizeof(float)), out(8 * sizeof(float));
  std::vector<float> values(8);
  for (int i = 0; i < 8; ++i) values[i] = static_cast<float>(i);
  in.upload(values);
  Stream stream;
  EXPECT_TRUE(set_shape(l, "in0", dims({2, 4})));
  EXPECT_TRUE(enqueue(l, {in.get(), out.get()}, stream.get()));
  EXPECT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  return out.download<float>(8);
}

std::string plugin_path(const char* kind) {
  return std::string(TRT_STANDIN_PLUGIN_DIR) + "/libtest_plugin_" + kind + ".so";
}

TEST_F(PluginTest, RegistryFindsACreatorByNameVersionAndNamespaceAndRefusesItTwice) {
  static ProbeCreator creator("RegistryProbe", "7", 1.0f, 0.0f);
  static ProbeCreator twin("RegistryProbe", "7", 1.0f, 0.0f);
  const int32_t before = creator_count();
  ASSERT_TRUE(getPluginRegistry()->registerCreator(creator, "trt_test"));
  EXPECT_EQ(creator_count(), before + 1);
  EXPECT_TRUE(registered("RegistryProbe", "7", "trt_test"));
  EXPECT_FALSE(registered("RegistryProbe", "8", "trt_test"));
  EXPECT_FALSE(registered("RegistryProbe", "7", ""));
  EXPECT_FALSE(getPluginRegistry()->registerCreator(twin, "trt_test"));
  EXPECT_EQ(
      last_registry_error(),
      "registerCreator: plugin creator 'RegistryProbe' version '7' in namespace 'trt_test' is registered "
      "already");
  EXPECT_EQ(creator_count(), before + 1);
  EXPECT_TRUE(getPluginRegistry()->registerCreator(twin, "trt_test_other"));
  EXPECT_EQ(trt_standin_count("registerCreator"), 3);
}

TEST_F(PluginTest, EngineIsRefusedWhileItsLayersCreatorIsNotRegistered) {
  const auto l = load(engine_from_json(plugin_network("NeverRegistered", "2", "nowhere")));
  EXPECT_EQ(l->engine, nullptr);
  EXPECT_EQ(
      l->logger.only_error(),
      "deserializeCudaEngine: no plugin creator 'NeverRegistered' version '2' in namespace 'nowhere' is "
      "registered (layers[0], output 'out0'): load the plugin library that registers it before "
      "deserializing the engine");
}

TEST_F(PluginTest, LayerComputesWithTheFieldsOfItsCreator) {
  static ProbeCreator creator("FieldProbe", "1", 2.0f, -1.0f);
  const std::vector<unsigned char> bytes = engine_from_json(plugin_network("FieldProbe", "1", "trt_test"));
  EXPECT_EQ(load(bytes)->engine, nullptr) << "refused before its creator is registered";
  ASSERT_TRUE(getPluginRegistry()->registerCreator(creator, "trt_test"));
  const auto l = load(bytes);
  ASSERT_NE(l->context, nullptr);
  EXPECT_EQ(run_two_samples(*l), (std::vector<float>{-1, 1, 3, 5, 7, 9, 11, 13}));
}

TEST_F(PluginTest, CreatorWithoutTheFieldsIsRefused) {
  static ProbeCreator creator("NoFields", "1", 2.0f, 0.0f, false);
  ASSERT_TRUE(getPluginRegistry()->registerCreator(creator, "trt_test"));
  const auto l = load(engine_from_json(plugin_network("NoFields", "1", "trt_test")));
  EXPECT_EQ(l->engine, nullptr);
  EXPECT_EQ(
      l->logger.only_error(),
      "deserializeCudaEngine: plugin creator 'NoFields' version '1' in namespace 'trt_test' (layers[0], "
      "output 'out0') describes no field 'scale' of one kFLOAT32 value in getFieldNames(): the "
      "stand-in's plugin layers compute scale * x + offset with the values of those fields");
}

#if NV_TENSORRT_MAJOR >= 10
// Before the library that registers itself is loaded (in a process that runs every test here, that one
// comes later): loadLibrary registers the creators the library's getCreators hands out, and refuses the
// library once they are registered, as the facts say ("fail ... if any of the plugins are already
// registered").
TEST_F(PluginTest, LoadLibraryRegistersTheCreatorsOfItsEntryPointsOnce) {
  const std::string path = plugin_path("entry");
  void* handle = getPluginRegistry()->loadLibrary(path.c_str());
  ASSERT_NE(handle, nullptr) << last_registry_error();
  EXPECT_TRUE(registered("ScaleOffset", "1", ""));
  EXPECT_EQ(getPluginRegistry()->loadLibrary(path.c_str()), nullptr);
  EXPECT_EQ(last_registry_error(), "loadLibrary: plugin library '" + path +
                                       "': plugin creator 'ScaleOffset' version '1' in namespace '' is "
                                       "registered already; none of its creators is registered");
  EXPECT_EQ(trt_standin_count("loadLibrary"), 2);
  const auto l = load(sample_engine("custom_plugin"));
  ASSERT_NE(l->context, nullptr) << l->logger.only_error();
  EXPECT_EQ(run_two_samples(*l), (std::vector<float>{0.5, 3.5, 6.5, 9.5, 12.5, 15.5, 18.5, 21.5}));
}

// What loadLibrary refuses, each with its kERROR line, and a library that registers nothing, which it
// takes.
TEST_F(PluginTest, LoadLibraryRefusesWhatIsNoPluginLibraryOrRegisteredAlready) {
  struct Case {
    std::string path;
    std::string line;  // "": taken
  };
  const std::string missing = std::string(TRT_STANDIN_PLUGIN_DIR) + "/libnothing_here.so";
  const std::string other = std::string(TRT_STANDIN_PLUGIN_DIR) + "/../../trt" +
                            (NV_TENSORRT_MAJOR == 10 ? "11" : "10") + "/plugins/libtest_plugin_entry.so";
  const Case cases[] = {
      {missing, "loadLibrary: cannot load plugin library '" + missing + "': " + missing +
                    ": cannot open shared object file: No such file or directory"},
      {plugin_path("static"),
       "loadLibrary: plugin library '" + plugin_path("static") +
           "' exports neither getCreators nor getPluginCreators: it is no plugin library "
           "TensorRT can load"},
      // Its own static registration runs first, so its getCreators' creator is registered already.
      {plugin_path("both"), "loadLibrary: plugin library '" + plugin_path("both") +
                                "': plugin creator 'ScaleOffset' version '1' in namespace '' is registered "
                                "already; none of its creators is registered"},
      // A library of the other major of this generation, which links that TensorRT.
      {other, "loadLibrary: plugin library '" + other + "' links another TensorRT than this one (TensorRT " +
                  std::to_string(NV_TENSORRT_MAJOR) + "): its getPluginRegistry is not this runtime's"},
      {plugin_path("empty"), ""},
  };
  for (const Case& c : cases) {
    if (c.path == other && !std::ifstream(other).good()) continue;  // that major is not built
    SCOPED_TRACE(c.path);
    registry_logger().lines.clear();
    const int32_t before = creator_count();
    void* handle = getPluginRegistry()->loadLibrary(c.path.c_str());
    EXPECT_EQ(handle == nullptr, !c.line.empty());
    EXPECT_EQ(last_registry_error(), c.line);
    if (c.path == plugin_path("empty")) {
      EXPECT_EQ(creator_count(), before);
    }
  }
  EXPECT_EQ(getPluginRegistry()->loadLibrary(nullptr), nullptr);
  EXPECT_EQ(last_registry_error(), "loadLibrary: the plugin library path is null");
}
#endif

// dlopen runs the library's static registration (REGISTER_TENSORRT_PLUGIN); the engine that needs its
// creator then deserializes and computes 3 * x + 0.5.
TEST_F(PluginTest, LibraryRegistersItselfWhenLoaded) {
  void* library = dlopen(plugin_path("static").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_TRUE(registered("ScaleOffset", "1", ""));
  const auto l = load(sample_engine("custom_plugin"));
  ASSERT_NE(l->context, nullptr) << l->logger.only_error();
  EXPECT_EQ(run_two_samples(*l), (std::vector<float>{0.5, 3.5, 6.5, 9.5, 12.5, 15.5, 18.5, 21.5}));
}

}  // namespace
}  // namespace trt_test
