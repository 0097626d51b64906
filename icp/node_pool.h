#pragma once
// Fixed-size block allocator for the many small nodes of a kd-tree build: blocks come from a
// free list threaded through the blocks themselves, refilled a chunk of about 4 KB at a time.
// Chunks go back to the system only when the pool is destroyed. Not thread-safe.

#include <cstddef>
#include <vector>

namespace kestrel::icp {

class NodePool {
 public:
  // `block_size` is rounded up to hold at least one pointer.
  explicit NodePool(std::size_t block_size);
  ~NodePool();
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  // Requests of exactly the block size come from the pool; any other size from the heap.
  void* alloc(std::size_t n);
  // `n` must be the size given to alloc for `p`.
  void free(void* p, std::size_t n);

  std::size_t block_size() const { return block_size_; }
  // Blocks per refill: floor(4088 / block size).
  std::size_t blocks_per_chunk() const { return blocks_per_chunk_; }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  void refill();

  std::size_t requested_size_;
  std::size_t block_size_;
  std::size_t blocks_per_chunk_;
  FreeBlock* free_list_ = nullptr;
  std::vector<char*> chunks_;  // every chunk handed out, for the destructor
};

}  // namespace kestrel::icp
