// CMutex: a recursive mutex that knows its holder, so a Leave by another thread is refused
// instead of being undefined.
#include "infra/mutex.h"

namespace infra {

CMutex::CMutex(int kind) : m_nKind(kind) {}

CMutex::~CMutex() = default;

bool CMutex::Enter() {
  m_hMutex.lock();
  if (m_nDepth++ == 0) m_owner.store(std::this_thread::get_id());
  return true;
}

bool CMutex::Leave() {
  if (m_owner.load() != std::this_thread::get_id()) return false;
  if (--m_nDepth == 0) m_owner.store(std::thread::id());
  m_hMutex.unlock();
  return true;
}

}  // namespace infra
