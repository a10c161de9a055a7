// A plugin library that registers nothing, for the refusals of a library without plugin creators: no
// static registration, and the entry points IPluginRegistry::loadLibrary looks for hand out no creator.
// Independent of TensorRT's headers; built once per major all the same, beside that major's plugins.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void setLoggerFinder(void*) {}

extern "C" __attribute__((visibility("default"))) void* const* getCreators(int32_t& nbCreators) {
  nbCreators = 0;
  return nullptr;
}

extern "C" __attribute__((visibility("default"))) void* const* getPluginCreators(int32_t& nbCreators) {
  nbCreators = 0;
  return nullptr;
}
