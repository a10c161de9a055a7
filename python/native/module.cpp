// inferlet._native: the sessions interface of include/inferlet_sessions.h for the Python package, over
// libinferlet_sessions<N>.so opened at run time. The package (inferlet/) gives it its Python shape:
// which library reads an engine, arrays, dtypes, the error classes.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "device_memory.h"
#include "dlpack.h"
#include "engine.h"
#include "engine_reading.h"
#include "log.h"
#include "session.h"
#include "sessions_library.h"
#include "status_error.h"

namespace nb = nanobind;
using namespace inferlet_python;

namespace {

// Makes the inferlet.Error of a code and message; set by the package when it is imported.
nb::object* gErrorFactory = nullptr;

void raiseStatus(const StatusError& error) {
  if (!gErrorFactory || gErrorFactory->is_none()) {
    PyErr_SetString(PyExc_RuntimeError, error.message().c_str());
    return;
  }
  try {
    nb::object exception = (*gErrorFactory)(error.code(), error.message());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  } catch (nb::python_error& failure) {
    failure.restore();
  }
}

// The library's description of a TensorRT data type: (name, numpy_name, npy_descr, kind, bits).
nb::tuple describeDataType(const SessionsLibrary& library, int32_t dtype) {
  inferlet_data_type_info info;
  inferlet_data_type_info_init(&info);
  check(library.api(), library.api().describe_data_type(dtype, &info));
  return nb::make_tuple(nb::str(info.name), nb::str(info.numpy_name), nb::str(info.npy_descr),
                        nb::str(&info.kind, 1), info.bits);
}

// inferlet_plugin_library_load through the table, the GIL released while the library loads it.
void loadPlugins(const SessionsLibrary& library, const std::string& path) {
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = library.api().plugin_library_load(path.c_str());
  }
  check(library.api(), status);
}

}  // namespace

NB_MODULE(_native, m) {
  // Engines and sessions a program still holds at exit are normal in Python.
  nb::set_leak_warnings(false);

  nb::exception<LoadError>(m, "LibraryError", PyExc_OSError);
  nb::register_exception_translator([](const std::exception_ptr& thrown, void*) {
    try {
      std::rethrow_exception(thrown);
    } catch (const StatusError& error) {
      raiseStatus(error);
    }
  });

  m.def(
      "set_error_factory",
      [](nb::object factory) {
        if (!gErrorFactory) gErrorFactory = new nb::object();
        *gErrorFactory = std::move(factory);
      },
      "factory(code, message) makes the exception a failed call raises.");
  // numpy's __array_interface__ builds a dict on every read; the buffer protocol hands the address over
  // directly. The package has made every array contiguous before it asks.
  m.def(
      "buffer_address",
      [](nb::handle array) {
        Py_buffer view;
        if (PyObject_GetBuffer(array.ptr(), &view, PyBUF_ANY_CONTIGUOUS) != 0) throw nb::python_error();
        const uintptr_t address = reinterpret_cast<uintptr_t>(view.buf);
        PyBuffer_Release(&view);
        return address;
      },
      nb::arg("array"), "The address of a contiguous buffer's first byte; raises for one that is not.");
  m.def("set_log", &setLog, nb::arg("callback").none(), nb::arg("threshold"),
        "callback(level, message) for every message at or below threshold, of every library; None: off.");

  nb::class_<SessionsLibrary>(m, "Library")
      .def_prop_ro("major", &SessionsLibrary::major)
      .def_prop_ro("path", [](const SessionsLibrary& library) { return library.path(); })
      .def("describe_data_type", &describeDataType, nb::arg("dtype"),
           "TensorRT data type dtype as (name, numpy_name, npy_descr, kind, bits); raises for a value "
           "that is none.")
      .def("load_plugins", &loadPlugins, nb::arg("path"),
           "Loads the plugin library at path into this library's TensorRT (inferlet_plugin_library_load); "
           "raises the error of its status.");
  m.def(
      "open_library",
      [](const std::string& path) -> const SessionsLibrary& {
        const SessionsLibrary& library = SessionsLibrary::Open(path);
        installLog(library);
        return library;
      },
      nb::rv_policy::reference, nb::arg("path"),
      "The sessions library at path, loaded once per process; raises LibraryError.");

  m.def("read_engine", &readEngine, nb::arg("candidates"), nb::arg("data"), nb::arg("device"),
        nb::arg("allow_host_code"),
        "(engine, refusals, load_errors): the Engine of the first of candidates [(major, path)] whose "
        "library reads data on device (a version-compatible engine only with allow_host_code), or None "
        "with each library's (code, message) and load error.");

  nb::class_<Engine>(m, "Engine")
      .def(nb::init<const SessionsLibrary&, nb::bytes, int, bool>(), nb::arg("library"), nb::arg("data"),
           nb::arg("device"), nb::arg("allow_host_code"))
      .def_prop_ro("major", [](const Engine& engine) { return engine.library().major(); })
      .def_prop_ro("library", &Engine::library, nb::rv_policy::reference)
      .def_prop_ro("device", &Engine::device)
      .def_prop_ro("closed", &Engine::closed)
      .def("tensors", &Engine::tensors)
      .def("tensor_format", &Engine::tensor_format, nb::arg("index"), nb::arg("profile"))
      .def("profile_count", &Engine::profile_count)
      .def("profile_shape", &Engine::profile_shape, nb::arg("profile"), nb::arg("index"), nb::arg("point"))
      .def("profile_values", &Engine::profile_values, nb::arg("profile"), nb::arg("index"), nb::arg("point"))
      .def("device_memory", &Engine::device_memory)
      .def("close", &Engine::close);

  nb::class_<Session>(m, "Session")
      .def(nb::init<Engine&, int32_t, bool, int32_t, uintptr_t>(), nb::arg("engine"), nb::arg("profile"),
           nb::arg("cuda_graphs"), nb::arg("graph_cache_size"), nb::arg("stream"))
      .def_prop_ro("closed", &Session::closed)
      .def("enqueue", &Session::enqueue, nb::arg("inputs"), nb::arg("outputs"))
      .def("wait", &Session::wait)
      .def("run", &Session::run, nb::arg("inputs"), nb::arg("outputs"))
      .def("resolve", &Session::resolve, nb::arg("inputs"), nb::arg("outputs"))
      .def("device_memory", &Session::device_memory)
      .def("stream", &Session::stream)
      .def("wait_stream", &Session::wait_stream, nb::arg("stream"))
      .def("order_stream", &Session::order_stream, nb::arg("stream"))
      .def("close", &Session::close);

  bindDeviceMemory(m);
  bindDlpack(m);
}
