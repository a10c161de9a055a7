#include "graph_cache.h"

#include <algorithm>

namespace sessions {

GraphCache::GraphCache(size_t capacity, size_t key_words, size_t outputs)
    : mKeyWords(key_words),
      mGraphs(capacity),
      mFailed(capacity, std::vector<uint64_t>(key_words)),
      mConfigured(key_words) {
  for (Graph& graph : mGraphs) {
    graph.key.resize(key_words);
    graph.output_dims.resize(outputs);
  }
}

bool GraphCache::same(const std::vector<uint64_t>& stored, const uint64_t* key) const {
  return std::equal(stored.begin(), stored.end(), key);
}

const GraphCache::Graph* GraphCache::find(const uint64_t* key) {
  for (Graph& graph : mGraphs) {
    if (graph.exec.get() && same(graph.key, key)) {
      graph.last_use = ++mClock;
      return &graph;
    }
  }
  return nullptr;
}

void GraphCache::store(const uint64_t* key, GraphExec exec, const trt_binding::Extents* output_dims) {
  Graph* slot = nullptr;
  for (Graph& graph : mGraphs) {
    if (!graph.exec.get()) {
      slot = &graph;
      break;
    }
    if (!slot || graph.last_use < slot->last_use) slot = &graph;
  }
  std::copy(key, key + mKeyWords, slot->key.begin());
  std::copy(output_dims, output_dims + slot->output_dims.size(), slot->output_dims.begin());
  slot->exec = std::move(exec);  // releases the graph it replaces
  slot->last_use = ++mClock;
}

bool GraphCache::failed(const uint64_t* key) const {
  for (size_t i = 0; i < mFailedCount; ++i) {
    if (same(mFailed[i], key)) return true;
  }
  return false;
}

void GraphCache::mark_failed(const uint64_t* key) {
  if (mFailed.empty()) return;
  std::copy(key, key + mKeyWords, mFailed[mFailedNext].begin());
  mFailedNext = (mFailedNext + 1) % mFailed.size();
  mFailedCount = std::min(mFailedCount + 1, mFailed.size());
}

bool GraphCache::configured_for(const uint64_t* key) const {
  return mConfiguredKnown && same(mConfigured, key);
}

void GraphCache::set_configured(const uint64_t* key) {
  std::copy(key, key + mKeyWords, mConfigured.begin());
  mConfiguredKnown = true;
}

size_t GraphCache::graphs() const {
  return static_cast<size_t>(std::count_if(mGraphs.begin(), mGraphs.end(),
                                           [](const Graph& graph) { return graph.exec.get() != nullptr; }));
}

void GraphCache::clear() {
  for (Graph& graph : mGraphs) graph.exec.reset();
}

}  // namespace sessions
