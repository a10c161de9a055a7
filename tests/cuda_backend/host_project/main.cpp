#include <kestrel_trt.h>

#include <cstdio>

int main() {
  std::printf("init %d delete(null) %d uninit %d\n", kestrel_trt_init(), kestrel_trt_delete(nullptr),
              kestrel_trt_uninit());
  return 0;
}
