#pragma once
// Base of the program's components: owner, name, loading state and removal notices.

#include <QList>
#include <QObject>

namespace vardelio {

enum class TOperation { opInsert, opRemove };

class TComponent : public QObject {
  Q_OBJECT
 public:
  explicit TComponent(QObject* owner = nullptr);
  ~TComponent() override;

  QObject* Owner() const { return parent(); }
  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // True while the form that owns the component is still creating and configuring it.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  // Leaves the loading state and runs the after-loading hook.
  void EndLoading();

  // `other` gets Notification(this, opRemove) when this component is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  virtual void AfterLoad() {}
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void Unlink(TComponent* other);

  bool loading_ = false;
  QList<TComponent*> notified_;
};

}  // namespace vardelio
