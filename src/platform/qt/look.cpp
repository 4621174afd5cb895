#include "platform/qt/look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace qorvel::platform::qt {
namespace {

double Dpi(const QWidget& widget, bool x) {
  const QScreen* screen = widget.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 96.0;
  const double dpi = x ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
  return dpi > 0 ? dpi : 96.0;
}

bool WritesChinese(const QString& family) {
  return QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

}  // namespace

double LogicalDpiX(const QWidget& widget) { return Dpi(widget, true); }
double LogicalDpiY(const QWidget& widget) { return Dpi(widget, false); }

int TwipsToPixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

QString LabelFamily() {
  static const QString family = [] {
    for (const QString& name : {QString::fromUtf8(kLabelFace), QStringLiteral("Microsoft YaHei")}) {
      if (QFontDatabase::hasFamily(name)) return name;
    }
    // A Chinese desktop (Deepin, UOS, openKylin) sets its CJK font as the general one.
    const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    if (WritesChinese(general)) return general;
    for (const char* name : {"Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei",
                             "Droid Sans Fallback", "AR PL UMing CN"}) {
      if (QFontDatabase::hasFamily(QString::fromUtf8(name))) return QString::fromUtf8(name);
    }
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString::fromUtf8(kLabelFace) : chinese.front();
  }();
  return family;
}

QFont LabelFont(int hundredths_of_point) {
  QFont font(LabelFamily());
  font.setPointSizeF(hundredths_of_point / 100.0);
  font.setBold(true);
  return font;
}

// Windows' out-of-the-box background, as the Windows build shows it; Linux
// desktops have no system colour of their own for it.
QColor DesktopColour() { return {37, 111, 149}; }

QColor MenuTextColour() { return QApplication::palette("QMenu").color(QPalette::Active, QPalette::WindowText); }

}  // namespace qorvel::platform::qt
