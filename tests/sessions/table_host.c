/* A host that loads the sessions library at run time, as a program compiled against the interface's
 * first version would and as one of this version does: dlopen, the one symbol inferlet_get_api, then
 * only the table. Its first part carries its own copy of version 1's table and session options, laid
 * out exactly as version 1's header had them, and runs the smoke engine through them; its second part
 * uses this header's table and the session config that grows. Usage: table_host LIBRARY SMOKE_ENGINE.
 * Prints "table_host: ok" and exits 0 when everything answered as expected. */
#include <dlfcn.h>
#include <inferlet_sessions.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "read_file.h"

/* ---- version 1, as its header declared it --------------------------------------------------------- */
typedef struct v1_session_options {
  int32_t profile;
  int32_t cuda_graphs;
  int32_t graph_cache_size;
  void* stream;
  int32_t phase_timing;
} v1_session_options;

typedef struct v1_api {
  inferlet_code (*status_code)(const inferlet_status*);
  const char* (*status_message)(const inferlet_status*);
  void (*status_release)(inferlet_status*);
  void (*set_log)(inferlet_log_fn, void*, inferlet_log_level);
  int (*tensorrt_major)(void);
  inferlet_status* (*engine_load)(const void*, size_t, int, inferlet_engine**);
  void (*engine_release)(inferlet_engine*);
  inferlet_status* (*engine_tensor_count)(const inferlet_engine*, int32_t*);
  inferlet_status* (*engine_tensor_info)(const inferlet_engine*, int32_t, inferlet_tensor_info*);
  inferlet_status* (*engine_tensor_format)(const inferlet_engine*, int32_t, int32_t, int32_t*);
  inferlet_status* (*engine_profile_count)(const inferlet_engine*, int32_t*);
  inferlet_status* (*engine_profile_shape)(const inferlet_engine*, int32_t, int32_t, inferlet_profile_point,
                                           inferlet_shape*);
  inferlet_status* (*engine_device_memory)(const inferlet_engine*, size_t*, size_t*);
  void (*session_options_init)(v1_session_options*);
  inferlet_status* (*session_create)(inferlet_engine*, const v1_session_options*, inferlet_session**);
  void (*session_release)(inferlet_session*);
  inferlet_status* (*session_device_memory)(const inferlet_session*, size_t*);
  inferlet_status* (*session_enqueue)(inferlet_session*, const inferlet_tensor*, size_t, inferlet_tensor*,
                                      size_t);
  inferlet_status* (*session_wait)(inferlet_session*);
  inferlet_status* (*session_run)(inferlet_session*, const inferlet_tensor*, size_t, inferlet_tensor*,
                                  size_t);
  inferlet_status* (*session_event)(inferlet_session*, void**);
  inferlet_status* (*session_resolve_shapes)(inferlet_session*, const inferlet_tensor*, size_t,
                                             inferlet_tensor*, size_t);
  inferlet_status* (*session_phase_times)(const inferlet_session*, inferlet_phase_times*);
} v1_api;

enum { kBatch = 3, kIn = 340, kOut = 338 };
static float in0[kBatch * kIn], in1[kBatch * kIn], out0[kBatch * kOut];

static int fail(const char* what) {
  fprintf(stderr, "table_host: %s\n", what);
  return 1;
}

/* One call of kBatch samples in host memory; 1 when it fails or a value is off. out0 = in0 + in1
 * smoothed over three neighbours, as the smoke engine computes it. */
static int run_call(inferlet_status* (*run)(inferlet_session*, const inferlet_tensor*, size_t,
                                            inferlet_tensor*, size_t),
                    inferlet_session* session) {
  inferlet_tensor inputs[2], outputs[1];
  int b, k, wrong = 0;
  memset(inputs, 0, sizeof inputs);
  memset(outputs, 0, sizeof outputs);
  for (k = 0; k < kBatch * kIn; ++k) {
    in0[k] = (float)(k % 13) - 6.0f;
    in1[k] = (float)(k % 7) * 0.25f;
  }
  inputs[0].name = "in0";
  inputs[1].name = "in1";
  outputs[0].name = "out0";
  inputs[0].data = in0;
  inputs[1].data = in1;
  outputs[0].data = out0;
  inputs[0].bytes = inputs[1].bytes = sizeof in0;
  outputs[0].bytes = sizeof out0;
  inputs[0].memory = inputs[1].memory = outputs[0].memory = INFERLET_MEMORY_HOST;
  inputs[0].shape.rank = inputs[1].shape.rank = 2;
  inputs[0].shape.dims[0] = inputs[1].shape.dims[0] = kBatch;
  inputs[0].shape.dims[1] = inputs[1].shape.dims[1] = kIn;
  if (run(session, inputs, 2, outputs, 1) != NULL) return 1;
  if (outputs[0].shape.rank != 2 || outputs[0].shape.dims[0] != kBatch || outputs[0].shape.dims[1] != kOut)
    return 1;
  for (b = 0; b < kBatch; ++b) {
    for (k = 0; k < kOut; ++k) {
      const float* x0 = in0 + b * kIn + k;
      const float* x1 = in1 + b * kIn + k;
      const float expected = 0.25f * (x0[0] + x1[0]) + 0.5f * (x0[1] + x1[1]) + 0.25f * (x0[2] + x1[2]);
      const float error = out0[b * kOut + k] - expected;
      wrong += error > 1e-5f || error < -1e-5f;
    }
  }
  return wrong != 0;
}

