/* inferlet sessions: a serialized TensorRT engine loaded once on one device, shared by any number of
 * sessions, each running calls that overlap with the host's work and with other sessions' calls.
 *
 * Conventions of this interface
 *
 *  Results. Every function that can fail returns an inferlet_status pointer: NULL for success, else
 *   a status that the caller owns and releases with inferlet_status_release. It carries a code
 *   (inferlet_code) and a message. A status that could not itself be allocated is a shared static
 *   one (code INFERLET_OUT_OF_MEMORY) that inferlet_status_release leaves alone. A refusal (any code
 *   but INFERLET_TENSORRT_ERROR, INFERLET_CUDA_ERROR and INFERLET_CUDA_STICKY from a step that runs)
 *   leaves the outputs as they were, with nothing copied and nothing run. A call that fails while it
 *   runs has ended: whatever of it was queued has finished, its outputs' contents are undefined, and
 *   there is nothing to wait for. No function ends the process or throws, and nothing is printed:
 *   messages reach the host only through the log callback it installs (inferlet_set_log).
 *
 *  Ownership. Engines and sessions are opaque. An engine lives until the host has released its own
 *   reference (inferlet_engine_release) and every session made from it is released; a session holds
 *   its engine. Strings handed out (tensor names, messages) live as long as the object that handed
 *   them out. The engine bytes may be released once inferlet_engine_load returns.
 *
 *  Threads. Every function may be called from any thread, whatever its current CUDA device: a call
 *   that reaches the device makes the engine's device current for its duration and restores the
 *   caller's before it returns. Sessions of one engine may be created, used and released from many
 *   threads at once. One session runs one call at a time: from inferlet_session_enqueue until the
 *   inferlet_session_wait that completes it (from any thread), every other enqueue or run on that
 *   session is refused (INFERLET_BUSY). Releasing a session (or an engine the host still uses) while
 *   another thread is inside a function with it is the host's error.
 *
 *  Profiles. A session is bound to one optimization profile. When the engine has dynamic shapes,
 *   TensorRT requires that contexts in concurrent use have separate profiles: a second live session
 *   on a profile is refused (INFERLET_PROFILE_IN_USE), and the profile is free again once that
 *   session is released. An engine without dynamic shapes may have any number of sessions on its one
 *   profile.
 *
 *  Memory kinds of a call's tensors (inferlet_memory):
 *   - INFERLET_MEMORY_HOST: ordinary (pageable) host memory. Inputs are copied into the session's
 *     pinned staging before enqueue returns, so the caller may reuse them at once; outputs are copied
 *     into the caller's memory by inferlet_session_wait.
 *   - INFERLET_MEMORY_PINNED: page-locked host memory (cudaMallocHost, cudaHostAlloc). Copied directly
 *     on the session's stream: the caller keeps inputs unchanged and outputs untouched until the call
 *     is waited for.
 *   - INFERLET_MEMORY_DEVICE: memory of the engine's device, aligned as cudaMalloc aligns (TensorRT 10
 *     and 11 refuse addresses that are not 256-byte aligned). Used in place, no copy; the same rule
 *     as for pinned memory. Work the host did on that memory must be complete, or ordered before the
 *     session's stream, when it enqueues.
 *   The library cannot tell the kinds apart: memory of another kind than the one named is undefined.
 *
 *  Shapes. Each call gives every input's full shape (any dimensions the session's profile accepts);
 *   the call writes every output's shape as the engine resolved it. Buffers are sized in bytes: a
 *   buffer smaller than its tensor at the call's shape is refused (INFERLET_BUFFER_TOO_SMALL).
 *
 *  Shapes that depend on values (TensorRT 10 and 11; the libraries for 7 and 8 refuse such engines
 *   when a session is made, INFERLET_UNSUPPORTED_TENSOR naming the tensor):
 *   - A data-dependent output (non-maximum suppression, NonZero) has extents TensorRT learns only while
 *     the call runs. inferlet_session_resolve_shapes writes -1 for them, and
 *     inferlet_session_resolve_output_bounds says which outputs they are and the most bytes each may
 *     take at the call's input shapes (TensorRT's bound): every memory kind's buffer must hold that
 *     bound, or the call is refused before it runs (INFERLET_BUFFER_TOO_SMALL, the message says how
 *     many bytes). TensorRT writes a device-memory output in place; host and pinned outputs are written
 *     into device memory the session holds, which grows when a call needs more than it holds (to
 *     TensorRT's bound at that call's input shapes) and is kept, so that calls stop allocating once it
 *     has grown (inferlet_session_device_memory counts it), and copied out at their real size.
 *     TensorRT tells the shape before its enqueue returns, so inferlet_session_enqueue (and run) writes
 *     it, whole; the values are there once the call is waited for.
 *   - A shape tensor is an input TensorRT reads from host memory (inferlet_tensor_info.on_host), whose
 *     values steer other tensors' shapes. It is given in INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED
 *     (INFERLET_MEMORY_DEVICE is refused, INFERLET_INVALID_ARGUMENT), with its shape as any input; its
 *     values must lie in the range the session's profile gives them, which
 *     inferlet_engine_profile_tensor_values tells (INFERLET_SHAPE_OUT_OF_PROFILE otherwise, naming the
 *     tensor, its values and the range). The session copies them before enqueue returns, whatever the
 *     memory kind: the host may reuse its buffer at once. inferlet_session_resolve_shapes reads them too.
 *
 *  CUDA graphs (inferlet_session_options.cuda_graphs). A call's key is its input shapes and, for
 *   every tensor, its memory kind and the address the queued work uses (the host's pointer for pinned
 *   and device memory; for host memory the session's own staging, so any host pointer will do), and
 *   the values of its shape tensors (a graph replays the values it was captured with). The
 *   first call with a key runs as without graphs, then its work is captured into a graph; later calls
 *   with the key launch that graph and leave TensorRT alone. A capture that fails (TensorRT refuses to
 *   be captured, the capture is invalidated, the graph does not instantiate) is said once through the
 *   log at INFERLET_LOG_WARNING, and its key keeps running without a graph (as many failed keys are
 *   remembered as the cache holds graphs; a key forgotten is tried again). A session whose engine has
 *   data-dependent outputs runs every call without a graph (a replay would leave out TensorRT, which
 *   tells their shapes): it says so once, at INFERLET_LOG_WARNING, when it is made.
 *
 *  Faults. A CUDA error that leaves the device unusable (a sticky fault: an illegal address, a launch
 *   failure, ...) is answered INFERLET_CUDA_STICKY, and so is every later call of every session on
 *   that device, loads and session creations included, without running. Releasing objects after it
 *   is safe. Any other CUDA error fails only its call (INFERLET_CUDA_ERROR; INFERLET_OUT_OF_MEMORY for
 *   an allocation), and the session stays usable.
 *
 *  Versions. The interface has a version, INFERLET_API_VERSION; this header is version 5. It evolves
 *   by appending only: a function, once published, keeps its name, arguments and meaning in every later
 *   version, and new functions come after the existing ones. Structs of version 1 are frozen as they
 *   are. A struct that may gain fields starts with struct_size, the sizeof the host was compiled with
 *   (its _init helper, inline in this header, sets it): the library reads and writes only that far,
 *   gives the fields a shorter struct lacks their defaults, and refuses a longer struct whose fields
 *   beyond its own are not zero (every field appended later has zero as its default).
 *   Hosts that load the library at run time (dlopen) look up one symbol, inferlet_get_api, and call it
 *   with the version they were compiled against: they get the table of every function of that version
 *   (inferlet_api: the functions in the order of this header, appended to as the interface grows), or
 *   NULL from a library older than that version. A host of version N reads only version N's members.
 *   Version 1: the interface as first released. Version 2 adds inferlet_session_config with
 *   inferlet_session_create_with_config (the form of the options that can grow), inferlet_code_name,
 *   inferlet_data_type_info, inferlet_engine_properties, inferlet_engine_profile_resolved_shape and
 *   inferlet_engine_config with inferlet_engine_load_with_config. Version 3 adds
 *   inferlet_plugin_library_load. Version 4 adds inferlet_output_bound with
 *   inferlet_session_resolve_output_bounds (data-dependent outputs; shape tensors are served from this
 *   version on too) and inferlet_engine_profile_tensor_values (a shape tensor's values in a profile). Version
 * 5 adds streams and memory for hosts without a CUDA runtime of their own (inferlet_session_stream,
 *   inferlet_session_wait_stream, inferlet_session_order_stream and the inferlet_memory_* functions).
 *
 * The library is built once per TensorRT major (libinferlet_sessions8.so, ...7, ...10, ...11); a host
 * links the one that matches its TensorRT, or loads it and asks for the table. Its data types and
 * formats are numbered as TensorRT numbers its DataType and TensorFormat. inferlet_sessions.hpp wraps
 * this header in RAII types. */
