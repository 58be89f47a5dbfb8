// Callback: a call target with one 32-bit parameter, used by pooled threads and timers.
#pragma once

#include <cstdint>
#include <functional>

namespace infra {

// A plain function or a member function bound to its object. Three fields: the function,
// the object and the kind (1 = member function called on the object, any other value = plain
// function, the object ignored). The result of the call is ignored. Copy freely.
//
//   Callback::Plain(&OnTick)                         calls OnTick(param)
//   Callback::Member<&CDialog::OnHotPlug>(this)      calls this->OnHotPlug(param)
struct Callback {
  using PlainFn = void (*)(uint32_t param);
  using MemberFn = void (*)(void *object, uint32_t param);  // calls the member on object

  void (*m_pFunction)() = nullptr;  // a PlainFn or a MemberFn, as m_nKind says
  void *m_pObject = nullptr;        // the object of a member call
  int m_nKind = 0;                  // 1 = member call, else plain

  // A plain function; null gives an empty callback.
  static Callback Plain(PlainFn fn) { return {reinterpret_cast<void (*)()>(fn), nullptr, 0}; }

  // The member function M (taking one uint32_t; any result is dropped) called on object.
  template <auto M, class T>
  static Callback Member(T *object) {
    MemberFn call = [](void *o, uint32_t param) { std::invoke(M, static_cast<T *>(o), param); };
    return {reinterpret_cast<void (*)()>(call), object, 1};
  }

  // True when there is no function to call.
  bool IsEmpty() const { return m_pFunction == nullptr; }

  // Calls the target with param; an empty callback does nothing.
  void operator()(uint32_t param) const {
    if (!m_pFunction) return;
    if (m_nKind == 1)
      reinterpret_cast<MemberFn>(m_pFunction)(m_pObject, param);
    else
      reinterpret_cast<PlainFn>(m_pFunction)(param);
  }
};

}  // namespace infra
