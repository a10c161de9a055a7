// A session's CUDA graphs, one per call key (CallPlan::key): at most a fixed number, the least recently
// used released first, and beside them the keys whose capture failed, which are not tried again. Every
// slot is made with the cache, so that storing and finding allocate nothing.
#ifndef INFERLET_SESSIONS_GRAPH_CACHE_H_
#define INFERLET_SESSIONS_GRAPH_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cuda_resources.h"
#include "trt_binding.h"

namespace sessions {

class GraphCache {
 public:
  // capacity graphs (and as many failed keys) of key_words words, each graph with the shapes of outputs
  // outputs.
  GraphCache(size_t capacity, size_t key_words, size_t outputs);

  struct Graph {
    std::vector<uint64_t> key;
    GraphExec exec;  // null: a free slot
    std::vector<trt_binding::Extents> output_dims;
    uint64_t last_use = 0;
  };

  // The graph of key, now the most recently used; null when there is none.
  const Graph* find(const uint64_t* key);
  // Keeps exec for key, in a free slot or in the least recently used graph's (which it releases).
  void store(const uint64_t* key, GraphExec exec, const trt_binding::Extents* output_dims);

  // Keys whose capture failed. When more have failed than the cache holds graphs, the oldest is
  // forgotten, and may be tried once more.
  bool failed(const uint64_t* key) const;
  void mark_failed(const uint64_t* key);

  // The key of the call last enqueued on the session's context, plainly or into a capture. TensorRT
  // configures a context at each enqueue for that enqueue's shapes and addresses (plugins, resources),
  // and a graph holds what its capture's enqueue did: it is replayed only on a context still configured
  // for its key. Unknown after a failed call or capture.
  bool configured_for(const uint64_t* key) const;
  void set_configured(const uint64_t* key);
  void forget_configured() { mConfiguredKnown = false; }

  size_t graphs() const;
  void clear();  // releases every graph

 private:
  bool same(const std::vector<uint64_t>& stored, const uint64_t* key) const;

  const size_t mKeyWords;
  std::vector<Graph> mGraphs;
  std::vector<std::vector<uint64_t>> mFailed;  // a ring
  size_t mFailedCount = 0;
  size_t mFailedNext = 0;
  uint64_t mClock = 0;
  std::vector<uint64_t> mConfigured;
  bool mConfiguredKnown = false;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_GRAPH_CACHE_H_