#ifndef INFERLET_SESSIONS_H_
#define INFERLET_SESSIONS_H_

#include <stddef.h>
#include <stdint.h>

#if defined(INFERLET_SESSIONS_BUILD)
#define INFERLET_SESSIONS_API __attribute__((visibility("default")))
#else
#define INFERLET_SESSIONS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { INFERLET_API_VERSION = 5 };

/* ---- Results ---------------------------------------------------------------------------------- */

typedef enum inferlet_code {
  INFERLET_OK = 0,
  INFERLET_INVALID_ARGUMENT = 1,     /* a null where a pointer is needed, a count or value out of range */
  INFERLET_OUT_OF_MEMORY = 2,        /* host or device memory could not be had */
  INFERLET_ENGINE_REFUSED = 3,       /* the bytes are no engine this TensorRT can deserialize */
  INFERLET_UNSUPPORTED_TENSOR = 4,   /* a tensor not dense and row-major in device memory */
  INFERLET_PROFILE_IN_USE = 5,       /* another live session holds the profile (dynamic shapes) */
  INFERLET_SHAPE_OUT_OF_PROFILE = 6, /* an input shape the session's profile does not accept */
  INFERLET_BUFFER_TOO_SMALL = 7,     /* a buffer with fewer bytes than its tensor at the call's shape */
  INFERLET_BUSY = 8,                 /* the session is still running a call */
  INFERLET_NOT_RUNNING = 9,          /* wait or event with no call enqueued, phase times with none done */
  INFERLET_TENSORRT_ERROR = 10,      /* TensorRT refused a step (its own message is logged) */
  INFERLET_CUDA_ERROR = 11,          /* a CUDA call failed; the device is still usable */
  INFERLET_CUDA_STICKY = 12,         /* the device has a sticky fault: nothing more runs on it */
  INFERLET_INTERNAL_ERROR = 13       /* a failure of the library's own that no other code describes */
} inferlet_code;

