// CBlockPool: fixed-size blocks carved from chunks, with a free list.
//
// A chunk is one allocation: a header (its first block, the previous chunk) followed by
// m_nGrow blocks. A free block's first word points to the next free block. Under
// AddressSanitizer free blocks are poisoned, so a use after deallocate is still caught
// although the memory stays in the pool.
#include "infra/poolallocator.h"

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define INFRA_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define INFRA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define INFRA_POISON(p, n) ((void)(p), (void)(n))
#define INFRA_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace infra {
namespace {

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

void *&NextOf(void *block) { return *static_cast<void **>(block); }

}  // namespace

CBlockPool::CBlockPool(size_t blockSize, size_t alignment)
    : m_nBlockSize(RoundUp(std::max(blockSize, sizeof(void *)),
                           std::max(alignment, alignof(void *)))) {}

CBlockPool::~CBlockPool() {
  for (Chunk *c = m_pChunks; c;) {
    Chunk *prev = c->m_pPrev;
    ::operator delete(c);  // the allocator clears any poisoning itself
    c = prev;
  }
}

// Called with m_lock held and the free list empty.
void CBlockPool::AddChunk() {
  // The header keeps the blocks at the alignment of operator new.
  static_assert(sizeof(Chunk) % alignof(std::max_align_t) == 0);
  const int grow = m_nGrow;
  auto *chunk = static_cast<Chunk *>(::operator new(sizeof(Chunk) + m_nBlockSize * grow));
  char *first = reinterpret_cast<char *>(chunk + 1);
  chunk->m_pFirst = first;
  chunk->m_pPrev = m_pChunks;
  m_pChunks = chunk;
  ++m_nChunks;
  for (int i = 0; i < grow; ++i) {
    char *block = first + m_nBlockSize * i;
    NextOf(block) = i + 1 < grow ? block + m_nBlockSize : nullptr;
    INFRA_POISON(block, m_nBlockSize);
  }
  m_pFree = first;
}

void *CBlockPool::Allocate() {
  CGuard guard(m_lock);
  if (!m_pFree) AddChunk();
  void *block = m_pFree;
  INFRA_UNPOISON(block, m_nBlockSize);
  m_pFree = NextOf(block);
  return block;
}

void CBlockPool::Deallocate(void *block) {
  if (!block) return;
  CGuard guard(m_lock);
  NextOf(block) = m_pFree;
  m_pFree = block;
  INFRA_POISON(block, m_nBlockSize);
}

int CBlockPool::GetGrow() {
  CGuard guard(m_lock);
  return m_nGrow;
}

void CBlockPool::SetGrow(int grow) {
  CGuard guard(m_lock);
  m_nGrow = std::max(grow, 1);
}

int CBlockPool::GetChunkCount() {
  CGuard guard(m_lock);
  return m_nChunks;
}

}  // namespace infra
