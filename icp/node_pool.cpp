#include "icp/node_pool.h"

#include <algorithm>
#include <new>

namespace kestrel::icp {

namespace {
constexpr std::size_t kChunkBytes = 4088;  // a page less the heap's own bookkeeping
}

NodePool::NodePool(std::size_t block_size)
    : requested_size_(block_size),
      block_size_(std::max(block_size, sizeof(FreeBlock))),
      blocks_per_chunk_(std::max<std::size_t>(1, kChunkBytes / block_size_)) {}

NodePool::~NodePool() {
  for (char* chunk : chunks_) ::operator delete(chunk);
}

void NodePool::refill() {
  chunks_.reserve(chunks_.size() + 1);  // so a failed push_back cannot lose the new chunk
  char* chunk = static_cast<char*>(::operator new(blocks_per_chunk_* block_size_));
  chunks_.push_back(chunk);
  for (std::size_t i = 0; i < blocks_per_chunk_; ++i) {
    auto* block = reinterpret_cast<FreeBlock*>(chunk + i * block_size_);
    block->next = free_list_;
    free_list_ = block;
  }
}

void* NodePool::alloc(std::size_t n) {
  if (n != requested_size_) return ::operator new(n);
  if (!free_list_) refill();
  FreeBlock* block = free_list_;
  free_list_ = block->next;
  return block;
}

void NodePool::free(void* p, std::size_t n) {
  if (!p) return;
  if (n != requested_size_) {
    ::operator delete(p);
    return;
  }
  auto* block = static_cast<FreeBlock*>(p);
  block->next = free_list_;
  free_list_ = block;
}

}  // namespace kestrel::icp
