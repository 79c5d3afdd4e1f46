#include "DeferredIcons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QStyleOption>
#include <optional>

namespace vardelio {
namespace {

// The picture the base style gives for `which`, asked for when first needed.
class TDeferredIcon : public QIconEngine {
 public:
  TDeferredIcon(QStyle* style, QStyle::StandardPixmap which, Qt::LayoutDirection direction)
      : style_(style), which_(which), direction_(direction) {}

  QIconEngine* clone() const override { return new TDeferredIcon(*this); }
  QString key() const override { return QStringLiteral("TDeferredIcon"); }
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  // An engine is asked in device pixels, an icon in the window's: asked as they are, the icon
  // would scale a second time, and the button's picture would be drawn too big on a dense screen.
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Icon().pixmap(size, 1.0, mode, state);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    return scale > 1.0 ? Icon().pixmap(size / scale, scale, mode, state)
                       : Icon().pixmap(size, 1.0, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Icon().pixmap(size, 1.0, mode, state).size();
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return Icon().availableSizes(mode, state);
  }
  bool isNull() override { return Icon().isNull(); }

 private:
  const QIcon& Icon() {
    if (!icon_) {
      QStyleOption option;
      option.direction = direction_;  // the picture points the other way right to left
      QStyle* style = style_ != nullptr ? style_.data() : QApplication::style();
      icon_ = style->standardIcon(which_, &option);
    }
    return *icon_;
  }

  QPointer<QStyle> style_;  // the application may change its style meanwhile
  QStyle::StandardPixmap which_;
  Qt::LayoutDirection direction_;
  std::optional<QIcon> icon_;
};

}  // namespace

TDeferredIconStyle::TDeferredIconStyle(QStyle* base) : QProxyStyle(base) {}

QIcon TDeferredIconStyle::standardIcon(StandardPixmap which, const QStyleOption* option,
                                       const QWidget* widget) const {
  if (which != SP_ToolBarHorizontalExtensionButton && which != SP_ToolBarVerticalExtensionButton)
    return QProxyStyle::standardIcon(which, option, widget);
  const Qt::LayoutDirection direction =
      option != nullptr ? option->direction : QApplication::layoutDirection();
  return QIcon(new TDeferredIcon(baseStyle(), which, direction));
}

}  // namespace vardelio