typedef struct inferlet_status inferlet_status;

/* INFERLET_OK for NULL */
INFERLET_SESSIONS_API inferlet_code inferlet_status_code(const inferlet_status* status);
/* "" for NULL */
INFERLET_SESSIONS_API const char* inferlet_status_message(const inferlet_status* status);
/* NULL is fine */
INFERLET_SESSIONS_API void inferlet_status_release(inferlet_status* status);

/* ---- Log -------------------------------------------------------------------------------------- */

typedef enum inferlet_log_level {
  INFERLET_LOG_ERROR = 1, /* numbered as TensorRT's ILogger::Severity; its kINTERNAL_ERROR comes as this */
  INFERLET_LOG_WARNING = 2,
  INFERLET_LOG_INFO = 3,
  INFERLET_LOG_VERBOSE = 4
} inferlet_log_level;

/* Called with every message of a level at or below threshold (a threshold outside ERROR..VERBOSE is
 * taken as the nearer end), the library's and TensorRT's, from whichever thread made the call,
 * possibly from several threads at once. NULL (the default) logs nothing. The callback may call
 * into the library; one already running on another thread may still finish after inferlet_set_log
 * returns. */
typedef void (*inferlet_log_fn)(void* user, inferlet_log_level level, const char* message);
INFERLET_SESSIONS_API void inferlet_set_log(inferlet_log_fn fn, void* user, inferlet_log_level threshold);

/* The TensorRT major this library was built for (8 for libinferlet_sessions8.so, ...). */
INFERLET_SESSIONS_API int inferlet_tensorrt_major(void);

/* "INFERLET_BUSY" for INFERLET_BUSY; "INFERLET_UNKNOWN_CODE" for a value that is no code. (Version 2) */
INFERLET_SESSIONS_API const char* inferlet_code_name(inferlet_code code);

/* What a tool needs to know of one of TensorRT's data types, numbered as nvinfer1::DataType (the
 * numbering is TensorRT's across majors, so any library answers for every type, even one its TensorRT
 * lacks). Strings are static. (Version 2) */
typedef struct inferlet_data_type_info {
  size_t struct_size;     /* sizeof(inferlet_data_type_info) as the host was compiled (see the Versions) */
  const char* name;       /* TensorRT's enumerator: "kFLOAT", "kBF16", ... */
  const char* numpy_name; /* numpy's (or ml_dtypes') name: "float32", "bfloat16"; "" for the 4-bit types */
  const char* npy_descr;  /* the .npy header's descr: "<f4", "<i8", "|b1"; raw bytes where numpy has
                             no type, as np.save writes ml_dtypes' ("<V2" for kBF16, "<V1" for kFP8
                             and kE8M0); "" for the 4-bit types */
  char kind;              /* 'f' floating point, 'i' signed integer, 'u' unsigned integer, 'b' boolean */
  int32_t bits;           /* per element: 32, 16, 8, 64, 4 */
} inferlet_data_type_info;

static inline void inferlet_data_type_info_init(inferlet_data_type_info* info) {
  const inferlet_data_type_info empty = {sizeof(inferlet_data_type_info), "", "", "", 0, 0};
  *info = empty;
}

/* Refused with INFERLET_INVALID_ARGUMENT for a value that is no TensorRT data type (the message names
 * it). */
INFERLET_SESSIONS_API inferlet_status* inferlet_describe_data_type(int32_t dtype,
                                                                   inferlet_data_type_info* info);

/* ---- Plugins ---------------------------------------------------------------------------------- */

/* Loads a library of TensorRT plugins (an engine's custom layers) into this library's TensorRT, so that
 * engines whose layers need the plugin creators it registers can be loaded; call it before loading
 * them. TensorRT 10 and 11: IPluginRegistry::loadLibrary, which registers the creators that the
 * library's getCreators (or getPluginCreators) hands out. TensorRT 7 and 8: dlopen with RTLD_NOW |
 * RTLD_GLOBAL, whose static initialisers register the library's creators (REGISTER_TENSORRT_PLUGIN).
 * The library stays loaded until the process ends, refused or not. A library this function loaded
 * before answers NULL again and is not loaded twice. Refused: a null or empty path
 * (INFERLET_INVALID_ARGUMENT); a library that cannot be loaded, INFERLET_INVALID_ARGUMENT with the
 * dynamic loader's reason on 7 and 8, INFERLET_TENSORRT_ERROR with TensorRT's on 10 and 11; and a
 * library that registers no plugin creator (INFERLET_INVALID_ARGUMENT): after it is loaded the registry
 * holds no creator it did not hold before, and on 7 and 8 none that lies in the library itself either
 * (its static registration runs when it is first loaded, whoever loads it). (Version 3) */
