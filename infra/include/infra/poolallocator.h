// The block pool and the allocator that draws list nodes from it.
//
// A CBlockPool hands out blocks of one fixed size from chunks of m_nGrow blocks, keeping freed
// blocks on a free list for reuse; chunks go back to the system only when the process ends.
// pool_allocator<T> is a standard allocator whose instances all share one process-wide pool
// per element type, so a std::list<T, pool_allocator<T>> takes its nodes from the pool for
// its node type.
#pragma once

#include <cstddef>
#include <new>

#include "infra/assertion.h"
#include "infra/mutex.h"

namespace infra {

class CBlockPool {
 public:
  static constexpr int kDefaultGrow = 1024;

  // blockSize: bytes per block (raised to at least one pointer); alignment: the alignment
  // each block needs (at most the default alignment of operator new).
  CBlockPool(size_t blockSize, size_t alignment);
  // Gives the chunks back. Only for pools that no block is in use from any more.
  ~CBlockPool();
  CBlockPool(const CBlockPool &) = delete;
  CBlockPool &operator=(const CBlockPool &) = delete;

  // One block: the most recently freed one, else the next of a new chunk. Throws
  // std::bad_alloc, as operator new does, when no chunk can be had.
  void *Allocate();
  // Puts a block from Allocate back on the free list.
  void Deallocate(void *block);
  // Blocks per new chunk.
  int GetGrow();
  // Sets the blocks per new chunk (values below 1 give 1).
  void SetGrow(int grow);
  // Bytes per block, after raising and alignment.
  size_t GetBlockSize() const { return m_nBlockSize; }
  // Chunks taken from the system so far.
  int GetChunkCount();

 private:
  struct Chunk {
    void *m_pFirst;   // its first block
    Chunk *m_pPrev;   // the chunk allocated before it
  };
  void AddChunk();

  Chunk *m_pChunks = nullptr;    // newest chunk first; m_lock
  const size_t m_nBlockSize;
  int m_nGrow = kDefaultGrow;    // m_lock
  void *m_pFree = nullptr;       // free list; a free block's first word is the next; m_lock
  int m_nChunks = 0;             // m_lock
  CMutex m_lock{0};
};

template <class T>
class pool_allocator {
 public:
  using value_type = T;
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "over-aligned types are not pooled");

  pool_allocator() noexcept = default;
  template <class U>
  pool_allocator(const pool_allocator<U> &) noexcept {}

  // The pool shared by every pool_allocator<T>: made on first use, never destroyed.
  static CBlockPool &pool() {
    static CBlockPool &p = *new CBlockPool(sizeof(T), alignof(T));
    return p;
  }

  // n must be 1; any other n is reported as "n == 1" and served by operator new.
  T *allocate(size_t n) {
    if (n != 1) {
      INFRA_REPORT("n == 1");
      return static_cast<T *>(::operator new(n * sizeof(T)));
    }
    return static_cast<T *>(pool().Allocate());
  }
  // Gives back what allocate(n) returned.
  void deallocate(T *p, size_t n) noexcept {
    if (n != 1) {
      INFRA_REPORT("n == 1");
      ::operator delete(p);
      return;
    }
    pool().Deallocate(p);
  }

  template <class U>
  bool operator==(const pool_allocator<U> &) const noexcept { return true; }
};

}  // namespace infra
