#include "Component.h"

namespace vardelio {

TComponent::TComponent(QObject* owner) : QObject(owner) {}

TComponent::~TComponent() {
  // Take the list first: a receiver may unregister itself while it is being told.
  const QList<TComponent*> receivers = std::exchange(notified_, {});
  for (TComponent* other : receivers) {
    other->Unlink(this);
    other->Notification(this, TOperation::opRemove);
  }
}

void TComponent::EndLoading() {
  loading_ = false;
  AfterLoad();
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this || notified_.contains(other)) return;
  notified_.append(other);
  // Mutual, so that whichever goes first leaves no dangling pointer in the other.
  other->notified_.append(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  Unlink(other);
  if (other != nullptr) other->Unlink(this);
}

void TComponent::Unlink(TComponent* other) {
  notified_.removeAll(other);
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace vardelio