INFERLET_SESSIONS_API inferlet_status* inferlet_plugin_library_load(const char* path);

/* ---- Engines ---------------------------------------------------------------------------------- */

typedef struct inferlet_engine inferlet_engine;

/* Deserializes size bytes on CUDA device `device` (an ordinal the process sees). */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_load(const void* bytes, size_t size, int device,
                                                            inferlet_engine** engine);
/* Drops the host's reference; the engine goes with its last session. NULL is fine. */
INFERLET_SESSIONS_API void inferlet_engine_release(inferlet_engine* engine);

/* How an engine is loaded, in the form that can grow (version 2 on). */
typedef struct inferlet_engine_config {
  size_t struct_size;      /* sizeof(inferlet_engine_config) as the host was compiled (see the Versions) */
  int32_t device;          /* the CUDA device ordinal; default 0 */
  int32_t allow_host_code; /* nonzero: a version-compatible engine (TensorRT 10 and later: it holds host
                              code, which TensorRT then runs in this process) may load; default 0, and
                              such an engine is refused. Only for engines from a trusted source. With
                              TensorRT 7 and 8, whose engines hold no host code, it changes nothing. */
} inferlet_engine_config;

/* The defaults, and struct_size for this header. */
static inline void inferlet_engine_config_init(inferlet_engine_config* config) {
  const inferlet_engine_config defaults = {sizeof(inferlet_engine_config), 0, 0};
  *config = defaults;
}

/* inferlet_engine_load with a config (NULL: the defaults); inferlet_engine_load(bytes, size, device, e)
 * is this with device and allow_host_code 0. A struct_size below version 2's struct is refused
 * (INFERLET_INVALID_ARGUMENT), as is a longer struct whose fields this library does not know are not
 * zero. Without allow_host_code, TensorRT 10 and 11 refuse a version-compatible engine
 * (INFERLET_ENGINE_REFUSED; the message names allow_host_code). (Version 2) */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_load_with_config(const void* bytes, size_t size,
                                                                        const inferlet_engine_config* config,
                                                                        inferlet_engine** engine);

enum { INFERLET_MAX_DIMS = 8 };

typedef struct inferlet_shape {
  int32_t rank;
  int64_t dims[INFERLET_MAX_DIMS]; /* -1 where the engine leaves an extent to the profile */
} inferlet_shape;

typedef struct inferlet_tensor_info {
  const char* name;
  int32_t is_input;
  int32_t dtype;     /* as nvinfer1::DataType */
  int32_t format;    /* as nvinfer1::TensorFormat, of profile 0 (see inferlet_engine_tensor_format) */
  int32_t on_host;   /* TensorRT reads it from host memory (a shape tensor; see "Shapes that depend on
                        values") */
  int32_t item_size; /* bytes per element; 1 for the 4-bit types, whose tensors take (elements + 1) / 2 */
  inferlet_shape shape;
} inferlet_tensor_info;

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_count(const inferlet_engine* engine,
                                                                    int32_t* count);
/* index in [0, count), in the engine's order of its I/O tensors (on TensorRT 7 and 8 the bindings of
 * profile 0, whose names every profile shares). */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_info(const inferlet_engine* engine,
                                                                   int32_t index, inferlet_tensor_info* info);
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_format(const inferlet_engine* engine,
                                                                     int32_t index, int32_t profile,
                                                                     int32_t* format);
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_count(const inferlet_engine* engine,
                                                                     int32_t* count);

typedef enum inferlet_profile_point {
  INFERLET_PROFILE_MIN = 0,
  INFERLET_PROFILE_OPT = 1,
  INFERLET_PROFILE_MAX = 2
} inferlet_profile_point;

/* An input's smallest, optimal or largest shape under a profile. tensor_index is the input's index as
 * inferlet_engine_tensor_info numbers it; an output's is refused (INFERLET_INVALID_ARGUMENT). */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_shape(const inferlet_engine* engine,
                                                                     int32_t profile, int32_t tensor_index,
                                                                     inferlet_profile_point point,
                                                                     inferlet_shape* shape);
/* Device memory the engine holds (its weights, as the device's free memory fell when it was
 * deserialized: the library's own allocations wait for that, other allocations on the device at the
 * same time would count too) and what TensorRT says one execution context needs. */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_device_memory(const inferlet_engine* engine,
                                                                     size_t* engine_bytes,
                                                                     size_t* context_bytes);

/* What an engine says of itself beyond its tensors. (Version 2) */
typedef struct inferlet_engine_properties {
  size_t struct_size;     /* sizeof(inferlet_engine_properties) as the host was compiled (see the Versions) */
  const char* name;       /* the name it was built with, "" for none; lives as long as the engine */
  int32_t max_batch_size; /* as TensorRT 8 reports it: 1 for an engine of explicit batch */
  int32_t refittable;     /* nonzero: its weights can be refitted */
  int32_t binding_count;  /* tensors times profiles: TensorRT 8's bindings, one per tensor per profile */
  int32_t dynamic_shapes; /* nonzero: some input extent is set by the profile, so each profile serves
                             one session at a time */
} inferlet_engine_properties;

