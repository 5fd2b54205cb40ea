// The window against the simulated programmer, and its gauge and listing. Pauses are recorded,
// never slept.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>

#include "app/cp1250.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "image/hex_file.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"

using namespace zelwik;
using namespace zelwik::app;
using zelwik::testing::FramesText;
using zelwik::testing::SimHarness;

namespace {

const char* const kBlinkHex =
    ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFF5E\r\n:0A003000758160B290120039DEFB9B\r\n:00000001FF\r\n";

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

void LoadBlink(Image& image) {
  LoadHexText(image, kBlinkHex);
  FindImageEnd(image);
}

// A window with recorded pauses (`duringPause` runs inside each) and every text its status line
// was painted with. One window lives at a time, so the status line is found even while the
// constructor runs (the start-up load pauses inside it).
struct Window : QObject {
  std::vector<int> pauses;
  std::vector<std::string> statusAtPause, painted;
  std::function<void()> duringPause;
  std::unique_ptr<TForm1> form;

  explicit Window(std::optional<std::string> file = std::nullopt) {
    TForm1::Hooks hooks;
    hooks.pause = [this](int ms) {
      pauses.push_back(ms);
      statusAtPause.push_back(Status());
      if (duringPause) duringPause();
    };
    form = std::make_unique<TForm1>(file, hooks);
    Get<QLabel>("StaticText1")->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && (painted.empty() || painted.back() != Status())) painted.push_back(Status());
    return false;
  }
  static std::string Status() {
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "StaticText1") return Utf8(static_cast<QLabel*>(w)->text());
    return "?";
  }
  template <typename T = QWidget>
  T* Get(const char* name) const {
    if (T* child = form->findChild<T*>(name)) return child;
    qFatal("no element %s", name);
  }
  QStringList Log() const {
    QStringList lines;
    for (int i = 0; i < Get<QListWidget>("ListBox1")->count(); ++i) lines << Get<QListWidget>("ListBox1")->item(i)->text();
    return lines;
  }
  void Show() const {
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
  }
  // A click on the tool button, or the menu item.
  void Run(const char* name) const {
    if (auto* button = form->findChild<QToolButton*>(name)) return QTest::mouseClick(button, Qt::LeftButton);
    Get<QAction>(name)->trigger();
  }
};

