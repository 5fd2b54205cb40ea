// The window against the simulated programmer: elements, menus, start-up, and every command from
// its tool button and its menu item. Pauses are recorded, never slept.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/gauge.h"
#include "app/main_window.h"
#include "image/hex_file.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"

using namespace zelwik;
using zelwik::app::CGauge;
using zelwik::app::TForm1;
using zelwik::testing::FramesText;
using zelwik::testing::RecordingView;
using zelwik::testing::SimHarness;

namespace {

const char* const kBlinkHex =
    ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFF5E\r\n"
    ":0A003000758160B290120039DEFB9B\r\n"
    ":00000001FF\r\n";

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

// Every text the status line was painted with, in order: what the user could have read.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
  std::vector<std::string> texts;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const std::string text = Utf8(label_->text());
      if (texts.empty() || texts.back() != text) texts.push_back(text);
    }
    return false;
  }

 private:
  QLabel* label_;
};

// Joined, so that a failed comparison shows the texts.
QString Joined(const std::vector<std::string>& texts) {
  QStringList list;
  for (const auto& t : texts) list << QString::fromStdString(t);
  return list.join(" | ");
}

std::vector<std::string> WithoutRepeats(const std::vector<std::string>& in) {
  std::vector<std::string> out;
  for (const auto& s : in)
    if (out.empty() || out.back() != s) out.push_back(s);
  return out;
}

// A window with recorded pauses; what runs inside a pause can be set per test.
struct Window {
  std::vector<int> pauses;
  std::vector<std::string> statusAtPause;
  std::function<void()> duringPause;
  std::unique_ptr<TForm1> form;

