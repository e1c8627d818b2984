#include "shell/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "shell/Dialogs.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"

namespace {

QString ClassNameOf(const QWidget* window) { return QString::fromLatin1(window->metaObject()->className()); }

QRect ScreenRect(const QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

int LogicalDpi(const QWidget* window) { return window->logicalDpiX(); }

// The normal (not maximised) rectangle of a window, outer edges, Windows-style
// exclusive right and bottom.
QRect NormalRect(const QWidget* window) {
  const QRect g = window->isMaximized() || window->isMinimized() ? window->normalGeometry() : window->frameGeometry();
  return QRect(g.topLeft(), g.size());
}

}  // namespace

QString PlacementSection(const QString& className, int logicalDpi) {
  QString section = className + "_Placement";
  if (logicalDpi > 96) section += QString::number(logicalDpi);
  return section;
}

QRect ClampPlacement(QRect r, int screenWidth, int screenHeight) {
  // QRect's right() is inclusive; the stored Right is one past it.
  int left = r.left(), top = r.top(), right = r.left() + r.width(), bottom = r.top() + r.height();
  if (right > screenWidth) {
    left -= right - screenWidth;
    right = screenWidth;
  }
  if (left < 0) {
    right += 1 - left;
    left = 1;
  }
  if (bottom > screenHeight) {
    top -= bottom - screenHeight;
    bottom = screenHeight;
  }
  if (top < 0) {
    bottom += 1 - top;
    top = 1;
  }
  return QRect(left, top, right - left, bottom - top);
}

QRect CentredOver(const QRect& main, const QSize& ownSize) {
  // Integer division in C++ rounds toward zero, as the placement rule wants.
  const int left = main.left() + (main.width() - ownSize.width()) / 2;
  const int top = main.top() + (main.height() - ownSize.height()) / 2;
  return QRect(QPoint(left, top), ownSize);
}

void RestorePlacement(QWidget* window) {
  const TIniFile ini(IniFileName());
  const std::string section = PlacementSection(ClassNameOf(window), LogicalDpi(window)).toStdString();
  const int left = ini.ReadInteger(section, "Left", 0);
  const int top = ini.ReadInteger(section, "Top", 0);
  const int right = ini.ReadInteger(section, "Right", 0);
  const int bottom = ini.ReadInteger(section, "Bottom", 0);
  if (ini.ReadBool(section, "Maximized", window->isMaximized())) {
    window->showMaximized();
    return;
  }
  QRect r(left, top, right - left, bottom - top);
  if (bottom == 0) {
    CentreForm(window);
    r = window->frameGeometry();
  }
  const QRect screen = ScreenRect(window);
  r = ClampPlacement(r, screen.width(), screen.height());
  // Stored rectangles are outer edges; the frame is added back by the window system.
  const QRect frame = window->frameGeometry(), inner = window->geometry();
  const int extraW = frame.width() - inner.width(), extraH = frame.height() - inner.height();
  window->move(r.topLeft());
  window->resize(std::max(r.width() - extraW, 1), std::max(r.height() - extraH, 1));
}

void SavePlacement(QWidget* window) {
  TIniFile ini(IniFileName());
  const std::string section = PlacementSection(ClassNameOf(window), LogicalDpi(window)).toStdString();
  const QRect r = NormalRect(window);
  ini.WriteInteger(section, "Left", r.left());
  ini.WriteInteger(section, "Top", r.top());
  ini.WriteInteger(section, "Right", r.left() + r.width());
  ini.WriteInteger(section, "Bottom", r.top() + r.height());
  ini.WriteBool(section, "Maximized", window->isMaximized());
  ini.UpdateFile();
}

void CentreForm(QWidget* window) {
  const QWidget* main = ApplicationWindow();
  // A window not yet shown has not been sized by its layout: centre it at
  // the size it will open with, not at the default size of a new widget.
  QSize own = window->frameGeometry().size();
  if (!window->isVisible() && !window->testAttribute(Qt::WA_Resized)) {
    window->adjustSize();
    own = window->size();
  }
  QRect target;
  if (main == nullptr || main == window || main->isMaximized()) {
    target = CentredOver(ScreenRect(window), own);
  } else {
    target = CentredOver(main->frameGeometry(), own);
  }
  window->move(target.topLeft());
}
