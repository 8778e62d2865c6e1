#include "platform/ui/qt/forms.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>
#include <exception>

#include "platform/error.h"
#include "platform/ui/message_box.h"

namespace ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

int Pixels(int twips) { return twips / kTwipsPerPixel; }

// A drive list that reports getting the focus.
class FocusComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  Event* got_focus = nullptr;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QComboBox::focusInEvent(event);
    if (got_focus != nullptr) RaiseEvent(*got_focus);
  }
};

std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.empty() ? "/" : path;
}

}  // namespace

void RaiseEvent(const Event& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const kav::Error& error) {
    try {
      MsgBox(error.description());
    } catch (...) {
      // Nothing is left to show the error with.
    }
  } catch (const std::exception& error) {
    try {
      MsgBox(error.what());
    } catch (...) {
      // Nothing is left to show the error with.
    }
  }
}

// --- Control ---------------------------------------------------------------

Control::Control(Form& form, QWidget* widget, int left, int top, int width,
                 int height, int tab_index)
    : widget_(widget), tab_index_(tab_index) {
  widget_->setParent(form.widget());
  widget_->setGeometry(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

void Control::SetToolTipText(const std::string& text) { widget_->setToolTip(Q(text)); }
std::string Control::ToolTipText() const { return S(widget_->toolTip()); }
void Control::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
bool Control::Enabled() const { return widget_->isEnabled(); }

Label::Label(Form& form, int left, int top, int width, int height, int tab_index)
    : Control(form, new QLabel, left, top, width, height, tab_index),
      label_(static_cast<QLabel*>(widget())) {
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void Label::SetCaption(const std::string& caption) { label_->setText(Q(caption)); }
std::string Label::Caption() const { return S(label_->text()); }

void Label::SetFont(const std::string& family, double points, bool bold) {
  QFont font(Q(family));
  font.setPointSizeF(points);
  font.setBold(bold);
  label_->setFont(font);
}

CommandButton::CommandButton(Form& form, int left, int top, int width, int height,
                             int tab_index)
    : Control(form, new QPushButton, left, top, width, height, tab_index),
      button_(static_cast<QPushButton*>(widget())) {
  button_->setAutoDefault(false);
  QObject::connect(button_, &QPushButton::clicked, [this] { RaiseEvent(Click); });
}

void CommandButton::SetCaption(const std::string& caption) { button_->setText(Q(caption)); }
std::string CommandButton::Caption() const { return S(button_->text()); }

// --- DriveListBox ----------------------------------------------------------

DriveListBox::DriveListBox(Form& form, int left, int top, int width, int height,
                           int tab_index)
    : Control(form, new FocusComboBox, left, top, width, height, tab_index),
      combo_(static_cast<QComboBox*>(widget())) {
  static_cast<FocusComboBox*>(combo_)->got_focus = &GotFocus;
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) roots << volume.rootPath();
  }
  if (!roots.contains("/")) roots << "/";
  roots.removeDuplicates();
  roots.sort();
  combo_->addItems(roots);
  combo_->setCurrentText("/");
  QObject::connect(combo_, &QComboBox::currentIndexChanged, [this](int) { RaiseEvent(Change); });
}

std::string DriveListBox::Drive() const { return S(combo_->currentText()); }

void DriveListBox::SetDrive(const std::string& drive) {
  int index = combo_->findText(Q(drive));
  if (index < 0) {
    combo_->addItem(Q(drive));
    index = combo_->count() - 1;
  }
  if (index == combo_->currentIndex()) {
    RaiseEvent(Change);  // choosing the same drive again still reports it
  } else {
    combo_->setCurrentIndex(index);
  }
}

std::vector<std::string> DriveListBox::Drives() const {
  std::vector<std::string> drives;
  for (int i = 0; i < combo_->count(); ++i) drives.push_back(S(combo_->itemText(i)));
  return drives;
}

// --- DirListBox ------------------------------------------------------------

DirListBox::DirListBox(Form& form, int left, int top, int width, int height,
                       int tab_index)
    : Control(form, new QListWidget, left, top, width, height, tab_index),
      list_(static_cast<QListWidget*>(widget())) {
  QObject::connect(list_, &QListWidget::itemClicked, [this](QListWidgetItem*) { RaiseEvent(Click); });
  QObject::connect(list_, &QListWidget::itemActivated, [this](QListWidgetItem* item) {
    int row = list_->row(item);
    if (row >= 0 && row < static_cast<int>(entries_.size())) {
      std::string target = entries_[row];
      RaiseEvent([this, target] { SetPath(target); });
    }
  });
  SetPath(S(QDir::currentPath()));
}

void DirListBox::SetPath(const std::string& path) {
  QFileInfo info(Q(path));
  if (!info.isDir()) {
    throw kav::Error(76, "Path not found: " + path, "DirListBox");
  }
  path_ = Normalized(S(info.absoluteFilePath()));
  Fill();
  RaiseEvent(Change);
}

void DirListBox::Fill() {
  list_->clear();
  entries_.clear();
  // The ancestors from the root down, then the subdirectories.
  std::vector<std::string> ancestors;
  for (std::string p = path_;; p = Normalized(S(QFileInfo(Q(p)).path()))) {
    ancestors.push_back(p);
    if (p == "/") break;
  }
  std::reverse(ancestors.begin(), ancestors.end());
  int depth = 0;
  for (const std::string& a : ancestors) {
    QString name = a == "/" ? QString("/") : QFileInfo(Q(a)).fileName();
    list_->addItem(QString(depth * 2, ' ') + name);
    entries_.push_back(a);
    ++depth;
  }
  list_->setCurrentRow(depth - 1);
  QDir dir(Q(path_));
  for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                          QDir::Name | QDir::IgnoreCase)) {
    list_->addItem(QString(depth * 2, ' ') + sub);
    entries_.push_back(Normalized(path_ == "/" ? "/" + S(sub) : path_ + "/" + S(sub)));
  }
}

