#include "platform/qt/form2_widget.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "platform/qt/look.h"

namespace qorvel::platform::qt {
namespace {

// Design geometry in twips: the client area, and the two groups whose
// controls are placed relative to them.
constexpr int kClientWidth = 4425;
constexpr int kClientHeight = 4845;

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

Form2Widget::Form2Widget(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("设置"));
  // Children keep the window's own colours; only the group captions take
  // the highlight colour.
  QPalette plain = palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) plain.setColor(role, plain.color(role));
  QPalette caption = plain;
  caption.setColor(QPalette::WindowText, plain.color(QPalette::Highlight));
  caption.setColor(QPalette::Text, plain.color(QPalette::Highlight));

  const auto place = [this](QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(QString::fromUtf8(name));
    w->setGeometry(X(left), Y(top), X(width), Y(height));
  };
  const auto label = [&](QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setTextFormat(Qt::PlainText);
    l->setPalette(plain);
    l->setObjectName(QString::fromUtf8(name));
    l->move(X(left), Y(top));
    l->adjustSize();
  };
  const auto button = [&](QWidget* parent, const char* name, const char* text, int left, int top, int width,
                          int height) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setAutoDefault(false);  // Enter adds or deletes nothing by itself
    b->setPalette(plain);
    place(b, name, left, top, width, height);
    return b;
  };

  // Groups first: created earlier, they lie beneath the end button that
  // overlaps Frame1's caption line.
  auto* frame1 = new QGroupBox(QStringLiteral("设置"), this);
  frame1->setPalette(caption);
  place(frame1, kFrame1, 120, 120, 4215, 1215);
  label(frame1, kLabel1, "选择可上网时段", 120, 510);
  combo1_ = new QComboBox(frame1);  // not editable: only its own items
  combo1_->setPalette(plain);
  for (int hour = 1; hour <= 23; ++hour) combo1_->addItem(QString::number(hour));
  combo1_->setCurrentIndex(-1);
  place(combo1_, kCombo1, 1560, 480, 1575, 300);
  auto* add = button(frame1, kCommand1, "添加", 3240, 480, 855, 300);

  auto* frame2 = new QGroupBox(QStringLiteral("当前可上网时段"), this);
  frame2->setPalette(caption);
  place(frame2, kFrame2, 120, 1440, 4215, 2895);
  list1_ = new QListWidget(frame2);  // unsorted
  list1_->setPalette(plain);
  list1_->setFont(LabelFont(1050));
  place(list1_, kList1, 240, 360, 2775, 2340);
  auto* remove = button(frame2, kCommand2, "删除时段", 3120, 480, 975, 495);

  label(this, kLabel2, "当前密码", 120, 4480);
  text1_ = new QLineEdit(this);  // shown as plain text, as the parent typed it
  text1_->setPalette(plain);
  place(text1_, kText1, 960, 4440, 2175, 270);
  auto* save = button(this, kCommand3, "修改", 3240, 4440, 1095, 300);
  auto* end = button(this, kCommand4, "结束Qorvel", 840, 0, 1335, 255);
  QPalette red = plain;
  red.setColor(QPalette::Button, QColor(255, 0, 0));
  end->setPalette(red);
  // Under 删除时段, beside the list it concerns: a refused or failed save
  // says so in red until the next one lands.
  status_ = new QLabel(frame2);
  status_->setTextFormat(Qt::PlainText);
  QPalette alarm = plain;
  alarm.setColor(QPalette::WindowText, QColor(255, 0, 0));
  status_->setPalette(alarm);
  place(status_, kStatus, 3120, 1080, 975, 300);
  status_->hide();

  connect(add, &QPushButton::clicked, this, [this] { if (presenter_ != nullptr) presenter_->Command1_Click(); });
  connect(remove, &QPushButton::clicked, this, [this] { if (presenter_ != nullptr) presenter_->Command2_Click(); });
  connect(save, &QPushButton::clicked, this, [this] { if (presenter_ != nullptr) presenter_->Command3_Click(); });
  connect(end, &QPushButton::clicked, this, [this] { if (presenter_ != nullptr) presenter_->Command4_Click(); });

  setTabOrder(combo1_, add);
  setTabOrder(add, list1_);
  setTabOrder(list1_, remove);
  setTabOrder(remove, text1_);
  setTabOrder(text1_, save);
  setTabOrder(save, end);
  resize(X(kClientWidth), Y(kClientHeight));
}

Form2Widget::~Form2Widget() { presenter_ = nullptr; }  // may already be gone: no reports from here on

int Form2Widget::X(int twips) const { return TwipsToPixels(twips, LogicalDpiX(*this)); }
int Form2Widget::Y(int twips) const { return TwipsToPixels(twips, LogicalDpiY(*this)); }

void Form2Widget::exec_centred() {
  const QWidget* owner = parentWidget();
  const QScreen* screen = owner != nullptr ? owner->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) move(screen->geometry().center() - rect().center());
  combo1_->setFocus();
  exec();
}

void Form2Widget::clear_list() { list1_->clear(); }

void Form2Widget::add_list_item(std::string_view text) { list1_->addItem(FromUtf8(text)); }

std::vector<std::string> Form2Widget::list_items() const {
  std::vector<std::string> items;
  for (int i = 0; i < list1_->count(); ++i) items.push_back(list1_->item(i)->text().toStdString());
  return items;
}

std::optional<std::size_t> Form2Widget::selected_index() const {
  const auto selected = list1_->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(list1_->row(selected.front()));
}

std::string Form2Widget::combo_text() const {
  return combo1_->currentIndex() < 0 ? std::string() : combo1_->currentText().toStdString();
}

std::string Form2Widget::password_text() const { return text1_->text().toStdString(); }

void Form2Widget::set_password_text(std::string_view text) { text1_->setText(FromUtf8(text)); }

void Form2Widget::set_status_text(std::string_view text) {
  status_->setText(FromUtf8(text));
  status_->setVisible(!text.empty());
}

void Form2Widget::close() {
  QDialog::close();
  Unload();  // already hidden (the program is ending): still an unload
}

// Every way out (the close box, the window manager, the end button) comes
// here; the presenter hears of it once and the close is never cancelled.
void Form2Widget::done(int result) {
  Unload();
  QDialog::done(result);
}

void Form2Widget::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (presenter_ != nullptr) presenter_->Form_QueryUnload();
}

// Esc closes nothing, as on Windows where this window has no Cancel button.
void Form2Widget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void QtForm2Host::show_modal() {
  Form2Widget window(owner_);
  settings::Form2 form(services_, window, form1_);
  window.set_presenter(&form);
  form.Form_Load();
  window.exec_centred();
  // The program may be ending under it: that is a close like any other.
  window.close();
}

}  // namespace qorvel::platform::qt
