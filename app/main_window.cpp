#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <thread>

#include "app/gauge.h"
#include "app/glyphs.h"
#include "app/input_blocker.h"
#include "app/window_view.h"
#include "link/chips.h"
#include "ops/hex_files.h"

namespace zelwik::app {
namespace {

constexpr int kClientWidth = 296;
constexpr int kClientHeight = 165;
constexpr int kLogItemHeight = 12;
constexpr int kTimer1Interval = 1000;
constexpr int kFilePauseMs = 1000;
const char* const kCredit = " Zelwik (c) 2003";
const char* const kFileFilter = "Pliki Intel 1 (*.hex);;Wszystkie pliki (*.*)";

class FixedRowHeight : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), kLogItemHeight};
  }
};

QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "Nimbus Sans", "Liberation Sans", "Arial", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QFont LogFont() {
  QFont font;
  font.setFamilies({"Courier", "Nimbus Mono PS", "Liberation Mono", "DejaVu Sans Mono"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setBold(true);
  font.setPixelSize(9);
  // Narrowed to five pixels a cell so a whole listing line (54 cells) fits beside the scroll bar.
  const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
  if (advance > 5.0) font.setStretch(static_cast<int>(100.0 * 5.0 / advance));
  return font;
}

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

void DefaultPause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

TForm1::TForm1(std::optional<std::string> startupHex, Hooks hooks, QWidget* parent)
    : QMainWindow(parent), hooks_(std::move(hooks)) {
  setObjectName("Form1");
  setWindowTitle("Zelwik ver 2.2");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(QIcon(QPixmap::fromImage(AppIconImage(32))));
  setFont(WindowFont());
  move(300, 154);

  BuildElements();
  BuildMenu();
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  if (!hooks_.pause) hooks_.pause = DefaultPause;
  view_ = std::make_unique<WindowView>(StaticText1, ListBox1, CGauge1,
                                       [this](int ms) { hooks_.pause(ms); });

  ClearImage(state_.image);
  if (startupHex) {
    LoadHexFileShown(state_.image, *startupHex, *view_);
    Timer1->start();
  }
}

TForm1::~TForm1() = default;

void TForm1::BuildElements() {
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  AddButton("SpeedButton3", 8, "Odczyt", Glyph::OpenFolder, &TForm1::SpeedButton3Click);
  AddButton("SpeedButton4", 32, "Zapis", Glyph::Floppy, &TForm1::SpeedButton4Click);
  AddButton("SpeedButton1", 64, "Programowanie", Glyph::ChipZ, &TForm1::SpeedButton1Click);
  AddButton("SpeedButton2", 88, "Odczyt", Glyph::ChipO, &TForm1::SpeedButton2Click);
  AddButton("SpeedButton5", 112, "Blokada", Glyph::ChipB, &TForm1::SpeedButton5Click);

  Label2 = new QLabel("Automatycznie", client);
  Label2->setObjectName("Label2");
  Label2->setGeometry(160, 8, 73, 17);
  Label3 = new QLabel("Com2", client);
  Label3->setObjectName("Label3");
  Label3->setGeometry(248, 8, 33, 13);
  for (QLabel* label : {Label2, Label3}) {
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }

  ListBox1 = new QListWidget(client);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setGeometry(0, 32, 297, 113);
  ListBox1->setFont(LogFont());
  ListBox1->setItemDelegate(new FixedRowHeight(ListBox1));
  ListBox1->setUniformItemSizes(true);  // a 64 KiB listing has 4,096 lines
  ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette logPalette = ListBox1->palette();
  logPalette.setColor(QPalette::Text, Qt::black);
  ListBox1->setPalette(logPalette);

  StaticText1 = new QLabel(kCredit, client);
  StaticText1->setObjectName("StaticText1");
  StaticText1->setGeometry(0, 150, 185, 17);
  StaticText1->setTextFormat(Qt::PlainText);
  StaticText1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  CGauge1 = new CGauge(client);
  CGauge1->setObjectName("CGauge1");
  CGauge1->setGeometry(192, 150, 97, 13);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(kTimer1Interval);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

  OpenDialog1 = new QFileDialog(this, QString(), QString(), kFileFilter);
  OpenDialog1->setObjectName("OpenDialog1");
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  SaveDialog1 = new QFileDialog(this, QString(), QString(), kFileFilter);
  SaveDialog1->setObjectName("SaveDialog1");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
  SaveDialog1->setDefaultSuffix("hex");

  ListBox1->setFocus();
}

QToolButton* TForm1::AddButton(const char* name, int left, const char* hint, Glyph glyph,
                               void (TForm1::*handler)()) {
  auto* button = new QToolButton(centralWidget());
  button->setObjectName(name);
  button->setGeometry(left, 0, 25, 25);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setToolTip(Text(hint));
  button->setIcon(GlyphIcon(glyph));
  button->setIconSize(QSize(16, 16));
  connect(button, &QToolButton::clicked, this, handler);
  return button;
}

QAction* TForm1::AddItem(QMenu* menu, const char* name, const QString& caption,
                         void (TForm1::*handler)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  connect(action, &QAction::triggered, this, handler);
  return action;
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  auto submenu = [&](const char* name, const char* caption) {
    QMenu* menu = bar->addMenu(Text(caption));
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    return menu;
  };

  QMenu* plik = submenu("Plik1", "&Plik");
  AddItem(plik, "Odczyt1", "&Odczyt", &TForm1::Odczyt1Click);
  AddItem(plik, "Zapis1", "&Zapis", &TForm1::Zapis1Click);
  plik->addSeparator()->setObjectName("N1");
  AddItem(plik, "Zakocz1", Text("&Zakończ"), &TForm1::Zakocz1Click);

  QMenu* weryfikacja = submenu("Opcje1", "&Weryfikacja");
  AddItem(weryfikacja, "Com11", "&Odczyt", &TForm1::Com11Click);
  AddItem(weryfikacja, "Com21", "&Weryfikacja", &TForm1::Com21Click);
  AddItem(weryfikacja, "Com31", Text("Sygnatura układu"), &TForm1::Com31Click);
  AddItem(weryfikacja, "Com41", Text("Sygnatura producenta"), &TForm1::Com41Click);
  AddItem(weryfikacja, "Sygnaturanapi1", Text("Sygnatura napięć"), &TForm1::Sygnaturanapi1Click);

  QMenu* programowanie = submenu("Info1", "&Programowanie");
  AddItem(programowanie, "Zapis2", "&Programowanie", &TForm1::Zapis2Click);
  AddItem(programowanie, "Kasowanie1", "&Kasowanie", &TForm1::Kasowanie1Click);
  AddItem(programowanie, "Blokada11", "Blokada1", &TForm1::Blokada11Click);
  AddItem(programowanie, "Blokada21", "Blokada2", &TForm1::Blokada21Click);
  AddItem(programowanie, "Blokada31", "Blokada3", &TForm1::Blokada31Click);

  QMenu* uklad = submenu("Ukad1", "&Układ");
  const struct {
    const char* name;
    int code;
    void (TForm1::*handler)();
  } chips[] = {
      {"Auto2", 0, &TForm1::Auto2Click},           {"Auto1", 1, &TForm1::Auto1Click},
      {"N89C5212V1", 3, &TForm1::N89C5212V1Click}, {"N89C525V1", 4, &TForm1::N89C525V1Click},
      {"N89C10511", 5, &TForm1::N89C10511Click},   {"N89C20511", 6, &TForm1::N89C20511Click},
      {"N89C40511", 7, &TForm1::N89C40511Click},   {"Innyukad1", 10, &TForm1::Innyukad1Click},
  };
  for (const auto& chip : chips) {
    const ChipInfo* info = FindChip(chip.code);
    AddItem(uklad, chip.name, Text(info && info->menuCaption ? info->menuCaption : "?"),
            chip.handler);
  }

  QMenu* interfejs = submenu("Interfejs1", "&Interfejs");
  AddItem(interfejs, "Com12", "Com1", &TForm1::Com12Click);
  AddItem(interfejs, "Com22", "Com2", &TForm1::Com22Click);
  AddItem(interfejs, "Com32", "Com3", &TForm1::Com32Click);
  AddItem(interfejs, "Com42", "Com4", &TForm1::Com42Click);
  AddItem(interfejs, "Com51", "Com5", &TForm1::Com51Click);
}

template <typename Fn>
void TForm1::RunOperation(Fn&& operation) {
  if (busy_) return;
  busy_ = true;
  QString failure;
  {
    InputBlocker blocker;
    try {
      operation();
    } catch (const std::exception& e) {
      failure = QString::fromLocal8Bit(e.what());
    } catch (...) {
      failure = "?";
    }
    view_->Flush();
  }
  busy_ = false;
  if (!failure.isEmpty()) QMessageBox::critical(this, windowTitle(), failure);
}

std::optional<std::string> TForm1::RunFileDialog(QFileDialog* dialog) {
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return QFile::encodeName(dialog->selectedFiles().first()).toStdString();
}

// --- Tool buttons -------------------------------------------------------------------------------

void TForm1::SpeedButton1Click() {
  RunOperation([this] { ProgramChip(state_, *view_); });
}

void TForm1::SpeedButton2Click() {
  RunOperation([this] { ReadChip(state_, *view_); });
}

void TForm1::SpeedButton3Click() { Odczyt1Click(); }

void TForm1::SpeedButton4Click() { Zapis1Click(); }

void TForm1::SpeedButton5Click() {
  RunOperation([this] { RunChipCommand(state_, *view_, ChipCommand::LockAll); });
}

// --- Plik ----------------------------------------------------------------------------------------

void TForm1::Odczyt1Click() {
  if (busy_) return;
  const auto path = hooks_.openDialog ? hooks_.openDialog() : RunFileDialog(OpenDialog1);
  if (!path) return;
  RunOperation([&] {
    LoadHexFileShown(state_.image, *path, *view_);
    view_->Pause(kFilePauseMs);
    view_->SetStatus(kTextReady);
  });
}

void TForm1::Zapis1Click() {
  if (busy_) return;
  const auto path = hooks_.saveDialog ? hooks_.saveDialog() : RunFileDialog(SaveDialog1);
  if (!path) return;
  RunOperation([&] {
    const bool saved = SaveHexFileShown(state_.image, *path, *view_);
    view_->Pause(kFilePauseMs);
    // A failed save leaves its message standing.
    if (saved) view_->SetStatus(kTextReady);
  });
}

void TForm1::Zakocz1Click() {
  close();
  QCoreApplication::quit();
}

// --- Weryfikacja ---------------------------------------------------------------------------------

void TForm1::Com11Click() { SpeedButton2Click(); }

void TForm1::Com21Click() {
  RunOperation([this] { VerifyChip(state_, *view_); });
}

void TForm1::Com31Click() {
  RunOperation([this] { ShowSignature(state_, *view_, Signature::Device); });
}

void TForm1::Com41Click() {
  RunOperation([this] { ShowSignature(state_, *view_, Signature::Maker); });
}

void TForm1::Sygnaturanapi1Click() {
  RunOperation([this] { ShowSignature(state_, *view_, Signature::Voltage); });
}

// --- Programowanie -------------------------------------------------------------------------------

void TForm1::Zapis2Click() { SpeedButton1Click(); }

void TForm1::Kasowanie1Click() {
  RunOperation([this] { RunChipCommand(state_, *view_, ChipCommand::Erase); });
}

void TForm1::Blokada11Click() {
  RunOperation([this] { RunChipCommand(state_, *view_, ChipCommand::Lock1); });
}

void TForm1::Blokada21Click() {
  RunOperation([this] { RunChipCommand(state_, *view_, ChipCommand::Lock2); });
}

void TForm1::Blokada31Click() {
  RunOperation([this] { RunChipCommand(state_, *view_, ChipCommand::Lock3); });
}

// --- Układ and Interfejs: only the selection and its label change --------------------------------

void TForm1::SelectChip(int code) {
  state_.ChipType = code;
  const ChipInfo* info = FindChip(code);
  Label2->setText(Text(info && info->label ? info->label : ""));
}

void TForm1::Auto2Click() { SelectChip(0); }
void TForm1::Auto1Click() { SelectChip(1); }
void TForm1::N89C5212V1Click() { SelectChip(3); }
void TForm1::N89C525V1Click() { SelectChip(4); }
void TForm1::N89C10511Click() { SelectChip(5); }
void TForm1::N89C20511Click() { SelectChip(6); }
void TForm1::N89C40511Click() { SelectChip(7); }
void TForm1::Innyukad1Click() { SelectChip(10); }

void TForm1::SelectPort(int number) {
  state_.PortName = "COM" + std::to_string(number);
  Label3->setText(QString("Com%1").arg(number));
}

void TForm1::Com12Click() { SelectPort(1); }
void TForm1::Com22Click() { SelectPort(2); }
void TForm1::Com32Click() { SelectPort(3); }
void TForm1::Com42Click() { SelectPort(4); }
void TForm1::Com51Click() { SelectPort(5); }

void TForm1::Timer1Timer() {
  view_->SetStatus(kTextReady);
  Timer1->stop();
}

}  // namespace zelwik::app