// --- FileListBox -----------------------------------------------------------

FileListBox::FileListBox(Form& form, int left, int top, int width, int height,
                         int tab_index)
    : Control(form, new QListWidget, left, top, width, height, tab_index),
      list_(static_cast<QListWidget*>(widget())) {
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  QObject::connect(list_, &QListWidget::currentRowChanged, [this](int row) {
    if (row >= 0) RaiseEvent(Click);
  });
  QObject::connect(list_, &QListWidget::itemDoubleClicked,
                   [this](QListWidgetItem*) { RaiseEvent(DblClick); });
  path_ = Normalized(S(QDir::currentPath()));
  Fill();
}

void FileListBox::SetPath(const std::string& path) {
  path_ = Normalized(path);
  Fill();
  RaiseEvent(PathChange);
}

void FileListBox::SetPattern(const std::string& pattern) {
  pattern_ = pattern;
  Fill();
  RaiseEvent(PatternChange);
}

int FileListBox::ListIndex() const {
  return list_->currentRow();
}

std::string FileListBox::FileName() const {
  int index = ListIndex();
  return index < 0 ? std::string() : S(list_->item(index)->text());
}

int FileListBox::ListCount() const { return list_->count(); }
std::string FileListBox::List(int index) const {
  QListWidgetItem* item = list_->item(index);
  return item != nullptr ? S(item->text()) : std::string();
}

void FileListBox::Refresh() {
  std::string selected = FileName();
  Fill();
  // The file chosen before stays chosen when it is still there.
  QList<QListWidgetItem*> same = list_->findItems(Q(selected), Qt::MatchExactly);
  if (!selected.empty() && !same.isEmpty()) {
    QSignalBlocker block(list_);
    list_->setCurrentItem(same.front());
  }
}

void FileListBox::Fill() {
  QSignalBlocker block(list_);
  list_->clear();
  QList<QRegularExpression> patterns;
  for (const QString& p : Q(pattern_).split(';', Qt::SkipEmptyParts)) {
    patterns << QRegularExpression(
        QRegularExpression::wildcardToRegularExpression(p.trimmed()),
        QRegularExpression::CaseInsensitiveOption);
  }
  QDir dir(Q(path_));
  for (const QString& name :
       dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
    for (const QRegularExpression& re : patterns) {
      if (re.match(name).hasMatch()) {
        list_->addItem(name);
        break;
      }
    }
  }
  list_->setCurrentRow(-1);
  list_->clearSelection();
}

// --- Form ------------------------------------------------------------------

Form::Form() : dialog_(new QDialog) {
  dialog_->setModal(true);
  // The windows are laid out in twips for an 8-point system font.
  QFont font = dialog_->font();
  font.setPointSizeF(8);
  dialog_->setFont(font);
}

Form::~Form() { delete dialog_; }

void Form::SetCaption(const std::string& caption) { dialog_->setWindowTitle(Q(caption)); }
std::string Form::Caption() const { return S(dialog_->windowTitle()); }

void Form::SetClientSize(int width, int height) {
  dialog_->setFixedSize(Pixels(width), Pixels(height));
}

void Form::ShowModal() {
  RaiseEvent([this] { Form_Load(); });
  dialog_->exec();
}

void Form::Unload() { dialog_->done(0); }

bool Form::Visible() const { return dialog_->isVisible(); }

QWidget* Form::widget() const { return dialog_; }

void Form::ApplyTabOrder(const std::vector<Control*>& controls) {
  std::vector<Control*> ordered = controls;
  std::sort(ordered.begin(), ordered.end(),
            [](Control* a, Control* b) { return a->TabIndex() < b->TabIndex(); });
  for (size_t i = 1; i < ordered.size(); ++i) {
    QWidget::setTabOrder(ordered[i - 1]->widget(), ordered[i]->widget());
  }
}

}  // namespace ui