static inline void inferlet_engine_properties_init(inferlet_engine_properties* properties) {
  const inferlet_engine_properties empty = {sizeof(inferlet_engine_properties), "", 0, 0, 0, 0};
  *properties = empty;
}

/* A struct_size below version 2's struct is refused (INFERLET_INVALID_ARGUMENT). (Version 2) */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_get_properties(const inferlet_engine* engine,
                                                                      inferlet_engine_properties* properties);

/* Any tensor's shape at a profile's point: an input's as inferlet_engine_profile_shape gives it, an
 * output's as TensorRT infers it once every input of the profile has its shape at that point (-1 where
 * TensorRT cannot tell an extent from the inputs' shapes; the engine's own shape where TensorRT
 * refuses the profile's shapes). The first question about a profile makes an execution context on it,
 * which holds one context's device memory (inferlet_engine_device_memory's context_bytes) until the
 * answer is known, and keeps the answers for the three points: later questions ask TensorRT nothing.
 * That first question is refused with INFERLET_PROFILE_IN_USE while a live session holds the profile of
 * an engine with dynamic shapes (and, while it runs, holds the profile as a session would), with
 * INFERLET_TENSORRT_ERROR when TensorRT makes no context.
 * (Version 2) */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_resolved_shape(const inferlet_engine* engine,
                                                                              int32_t profile,
                                                                              int32_t tensor_index,
                                                                              inferlet_profile_point point,
                                                                              inferlet_shape* shape);

/* A shape tensor input's values at a profile's smallest, optimal or largest point (see "Shapes that
 * depend on values"), as 64-bit integers whatever its type: *count is set to how many it has (its
 * elements at that point's shape), and they are written to values, which holds capacity of them
 * (values may be NULL where capacity is 0). tensor_index is the input's index as
 * inferlet_engine_tensor_info numbers it. Refused with INFERLET_INVALID_ARGUMENT for a null engine or
 * count, a null values with a capacity, a profile, tensor or point out of range, a tensor that is no
 * shape tensor (an output, an input in device memory, and on TensorRT 7 and 8, whose libraries serve
 * no shape tensors, every tensor: the message says so for an input TensorRT reads from host memory)
 * or one whose profile keeps no values, and a capacity below the count; this last refusal alone
 * writes *count (and no value), so that a host may ask with capacity 0 and size its array. (Version 4) */
INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_tensor_values(
    const inferlet_engine* engine, int32_t profile, int32_t tensor_index, inferlet_profile_point point,
    int64_t* values, size_t capacity, size_t* count);

/* ---- Sessions --------------------------------------------------------------------------------- */

typedef struct inferlet_session inferlet_session;

/* The options of a session, version 1's form: a host compiled against version 1 hands this struct to
 * inferlet_session_create, and it stays as it is. New hosts use inferlet_session_config below, which
 * can grow; the fields mean the same in both. */
typedef struct inferlet_session_options {
  int32_t profile;          /* default 0 */
  int32_t cuda_graphs;      /* nonzero: capture each (shapes, buffers) once and replay it; default 0 */
  int32_t graph_cache_size; /* graphs kept, least recently used dropped first; default 8, at least 1 */
  void* stream;             /* a cudaStream_t of the engine's device the session uses; NULL (default):
                               the session makes its own, non-blocking */
  int32_t phase_timing;     /* nonzero: time each call's phases (inferlet_session_phase_times); default 0 */
} inferlet_session_options;

INFERLET_SESSIONS_API void inferlet_session_options_init(inferlet_session_options* options);

/* One execution context on options->profile (NULL: the defaults), its stream, and for every tensor a
 * device buffer and pinned staging at the profile's largest shapes, used when a call's tensor is in
 * host or pinned memory: calls allocate nothing (but the memory of data-dependent outputs, which grows
 * until it holds what the calls need). With TensorRT 10 and 11 the context holds the
 * activation memory of its own profile, with 7 and 8 that of the engine's largest. Holds the engine. Refused
 * with INFERLET_UNSUPPORTED_TENSOR when a tensor of the profile is not a dense row-major tensor in device
 * memory (the message says which and what it is; shape tensors are served from TensorRT 10 on, see
 * "Shapes that depend on values") or is an output TensorRT writes into an input's memory (TensorRT 11's
 * aliased outputs, getAliasedInputTensor: the message names the input), with INFERLET_PROFILE_IN_USE as
 * said above, and with INFERLET_INVALID_ARGUMENT for a stream of another device than the engine's or one
 * of the special handles cudaStreamLegacy and cudaStreamPerThread (each thread's own default stream). */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_create(inferlet_engine* engine,
                                                               const inferlet_session_options* options,
                                                               inferlet_session** session);
