#include "platform/ui/qt/forms.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFocusEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>
#include <QTextDocument>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/ui/message_box.h"

namespace ui {

namespace {

namespace fs = std::filesystem;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
// A file system name as it is drawn; the name itself stays in bytes.
QString Shown(const std::string& name) {
  return QFile::decodeName(QByteArray::fromStdString(name));
}

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

// Draws a list's entries without the focus frame that Qt gives the current
// entry; HighlightList draws the frame itself, once, over the highlight.
class ListEntries : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  // Where the entry `index` of the row `row` is drawn, its highlight and
  // its frame.
  virtual QRect EntryRect(const QRect& row, const QModelIndex&) const { return row; }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem entry(option);
    entry.rect = EntryRect(option.rect, index);
    entry.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, entry, index);
  }
};

// The style that draws the lists' focus frame: Qt's Windows style, whose
// frame is the dotted rectangle of a Windows list box, in the inverse of the
// entry's background, so that it shows on the highlight as on the list.
// Other styles draw a frame that the highlight hides (Fusion's is a
// translucent outline in the highlight's colour); without the Windows
// style, the list's own is used.
const QStyle* FocusFrameStyle(const QWidget* list) {
  static QStyle* const windows = QStyleFactory::create("Windows");
  return windows != nullptr ? windows : list->style();
}

// A list whose highlight is its selection.  When it gets the focus with
// nothing highlighted, Qt would make the first entry current without
// highlighting it, and the keys would then move on from there; the list
// keeps no current entry instead, so the first key highlights the entry it
// names: End the last one, the others the first.
//
// While the list has the focus, its current entry is drawn with the focus
// frame, as a Windows list box draws it, so that the keyboard's user sees
// which list the keys move; with no current entry, the frame stands where
// the first entry is (or would be, in an empty list).
class HighlightList : public QListWidget {
 public:
  // `click` runs when the highlight changes, by the mouse or the keyboard,
  // and when the mouse clicks the entry that is highlighted already.
  explicit HighlightList(Event* click) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new ListEntries(this));
    connect(this, &QListWidget::itemSelectionChanged, [click] { RaiseEvent(*click); });
    connect(this, &QListWidget::itemClicked, [this, click] {
      if (pressed_highlighted_) RaiseEvent(*click);
    });
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QListWidgetItem* pressed = itemAt(event->position().toPoint());
    pressed_highlighted_ = pressed != nullptr && pressed->isSelected();
    QListWidget::mousePressEvent(event);
  }
  void focusInEvent(QFocusEvent* event) override {
    QListWidget::focusInEvent(event);
    if (selectedItems().isEmpty()) {
      selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
  }
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
    if (action == MoveEnd && !currentIndex().isValid() && count() > 0) {
      return indexFromItem(item(count() - 1));
    }
    return QListWidget::moveCursor(action, modifiers);
  }
  // The frame moves with the current entry, also away from the first entry
  // it marks while there is none.
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
    QListWidget::currentChanged(current, previous);
    viewport()->update();
  }
  void paintEvent(QPaintEvent* event) override {
    QListWidget::paintEvent(event);
    if (!hasFocus()) return;
    QListWidgetItem* framed = currentItem() != nullptr ? currentItem() : item(0);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    // Shown whether the focus came by the keyboard or the mouse.
    frame.state |= QStyle::State_KeyboardFocusChange | QStyle::State_HasFocus;
    frame.rect = framed != nullptr ? static_cast<ListEntries*>(itemDelegate())
                                         ->EntryRect(visualItemRect(framed), indexFromItem(framed))
                                   : QRect(0, 0, viewport()->width(), fontMetrics().height());
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const bool highlighted = framed != nullptr && framed->isSelected();
    frame.backgroundColor =
        palette().color(group, highlighted ? QPalette::Highlight : QPalette::Base);
    QPainter painter(viewport());
    FocusFrameStyle(this)->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
  }

 private:
  bool pressed_highlighted_ = false;
};

// Draws the directory list's entries indented by their depth, kept in
// kDepthRole; the entries' texts are the bare names, so that typing a name
// finds its entry.
constexpr int kDepthRole = Qt::UserRole;
class IndentedEntries : public ListEntries {
 public:
  explicit IndentedEntries(QListWidget* list) : ListEntries(list), list_(list) {}
  QRect EntryRect(const QRect& row, const QModelIndex& index) const override {
    return row.adjusted(
        index.data(kDepthRole).toInt() * list_->fontMetrics().horizontalAdvance("  "), 0, 0, 0);
  }

 private:
  QListWidget* list_;
};

