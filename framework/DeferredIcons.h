#pragma once
// The application's style with the pictures of the overflow buttons read when first drawn.

#include <QProxyStyle>

namespace vardelio {

// Reading one of Qt's own pictures asks every image plugin installed whether it reads the
// format, loading each of them, and every menu bar builds an overflow button with such a
// picture at start, though it shows only when the bar is too narrow for its menus.
class TDeferredIconStyle : public QProxyStyle {
  Q_OBJECT
 public:
  // Takes `base` over, as QProxyStyle does.
  explicit TDeferredIconStyle(QStyle* base);

  QIcon standardIcon(StandardPixmap which, const QStyleOption* option = nullptr,
                     const QWidget* widget = nullptr) const override;
};

}  // namespace vardelio