/* The options of a session as they grow (version 2 on): version 1's fields, after struct_size. */
typedef struct inferlet_session_config {
  size_t struct_size;       /* sizeof(inferlet_session_config) as the host was compiled (see the Versions) */
  int32_t profile;          /* default 0 */
  int32_t cuda_graphs;      /* nonzero: capture each (shapes, buffers) once and replay it; default 0 */
  int32_t graph_cache_size; /* graphs kept, least recently used dropped first; default 8, at least 1 */
  void* stream;             /* a cudaStream_t of the engine's device the session uses; NULL (default):
                               the session makes its own, non-blocking */
  int32_t phase_timing;     /* nonzero: time each call's phases (inferlet_session_phase_times); default 0 */
  uint64_t memory_kinds;    /* the memory kinds the host's calls will use, bit (1 << kind) for each
                               inferlet_memory, e.g. 1 << INFERLET_MEMORY_DEVICE; 0 (default): all.
                               Without INFERLET_MEMORY_HOST the session takes no pinned staging; with
                               INFERLET_MEMORY_DEVICE alone no device buffers either. A call's tensor of
                               a kind left out is refused (INFERLET_INVALID_ARGUMENT). 64 bits wide so
                               that the struct grows past version 2's tail padding, which a host of
                               version 2 may leave unset. (Version 3: a library of version 2
                               refuses it nonzero, as a field it does not know.) */
} inferlet_session_config;

/* The defaults, and struct_size for this header. */
static inline void inferlet_session_config_init(inferlet_session_config* config) {
  const inferlet_session_config defaults = {sizeof(inferlet_session_config), 0, 0, 8, NULL, 0, 0};
  *config = defaults;
}

/* inferlet_session_create with a config (NULL: the defaults); a struct_size below version 2's struct is
 * refused (INFERLET_INVALID_ARGUMENT), as is a longer struct whose fields this library does not know
 * are not zero. (Version 2) */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_create_with_config(
    inferlet_engine* engine, const inferlet_session_config* config, inferlet_session** session);

/* Waits for a call still running (and for everything queued on the session's stream), then releases
 * the context, the stream if it is the session's own, the buffers, the staging and the graphs. NULL is
 * fine. */
INFERLET_SESSIONS_API void inferlet_session_release(inferlet_session* session);

/* Device memory the session holds: TensorRT's context memory plus its own device buffers (its pinned
 * staging is host memory, as much again as the buffers; a session whose memory_kinds leave out host
 * memory has none, one made for device memory alone has no buffers either), and the memory of its
 * data-dependent outputs as calls have grown it. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_device_memory(const inferlet_session* session,
                                                                      size_t* bytes);

/* ---- Calls ------------------------------------------------------------------------------------ */

typedef enum inferlet_memory {
  INFERLET_MEMORY_HOST = 0,
  INFERLET_MEMORY_PINNED = 1,
  INFERLET_MEMORY_DEVICE = 2
} inferlet_memory;

/* One tensor of a call. Inputs: every field is read. Outputs: name, memory, data and bytes are read;
 * shape is written with the resolved shape. data is never NULL, even for an empty tensor. */
typedef struct inferlet_tensor {
  const char* name;
  inferlet_memory memory;
  void* data;
  size_t bytes; /* capacity of data */
  inferlet_shape shape;
} inferlet_tensor;

/* Queues one inference: every input and every output of the engine, each once, in any order. Returns
 * once the work is queued; the outputs' shapes are written then. The arrays themselves may go once it
 * returns, the memory their data points at may not (see the memory kinds). */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_enqueue(inferlet_session* session,
                                                                const inferlet_tensor* inputs,
                                                                size_t input_count, inferlet_tensor* outputs,
                                                                size_t output_count);
/* Completes the enqueued call: waits for its work and copies host-memory outputs into place. The call
 * has ended whatever it answers. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_wait(inferlet_session* session);
/* enqueue, then wait. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_run(inferlet_session* session,
                                                            const inferlet_tensor* inputs, size_t input_count,
                                                            inferlet_tensor* outputs, size_t output_count);
/* A cudaEvent_t, owned by the session, recorded after the enqueued call's work on the session's stream:
 * the host may wait on it or make one of its streams wait on it. Host-memory outputs still need
 * inferlet_session_wait, which also ends the call. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_event(inferlet_session* session, void** event);
/* The outputs' shapes a call with these inputs' shapes resolves, so that a host can size its output
 * buffers before it enqueues: the tensors as inferlet_session_enqueue takes them (every input and output
 * of the engine once, by name), of which only the inputs' names and shapes and the outputs' names are
 * read (and a shape tensor's memory kind and values); each output's shape is written, -1 in the extents
 * of a data-dependent output. Asks TensorRT only: nothing is copied or queued. Refused as a call is
 * (names, ranks, shapes and shape tensors' values outside the session's profile), and with
 * INFERLET_BUSY while the session runs a call. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_resolve_shapes(inferlet_session* session,
                                                                       const inferlet_tensor* inputs,
                                                                       size_t input_count,
                                                                       inferlet_tensor* outputs,
                                                                       size_t output_count);

/* What inferlet_session_resolve_output_bounds says of one output. (Version 4) */
typedef struct inferlet_output_bound {
  size_t struct_size;     /* sizeof(inferlet_output_bound) as the host was compiled (see the Versions) */
  int32_t data_dependent; /* nonzero: some extent is known only once the call has run (-1 in the shape
                             written beside it) */
  uint64_t max_bytes;     /* the bytes a call's buffer for it must hold at these input shapes: its
                             size where it is not data-dependent, TensorRT's upper bound where it is */
} inferlet_output_bound;

