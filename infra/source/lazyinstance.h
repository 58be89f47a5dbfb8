// LazyInstance: the holder behind each process-wide object's Instance and DeleteInstance.
//
// The object is made on first use; when several threads make the first use at once, exactly
// one makes it and all get the same one. The holder is constant-initialised and trivially
// destroyed, so it works during static initialisation and never runs a destructor at exit.
#pragma once

#include <atomic>
#include <mutex>

namespace infra {

template <class T>
class LazyInstance {
 public:
  constexpr LazyInstance() = default;

  // The object, made on first use.
  T *Get() {
    T *p = m_p.load(std::memory_order_acquire);
    if (p) return p;
    std::lock_guard<std::mutex> guard(m_lock);
    p = m_p.load(std::memory_order_relaxed);
    if (!p) {
      p = new T;
      m_p.store(p, std::memory_order_release);
    }
    return p;
  }

  // Deletes the object. While its destructor runs, Get still returns it (its threads may
  // need it to finish); afterwards Get makes a new one.
  void Delete() {
    std::lock_guard<std::mutex> guard(m_lock);
    delete m_p.load(std::memory_order_relaxed);
    m_p.store(nullptr, std::memory_order_release);
  }

 private:
  std::atomic<T *> m_p{nullptr};
  std::mutex m_lock;  // serialises making and deleting
};

}  // namespace infra