// A button that Enter presses when it has the focus, as Space does.
class EnterButton : public QPushButton {
 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (!event->isAutoRepeat()) click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

// A window that Escape does not close: none of its buttons is a cancel
// button.  Shown modally over another window, it does not stay minimised:
// the window under it takes no input while it is up, so a window manager
// that minimises it anyway (it offers no minimise button) would leave a
// window that answers nothing.
class Window : public QDialog {
 public:
  // The modal window this one is shown over, while it is shown.
  QPointer<QWidget> owner;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel)) return;
    QDialog::keyPressEvent(event);
  }
  void changeEvent(QEvent* event) override {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !owner) return;
    // Restored once the window system has finished minimising it.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (!isVisible() || !isMinimized()) return;
          setWindowState(windowState() & ~Qt::WindowMinimized);
          raise();
          activateWindow();
        },
        Qt::QueuedConnection);
  }
};

std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.empty() ? "/" : path;
}

// The names in `dir` of the visible entries that are directories (or
// files), in the order the lists show them: by name without regard to
// letter case.  A directory that cannot be read has none.
std::vector<std::string> Names(const std::string& dir, bool directories) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.starts_with('.')) continue;  // hidden
    std::error_code type_error;
    if (directories ? it->is_directory(type_error) : it->is_regular_file(type_error)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    int order = Shown(a).compare(Shown(b), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
  return names;
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

Control::Control(Form& form, QWidget* widget, int left, int top, int width, int height,
                 int tab_index)
    : widget_(widget), tab_index_(tab_index) {
  form.controls_.push_back(this);
  widget_->setParent(form.widget());
  widget_->setGeometry(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

void Control::SetToolTipText(const std::string& text) {
  tool_tip_ = text;
  // Qt draws a tooltip that looks like markup as rich text; such a text is
  // escaped, blanks included, so that it shows character for character.
  QString shown = Q(text);
  widget_->setToolTip(Qt::mightBeRichText(shown) ? Qt::convertFromPlainText(shown) : shown);
}
void Control::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
bool Control::Enabled() const { return widget_->isEnabled(); }

Label::Label(Form& form, int left, int top, int width, int height, int tab_index)
    : Control(form, new QLabel, left, top, width, height, tab_index),
      label_(static_cast<QLabel*>(widget())) {
  label_->setTextFormat(Qt::PlainText);
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

CommandButton::CommandButton(Form& form, int left, int top, int width, int height, int tab_index)
    : Control(form, new EnterButton, left, top, width, height, tab_index),
      button_(static_cast<QPushButton*>(widget())) {
  // No button is a default button: Enter presses only the focused one.
  button_->setAutoDefault(false);
  QObject::connect(button_, &QPushButton::clicked, [this] { RaiseEvent(Click); });
}

void CommandButton::SetCaption(const std::string& caption) { button_->setText(Q(caption)); }
std::string CommandButton::Caption() const { return S(button_->text()); }

// --- DriveListBox ----------------------------------------------------------

DriveListBox::DriveListBox(Form& form, int left, int top, int width, int height, int tab_index)
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

DirListBox::DirListBox(Form& form, int left, int top, int width, int height, int tab_index)
    : Control(form, new HighlightList(&Click), left, top, width, height, tab_index),
      list_(static_cast<QListWidget*>(widget())) {
  list_->setItemDelegate(new IndentedEntries(list_));
  QObject::connect(list_, &QListWidget::itemActivated, [this](QListWidgetItem* item) {
    // Enter acts on the current entry, which need not be the highlighted
    // one; only the highlighted entry opens.
    int row = list_->row(item);
    if (item->isSelected() && row >= 0 && row < static_cast<int>(entries_.size())) {
      std::string target = entries_[row];
      RaiseEvent([this, target] { SetPath(target); });
    }
  });
  SetPath(fs::current_path().string());
}

void DirListBox::SetPath(const std::string& path) {
  std::error_code error;
  fs::path absolute = path.empty() ? fs::path() : fs::absolute(path, error);
  if (absolute.empty() || error || !fs::is_directory(absolute, error)) {
    throw kav::Error(76, "Path not found: " + path, "DirListBox");
  }
  // "." and ".." are resolved and repeated separators dropped, so a path
  // starting with "//" becomes one starting with "/".
  path_ = Normalized(absolute.lexically_normal().string());
  Fill();
  RaiseEvent(Change);
}

void DirListBox::Fill() {
  QSignalBlocker block(list_);
  list_->clear();
  entries_.clear();
  // The ancestors from the root down, then the subdirectories.
  std::vector<std::string> ancestors;
  for (std::string p = path_;; p = Normalized(fs::path(p).parent_path().string())) {
    ancestors.push_back(p);
    if (p == "/") break;
  }
  std::reverse(ancestors.begin(), ancestors.end());
  // The folders of the open path are drawn open, those below it closed, so
  // that a folder that is only highlighted does not look open.
  const QIcon open_folder = list_->style()->standardIcon(QStyle::SP_DirOpenIcon, nullptr, list_);
  const QIcon closed_folder =
      list_->style()->standardIcon(QStyle::SP_DirClosedIcon, nullptr, list_);
  auto add = [this](const QIcon& icon, const QString& name, int depth, const std::string& entry) {
    auto* item = new QListWidgetItem(icon, name, list_);
    item->setData(kDepthRole, depth);
    entries_.push_back(entry);
  };
  int depth = 0;
  for (const std::string& a : ancestors) {
    add(open_folder, a == "/" ? QString("/") : Shown(fs::path(a).filename().string()), depth++, a);
  }
  list_->setCurrentRow(depth - 1);
  for (const std::string& sub : Names(path_, true)) {
    add(closed_folder, Shown(sub), depth, path_ == "/" ? "/" + sub : path_ + "/" + sub);
  }
}

// --- FileListBox -----------------------------------------------------------

FileListBox::FileListBox(Form& form, int left, int top, int width, int height, int tab_index)
    : Control(form, new HighlightList(&Click), left, top, width, height, tab_index),
      list_(static_cast<QListWidget*>(widget())) {
  QObject::connect(list_, &QListWidget::itemDoubleClicked,
                   [this](QListWidgetItem*) { RaiseEvent(DblClick); });
  path_ = Normalized(fs::current_path().string());
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
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->row(selected.front());
}

std::string FileListBox::FileName() const { return List(ListIndex()); }

std::string FileListBox::List(int index) const {
  return index >= 0 && index < ListCount() ? names_[index] : std::string();
}

void FileListBox::Refresh() {
  std::string selected = FileName();
  Fill();
  // The file chosen before stays chosen when it is still there.
  auto same = std::find(names_.begin(), names_.end(), selected);
  if (!selected.empty() && same != names_.end()) {
    QSignalBlocker block(list_);
    list_->setCurrentRow(static_cast<int>(same - names_.begin()),
                         QItemSelectionModel::ClearAndSelect);
  }
}

void FileListBox::Fill() {
  QSignalBlocker block(list_);
  list_->clear();
  names_.clear();
  QList<QRegularExpression> patterns;
  for (const QString& p : Q(pattern_).split(';', Qt::SkipEmptyParts)) {
    patterns << QRegularExpression(QRegularExpression::wildcardToRegularExpression(p.trimmed()),
                                   QRegularExpression::CaseInsensitiveOption);
  }
  for (const std::string& name : Names(path_, false)) {
    for (const QRegularExpression& re : patterns) {
      if (re.match(Shown(name)).hasMatch()) {
        list_->addItem(Shown(name));
        names_.push_back(name);
        break;
      }
    }
  }
  list_->setCurrentRow(-1);
  list_->clearSelection();
}

// --- Form ------------------------------------------------------------------

Form::Form() : dialog_(new Window) {
  dialog_->setModal(true);
  // A title and a close button, and no minimise or maximise button.
  dialog_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  // The windows are laid out in twips for an 8-point system font.
  QFont font = dialog_->font();
  font.setPointSizeF(8);
  dialog_->setFont(font);
}

Form::~Form() = default;

void Form::SetCaption(const std::string& caption) { dialog_->setWindowTitle(Q(caption)); }
std::string Form::Caption() const { return S(dialog_->windowTitle()); }

void Form::SetClientSize(int width, int height) {
  dialog_->setFixedSize(Pixels(width), Pixels(height));
}

void Form::Load() {
  RaiseEvent([this] { Form_Load(); });
  std::vector<Control*> ordered;
  for (Control* control : controls_) {
    if (control->widget()->focusPolicy() & Qt::TabFocus) ordered.push_back(control);
  }
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](Control* a, Control* b) { return a->TabIndex() < b->TabIndex(); });
  for (size_t i = 1; i < ordered.size(); ++i) {
    QWidget::setTabOrder(ordered[i - 1]->widget(), ordered[i]->widget());
  }
  for (Control* control : ordered) {
    if (control->Enabled()) {
      control->widget()->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

void Form::ShowModal() {
  Load();
  auto* window = static_cast<Window*>(dialog_.get());
  window->owner = QApplication::activeModalWidget();
  dialog_->exec();
  window->owner = nullptr;
}

void Form::Unload() { dialog_->done(0); }

bool Form::Visible() const { return dialog_->isVisible(); }

QWidget* Form::widget() const { return dialog_.get(); }

}  // namespace ui
