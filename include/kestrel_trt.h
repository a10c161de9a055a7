// inferlet: run serialized TensorRT engines through a small flat interface.
//
// Conventions of this interface:
//  - Every function returns an int: 0 for success, -1 for failure. The reason for a failure is one
//    line on standard output, written through the library's logger ("[inferlet][E] ...").
//  - A handle comes from kestrel_trt_new and is released by kestrel_trt_delete. Use a handle from one
//    thread at a time; separate handles are independent.
//  - The library copies what it needs: engine bytes and configuration may be released as soon as
//    kestrel_trt_new returns.
//  - Output pointers handed out by kestrel_trt_process point into buffers owned by the handle. They stay
//    valid until kestrel_trt_delete and are overwritten by the next call on the same profile.
//  - A failing CUDA call during construction, graph capture, the input upload or teardown ends the
//    process with the CUDA error code as exit status (after a "GPUassert: " line). A failure to
//    release a CUDA graph is only reported (the same line); it changes no result.
//  - What the library cannot check and the caller must guarantee:
//     * every input buffer holds batch_size samples of its input (the bytes of the configured shape
//       divided by its first dimension, times batch_size);
//     * outputs and output_lens have room for every output of the profile;
//     * every call on a handle (kestrel_trt_process and kestrel_trt_delete) comes from a thread whose
//       current CUDA device is the one the handle was built on. kestrel_trt_new selects device_id for
//       the calling thread only; later calls do not select it again. A kestrel_trt_process from a
//       thread on another device is refused by TensorRT and answered -1 ("Enqueue failed"), possibly
//       after the inputs were copied; it writes no outputs. With TensorRT 10 and 11 (inferlet10,
//       inferlet11) such a call that moves the handle to another profile is refused at the profile
//       switch instead, before any copy ("profile <p> is not accepted by the engine").
//  - The configuration vectors are standard-library containers: callers must be built against the
//    same C++ standard library as the library.
#ifndef INFERLET_KESTREL_TRT_H_
#define INFERLET_KESTREL_TRT_H_

#include <vector>

class trt_engine_core;

extern "C" {

// Do nothing and return 0; kept for hosts that pair every library with init/uninit calls.
int kestrel_trt_init();
int kestrel_trt_uninit();

// Loads the engine_len bytes at engine_buf as a TensorRT engine on CUDA device device_id. Per
// optimization profile and per tensor, in_shapes/out_shapes give the largest dimensions a call may use
// (batch first, 2 to 8 dimensions) and in_item_sizes/out_item_sizes the bytes of one element. With
// use_cuda_graph, every inference call also captures the engine's work into a CUDA graph.
// On success stores the new handle in *handle and returns 0; otherwise leaves *handle as it was.
int kestrel_trt_new(const char* engine_buf, int engine_len, int device_id, bool use_cuda_graph,
                    std::vector<std::vector<std::vector<int>>>& in_shapes,
                    std::vector<std::vector<int>>& in_item_sizes,
                    std::vector<std::vector<std::vector<int>>>& out_shapes,
                    std::vector<std::vector<int>>& out_item_sizes, trt_engine_core** handle);

// Runs one inference of batch_size samples on the given profile. inputs holds input_num host
// pointers in the profile's input order, each to batch_size samples; on success outputs[j] and
// output_lens[j] receive the address and byte count of output j, for every output of the profile (both
// arrays must have an entry for each). Dimensions the engine's optimization profile does not accept
// (for example a batch above the profile's largest, though within the configured one) are refused
// with -1 and a line naming the profile, the input and the dimensions; nothing is copied or run.
// Must be called on the handle's device (see above).
int kestrel_trt_process(trt_engine_core* handle, int profile, const void* const* inputs, int input_num,
                        int batch_size, void** outputs, int* output_lens);

// Prints one line and releases everything the handle holds. -1 for a null handle.
int kestrel_trt_delete(trt_engine_core* handle);

}  // extern "C"

#endif  // INFERLET_KESTREL_TRT_H_
