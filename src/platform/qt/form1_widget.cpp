#include "platform/qt/form1_widget.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "platform/qt/look.h"
#include "platform/qt/net_wm_state.h"
#include "platform/qt/x11_hold.h"

namespace qorvel::platform::qt {
namespace {

constexpr int kDesignWidth = 15555;  // twips, outer = client: no frame
constexpr int kDesignHeight = 14055;

struct ButtonDef {
  const char* name;
  const char* text;
  int left, top, width, height;  // twips
};

// Later buttons lie above earlier ones, so Command3 covers the last pixel of
// Command2 as the compact layout expects.
constexpr std::array<ButtonDef, 5> kButtons{{
    {Form1Widget::kCommand2, "设置", 0, 0, 615, 255},
    {Form1Widget::kCommand3, "关机", 600, 0, 615, 255},
    {Form1Widget::kCommand1, "锁屏", 1200, 0, 615, 255},
    {Form1Widget::kCommand5, "学习加时", 1800, 0, 900, 255},
    {Form1Widget::kCommand4, "可用时段", 2700, 0, 900, 255},
}};

struct LabelDef {
  const char* name;
  const char* text;
  int left, top;              // twips; the label sizes itself to its text
  int hundredths_of_point;
};

constexpr std::array<LabelDef, 4> kLabels{{
    {Form1Widget::kLabel2, "", 3720, 0, 1050},
    {Form1Widget::kL1, "Label1", 0, 360, 7200},
    {Form1Widget::kLabel1, "当前锁屏中>>>", 0, 2040, 2625},
    {Form1Widget::kLabel3, "", 0, 2760, 2625},
}};

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A label sized to its text, as on Windows: an empty one has no width
// (QLabel would keep a small box of its background colour).
void FitToText(QLabel* label) {
  label->adjustSize();
  if (label->text().isEmpty()) label->resize(0, label->height());
}

}  // namespace

Form1Widget::Form1Widget(platform::Services& services)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), form_(services, *this) {
  setWindowTitle(QStringLiteral("Qorvel"));
  QPalette background = palette();
  background.setColor(QPalette::Window, DesktopColour());
  setPalette(background);
  setAutoFillBackground(true);

  QPalette label_palette = palette();
  label_palette.setColor(QPalette::WindowText, kLabelText);
  label_palette.setColor(QPalette::Window, MenuTextColour());
  for (const auto& l : kLabels) {
    auto* label = std::string_view(l.name) == kL1 ? new ClockLabel(QString::fromUtf8(l.text), this)
                                                  : new QLabel(QString::fromUtf8(l.text), this);
    label->setObjectName(QString::fromUtf8(l.name));
    label->setTextFormat(Qt::PlainText);
    label->setPalette(label_palette);
    label->setAutoFillBackground(true);
    label->setFont(LabelFont(l.hundredths_of_point));
    if (std::string_view(l.name) == kL1) l1_ = static_cast<ClockLabel*>(label);
    if (std::string_view(l.name) == kLabel1) label1_ = label;
    if (std::string_view(l.name) == kLabel2) label2_ = label;
    if (std::string_view(l.name) == kLabel3) label3_ = label;
  }
  // After the labels: created later, the buttons lie above them.
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    auto* button = new QPushButton(QString::fromUtf8(kButtons[i].text), this);
    button->setObjectName(QString::fromUtf8(kButtons[i].name));
    button->setAutoDefault(false);
    buttons_[i] = button;
  }
  // Command5 "学习加时" has no handler.
  connect(buttons_[0], &QPushButton::clicked, this, [this] { form_.Command2_Click(); });
  connect(buttons_[1], &QPushButton::clicked, this, [this] { form_.Command3_Click(); });
  connect(buttons_[2], &QPushButton::clicked, this, [this] { form_.Command1_Click(); });
  connect(buttons_[4], &QPushButton::clicked, this, [this] { form_.Command4_Click(); });

  timer1_.setInterval(kTimer1Interval);
  connect(&timer1_, &QTimer::timeout, this, [this] { form_.Timer1_Timer(); });
  heartbeat_.setInterval(kReportInterval);
  connect(&heartbeat_, &QTimer::timeout, this, [this] { form_.Heartbeat(); });

  LayOut();
  resize(X(kDesignWidth), Y(kDesignHeight));
  SkipTaskbar(*this);
  OnEveryDesktop(*this);
}

