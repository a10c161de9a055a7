#include "engine_reading.h"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "engine.h"
#include "engine_reader.h"
#include "log.h"

namespace inferlet_python {

nb::tuple readEngine(nb::list candidates, nb::bytes data, int device, bool allow_host_code) {
  std::vector<inferlet_loader::Candidate> tried;
  for (nb::handle candidate : candidates) {
    nb::tuple pair = nb::cast<nb::tuple>(candidate);
    tried.push_back({nb::cast<int>(pair[0]), nb::cast<std::string>(pair[1])});
  }
  inferlet_loader::ReadOptions options;
  options.device = device;
  options.allow_host_code = allow_host_code;
  options.describe = false;
  options.on_open = [](const SessionsLibrary& library) {
    nb::gil_scoped_acquire gil;
    installLog(library);
  };
  nb::list refusals, load_errors;
  try {
    inferlet_loader::EngineReading reading;
    {
      // data is immutable and the caller's reference keeps it.
      nb::gil_scoped_release released;
      reading = inferlet_loader::ReadEngine(data.c_str(), data.size(), tried, options);
    }
    nb::object engine = nb::cast(new Engine(*reading.library, reading.engine.Release(), device),
                                 nb::rv_policy::take_ownership);
    return nb::make_tuple(engine, refusals, load_errors);
  } catch (const inferlet_loader::NoneReads& none) {
    for (const inferlet_loader::Refusal& refusal : none.refusals())
      refusals.append(nb::make_tuple(static_cast<int>(refusal.code), refusal.message));
    for (const std::string& error : none.load_errors()) load_errors.append(error);
  }
  return nb::make_tuple(nb::none(), refusals, load_errors);
}

}  // namespace inferlet_python
