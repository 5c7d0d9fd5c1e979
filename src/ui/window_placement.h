#pragma once
// Where a window of the program opens: centred on the window it belongs to, and kept above
// that window by the window manager.
#include <algorithm>

#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace chronoreel {

// Call before the first show. The owner becomes the transient parent: window managers keep
// `window` above it, yet a disabled owner does not disable `window` (it is no child of it).
inline void PlaceOver(QWidget* window, QWidget* owner) {
  if (owner == nullptr || !owner->isVisible()) return;
  window->adjustSize();
  const QRect over = owner->frameGeometry();
  QPoint corner = over.center() - QPoint(window->width() / 2, window->height() / 2);
  if (const QScreen* screen = owner->screen()) {
    // Wholly on the owner's screen, even when the owner is partly off it.
    const QRect area = screen->availableGeometry();
    corner.setX(std::clamp(corner.x(), area.left(), std::max(area.left(), area.right() - window->width())));
    corner.setY(std::clamp(corner.y(), area.top(), std::max(area.top(), area.bottom() - window->height())));
  }
  window->move(corner);
  if (window->parentWidget() == nullptr) {
    window->winId();  // makes the native window that takes the transient parent
    if (QWindow* handle = window->windowHandle()) handle->setTransientParent(owner->windowHandle());
  }
}

}  // namespace chronoreel
