#pragma once
// An event slot: empty, or bound to a callable that receives the firing component first.
// A copy shares the callable, so a firing thread can keep it while its owner goes.

#include <QObject>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vardelio {

// While a handler runs on a thread, a slot emptied, replaced or destroyed there (by that
// handler, or by the owner it destroys) hands its callable here if it is one of those running,
// and it is freed once the outermost handler of the thread has returned. So a handler never
// runs from freed memory, and a call costs no atomic count.
class THandlerCalls {
 public:
  explicit THandlerCalls(const void* callable) : callable_(callable), outer_(innermost_) {
    innermost_ = this;
  }
  ~THandlerCalls() {
    innermost_ = outer_;
    if (outer_ == nullptr && dropped_ != nullptr) Release();
  }
  THandlerCalls(const THandlerCalls&) = delete;
  THandlerCalls& operator=(const THandlerCalls&) = delete;
  // Keeps `callable` until the calls of this thread have returned, when it is running.
  static void Drop(std::shared_ptr<const void>&& callable) {
    if (callable && Running(callable.get())) {
      if (dropped_ == nullptr) dropped_ = new std::vector<std::shared_ptr<const void>>;
      dropped_->push_back(std::move(callable));
    }
    callable.reset();
  }

 private:
  static bool Running(const void* callable) {
    for (const THandlerCalls* call = innermost_; call != nullptr; call = call->outer_) {
      if (call->callable_ == callable) return true;
    }
    return false;
  }
  static void Release() {
    // A callable freed here may run code that calls a handler again: taken off first.
    const std::unique_ptr<std::vector<std::shared_ptr<const void>>> freed(
        std::exchange(dropped_, nullptr));
  }
  const void* const callable_;
  THandlerCalls* const outer_;
  // Plain values, so the call's path reads them without a thread-local guard.
  static inline thread_local THandlerCalls* innermost_ = nullptr;
  static inline thread_local std::vector<std::shared_ptr<const void>>* dropped_ = nullptr;
};

template <typename... Args>
class THandler {
 public:
  using Function = std::function<void(QObject* Sender, Args...)>;

  THandler() = default;
  THandler(Function function)  // NOLINT: implicit by design
      : function_(function ? std::make_shared<const Function>(std::move(function)) : nullptr) {}

  // Binds a method of an object, as a form binds a handler to a component's event.
  template <class C>
  THandler(C* object, void (C::*method)(QObject*, Args...))
      : THandler(Function([object, method](QObject* sender, Args... args) {
          (object->*method)(sender, std::forward<Args>(args)...);
        })) {}

  THandler(const THandler&) = default;
  THandler(THandler&&) noexcept = default;
  THandler& operator=(const THandler& other) {
    if (this != &other) Replace(std::shared_ptr<const Function>(other.function_));
    return *this;
  }
  THandler& operator=(THandler&& other) noexcept {
    if (this != &other) Replace(std::move(other.function_));
    return *this;
  }
  ~THandler() { Replace(nullptr); }

  bool Assigned() const { return static_cast<bool>(function_); }
  void Clear() { Replace(nullptr); }

  // Calling an empty slot does nothing. A handler may empty or replace the slot it runs from.
  void operator()(QObject* sender, Args... args) const {
    if (!function_) return;
    const Function& function = *function_;  // kept until the call has returned, if dropped
    const THandlerCalls call(&function);
    function(sender, std::forward<Args>(args)...);
  }

 private:
  void Replace(std::shared_ptr<const Function>&& next) noexcept {
    std::shared_ptr<const void> old = std::exchange(function_, std::move(next));
    THandlerCalls::Drop(std::move(old));
  }

  std::shared_ptr<const Function> function_;
};

using TNotifyEvent = THandler<>;

}  // namespace vardelio
