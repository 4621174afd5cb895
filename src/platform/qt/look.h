#pragma once
// What the Qt windows share with the Win32 ones: twips at the screen's
// logical DPI, the label font and the colours.
#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace qorvel::platform::qt {

// The Windows build's label face; the desktop's CJK font stands in where it
// is not installed.
inline constexpr char kLabelFace[] = "微软雅黑";

// Red text on the menu-text colour, as the Windows labels draw.
inline const QColor kLabelText{255, 0, 0};

// Logical DPI of the screen the widget is on (96 when unknown).
[[nodiscard]] double LogicalDpiX(const QWidget& widget);
[[nodiscard]] double LogicalDpiY(const QWidget& widget);
// Twips to device-independent pixels, rounded like MulDiv.
[[nodiscard]] int TwipsToPixels(int twips, double dpi);

// 微软雅黑 where installed, else the desktop's own font if it writes Chinese,
// else a common CJK family, else whatever writes Simplified Chinese.
[[nodiscard]] QString LabelFamily();
// Bold label font; the size in hundredths of a point keeps 10.5 and 26.25 exact.
[[nodiscard]] QFont LabelFont(int hundredths_of_point);

// The desktop colour behind the lock (Windows' default background) and the
// menu-text colour behind the red labels.
[[nodiscard]] QColor DesktopColour();
[[nodiscard]] QColor MenuTextColour();

}  // namespace qorvel::platform::qt
