/* Reads what a serialized TensorRT engine declares about itself: its bindings, their data types and
 * the smallest, optimal and largest dimensions each optimization profile allows.
 *
 * Built once per TensorRT major (libinferlet_inspect7.so, libinferlet_inspect8.so,
 * libinferlet_inspect10.so, libinferlet_inspect11.so), because no two majors' headers can meet in one
 * translation unit; inferlet-run loads the one that matches the deliverable it drives. Every major
 * describes an engine as TensorRT 8 would (one binding per tensor per profile, see the TensorRT seam's
 * trt_binding.h). The interface is plain C so that the caller needs no TensorRT header. */
#ifndef INFERLET_APPS_ENGINE_INSPECT_H_
#define INFERLET_APPS_ENGINE_INSPECT_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The TensorRT major this inspector was built against. */
int inferlet_inspect_trt_major(void);

/* Deserializes the size bytes at data and describes the engine as one JSON object:
 *   {"trt_major": 8, "name": "...", "max_batch_size": 1, "refittable": false,
 *    "bindings": [{"index": 0, "name": "in0", "input": true, "dtype": 0, "item_size": 4,
 *                  "dims": [-1, 340]}, ...],
 *    "profiles": [{"min": [[1, 340], [1, 340], [1, 338]], "opt": [...],
 *                  "max": [[10, 340], [10, 340], [10, 338]]}, ...],
 *    "device_memory": {"engine": 12, "context": 0}}
 * "dims" are the engine's own (-1 where a profile lets the extent vary); "min", "opt" and "max" hold
 * one entry per binding of the profile's block (bindings / profiles consecutive bindings), in
 * binding order: inputs at the profile's kMIN, kOPT and kMAX shapes, outputs as TensorRT infers them
 * for those inputs. "device_memory" gives the bytes of device memory the engine took when it was
 * deserialized (measured as the device's free memory before and after; -1 where that cannot be told)
 * and what TensorRT says an execution context holds.
 * Returns 0 with the JSON text in *text, or -1 with an error message in *text. Either way *text is
 * allocated here and released with inferlet_inspect_free. */
int inferlet_inspect_engine(const void* data, size_t size, char** text);

void inferlet_inspect_free(char* text);

#ifdef __cplusplus
}
#endif

#endif /* INFERLET_APPS_ENGINE_INSPECT_H_ */