int Form1Widget::X(int twips) const { return TwipsToPixels(twips, LogicalDpiX(*this)); }
int Form1Widget::Y(int twips) const { return TwipsToPixels(twips, LogicalDpiY(*this)); }

void Form1Widget::LayOut() {
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    const auto& b = kButtons[i];
    buttons_[i]->setGeometry(X(b.left), Y(b.top), X(b.width), Y(b.height));
  }
  for (const auto& l : kLabels) {
    auto* label = findChild<QLabel*>(QString::fromUtf8(l.name), Qt::FindDirectChildrenOnly);
    label->setFont(LabelFont(l.hundredths_of_point));  // the point size follows the DPI
    label->move(X(l.left), Y(l.top));
    FitToText(label);
  }
}

void Form1Widget::show_design() {
  show();
  shown_ = true;
  ArmTimer();
  heartbeat_.start();
  QMetaObject::invokeMethod(this, [this] { form_.Form_Shown(); }, Qt::QueuedConnection);
}

// The clock is set at every tick and changes once a second: the label
// repaints only what changed, and nothing for the same text.
void Form1Widget::set_clock_text(std::string_view text) {
  l1_->Show(FromUtf8(text), kLabelText, MenuTextColour());
}

void Form1Widget::set_hours_text(std::string_view text) {
  label2_->setText(FromUtf8(text));
  FitToText(label2_);
}

std::string Form1Widget::hours_text() const { return label2_->text().toStdString(); }

void Form1Widget::set_unlock_text(std::string_view text) {
  const QString line = FromUtf8(text);
  if (label3_->text() == line) return;
  label3_->setText(line);
  FitToText(label3_);
}

// Beside the compact window's right edge, at its top.
void Form1Widget::show_notice(std::string_view text) {
  const QRect frame = frameGeometry();
  notice_.Show(FromUtf8(text), QPoint(frame.right() + 1 + X(60), frame.top()));
}

// Closing is refused everywhere else, so the close that ends the program is
// let through here. exit() and not quit(): quit() asks every window to close
// first, and the covers refuse.
void Form1Widget::unload() {
  unloading_ = true;
  timer1_.stop();
  close();
  QCoreApplication::exit(0);
}

// Closing would end the lock: the window manager's close (WM_DELETE_WINDOW),
// Alt+F4 and close() are refused.
void Form1Widget::closeEvent(QCloseEvent* event) {
  if (unloading_) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool Form1Widget::event(QEvent* event) {
  // The fonts and geometry are in points and twips: a screen of another DPI
  // lays them out again.
  if (event->type() == QEvent::ScreenChangeInternal) LayOut();
  return QWidget::event(event);
}

void Form1Widget::set_window_pos(int insert_after, unsigned /*flags: no move, no size*/) {
  if (insert_after == platform::kHwndTopmost) SetStaysOnTop(*this, true);
  if (insert_after == platform::kHwndNotopmost) SetStaysOnTop(*this, false);
  X11Hold::Follow();
}

void Form1Widget::set_window_state(platform::WindowState state) {
  // Only on a real change: showing again at every tick would flicker and
  // take the focus twice a second.
  const Qt::WindowStates now = windowState();
  Qt::WindowStates wanted = now & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
  if (state == platform::WindowState::maximized) wanted |= Qt::WindowMaximized;
  if (wanted != now) setWindowState(wanted);
  if (!isVisible()) show();
}

void Form1Widget::set_top(int twips) { move(x(), Y(twips)); }
void Form1Widget::set_left(int twips) { move(X(twips), y()); }
void Form1Widget::set_width(int twips) { resize(X(twips), height()); }
void Form1Widget::set_height(int twips) { resize(width(), Y(twips)); }

void Form1Widget::set_enabled(bool enabled) {
  timer_enabled_ = enabled;
  if (enabled) {
    ArmTimer();
  } else {
    timer1_.stop();
  }
}

// Ticks wait for show_design(): none may reach a window not yet shown.
void Form1Widget::ArmTimer() {
  if (!shown_ || !timer_enabled_ || timer1_.isActive()) return;
  timer1_.start();
}

}  // namespace qorvel::platform::qt
