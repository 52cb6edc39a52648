// The program's look applied for one test, and the application's own restored after it.
#pragma once

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "controls/look.h"

namespace tarnwick::test {

class LookGuard {
 public:
  LookGuard() : hasFont_(ApplyLook(*qApp)) {}
  ~LookGuard() {
    QApplication::setStyle(QStyleFactory::create(style_));
    QApplication::setPalette(palette_);
    QApplication::setFont(font_);
  }
  LookGuard(const LookGuard&) = delete;
  LookGuard& operator=(const LookGuard&) = delete;

  // Whether the windows use Windows 95's MS Sans Serif.
  bool HasWindows95Font() const { return hasFont_; }

 private:
  const QString style_ = QApplication::style()->name();
  const QPalette palette_ = QApplication::palette();
  const QFont font_ = QApplication::font();
  const bool hasFont_;
};

}  // namespace tarnwick::test
