#include "dlpack.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace inferlet_python {
namespace {

constexpr const char* kVersioned = "dltensor_versioned";
constexpr const char* kUsedVersioned = "used_dltensor_versioned";
constexpr const char* kUnversioned = "dltensor";
constexpr const char* kUsedUnversioned = "used_dltensor";

// Calls a consumed tensor's deleter when the package drops the last array that uses its memory.
class ImportedOwner {
 public:
  explicit ImportedOwner(dlpack::ManagedTensorVersioned* tensor) : mVersioned(tensor) {}
  explicit ImportedOwner(dlpack::ManagedTensor* tensor) : mUnversioned(tensor) {}
  ~ImportedOwner() {
    if (mVersioned && mVersioned->deleter) mVersioned->deleter(mVersioned);
    if (mUnversioned && mUnversioned->deleter) mUnversioned->deleter(mUnversioned);
  }
  ImportedOwner(const ImportedOwner&) = delete;
  ImportedOwner& operator=(const ImportedOwner&) = delete;

 private:
  dlpack::ManagedTensorVersioned* mVersioned = nullptr;
  dlpack::ManagedTensor* mUnversioned = nullptr;
};

nb::tuple int64Tuple(const int64_t* values, int32_t count) {
  nb::list items;
  for (int32_t k = 0; k < count; ++k) items.append(values[k]);
  return nb::tuple(items);
}

nb::tuple describe(nb::object owner, const dlpack::Tensor& tensor, bool read_only) {
  if (tensor.dtype.lanes != 1) {
    const std::string message = "the tensor's elements are vectors of " + std::to_string(tensor.dtype.lanes) +
                                " lanes, which no engine tensor is";
    throw nb::buffer_error(message.c_str());
  }
  if (tensor.ndim < 0) throw nb::buffer_error("the tensor has a negative rank");
  const uintptr_t address = reinterpret_cast<uintptr_t>(tensor.data) + tensor.byte_offset;
  nb::object strides = tensor.strides ? nb::object(int64Tuple(tensor.strides, tensor.ndim)) : nb::none();
  return nb::make_tuple(owner, address, int64Tuple(tensor.shape, tensor.ndim), strides, tensor.dtype.code,
                        tensor.dtype.bits, read_only);
}

// What an exported capsule's manager context holds: the owner of the memory and the shape it points at.
struct ExportContext {
  nb::object owner;
  std::vector<int64_t> shape;
  dlpack::ManagedTensorVersioned versioned{};
  dlpack::ManagedTensor unversioned{};
};

// Consumers may call a deleter from any thread, with or without the GIL.
void releaseContext(void* context) {
  if (!context || !Py_IsInitialized()) return;
  PyGILState_STATE state = PyGILState_Ensure();
  delete static_cast<ExportContext*>(context);
  PyGILState_Release(state);
}

void deleteVersioned(dlpack::ManagedTensorVersioned* self) { releaseContext(self->manager_ctx); }
void deleteUnversioned(dlpack::ManagedTensor* self) { releaseContext(self->manager_ctx); }

// A capsule nobody consumed still owns its tensor.
void destroyCapsule(PyObject* capsule) noexcept {
  if (PyCapsule_IsValid(capsule, kVersioned)) {
    auto* tensor = static_cast<dlpack::ManagedTensorVersioned*>(PyCapsule_GetPointer(capsule, kVersioned));
    tensor->deleter(tensor);
  } else if (PyCapsule_IsValid(capsule, kUnversioned)) {
    auto* tensor = static_cast<dlpack::ManagedTensor*>(PyCapsule_GetPointer(capsule, kUnversioned));
    tensor->deleter(tensor);
  }
}

// Takes the capsule's tensor over: renamed as consumed, its deleter run by the owner handed back.
template <typename Managed>
nb::tuple consume(PyObject* capsule, const char* name, const char* used, bool read_only) {
  auto* tensor = static_cast<Managed*>(PyCapsule_GetPointer(capsule, name));
  PyCapsule_SetName(capsule, used);
  nb::object owner =
      nb::cast(std::make_unique<ImportedOwner>(tensor).release(), nb::rv_policy::take_ownership);
  return describe(owner, tensor->dl_tensor, read_only);
}

nb::tuple importDlpack(nb::capsule capsule) {
  PyObject* object = capsule.ptr();
  if (PyCapsule_IsValid(object, kVersioned)) {
    const auto* tensor =
        static_cast<dlpack::ManagedTensorVersioned*>(PyCapsule_GetPointer(object, kVersioned));
    if (tensor->version.major != dlpack::kMajorVersion) {
      const std::string message = "the tensor is of DLPack " + std::to_string(tensor->version.major) + "." +
                                  std::to_string(tensor->version.minor) + "; inferlet reads version 1";
      throw nb::buffer_error(message.c_str());
    }
    const bool read_only = (tensor->flags & dlpack::kFlagReadOnly) != 0;
    return consume<dlpack::ManagedTensorVersioned>(object, kVersioned, kUsedVersioned, read_only);
  }
  if (PyCapsule_IsValid(object, kUnversioned)) {
    return consume<dlpack::ManagedTensor>(object, kUnversioned, kUsedUnversioned, false);
  }
  throw nb::buffer_error("the object's __dlpack__ answered no DLPack capsule that is still unconsumed");
}

nb::capsule exportDlpack(nb::object owner, uintptr_t data, nb::tuple shape, uint8_t code, uint8_t bits,
                         int32_t device_type, int32_t device_id, bool versioned) {
  auto context = std::make_unique<ExportContext>();
  context->owner = std::move(owner);
  for (nb::handle extent : shape) context->shape.push_back(nb::cast<int64_t>(extent));
  dlpack::Tensor tensor{};
  tensor.data = reinterpret_cast<void*>(data);
  tensor.device = {device_type, device_id};
  tensor.ndim = static_cast<int32_t>(context->shape.size());
  tensor.dtype = {code, bits, 1};
  tensor.shape = context->shape.data();
  void* managed = nullptr;
  if (versioned) {
    context->versioned = {{dlpack::kMajorVersion, 0}, context.get(), deleteVersioned, 0, tensor};
    managed = &context->versioned;
  } else {
    context->unversioned = {tensor, context.get(), deleteUnversioned};
    managed = &context->unversioned;
  }
  PyObject* capsule = PyCapsule_New(managed, versioned ? kVersioned : kUnversioned, destroyCapsule);
  if (!capsule) throw nb::python_error();
  context.release();  // the capsule's, or its consumer's, from here
  return nb::steal<nb::capsule>(capsule);
}

}  // namespace

void bindDlpack(nb::module_& m) {
  nb::class_<ImportedOwner>(m, "DlpackOwner",
                            "Holds a consumed DLPack tensor; its producer's deleter runs when it goes.");
  m.def("import_dlpack", &importDlpack, nb::arg("capsule"));
  m.def("export_dlpack", &exportDlpack, nb::arg("owner"), nb::arg("address"), nb::arg("shape"),
        nb::arg("code"), nb::arg("bits"), nb::arg("device_type"), nb::arg("device_id"), nb::arg("versioned"));
}

}  // namespace inferlet_python
