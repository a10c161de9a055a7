// Which execution contexts of one engine have a network queued on a stream (outside a capture) that
// has not run yet, per optimization profile. With dynamic shapes, contexts in concurrent use must use
// separate profiles; two contexts with networks queued on one profile at once are such a use.
#ifndef TRT_STANDIN_RUNTIME_PROFILE_USES_H_
#define TRT_STANDIN_RUNTIME_PROFILE_USES_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace trt_standin {

class ProfileUses {
 public:
  explicit ProfileUses(std::size_t profiles) : queued_(profiles) {}

  // Before a network of `context` is handed to a stream for `profile`: true when another context
  // has one queued there that has not run.
  bool queue(int32_t profile, const void* context);
  // From the network's host function when it has run (plain host code), or when handing it to the
  // stream failed.
  void done(int32_t profile, const void* context);

 private:
  std::mutex mutex_;
  std::vector<std::map<const void*, long>> queued_;  // per profile: networks queued per context
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_PROFILE_USES_H_
