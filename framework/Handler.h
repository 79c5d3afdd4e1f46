#pragma once
// An event slot: empty, or bound to a callable that receives the firing component first.
// A copy shares the callable, so a firing thread can keep it while its owner goes.

#include <QObject>
#include <functional>
#include <memory>
#include <utility>

namespace vardelio {

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

  bool Assigned() const { return static_cast<bool>(function_); }
  void Clear() { function_ = nullptr; }

  // Calling an empty slot does nothing. The callable is held for the call: a handler may
  // empty or replace the slot it runs from.
  void operator()(QObject* sender, Args... args) const {
    if (const auto function = function_) (*function)(sender, std::forward<Args>(args)...);
  }

 private:
  std::shared_ptr<const Function> function_;
};

using TNotifyEvent = THandler<>;

}  // namespace vardelio