/* Version 1's host: its options struct (graphs on and phase timing, the last field it had), its create. */
static int as_version_1(inferlet_get_api_fn get_api, const unsigned char* bytes, size_t size) {
  const v1_api* api = (const v1_api*)get_api(1);
  inferlet_engine* engine = NULL;
  inferlet_session* session = NULL;
  inferlet_phase_times times;
  v1_session_options options;
  int failed;
  if (!api) return fail("no table of version 1");
  if (api->engine_load(bytes, size, 0, &engine) != NULL) return fail("v1: engine_load failed");
  api->session_options_init(&options);
  if (options.profile != 0 || options.cuda_graphs != 0 || options.graph_cache_size != 8 || options.stream ||
      options.phase_timing != 0)
    return fail("v1: session_options_init wrote other defaults");
  options.cuda_graphs = 1;
  options.phase_timing = 1;
  if (api->session_create(engine, &options, &session) != NULL) return fail("v1: session_create failed");
  api->engine_release(engine);
  /* The third call with one key replays its graph: the options were read as version 1 laid them out. */
  failed = run_call(api->session_run, session) || run_call(api->session_run, session) ||
           run_call(api->session_run, session);
  if (!failed && (api->session_phase_times(session, &times) != NULL || times.graph_replay != 1))
    failed = fail("v1: the third call was no graph replay");
  api->session_release(session);
  return failed ? fail("v1: a call through version 1's table went wrong") : 0;
}

/* This version's host: the config and what versions 2, 3 and 4 added. */
static int as_this_version(inferlet_get_api_fn get_api, const unsigned char* bytes, size_t size) {
  const inferlet_api* api = get_api(INFERLET_API_VERSION);
  inferlet_engine* engine = NULL;
  inferlet_session* session = NULL;
  inferlet_session_config config;
  inferlet_data_type_info info;
  size_t count = 7;
  int failed;
  inferlet_status* status;
  if (!api) return fail("no table of this header's version");
  if (get_api(2) != api) return fail("version 2's table is not the same table");
  if (strcmp(api->code_name(INFERLET_PROFILE_IN_USE), "INFERLET_PROFILE_IN_USE") != 0)
    return fail("code_name answered another name");
  /* Version 3: a plugin library, here none, refused in words. */
  status = api->plugin_library_load(NULL);
  failed = api->status_code(status) != INFERLET_INVALID_ARGUMENT ||
           strcmp(api->status_message(status), "path is null") != 0;
  api->status_release(status);
  if (failed) return fail("plugin_library_load(NULL) did not answer INFERLET_INVALID_ARGUMENT");
  inferlet_data_type_info_init(&info);
  if (api->describe_data_type(8, &info) != NULL || strcmp(info.name, "kINT64") != 0 ||
      strcmp(info.npy_descr, "<i8") != 0 || info.bits != 64)
    return fail("describe_data_type(8) is not kINT64");
  if (api->engine_load(bytes, size, 0, &engine) != NULL) return fail("engine_load failed");
  inferlet_session_config_init(&config);
  config.profile = 0;
  /* Version 4: a profile's values of a tensor that is no shape tensor, refused in words, count untouched. */
  status = api->engine_profile_tensor_values(engine, 0, 0, INFERLET_PROFILE_MIN, NULL, 0, &count);
  failed = api->status_code(status) != INFERLET_INVALID_ARGUMENT || count != 7 ||
           strcmp(api->status_message(status),
                  "input 'in0' is no shape tensor: only a shape tensor input has values in a profile") != 0;
  api->status_release(status);
  if (failed) return fail("engine_profile_tensor_values of in0 did not answer INFERLET_INVALID_ARGUMENT");
  if (api->session_create_with_config(engine, &config, &session) != NULL)
    return fail("session_create_with_config failed");
  api->engine_release(engine);
  /* Version 4: output bounds, here without the array they are written to, refused in words. */
  status = api->session_resolve_output_bounds(session, NULL, 0, NULL, 1, NULL);
  failed = api->status_code(status) != INFERLET_INVALID_ARGUMENT ||
           strcmp(api->status_message(status), "bounds is null") != 0;
  api->status_release(status);
  if (!failed) failed = run_call(api->session_run, session);
  api->session_release(session);
  return failed ? fail("a call through this version's table went wrong") : 0;
}

int main(int argc, char** argv) {
  void* library;
  inferlet_get_api_fn get_api;
  unsigned char* bytes;
  size_t size = 0;
  int failed;
  if (argc != 3 || !(bytes = read_file(argv[2], &size)))
    return fail("usage: table_host LIBRARY SMOKE_ENGINE");
  if (!(library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL))) return fail(dlerror());
  /* C99 has no cast from an object pointer to a function pointer; the bytes are what POSIX promises. */
  *(void**)(&get_api) = dlsym(library, "inferlet_get_api");
  if (!get_api) return fail("no inferlet_get_api");
  if (get_api(0) != NULL || get_api(INFERLET_API_VERSION + 1) != NULL)
    return fail("a table for version 0 or for a version newer than the library's");
  failed = as_version_1(get_api, bytes, size) || as_this_version(get_api, bytes, size);
  free(bytes);
  if (failed) return 1;
  printf("table_host: ok\n");
  return 0;
}
