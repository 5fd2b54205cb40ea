#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

#include "app/gauge.h"
#include "app/glyphs.h"
#include "app/input_filter.h"
#include "app/wake_pipe.h"
#include "app/window_view.h"

namespace zelwik::app {
namespace {

class FixedRowHeight : public QStyledItemDelegate {
 public:
  FixedRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "Nimbus Sans", "Liberation Sans", "Arial", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

// A listing line is 54 cells, and they fit beside the scroll bar at 5 pixels a cell: what the
// hinted 9-pixel face gives. A face narrowed by stretching shrinks its letters unevenly.
QFont LogFont() {
  QFont font;
  font.setFamilies({"DejaVu Sans Mono", "Liberation Mono", "Nimbus Mono PS", "Courier"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setBold(true);
  font.setPixelSize(9);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

MainForm::MainForm(std::optional<std::string> startupHex, Hooks hooks, QWidget* parent)
    : QMainWindow(parent), hooks_(std::move(hooks)) {
  const ui::WindowDescription& form = ui::MainWindow();
  setObjectName(form.name);
  setWindowTitle(Text(form.caption));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(QIcon(QPixmap::fromImage(AppIconImage(32))));
  setFont(WindowFont());
  move(form.left, form.top);
  setAcceptDrops(true);

  BuildElements();
  BuildMenu();
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  wake_ = new WakePipe([this] { router_->Drain(); }, this);
  drainTimer_ = new QTimer(this);
  drainTimer_->setSingleShot(true);
  drainTimer_->setTimerType(Qt::PreciseTimer);
  connect(drainTimer_, &QTimer::timeout, this, [this] {
    if (router_) router_->Drain();
  });
  view_ = std::make_unique<WindowView>(statusLine, logList, progressGauge, hooks_.status);
  router_ = std::make_unique<ui::Router>(state_, *view_, *this, hooks_.pause);
  filter_ = new InputFilter(*router_, this);
  router_->UseSettings(hooks_.settings);
  ShowJob(nullptr);
  router_->Startup(startupHex);
}

// The router goes before the elements it shows in: it stops a running operation first.
MainForm::~MainForm() {
  delete filter_;
  router_.reset();
  delete wake_;
}

void MainForm::BuildElements() {
  const ui::WindowDescription& form = ui::MainWindow();
  auto* client = client_ = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFixedSize(form.clientWidth, form.clientHeight);
  setCentralWidget(client);

  for (const ui::Element& e : form.elements) {
    QWidget* widget = nullptr;
    switch (e.kind) {
      case ui::ElementKind::ToolButton: {
        auto* button = new QToolButton(client);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setToolTip(Text(e.text));
        button->setIcon(GlyphIcon(e.glyph));
        button->setIconSize(QSize(16, 16));
        connect(button, &QToolButton::clicked, this, [this, c = e.command] { Run(c); });
        buttonCommands_.emplace_back(button, e.command);
        widget = button;
        break;
      }
      case ui::ElementKind::Label:
      case ui::ElementKind::StaticText: {
        auto* label = new QLabel(Text(e.text), client);
        label->setTextFormat(Qt::PlainText);
        const bool centred = e.kind == ui::ElementKind::Label;
        label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        widget = label;
        break;
      }
      case ui::ElementKind::ListBox: {
        logList = new QListWidget(client);
        logList->setFont(LogFont());
        logList->setItemDelegate(new FixedRowHeight(form.logItemHeight, logList));
        logList->setUniformItemSizes(true);  // a 64 KiB listing has 4,096 lines
        logList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QPalette logPalette = logList->palette();
        logPalette.setColor(QPalette::Text, Qt::black);
        logList->setPalette(logPalette);
        widget = logList;
        break;
      }
      case ui::ElementKind::Gauge:
        widget = progressGauge = new CGauge(client);
        break;
    }
    widget->setObjectName(e.name);
    widget->setGeometry(e.left, e.top, e.width, e.height);
  }
  for (const ui::Element& e : form.jobElements) {
    auto* label = new QLabel(client);
    label->setObjectName(e.name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(e.left, e.top, e.width, e.height);
    label->hide();
  }
  jobLine_ = client->findChild<QLabel*>("JobLine");
  jobCounters_ = client->findChild<QLabel*>("JobCounters");
  chipLabel = client->findChild<QLabel*>("chipLabel");
  portLabel = client->findChild<QLabel*>("portLabel");
  statusLine = client->findChild<QLabel*>("statusLine");

  readyTimer = new QTimer(this);
  readyTimer->setObjectName("readyTimer");
  readyTimer->setSingleShot(true);
  readyTimer->setInterval(form.readyTimerMs);
  connect(readyTimer, &QTimer::timeout, this, [this] { router_->ReadyTimerDue(); });
  logList->setFocus();
}

void MainForm::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  for (const ui::Menu& m : ui::MainWindow().menus) {
    QMenu* menu = bar->addMenu(Text(m.caption));
    menu->setObjectName(m.name);
    menu->menuAction()->setObjectName(m.name);
    for (const ui::MenuItem& item : m.items) {
      if (!item.caption) {
        menu->addSeparator()->setObjectName(item.name);
        continue;
      }
      QAction* action = menu->addAction(Text(item.caption));
      action->setObjectName(item.name);
      if (item.shortcut) action->setShortcut(QKeySequence(Text(item.shortcut)));
      connect(action, &QAction::triggered, this, [this, c = item.command] { Run(c); });
      menuCommands_.emplace_back(action, item.command);
    }
    if (menu->objectName() == ui::MainWindow().menus[ui::kFileMenuIndex].name) fileMenu_ = menu;
    if (menu->objectName() == ui::MainWindow().menus[ui::kPortMenuIndex].name)
      connect(menu, &QMenu::aboutToShow, this, [this, menu] { ListPortsInMenu(menu); });
  }
}

// The ports present now, each time the menu opens: an adapter plugged in since shows up.
void MainForm::ListPortsInMenu(QMenu* menu) {
  for (QAction* action : listedPorts_) {
    menu->removeAction(action);
    action->deleteLater();
  }
  listedPorts_.clear();
  if (router_->Busy()) return;
  const auto& entries = router_->ListPorts();
  if (entries.empty()) return;
  listedPorts_.append(menu->addSeparator());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    QAction* action = menu->addAction(Text(entries[i].caption.c_str()));
    action->setObjectName(QString("ListedPort%1").arg(i));
    const ui::Command command{ui::Action::SelectListedPort, static_cast<int>(i)};
    connect(action, &QAction::triggered, this, [this, command] { Run(command); });
    action->setEnabled(!router_->Locked(command));
    listedPorts_.append(action);
  }
}

// Built at their first use: a file dialog lists the working folder on a thread of its own, and the
// first operation after start would otherwise take in that listing, which costs more than the
// operation's own drawing.
void MainForm::BuildDialogs() {
  if (openFileDialog) return;
  const ui::WindowDescription& form = ui::MainWindow();
  const auto& f = form.openFilter;
  const QString filter = QString("%1 (%2);;%3 (%4)").arg(f[0], f[1], f[2], f[3]);
  openFileDialog = new QFileDialog(this, QString(), QString(), filter);
  openFileDialog->setObjectName("openFileDialog");
  openFileDialog->setAcceptMode(QFileDialog::AcceptOpen);
  openFileDialog->setFileMode(QFileDialog::ExistingFile);
  saveFileDialog = new QFileDialog(this, QString(), QString(), filter);
  saveFileDialog->setObjectName("saveFileDialog");
  saveFileDialog->setAcceptMode(QFileDialog::AcceptSave);
  saveFileDialog->setFileMode(QFileDialog::AnyFile);
  saveFileDialog->setDefaultSuffix(form.defaultExtension);
  if (!folder_.isEmpty()) {
    openFileDialog->setDirectory(folder_);
    saveFileDialog->setDirectory(folder_);
  }
}

std::optional<std::string> MainForm::RunFileDialog(QFileDialog* dialog) {
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return QFile::encodeName(dialog->selectedFiles().first()).toStdString();
}

void MainForm::SetChipLabel(const std::string& utf8) { chipLabel->setText(Text(utf8.c_str())); }
void MainForm::SetPortLabel(const std::string& utf8) { portLabel->setText(Text(utf8.c_str())); }

std::optional<std::string> MainForm::AskOpenPath() {
  if (hooks_.openDialog) return hooks_.openDialog();
  BuildDialogs();
  return RunFileDialog(openFileDialog);
}

std::optional<std::string> MainForm::AskSavePath() {
  if (hooks_.saveDialog) return hooks_.saveDialog();
  BuildDialogs();
  return RunFileDialog(saveFileDialog);
}

void MainForm::StartReadyTimer() { readyTimer->start(); }
void MainForm::StopReadyTimer() { readyTimer->stop(); }

void MainForm::Wake() { wake_->Wake(); }

void MainForm::DrainAfter(std::chrono::milliseconds after) { drainTimer_->start(after); }

void MainForm::OperationEnded() { emit operationEnded(); }

void MainForm::Quit() {
  close();
  QCoreApplication::quit();
}

void MainForm::ShowFailure(const std::string& what) {
  QMessageBox::critical(this, windowTitle(), QString::fromLocal8Bit(what));
}

void MainForm::SetTitle(const std::string& utf8) { setWindowTitle(Text(utf8.c_str())); }

void MainForm::SetRecentFiles(const std::vector<std::string>& captions) {
  for (QAction* action : recentFiles_) {
    fileMenu_->removeAction(action);
    action->deleteLater();
  }
  recentFiles_.clear();
  if (captions.empty()) return;
  const auto items = ui::MainWindow().menus[ui::kFileMenuIndex].items;
  QAction* before = fileMenu_->findChild<QAction*>(items[ui::kRecentFilesAt].name);
  for (std::size_t i = 0; i < captions.size(); ++i) {
    auto* action = new QAction(Text(captions[i].c_str()), fileMenu_);
    action->setObjectName(QString("RecentFile%1").arg(i + 1));
    const ui::Command command{ui::Action::OpenRecent, static_cast<int>(i)};
    connect(action, &QAction::triggered, this, [this, command] { Run(command); });
    fileMenu_->insertAction(before, action);
    recentFiles_.append(action);
  }
  recentFiles_.append(fileMenu_->insertSeparator(before));
}

void MainForm::SetFileFolder(const std::string& folder) {
  folder_ = QFile::decodeName(QByteArray::fromStdString(folder));
  if (openFileDialog) {
    openFileDialog->setDirectory(folder_);
    saveFileDialog->setDirectory(folder_);
  }
}

std::optional<std::string> MainForm::AskJobPath() {
  if (hooks_.jobDialog) return hooks_.jobDialog();
  const auto& f = ui::MainWindow().jobFilter;
  const QString filter = QString("%1 (%2);;%3 (%4)").arg(f[0], f[1], f[2], f[3]);
  QFileDialog dialog(this, QString(), folder_, filter);
  dialog.setObjectName("JobDialog");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return RunFileDialog(&dialog);
}

void MainForm::ShowJob(const ui::OpenJob* job) {
  const ui::WindowDescription& form = ui::MainWindow();
  if (job) {
    jobLine_->setText(QString::fromStdString(job->JobLine()));
    jobCounters_->setText(QString::fromStdString(job->CounterLine()));
  }
  jobLine_->setVisible(job);
  jobCounters_->setVisible(job);
  client_->setFixedSize(form.clientWidth, job ? form.jobClientHeight : form.clientHeight);
  for (auto& [action, command] : menuCommands_) action->setEnabled(!router_->Locked(command));
  for (auto& [button, command] : buttonCommands_) button->setEnabled(!router_->Locked(command));
  for (QAction* action : recentFiles_) action->setEnabled(!job);
  for (const char* name : {"CloseJobItem", "ResetJobCountersItem"})
    if (auto* action = findChild<QAction*>(name)) action->setEnabled(job);
}

bool MainForm::AskSaveOverChanged(const std::string& fileName) {
  if (hooks_.askSaveOverChanged) return hooks_.askSaveOverChanged(fileName);
  const QString text =
      QString::fromUtf8("Plik %1 zmienił się na dysku od wczytania.\nZapisać mimo to?")
          .arg(Text(fileName.c_str()));
  return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
}

namespace {

std::vector<std::string> LocalFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  return paths;
}

}  // namespace

void MainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!router_->Busy() && !LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainForm::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = LocalFiles(event->mimeData());
  if (paths.empty() || router_->Busy()) return;
  event->acceptProposedAction();
  router_->OpenDropped(paths);
}

}  // namespace zelwik::app
