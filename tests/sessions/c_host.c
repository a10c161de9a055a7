/* A C99 host of the sessions interface: loads the smoke engine given as its argument, describes it,
 * runs one call in host memory and checks every output value. Exit status 0 when all is as expected. */
#include <inferlet_sessions.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "read_file.h"

enum { kBatch = 2, kIn = 340, kOut = 338 };

static int failed(const char* what, inferlet_status* status) {
  fprintf(stderr, "c_host: %s: code %d: %s\n", what, (int)inferlet_status_code(status),
          inferlet_status_message(status));
  inferlet_status_release(status);
  return 1;
}

int main(int argc, char** argv) {
  static float in0[kBatch * kIn], in1[kBatch * kIn], out0[kBatch * kOut];
  inferlet_engine* engine = NULL;
  inferlet_session* session = NULL;
  inferlet_tensor inputs[2], outputs[1];
  inferlet_status* status;
  int32_t count = 0;
  size_t size = 0;
  unsigned char* bytes;
  int b, k, wrong = 0;

  if (argc != 2 || !(bytes = read_file(argv[1], &size))) {
    fprintf(stderr, "usage: c_host SMOKE_ENGINE\n");
    return 2;
  }
  status = inferlet_engine_load(bytes, size, 0, &engine);
  free(bytes);
  if (status) return failed("inferlet_engine_load", status);
  if ((status = inferlet_engine_tensor_count(engine, &count)) != NULL) return failed("tensor_count", status);
  if (count != 3) {
    fprintf(stderr, "c_host: %d tensors, expected 3\n", (int)count);
    return 1;
  }
  if ((status = inferlet_session_create(engine, NULL, &session)) != NULL)
    return failed("session_create", status);
  inferlet_engine_release(engine); /* the session holds it */

  for (k = 0; k < kBatch * kIn; ++k) {
    in0[k] = (float)(k % 17) - 8.0f;
    in1[k] = (float)(k % 5) * 0.5f;
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
  if ((status = inferlet_session_run(session, inputs, 2, outputs, 1)) != NULL)
    return failed("session_run", status);

  if (outputs[0].shape.rank != 2 || outputs[0].shape.dims[0] != kBatch || outputs[0].shape.dims[1] != kOut) {
    fprintf(stderr, "c_host: out0 has another shape\n");
    return 1;
  }
  for (b = 0; b < kBatch; ++b) {
    for (k = 0; k < kOut; ++k) {
      const float* x0 = in0 + b * kIn + k;
      const float* x1 = in1 + b * kIn + k;
      const float expected = 0.25f * (x0[0] + x1[0]) + 0.5f * (x0[1] + x1[1]) + 0.25f * (x0[2] + x1[2]);
      wrong += fabsf(out0[b * kOut + k] - expected) > 1e-5f;
    }
  }
  inferlet_session_release(session);
  if (wrong) {
    fprintf(stderr, "c_host: %d wrong values\n", wrong);
    return 1;
  }
  printf("c_host: ok\n");
  return 0;
}