void PostClick(QWidget* target, QPointF at) {
  const QPointF global = target->mapToGlobal(at);
  QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {}));
  QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, {}, {}));
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    qunsetenv("ZELWIK_COM2");
    qunsetenv("ZELWIK_COM4");
  }

  void elementsAndMenus() {
    Window w;
    QCOMPARE(w.form->windowTitle(), QString("Zelwik ver 2.2"));
    QString places;
    for (const char* name : {"SpeedButton3", "SpeedButton4", "SpeedButton1", "SpeedButton2", "SpeedButton5",
                             "Label2", "Label3", "ListBox1", "StaticText1", "CGauge1"}) {
      const QRect r = w.Get(name)->geometry();
      places += QString("%1 %2,%3 %4x%5 %6; ").arg(name).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(w.Get(name)->toolTip());
    }
    QCOMPARE(places, "SpeedButton3 8,0 25x25 Odczyt; SpeedButton4 32,0 25x25 Zapis; SpeedButton1 64,0 25x25 "
                     "Programowanie; SpeedButton2 88,0 25x25 Odczyt; SpeedButton5 112,0 25x25 Blokada; Label2 "
                     "160,8 73x17 ; Label3 248,8 33x13 ; ListBox1 0,32 297x113 ; StaticText1 0,150 185x17 ; "
                     "CGauge1 192,150 97x13 ; ");
    QString menus;
    for (QAction* top : w.form->menuBar()->actions()) {
      menus += "; " + top->objectName();
      for (QAction* item : top->menu()->actions()) menus += " " + item->objectName();
    }
    QCOMPARE(menus, "; Plik1 Odczyt1 Zapis1 N1 Zakocz1; Opcje1 Com11 Com21 Com31 Com41 Sygnaturanapi1; Info1 "
                    "Zapis2 Kasowanie1 Blokada11 Blokada21 Blokada31; Ukad1 Auto2 Auto1 N89C5212V1 N89C525V1 "
                    "N89C10511 N89C20511 N89C40511 Innyukad1; Interfejs1 Com12 Com22 Com32 Com42 Com51");
    for (const char* name : {"OpenDialog1", "SaveDialog1"})
      QCOMPARE(w.Get<QFileDialog>(name)->nameFilters().join(";;"), "Pliki Intel 1 (*.hex);;Wszystkie pliki (*.*)");
    w.Show();
    w.Run("Zakocz1");
    QVERIFY(!w.form->isVisible());
  }

  // Choosing a chip or a port opens nothing and sends nothing; the chosen port is the one read.
  void chipAndPortChoice() {
    SimHarness com2(sim::SimChip::C2051), com4(sim::SimChip::C2051);
    com4.WithModel([](sim::DeviceModel& m) { return m.Flash()[2047] = 0; });
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(com2.Path()));
    qputenv("ZELWIK_COM4", QByteArray::fromStdString(com4.Path()));
    Window w;
    const std::pair<const char*, int> chips[] = {{"Auto1", 1}, {"N89C5212V1", 3}, {"N89C525V1", 4}, {"N89C10511", 5},
                                                 {"N89C20511", 6}, {"N89C40511", 7}, {"Innyukad1", 10}, {"Auto2", 0}};
    for (auto [item, chip] : chips) {
      w.Run(item);
      QCOMPARE(w.form->state().ChipType, chip);
      QCOMPARE(w.Get<QLabel>("Label2")->text(), w.Get<QAction>(item)->text().trimmed());
    }
    for (const char* item : {"Com12", "Com22", "Com32", "Com51", "Com42"}) {
      w.Run(item);
      QCOMPARE(QString::fromStdString(w.form->state().PortName), w.Get<QAction>(item)->text().toUpper());
      QCOMPARE(w.Get<QLabel>("Label3")->text(), w.Get<QAction>(item)->text());
    }
    QVERIFY(com2.Frames().empty() && com4.Frames().empty() && w.pauses.empty());
    QCOMPARE(w.Status(), std::string(" Zelwik (c) 2003"));
    w.Run("SpeedButton2");
    QVERIFY(com2.Frames().empty());
    QCOMPARE(w.Log().size(), 2048 / 16);
  }

  void startUp() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("b.hex").toStdString();
    {
      Window w(path);  // missing: the error stands through a pause, then the count
      QCOMPARE(w.statusAtPause, std::vector<std::string>{" Błąd I/O ..."});
      QCOMPARE(w.pauses, std::vector<int>{1500});
      QCOMPARE(w.Status(), std::string(" Odczytano 0 bajtów."));
    }
    std::ofstream(path, std::ios::binary) << kBlinkHex;
    Window w(path);
    QCOMPARE(w.Status(), std::string(" Odczytano 58 bajtów."));
    QVERIFY(w.pauses.empty());
    w.Show();
    auto* log = w.Get<QListWidget>("ListBox1");
    QCOMPARE(log->count(), 4);
    QCOMPARE(log->visualItemRect(log->item(0)).height(), 12);
    QVERIFY(log->fontMetrics().horizontalAdvance(log->item(0)->text()) <= log->viewport()->width());
    // The one real wait: the timer is the feature.
    QSignalSpy ticks(w.Get<QTimer>("Timer1"), &QTimer::timeout);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 1, 5000);
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QVERIFY(!w.Get<QTimer>("Timer1")->isActive());
  }

  // Each command, from its button and its menu item, paints exactly what the core shows, pauses
  // as it does and sends the same frames.
  void everyCommandRunsItsOperation() {
    using Op = std::function<OpResult(State&, View&)>;
    auto chip = [](ChipCommand c) { return Op([c](State& s, View& v) { return RunChipCommand(s, v, c); }); };
    auto sign = [](Signature g) { return Op([g](State& s, View& v) { return ShowSignature(s, v, g); }); };
    const std::pair<const char*, Op> commands[] = {
        {"SpeedButton1", ProgramChip}, {"Zapis2", ProgramChip}, {"SpeedButton2", ReadChip}, {"Com11", ReadChip},
        {"Com21", VerifyChip}, {"Com31", sign(Signature::Device)}, {"Com41", sign(Signature::Maker)},
        {"Sygnaturanapi1", sign(Signature::Voltage)}, {"Kasowanie1", chip(ChipCommand::Erase)},
        {"Blokada11", chip(ChipCommand::Lock1)}, {"Blokada21", chip(ChipCommand::Lock2)},
        {"Blokada31", chip(ChipCommand::Lock3)}, {"SpeedButton5", chip(ChipCommand::LockAll)}};
    for (const auto& [name, op] : commands) {
      SimHarness direct(sim::SimChip::C1051), sim(sim::SimChip::C1051);
      State state;
      state.PortName = direct.Path();
      LoadBlink(state.image);
      zelwik::testing::RecordingView recorded;
      op(state, recorded);
      std::vector<std::string> shown;
      for (const std::string& s : recorded.statuses)
        if (shown.empty() || shown.back() != s) shown.push_back(s);

      qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
      Window w;
      LoadBlink(w.form->state().image);
      w.Show();
      w.painted.clear();
      w.Run(name);
      QCOMPARE(QString::fromStdString(FramesText(sim.Frames())), QString::fromStdString(FramesText(direct.Frames())));
      QCOMPARE(w.painted, shown);
      QCOMPARE(w.pauses, recorded.pauses);
      QCOMPARE(w.Get<CGauge>("CGauge1")->PaintedPercent(), 0);
    }
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
    w.Show();
    auto* lock = w.Get<QToolButton>("SpeedButton5");
    auto* log = w.Get<QListWidget>("ListBox1");
    auto probes = [&] {
      const auto frames = sim.Frames();
      return std::count_if(frames.begin(), frames.end(), [](const sim::Frame& f) { return f[0] == 0xFF; });
    };
    PostClick(lock, {12, 12});  // control: a queued click on an idle window starts the command
    QTRY_COMPARE(probes(), 1);
    std::size_t nested = 0;
    bool once = false;
    w.duringPause = [&] {
      if (std::exchange(once, true)) return;
      QTest::mouseClick(lock, Qt::LeftButton);  // delivered at once
      PostClick(w.Get<QToolButton>("SpeedButton2"), {12, 12});  // queued for later
      PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());
      QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);  // would open "&Plik"
      w.form->SpeedButton5Click();  // a handler called while one runs does nothing
      nested = sim.Frames().size();
    };
    w.Run("SpeedButton2");
    QTest::qWait(50);
    QCOMPARE(probes(), 2);
    QCOMPARE(sim.Frames().size(), nested);
    QCOMPARE(w.Log().size(), 7);
    QVERIFY(log->selectedItems().isEmpty() && !QApplication::activePopupWidget() && !w.form->Busy());
    PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());  // input is taken again
    QTRY_COMPARE(log->selectedItems().size(), 1);
  }

  // Cancelled dialogs change nothing; a failed save keeps its message; the saved file is exact.
  void loadAndSave() {
    QTemporaryDir dir;
    std::ofstream(dir.filePath("in.hex").toStdString()) << ":03000000020030CB\r\n:00000001FF\r\n";
    std::optional<std::string> chosen = dir.filePath("in.hex").toStdString();
    Window w;
    w.form->SetOpenDialog([&] { return chosen; });
    w.form->SetSaveDialog([&] { return chosen; });
    w.Run("SpeedButton3");
    QCOMPARE(w.statusAtPause, std::vector<std::string>{" Odczytano 3 bajtów."});
    QCOMPARE(w.Log().size(), 1);
    chosen.reset();
    for (const char* command : {"SpeedButton3", "Odczyt1", "SpeedButton4", "Zapis1"}) w.Run(command);
    QCOMPARE(w.Log().size(), 1);
    QCOMPARE(w.form->state().image.ImageEnd, 2);
    chosen = "/nonexistent/dir/x.hex";
    w.Run("Zapis1");
    QCOMPARE(w.Status(), std::string(" Błąd I/O ..."));
    chosen = dir.filePath("out.hex").toStdString();
    w.Run("SpeedButton4");
    QCOMPARE(w.statusAtPause.back(), std::string(" Zapisano 16 bajtów."));
    QCOMPARE(w.pauses, (std::vector<int>{1000, 1000, 1000}));
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    std::ifstream saved(*chosen, std::ios::binary);
    QCOMPARE(std::string(std::istreambuf_iterator<char>(saved), {}), std::string(":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n"));
  }

  void gaugeTakesAnyRange() {
    CGauge gauge;
    gauge.resize(97, 13);
    const int cases[][3] = {{2047, 1023, 49}, {2047, 5000, 100}, {2047, -3, 0}, {2'000'000'000, 1'999'999'999, 99}, {0, 1, 0}, {-1, 0, 0}, {100, 50, 50}};
    for (auto [max, progress, percent] : cases) {
      gauge.SetMaxValue(max);
      gauge.SetProgress(progress);
      QCOMPARE(gauge.PercentDone(), percent);
    }
    const QImage picture = gauge.grab().toImage();  // bar left of the middle, background right
    QCOMPARE(QColor(picture.pixel(5, 6)), QColor(Qt::black));
    QCOMPARE(QColor(picture.pixel(90, 6)), QColor(Qt::white));
  }

  void listLineKeepsItsColumns() {
    const std::string hex = "0000:41000A81B9FF" + std::string(20, 'F') + " ";
    const QString shown = QString::fromStdU16String(DecodeListLine(hex + std::string("A\x0A\x09\x81\xB9\xAD\x7F\xFF", 8)));
    QCOMPARE(shown, QString::fromStdString(hex) + QString::fromUtf8("A...ą..˙"));
  }
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