static inline void inferlet_output_bound_init(inferlet_output_bound* bound) {
  const inferlet_output_bound empty = {sizeof(inferlet_output_bound), 0, 0};
  *bound = empty;
}

/* inferlet_session_resolve_shapes, and for each output outputs[j] what bounds[j] says of it: bounds is
 * an array of output_count structs, each set by inferlet_output_bound_init (their struct_size, the
 * host's sizeof, is also the array's stride). Refused as inferlet_session_resolve_shapes is, and with
 * INFERLET_INVALID_ARGUMENT for a null bounds with outputs or a struct_size below version 4's struct;
 * a refusal writes no bound. (Version 4) */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_resolve_output_bounds(
    inferlet_session* session, const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
    size_t output_count, inferlet_output_bound* bounds);

/* How long the phases of a call took on the device, in milliseconds, measured with CUDA events the
 * session records on its stream between them: host_to_device_ms the uploads of inputs in host and
 * pinned memory, compute_ms TensorRT's work, device_to_host_ms the downloads of outputs in host and
 * pinned memory (a phase with nothing to copy takes the time between two adjacent records). A call
 * that replays a CUDA graph is one launch: its whole time is compute_ms, the copies inside it
 * included, both copy phases are 0 and graph_replay is 1. */
typedef struct inferlet_phase_times {
  float host_to_device_ms;
  float compute_ms;
  float device_to_host_ms;
  int32_t graph_replay;
} inferlet_phase_times;

/* The phase times of the session's last call that completed successfully (its wait, or its run,
 * answered NULL), kept until the next one completes. Only a session made with
 * inferlet_session_options.phase_timing set has them (INFERLET_INVALID_ARGUMENT otherwise); a session
 * without such a call answers INFERLET_NOT_RUNNING. Without phase_timing a session makes no timing
 * event and records none. */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_phase_times(const inferlet_session* session,
                                                                    inferlet_phase_times* times);

/* ---- Streams and memory (version 5) ------------------------------------------------------------ */
/* For hosts that reach CUDA only through this library (an interpreter's extension, for instance) and
 * exchange device memory with other libraries, each working on streams of its own. A stream here is a
 * cudaStream_t of the engine's device, or one of the special handles cudaStreamLegacy and
 * cudaStreamPerThread (the calling thread's); NULL is refused (INFERLET_INVALID_ARGUMENT), since what
 * it names depends on how the caller was compiled. The orderings queue a wait on the device (an event
 * recorded on one stream, cudaStreamWaitEvent on the other): the host never blocks. They are refused
 * with INFERLET_BUSY while another thread is inside a call of the session; between an enqueue and its
 * wait they are allowed. */

/* The session's stream: its own, or the one its config gave. (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_stream(const inferlet_session* session,
                                                               void** stream);
/* Makes the work the session queues from now on wait for the work queued on stream so far (a producer
 * of the next call's inputs). (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_wait_stream(inferlet_session* session, void* stream);
/* Makes the work queued on stream from now on wait for the work the session has queued so far (a
 * consumer of its outputs). (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_session_order_stream(inferlet_session* session, void* stream);

/* Allocates bytes of memory of kind on device: INFERLET_MEMORY_DEVICE as cudaMalloc, INFERLET_MEMORY_PINNED
 * as cudaMallocHost with the device current; INFERLET_MEMORY_HOST is refused (INFERLET_INVALID_ARGUMENT).
 * Zero bytes allocate one, so that data is never NULL. INFERLET_OUT_OF_MEMORY when CUDA has none left.
 * (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_memory_allocate(int device, inferlet_memory kind,
                                                                size_t bytes, void** data);
/* Frees what inferlet_memory_allocate gave, of the same kind. Device memory: cudaFree, which waits for
 * the device's work. Pinned memory: the device's work is waited for first (cudaFreeHost waits for
 * none), so that no queued copy still names it. NULL is fine. (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_memory_free(int device, inferlet_memory kind, void* data);
/* Copies bytes from src to dst, each of any kind (CUDA tells them apart), on stream of device, and waits
 * for that stream: a host reads outputs, or fills inputs, with it. (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_memory_copy(int device, void* dst, const void* src,
                                                            size_t bytes, void* stream);
/* What data points into, as CUDA knows it (cudaPointerGetAttributes): INFERLET_MEMORY_DEVICE for device
 * or managed memory, INFERLET_MEMORY_PINNED for page-locked host memory, INFERLET_MEMORY_HOST for any
 * other; *device: the device it belongs to, -1 for INFERLET_MEMORY_HOST. (Version 5) */
INFERLET_SESSIONS_API inferlet_status* inferlet_memory_describe(const void* data, inferlet_memory* kind,
                                                                int* device);

/* ---- The function table ----------------------------------------------------------------------- */

