// The engine's outputs checked at construction: a call sizes every buffer before it runs. Apart from
// engine_infer.cpp, whose call path inlines the shape resolution this check shares.
#include <vector>

#include "engine_infer.h"
#include "logging.h"
#include "trt_binding.h"

// Every buffer is sized before the call from the configured shapes, so an output whose extents TensorRT
// learns only while the network runs (an extent still -1 once every input shape is set) would be
// written past its buffer. Asked of the fresh context, which runs profile 0, at that profile's largest
// input shapes (every profile has the same tensors), and only where such outputs exist and some output
// has an extent the engine leaves open. Other outcomes of the resolution are left to the calls.
bool trt_engine_core::outputs_sized_by_input_shapes() {
  if (!trt_binding::servesValueDependentShapes()) return true;
  std::vector<trt_binding::TensorShape> block = mBlocks[0].tensors;
  bool open_output = false;
  for (trt_binding::TensorShape& tensor : block) {
    if (tensor.is_input) {
      tensor.dims =
          trt_binding::profileDimensions(*mEngine, tensor.binding, 0, nvinfer1::OptProfileSelector::kMAX);
    } else {
      open_output |= !trt_binding::extentsKnown(trt_binding::bindingDimensions(*mEngine, tensor.binding));
    }
  }
  if (!open_output) return true;
  const trt_binding::ShapeResolution resolution = trt_binding::resolveShapes(
      *mContext, block.data(), static_cast<int>(block.size()), trt_binding::ReadBack::kOutputs);
  if (resolution.outcome != trt_binding::ShapeResolution::kUnresolved) return true;
  const trt_binding::TensorShape& output = block[resolution.tensor];
  if (output.dims.nbDims < 0 || output.dims.nbDims > 8) return true;
  logError() << "binding " << output.binding.index << " ("
             << trt_binding::bindingName(*mEngine, output.binding)
             << ") has a data-dependent shape: its extents are known only after the network ran, and every "
                "output buffer is sized before the call\n";
  return false;
}
