#include "platform/qt/dialogs_qt.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace qorvel::platform::qt {
namespace {

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QMessageBox::Icon IconOf(unsigned style) {
  switch (style & 0xF0U) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case kMbIconWarning: return QMessageBox::Warning;
    case kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

// Centred on the screen of the window the user works in, like the Windows boxes.
void Centre(QWidget& box) {
  const QWidget* active = QApplication::activeWindow();
  const QScreen* screen = active != nullptr ? active->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  box.adjustSize();
  box.move(screen->geometry().center() - box.rect().center());
}

}  // namespace

QtDialogs::QtDialogs(const platform::ProcessInfo& process) : title_(FromUtf8(process.exe_name())) {}

int QtDialogs::message_box(std::string_view text, unsigned style, std::chrono::seconds time_limit) {
  // Windows' line breaks are \r\n; a Qt label would show the \r.
  QString body = FromUtf8(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QWidget* owner = QApplication::activeWindow();
  if (owner == nullptr) owner = owner_;
  QMessageBox box(IconOf(style), title_, body, QMessageBox::NoButton, owner);
  // Above everything: the guard may be topmost while it asks.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.setTextFormat(Qt::PlainText);
  QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  // A box with OK alone answers OK to Esc and its close box, as on Windows.
  box.setEscapeButton(ok);
  if ((style & 0x0FU) == kMbOkCancel) box.setEscapeButton(box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole));
  Centre(box);
  // Given up, no button was clicked: Cancel.
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &box, &QDialog::reject);
  if (time_limit.count() > 0) limit.start(std::chrono::duration_cast<std::chrono::milliseconds>(time_limit));
  box.exec();
  return box.clickedButton() == ok ? kIdOk : kIdCancel;
}

std::string QtDialogs::input_box(std::string_view prompt, std::string_view title, bool masked,
                                 std::chrono::seconds time_limit) {
  InputBox box(QApplication::activeWindow(), FromUtf8(prompt), FromUtf8(title), masked, time_limit);
  Centre(box);
  if (box.exec() != QDialog::Accepted) return {};
  return box.text().toStdString();
}

InputBox::InputBox(QWidget* parent, const QString& prompt, const QString& title, bool masked,
                   std::chrono::seconds time_limit)
    // Above everything: the guard may be topmost while it asks.
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  setWindowTitle(title);
  auto* label = new QLabel(prompt, this);
  label->setObjectName(QString::fromUtf8(kPrompt));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  field_ = new QLineEdit(this);
  field_->setObjectName(QString::fromUtf8(kField));
  if (masked) {
    field_->setEchoMode(QLineEdit::Password);
    // Qt turns the input method off for a masked field, but a password saved
    // in the settings window may be Chinese: it must be typeable here too.
    field_->setAttribute(Qt::WA_InputMethodEnabled, true);
  }
  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QString::fromUtf8(kOk));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QString::fromUtf8(kCancel));
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();
  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addLayout(buttons, 0, 1);
  grid->addWidget(field_, 1, 0, 1, 2);
  grid->setColumnMinimumWidth(0, 250);
  grid->setRowMinimumHeight(0, 70);
  field_->setFocus();

  if (time_limit.count() > 0) {
    auto* limit = new QTimer(this);
    limit->setSingleShot(true);
    limit->setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(time_limit));
    connect(limit, &QTimer::timeout, this, &QDialog::reject);
    limit->start();
  }
}

QString InputBox::text() const { return field_->text(); }

}  // namespace qorvel::platform::qt
