#include "platform/qt/cover_widgets.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "platform/qt/look.h"
#include "platform/qt/net_wm_state.h"
#include "platform/qt/x11_hold.h"

namespace qorvel::platform::qt {
namespace {

guard::ScreenRect FromRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

}  // namespace

class CoverWidget final : public QWidget {
 public:
  explicit CoverWidget(const guard::ScreenRect& r)
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                             Qt::WindowDoesNotAcceptFocus) {
    setWindowTitle(QStringLiteral("Qorvel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    SkipTaskbar(*this);
    OnEveryDesktop(*this);
  }
  ~CoverWidget() override {
    leaving_ = true;
    close();
  }
  CoverWidget(const CoverWidget&) = delete;
  CoverWidget& operator=(const CoverWidget&) = delete;

 protected:
  // Like the main window: the window manager's close and Alt+F4 are
  // refused; only the program removes a cover.
  void closeEvent(QCloseEvent* event) override {
    if (leaving_) {
      event->accept();
    } else {
      event->ignore();
    }
  }

  // The main window's banner, red on the menu-text colour, centred.
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), DesktopColour());
    painter.setFont(LabelFont(2625));
    const QString banner = QStringLiteral("当前锁屏中>>>");
    QRect text = painter.fontMetrics().boundingRect(banner);
    text.moveCenter(rect().center());
    painter.fillRect(text, MenuTextColour());
    painter.setPen(kLabelText);
    painter.drawText(text, Qt::AlignCenter, banner);
  }

 private:
  bool leaving_ = false;
};

CoverWidgets::CoverWidgets(QWidget& main_window) : main_(main_window) {}

CoverWidgets::~CoverWidgets() = default;

std::optional<std::vector<guard::ScreenRect>> CoverWidgets::monitors() {
  const auto screens = QGuiApplication::screens();
  if (screens.isEmpty()) return std::nullopt;
  std::vector<guard::ScreenRect> found;
  // The whole monitor, not its available part: panels are covered too.
  for (const QScreen* screen : screens) found.push_back(FromRect(screen->geometry()));
  return found;
}

std::optional<guard::ScreenRect> CoverWidgets::main_window_monitor() {
  // The screen holding the window's centre, as the window system places it.
  const QScreen* screen = QGuiApplication::screenAt(main_.frameGeometry().center());
  if (screen == nullptr) screen = main_.screen();
  if (screen == nullptr) return std::nullopt;
  return FromRect(screen->geometry());
}

platform::WindowId CoverWidgets::main_window() { return static_cast<platform::WindowId>(main_.winId()); }

platform::WindowId CoverWidgets::create_cover(const guard::ScreenRect& rect) {
  auto cover = std::make_unique<CoverWidget>(rect);
  const auto id = static_cast<platform::WindowId>(cover->winId());
  if (id == 0) return 0;
  cover->show();
  X11Hold::Watch(*cover);
  covers_.push_back(std::move(cover));
  return id;
}

QWidget* CoverWidgets::cover(platform::WindowId id) const {
  const auto it = std::find_if(covers_.begin(), covers_.end(),
                               [id](const auto& c) { return static_cast<platform::WindowId>(c->winId()) == id; });
  return it == covers_.end() ? nullptr : it->get();
}

void CoverWidgets::destroy_cover(platform::WindowId id) {
  std::erase_if(covers_, [id](const auto& c) { return static_cast<platform::WindowId>(c->winId()) == id; });
}

void CoverWidgets::set_cover_topmost(platform::WindowId id, bool topmost) {
  if (QWidget* c = cover(id)) SetStaysOnTop(*c, topmost);
}

}  // namespace qorvel::platform::qt