/* Every function of the interface, in the order of this header; only ever appended to. */
typedef struct inferlet_api {
  /* version 1 */
  inferlet_code (*status_code)(const inferlet_status* status);
  const char* (*status_message)(const inferlet_status* status);
  void (*status_release)(inferlet_status* status);
  void (*set_log)(inferlet_log_fn fn, void* user, inferlet_log_level threshold);
  int (*tensorrt_major)(void);
  inferlet_status* (*engine_load)(const void* bytes, size_t size, int device, inferlet_engine** engine);
  void (*engine_release)(inferlet_engine* engine);
  inferlet_status* (*engine_tensor_count)(const inferlet_engine* engine, int32_t* count);
  inferlet_status* (*engine_tensor_info)(const inferlet_engine* engine, int32_t index,
                                         inferlet_tensor_info* info);
  inferlet_status* (*engine_tensor_format)(const inferlet_engine* engine, int32_t index, int32_t profile,
                                           int32_t* format);
  inferlet_status* (*engine_profile_count)(const inferlet_engine* engine, int32_t* count);
  inferlet_status* (*engine_profile_shape)(const inferlet_engine* engine, int32_t profile,
                                           int32_t tensor_index, inferlet_profile_point point,
                                           inferlet_shape* shape);
  inferlet_status* (*engine_device_memory)(const inferlet_engine* engine, size_t* engine_bytes,
                                           size_t* context_bytes);
  void (*session_options_init)(inferlet_session_options* options);
  inferlet_status* (*session_create)(inferlet_engine* engine, const inferlet_session_options* options,
                                     inferlet_session** session);
  void (*session_release)(inferlet_session* session);
  inferlet_status* (*session_device_memory)(const inferlet_session* session, size_t* bytes);
  inferlet_status* (*session_enqueue)(inferlet_session* session, const inferlet_tensor* inputs,
                                      size_t input_count, inferlet_tensor* outputs, size_t output_count);
  inferlet_status* (*session_wait)(inferlet_session* session);
  inferlet_status* (*session_run)(inferlet_session* session, const inferlet_tensor* inputs,
                                  size_t input_count, inferlet_tensor* outputs, size_t output_count);
  inferlet_status* (*session_event)(inferlet_session* session, void** event);
  inferlet_status* (*session_resolve_shapes)(inferlet_session* session, const inferlet_tensor* inputs,
                                             size_t input_count, inferlet_tensor* outputs,
                                             size_t output_count);
  inferlet_status* (*session_phase_times)(const inferlet_session* session, inferlet_phase_times* times);
  /* version 2 */
  const char* (*code_name)(inferlet_code code);
  inferlet_status* (*describe_data_type)(int32_t dtype, inferlet_data_type_info* info);
  inferlet_status* (*session_create_with_config)(inferlet_engine* engine,
                                                 const inferlet_session_config* config,
                                                 inferlet_session** session);
  inferlet_status* (*engine_get_properties)(const inferlet_engine* engine,
                                            inferlet_engine_properties* properties);
  inferlet_status* (*engine_profile_resolved_shape)(const inferlet_engine* engine, int32_t profile,
                                                    int32_t tensor_index, inferlet_profile_point point,
                                                    inferlet_shape* shape);
  inferlet_status* (*engine_load_with_config)(const void* bytes, size_t size,
                                              const inferlet_engine_config* config, inferlet_engine** engine);
  /* version 3 */
  inferlet_status* (*plugin_library_load)(const char* path);
  /* version 4 */
  inferlet_status* (*session_resolve_output_bounds)(inferlet_session* session, const inferlet_tensor* inputs,
                                                    size_t input_count, inferlet_tensor* outputs,
                                                    size_t output_count, inferlet_output_bound* bounds);
  inferlet_status* (*engine_profile_tensor_values)(const inferlet_engine* engine, int32_t profile,
                                                   int32_t tensor_index, inferlet_profile_point point,
                                                   int64_t* values, size_t capacity, size_t* count);
  /* version 5 */
  inferlet_status* (*session_stream)(const inferlet_session* session, void** stream);
  inferlet_status* (*session_wait_stream)(inferlet_session* session, void* stream);
  inferlet_status* (*session_order_stream)(inferlet_session* session, void* stream);
  inferlet_status* (*memory_allocate)(int device, inferlet_memory kind, size_t bytes, void** data);
  inferlet_status* (*memory_free)(int device, inferlet_memory kind, void* data);
  inferlet_status* (*memory_copy)(int device, void* dst, const void* src, size_t bytes, void* stream);
  inferlet_status* (*memory_describe)(const void* data, inferlet_memory* kind, int* device);
} inferlet_api;

/* The table of `version` (1 to this library's INFERLET_API_VERSION), static; NULL for any other. The one
 * symbol a host that loads the library with dlopen looks up. */
INFERLET_SESSIONS_API const inferlet_api* inferlet_get_api(uint32_t version);
typedef const inferlet_api* (*inferlet_get_api_fn)(uint32_t version);

#ifdef __cplusplus
}
#endif

#endif /* INFERLET_SESSIONS_H_ */