  explicit Window(std::optional<std::string> file = std::nullopt) {
    TForm1::Hooks hooks;
    hooks.pause = [this](int ms) {
      pauses.push_back(ms);
      statusAtPause.push_back(StatusOf(form ? form.get() : Constructing()));
      if (duringPause) duringPause();
    };
    form = std::make_unique<TForm1>(file, hooks);
  }
  // The window whose constructor is running (the start-up load pauses inside it).
  static QWidget* Constructing() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "Form1") return w;
    return nullptr;
  }
  static std::string StatusOf(QWidget* window) {
    auto* label = window ? window->findChild<QLabel*>("StaticText1") : nullptr;
    return label ? Utf8(label->text()) : "?";
  }
  template <typename T>
  T* Get(const char* name) const {
    T* child = form->findChild<T*>(name);
    if (!child) qFatal("no element %s", name);
    return child;
  }
  std::string Status() const { return Utf8(Get<QLabel>("StaticText1")->text()); }
  QStringList Log() const {
    QStringList lines;
    auto* list = Get<QListWidget>("ListBox1");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  // Starts a command the way the user would: a click on a tool button, or the menu item.
  void Run(const QString& name) const {
    if (auto* button = form->findChild<QToolButton*>(name)) {
      QTest::mouseClick(button, Qt::LeftButton);
    } else {
      QAction* action = form->findChild<QAction*>(name);
      if (!action) qFatal("no command %s", qPrintable(name));
      action->trigger();
    }
  }
};

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& text) {
  const std::string path = dir.filePath(name).toStdString();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    qunsetenv("ZELWIK_COM2");
    qunsetenv("ZELWIK_COM4");
  }

  void elementsAndPlaces() {
    Window w;
    TForm1& form = *w.form;
    QCOMPARE(form.objectName(), QString("Form1"));
    QCOMPARE(form.windowTitle(), QString("Zelwik ver 2.2"));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(form.centralWidget()->size(), QSize(296, 165));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.minimumSize(), form.maximumSize());  // fixed border
    QCOMPARE(form.windowIcon().pixmap(32, 32).size(), QSize(32, 32));

    const struct {
      const char* name;
      QRect geometry;
      const char* hint;
    } buttons[] = {
        {"SpeedButton3", {8, 0, 25, 25}, "Odczyt"},
        {"SpeedButton4", {32, 0, 25, 25}, "Zapis"},
        {"SpeedButton1", {64, 0, 25, 25}, "Programowanie"},
        {"SpeedButton2", {88, 0, 25, 25}, "Odczyt"},
        {"SpeedButton5", {112, 0, 25, 25}, "Blokada"},
    };
    for (const auto& b : buttons) {
      auto* button = w.Get<QToolButton>(b.name);
      QCOMPARE(button->geometry(), b.geometry);
      QCOMPARE(button->toolTip(), QString(b.hint));
      QVERIFY(button->autoRaise());
      const QImage normal = button->icon().pixmap(16, 16, QIcon::Normal).toImage();
      const QImage disabled = button->icon().pixmap(16, 16, QIcon::Disabled).toImage();
      QCOMPARE(normal.size(), QSize(16, 16));
      QVERIFY(normal != disabled);
    }
    QCOMPARE(w.Get<QLabel>("Label2")->geometry(), QRect(160, 8, 73, 17));
    QCOMPARE(w.Get<QLabel>("Label2")->text(), QString("Automatycznie"));
    QVERIFY(w.Get<QLabel>("Label2")->alignment() & Qt::AlignHCenter);
    QCOMPARE(w.Get<QLabel>("Label3")->geometry(), QRect(248, 8, 33, 13));
    QCOMPARE(w.Get<QLabel>("Label3")->text(), QString("Com2"));
    auto* log = w.Get<QListWidget>("ListBox1");
    QCOMPARE(log->geometry(), QRect(0, 32, 297, 113));
    QVERIFY(log->font().bold());
    QVERIFY(log->font().fixedPitch());
    QCOMPARE(w.Get<QLabel>("StaticText1")->geometry(), QRect(0, 150, 185, 17));
    QCOMPARE(w.Get<CGauge>("CGauge1")->geometry(), QRect(192, 150, 97, 13));
    auto* timer = w.Get<QTimer>("Timer1");
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 1000);

    const QString filter = "Pliki Intel 1 (*.hex);;Wszystkie pliki (*.*)";
    for (const char* name : {"OpenDialog1", "SaveDialog1"}) {
      auto* dialog = w.Get<QFileDialog>(name);
      QCOMPARE(dialog->nameFilters().join(";;"), filter);
    }
    QCOMPARE(w.Get<QFileDialog>("OpenDialog1")->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(w.Get<QFileDialog>("SaveDialog1")->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(w.Get<QFileDialog>("SaveDialog1")->defaultSuffix(), QString("hex"));
  }

  void logRowsAreTwelvePixels() {
    QTemporaryDir dir;
    Window w(WriteFile(dir, "b.hex", kBlinkHex));
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    auto* log = w.Get<QListWidget>("ListBox1");
    QCOMPARE(log->count(), 4);
    QCOMPARE(log->visualItemRect(log->item(0)).height(), 12);
    // A whole listing line fits the width without a horizontal scroll bar.
    const int text = log->fontMetrics().horizontalAdvance(log->item(0)->text());
    QVERIFY2(text <= log->viewport()->width(), qPrintable(QString::number(text)));
  }

  void menuTree() {
    Window w;
    const QStringList expected = {
        "Plik1=&Plik",
        "  Odczyt1=&Odczyt", "  Zapis1=&Zapis", "  N1=-", "  Zakocz1=&Zakończ",
        "Opcje1=&Weryfikacja",
        "  Com11=&Odczyt", "  Com21=&Weryfikacja", "  Com31=Sygnatura układu",
        "  Com41=Sygnatura producenta", "  Sygnaturanapi1=Sygnatura napięć",
        "Info1=&Programowanie",
        "  Zapis2=&Programowanie", "  Kasowanie1=&Kasowanie", "  Blokada11=Blokada1",
        "  Blokada21=Blokada2", "  Blokada31=Blokada3",
        "Ukad1=&Układ",
        "  Auto2=Automatycznie", "  Auto1=  89C51 ", "  N89C5212V1=  89C52 ",
        "  N89C525V1=  89C55", "  N89C10511=  89C1051", "  N89C20511=  89C2051",
        "  N89C40511=  89C4051", "  Innyukad1=  Inny układ",
        "Interfejs1=&Interfejs",
        "  Com12=Com1", "  Com22=Com2", "  Com32=Com3", "  Com42=Com4", "  Com51=Com5",
    };
    QStringList actual;
    QMenuBar* bar = w.form->menuBar();
    QCOMPARE(bar->objectName(), QString("MainMenu1"));
    for (QAction* top : bar->actions()) {
      actual << top->objectName() + "=" + top->text();
      for (QAction* item : top->menu()->actions()) {
        actual << "  " + item->objectName() + "=" + (item->isSeparator() ? "-" : item->text());
        QVERIFY(item->shortcut().isEmpty());
        QVERIFY(!item->isCheckable());
        QVERIFY(item->isEnabled());
      }
    }
    QCOMPARE(actual, expected);
  }

  void chipAndPortSelection_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("chip");
    QTest::addColumn<QString>("label2");
    QTest::newRow("89C51") << "Auto1" << 1 << "89C51";
    QTest::newRow("89C52") << "N89C5212V1" << 3 << "89C52";
    QTest::newRow("89C55") << "N89C525V1" << 4 << "89C55";
    QTest::newRow("89C1051") << "N89C10511" << 5 << "89C1051";
    QTest::newRow("89C2051") << "N89C20511" << 6 << "89C2051";
    QTest::newRow("89C4051") << "N89C40511" << 7 << "89C4051";
    QTest::newRow("other") << "Innyukad1" << 10 << "Inny układ";
  }

  void chipAndPortSelection() {
    QFETCH(QString, item);
    QFETCH(int, chip);
    QFETCH(QString, label2);
    SimHarness sim(sim::SimChip::C2051);
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w;
    w.Run(item);
    QCOMPARE(w.form->state().ChipType, chip);
    QCOMPARE(w.Get<QLabel>("Label2")->text(), label2);
    w.Run("Auto2");
    QCOMPARE(w.form->state().ChipType, 0);
    QCOMPARE(w.Get<QLabel>("Label2")->text(), QString("Automatycznie"));
    for (int n = 1; n <= 5; ++n) {
      w.Run(n == 5 ? QString("Com51") : QString("Com%1").arg(n) + "2");
      QCOMPARE(w.form->state().PortName, "COM" + std::to_string(n));
      QCOMPARE(w.Get<QLabel>("Label3")->text(), QString("Com%1").arg(n));
    }
    // Choosing opens no port and sends nothing; the status line is untouched.
    QVERIFY(sim.Frames().empty());
    QCOMPARE(w.Status(), std::string(" Zelwik (c) 2003"));
    QVERIFY(w.pauses.empty());
  }

  void startWithoutArgument() {
    Window w;
    QCOMPARE(w.Status(), std::string(" Zelwik (c) 2003"));
    QCOMPARE(w.Get<QLabel>("Label2")->text(), QString("Automatycznie"));
    QCOMPARE(w.Get<QLabel>("Label3")->text(), QString("Com2"));
    QVERIFY(w.Log().isEmpty());
    QVERIFY(!w.Get<QTimer>("Timer1")->isActive());
    QCOMPARE(w.Get<CGauge>("CGauge1")->Progress(), 0);
    const State& state = w.form->state();
    QCOMPARE(state.ChipType, 0);
    QCOMPARE(state.PortName, std::string("COM2"));
    QCOMPARE(state.image.ImageEnd, 0);
    for (auto b : state.image.MemoryImage) QCOMPARE(int(b), 0xFF);
    QVERIFY(w.pauses.empty());
  }

  void startWithFileThenTimerOnce() {
    QTemporaryDir dir;
    Window w(WriteFile(dir, "start.hex", ":03000000020030CB\r\n:00000001FF\r\n"));
    QCOMPARE(w.Status(), std::string(" Odczytano 3 bajtów."));
    QCOMPARE(w.Log().size(), 1);
    QVERIFY(w.Log()[0].startsWith("0000:020030" + QString(26, 'F') + " "));
    QVERIFY(w.pauses.empty());
    auto* timer = w.Get<QTimer>("Timer1");
    QVERIFY(timer->isActive());
    QSignalSpy ticks(timer, &QTimer::timeout);
    // The one place a test waits for real time: the timer is the feature.
    QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 1, 5000);
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QVERIFY(!timer->isActive());
    QCOMPARE(w.Log().size(), 1);
  }

  void startWithMissingFile() {
    Window w(std::string("/nonexistent/dir/none.hex"));
    QCOMPARE(w.pauses, std::vector<int>{1500});
    QCOMPARE(w.statusAtPause, std::vector<std::string>{" Błąd I/O ..."});
    QCOMPARE(w.Status(), std::string(" Odczytano 0 bajtów."));
    QVERIFY(w.Log().isEmpty());
    QVERIFY(w.Get<QTimer>("Timer1")->isActive());
    w.form->Timer1Timer();
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QVERIFY(!w.Get<QTimer>("Timer1")->isActive());
  }

  // Each pair runs one handler: the same frames, texts, log and pauses from either entry.
  void buttonAndMenuTwins_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("item");
    QTest::newRow("program") << "SpeedButton1" << "Zapis2";
    QTest::newRow("read") << "SpeedButton2" << "Com11";
  }

  void buttonAndMenuTwins() {
    QFETCH(QString, button);
    QFETCH(QString, item);
    struct Outcome {
      std::string frames;
      std::vector<std::string> painted;
      QStringList log;
      std::vector<int> pauses;
      std::vector<std::uint8_t> flash;
    };
    auto run = [](const QString& command) {
      SimHarness sim(sim::SimChip::C2051);
      sim.WithModel([](sim::DeviceModel& m) {
        for (int a = 0; a < 40; ++a) m.Flash()[a] = std::uint8_t(a * 7);
        return 0;
      });
      qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
      Window w;
      LoadHexText(w.form->state().image, kBlinkHex);
      FindImageEnd(w.form->state().image);
      w.form->show();
      if (!QTest::qWaitForWindowExposed(w.form.get())) qFatal("window not exposed");
      PaintedTexts painted(w.Get<QLabel>("StaticText1"));
      w.Run(command);
      Outcome o{FramesText(sim.Frames()), painted.texts, w.Log(), w.pauses,
                sim.WithModel([](sim::DeviceModel& m) { return m.Flash(); })};
      return o;
    };
    const Outcome viaButton = run(button);
    const Outcome viaMenu = run(item);
    QVERIFY(!viaButton.frames.empty());
    QCOMPARE(viaButton.frames, viaMenu.frames);
    QCOMPARE(Joined(viaButton.painted), Joined(viaMenu.painted));
    QCOMPARE(viaButton.log, viaMenu.log);
    QCOMPARE(viaButton.pauses, viaMenu.pauses);
    QCOMPARE(viaButton.flash, viaMenu.flash);
    QCOMPARE(viaButton.painted.back(), std::string(" Gotowy..."));
  }

  // Every chip command through the window paints exactly the texts the core writes, in order,
  // and sends exactly the frames the core sends.
  void windowShowsEveryStatusInOrder_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("which");
    QTest::newRow("program") << "SpeedButton1" << 0;
    QTest::newRow("read") << "SpeedButton2" << 1;
    QTest::newRow("verify") << "Com21" << 2;
    QTest::newRow("device signature") << "Com31" << 3;
    QTest::newRow("maker signature") << "Com41" << 4;
    QTest::newRow("voltage signature") << "Sygnaturanapi1" << 5;
    QTest::newRow("erase") << "Kasowanie1" << 6;
    QTest::newRow("lock 1") << "Blokada11" << 7;
    QTest::newRow("lock 2") << "Blokada21" << 8;
    QTest::newRow("lock 3") << "Blokada31" << 9;
    QTest::newRow("all locks") << "SpeedButton5" << 10;
  }

  void windowShowsEveryStatusInOrder() {
    QFETCH(QString, command);
    QFETCH(int, which);
    auto core = [which](State& s, View& v) {
      switch (which) {
        case 0: ProgramChip(s, v); break;
        case 1: ReadChip(s, v); break;
        case 2: VerifyChip(s, v); break;
        case 3: ShowSignature(s, v, Signature::Device); break;
        case 4: ShowSignature(s, v, Signature::Maker); break;
        case 5: ShowSignature(s, v, Signature::Voltage); break;
        case 6: RunChipCommand(s, v, ChipCommand::Erase); break;
        case 7: RunChipCommand(s, v, ChipCommand::Lock1); break;
        case 8: RunChipCommand(s, v, ChipCommand::Lock2); break;
        case 9: RunChipCommand(s, v, ChipCommand::Lock3); break;
        default: RunChipCommand(s, v, ChipCommand::LockAll); break;
      }
    };

    SimHarness direct(sim::SimChip::C1051);
    State state;
    state.PortName = direct.Path();
    LoadHexText(state.image, kBlinkHex);
    FindImageEnd(state.image);
    RecordingView recorded;
    core(state, recorded);

    SimHarness sim(sim::SimChip::C1051);
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w;
    LoadHexText(w.form->state().image, kBlinkHex);
    FindImageEnd(w.form->state().image);
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    PaintedTexts painted(w.Get<QLabel>("StaticText1"));
    w.Run(command);

    QCOMPARE(Joined(painted.texts), Joined(WithoutRepeats(recorded.statuses)));
    QCOMPARE(w.pauses, recorded.pauses);
    QCOMPARE(FramesText(sim.Frames()), FramesText(direct.Frames()));
    // Programming, reading and verifying end with the gauge back at 0, painted so.
    QCOMPARE(w.Get<CGauge>("CGauge1")->PaintedPercent(), 0);
  }

  void chosenPortIsTheOneOpened() {
    SimHarness com2(sim::SimChip::C2051), com4(sim::SimChip::C2051);
    com4.WithModel([](sim::DeviceModel& m) { return m.Flash()[2047] = 0; });
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(com2.Path()));
    qputenv("ZELWIK_COM4", QByteArray::fromStdString(com4.Path()));
    Window w;
    w.Run("Com42");
    QCOMPARE(w.Get<QLabel>("Label3")->text(), QString("Com4"));
    w.Run("SpeedButton2");
    QVERIFY(com2.Frames().empty());
    QVERIFY(!com4.Frames().empty());
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QCOMPARE(w.statusAtPause.size(), std::size_t(1));
    QVERIFY2(w.statusAtPause[0] != kTextLinkFailure, w.statusAtPause[0].c_str());
    QCOMPARE(w.Log().size(), 2048 / 16);
  }

  void noProgrammerOnThePort() {
    qputenv("ZELWIK_COM2", "/nonexistent/tty");
    Window w;
    w.Run("SpeedButton2");
    QCOMPARE(w.statusAtPause, std::vector<std::string>{"Błąd transmisji lub brak programatora"});
    QCOMPARE(w.pauses, std::vector<int>{1500});
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    w.Run("Blokada31");  // its error tail leaves the message standing, without a pause
    QCOMPARE(w.Status(), std::string("Błąd transmisji lub brak programatora"));
    QCOMPARE(w.pauses.size(), std::size_t(1));
  }

  void inputDuringAnOperationIsDropped() {
    SimHarness sim(sim::SimChip::C2051);
    sim.WithModel([](sim::DeviceModel& m) { return m.Flash()[100] = 0x41; });
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    auto* lock = w.Get<QToolButton>("SpeedButton5");
    auto* read = w.Get<QToolButton>("SpeedButton2");
    auto* log = w.Get<QListWidget>("ListBox1");
    auto postClick = [&](QWidget* target, QPointF at) {
      const QPointF global = target->mapToGlobal(at);
      QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                          Qt::LeftButton, Qt::LeftButton, {}));
      QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                          Qt::LeftButton, {}, {}));
    };
    auto probes = [&] {
      int n = 0;
      for (const auto& f : sim.Frames()) n += f[0] == 0xFF;
      return n;
    };

    // Control: a queued click on an idle window does start the command.
    postClick(lock, {12, 12});
    QTRY_COMPARE(probes(), 1);
    QCOMPARE(w.pauses.size(), std::size_t(1));
    sim.ClearFrames();

    int nested = 0;
    bool once = false;
    w.duringPause = [&] {
      if (std::exchange(once, true)) return;
      QTest::mouseClick(lock, Qt::LeftButton);  // delivered at once
      postClick(read, {12, 12});                // queued for later
      postClick(log->viewport(), log->visualItemRect(log->item(0)).center());
      QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);  // would open "&Plik"
      w.form->SpeedButton5Click();  // a handler called while one runs does nothing
      nested = int(sim.Frames().size());
    };
    w.Run("SpeedButton2");
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QCOMPARE(probes(), 1);
    QCOMPARE(int(sim.Frames().size()), nested);
    QCOMPARE(w.pauses.size(), std::size_t(2));
    QCOMPARE(w.Log().size(), 7);
    QVERIFY(log->selectedItems().isEmpty());
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(!w.form->Busy());
    // And the window takes input again.
    postClick(log->viewport(), log->visualItemRect(log->item(0)).center());
    QTRY_COMPARE(log->selectedItems().size(), 1);
    postClick(lock, {12, 12});
    QTRY_COMPARE(probes(), 2);
  }

  void gaugePaintsAtMostOncePerFrame() {
    SimHarness sim(sim::SimChip::C4051);
    sim.WithModel([](sim::DeviceModel& m) { return m.Flash()[4095] = 0; });
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    auto* gauge = w.Get<CGauge>("CGauge1");
    struct Counter : QObject {
      int paints = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
      }
    } counter;
    gauge->installEventFilter(&counter);
    int percentAtPause = -1;
    w.duringPause = [&] { percentAtPause = gauge->PaintedPercent(); };
    QElapsedTimer clock;
    clock.start();
    w.Run("SpeedButton2");
    const qint64 elapsed = clock.elapsed();
    // 4,096 bytes were read; the bar was painted no more often than frames went by (plus the
    // forced paints before the pause and at the end), and showed 100 % during the pause.
    QVERIFY2(counter.paints <= elapsed / 16 + 4,
             qPrintable(QString("%1 paints in %2 ms").arg(counter.paints).arg(elapsed)));
    QCOMPARE(percentAtPause, 100);
    QCOMPARE(gauge->PaintedPercent(), 0);
    QCOMPARE(w.Log().size(), 4096 / 16);
  }

  void loadAndSaveFromButtonAndMenu_data() {
    QTest::addColumn<QString>("load");
    QTest::addColumn<QString>("save");
    QTest::newRow("tool buttons") << "SpeedButton3" << "SpeedButton4";
    QTest::newRow("menu") << "Odczyt1" << "Zapis1";
  }

  void loadAndSaveFromButtonAndMenu() {
    QFETCH(QString, load);
    QFETCH(QString, save);
    QTemporaryDir dir;
    const std::string in = WriteFile(dir, "in.hex", ":03000000020030CB\r\n:00000001FF\r\n");
    const std::string out = dir.filePath("out.hex").toStdString();
    Window w;
    w.form->SetOpenDialog([&] { return std::optional<std::string>(in); });
    w.form->SetSaveDialog([&] { return std::optional<std::string>(out); });
    w.Run(load);
    QCOMPARE(w.statusAtPause, std::vector<std::string>{" Odczytano 3 bajtów."});
    QCOMPARE(w.pauses, std::vector<int>{1000});
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QCOMPARE(w.Log().size(), 1);
    w.Run(save);
    QCOMPARE(w.statusAtPause.back(), std::string(" Zapisano 16 bajtów."));
    QCOMPARE(w.pauses, (std::vector<int>{1000, 1000}));
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QCOMPARE(ReadFile(out),
             std::string(":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n"));
  }

  void failedSaveKeepsItsMessage() {
    Window w;
    w.form->SetSaveDialog([] { return std::optional<std::string>("/nonexistent/dir/x.hex"); });
    w.Run("SpeedButton4");
    QCOMPARE(w.pauses, std::vector<int>{1000});
    QCOMPARE(w.Status(), std::string(" Błąd I/O ..."));
  }

  void cancelledDialogsChangeNothing() {
    QTemporaryDir dir;
    Window w(WriteFile(dir, "b.hex", kBlinkHex));
    w.form->Timer1Timer();
    const QStringList log = w.Log();
    const auto image = w.form->state().image.MemoryImage;
    const int end = w.form->state().image.ImageEnd;
    int asked = 0;
    w.form->SetOpenDialog([&] { ++asked; return std::optional<std::string>(); });
    w.form->SetSaveDialog([&] { ++asked; return std::optional<std::string>(); });
    for (const char* command : {"SpeedButton3", "Odczyt1", "SpeedButton4", "Zapis1"}) w.Run(command);
    QCOMPARE(asked, 4);
    QVERIFY(w.pauses.empty());
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QCOMPARE(w.Log(), log);
    QVERIFY(w.form->state().image.MemoryImage == image);
    QCOMPARE(w.form->state().image.ImageEnd, end);
  }

  void endCommandClosesTheWindow() {
    Window w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    w.Run("Zakocz1");
    QVERIFY(!w.form->isVisible());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
