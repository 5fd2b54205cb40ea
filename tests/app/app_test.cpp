// The window against the simulated programmer, and its gauge. Pauses are recorded, never slept.
#include <QTest>
#include <QtWidgets>
#include <fstream>
#include <functional>

#include "app/cp1250.h"
#include "app/gauge.h"
#include "app/input_blocker.h"
#include "app/main_window.h"
#include "cli/cp1250.h"
#include "image/hex_file.h"
#include "support/fake_ports.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

using namespace zelwik;
using namespace zelwik::app;
using namespace std::placeholders;
using namespace zelwik::testing;

namespace {

const char* const kBlinkHex =
    ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFF5E\r\n"
    ":0A003000758160B290120039DEFB9B\r\n:00000001FF\r\n";

// A window with recorded pauses (`duringPause` runs inside each) and every text its status line
// was painted with. One window lives at a time, so the status line is found even while the
// constructor runs (the start-up load pauses inside it).
struct Window : QObject {
  std::vector<int> pauses;
  std::vector<std::string> statusAtPause, painted;
  std::function<void()> duringPause;
  std::unique_ptr<TForm1> form;

  explicit Window(std::optional<std::string> file = std::nullopt, bool show = false,
                  PortListRoots roots = {}) {
    TForm1::Hooks hooks;
    hooks.pause = [this](int ms) {
      pauses.push_back(ms);
      statusAtPause.push_back(Status());
      if (duringPause) duringPause();
    };
    form = std::make_unique<TForm1>(file, hooks);
    form->SetPortListRoots(std::move(roots));
    Get<QLabel>("StaticText1")->installEventFilter(this);
    if (show) form->show();
    if (show && !QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && (painted.empty() || painted.back() != Status()))
      painted.push_back(Status());
    return false;
  }
  static std::string Status() {
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "StaticText1") return static_cast<QLabel*>(w)->text().toStdString();
    return "?";
  }
  template <typename T = QWidget>
  T* Get(const char* name) const {
    return form->findChild<T*>(name);
  }
  int LogSize() const { return Get<QListWidget>("ListBox1")->count(); }
  // A click on the tool button, or the menu item.
  void Run(const char* name) const {
    if (auto* button = form->findChild<QToolButton*>(name))
      return QTest::mouseClick(button, Qt::LeftButton);
    Get<QAction>(name)->trigger();
  }
};

void LoadBlink(Image& image) {
  LoadHexText(image, kBlinkHex);
  FindImageEnd(image);
}

void PostClick(QWidget* target, QPointF at) {
  const QPointF global = target->mapToGlobal(at);
  QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                      Qt::LeftButton, Qt::LeftButton, {}));
  QCoreApplication::postEvent(
      target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, {}, {}));
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT

 private slots:
  // A chip and a port chosen from the menus reach the state, the chosen port is the one read, the
  // last item closes the window.
  void menusAndChoices() {
    SimHarness com4(sim::SimChip::C2051);
    com4.WithModel([](sim::DeviceModel& m) { return m.Flash()[2047] = 0; });
    qputenv("ZELWIK_COM4", QByteArray::fromStdString(com4.Path()));
    Window w(std::nullopt, true);
    w.Run("Innyukad1");
    QCOMPARE(w.Get<QLabel>("Label2")->text(), "Inny układ");
    w.Run("N89C20511");
    w.Run("Com42");
    QCOMPARE(w.Get<QLabel>("Label3")->text(), "Com4");
    QVERIFY(com4.Frames().empty() && w.pauses.empty());
    w.Run("SpeedButton2");
    QCOMPARE(w.LogSize(), 2048 / 16);
    w.Run("Zakocz1");
    QVERIFY(!w.form->isVisible());
  }

  // Below COM1 ... COM5 the Interfejs menu lists, as it opens, the present ports that none of them
  // names; one chosen is the one read. One gone by the time it is chosen is a link failure, and
  // the menu has nothing more once it is gone.
  void presentPortsInTheMenu() {
    SimHarness adapter(sim::SimChip::C2051);
    adapter.WithModel([](sim::DeviceModel& m) { return m.Flash()[2047] = 0; });
    FakePorts system;
    system.Tty("ttyS0", "platform/serial8250/tty/ttyS0", "serial8250", 4);
    system.Tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", -1, adapter.Path());
    system.Usb("pci0/usb1/1-1", "0403:6001", "FTDI", "FT232R USB UART");
    for (const char* name : {"ZELWIK_COM2", "ZELWIK_COM3", "ZELWIK_COM4", "ZELWIK_COM5"})
      qunsetenv(name);
    qputenv("ZELWIK_COM1", QByteArray::fromStdString(system.Root("dev/ttyS0")));
    Window w(std::nullopt, true, system.Roots());
    auto* menu = w.Get<QMenu>("Interfejs1");
    auto captions = [menu] {
      QStringList out;
      for (QAction* a : menu->actions()) out << (a->isSeparator() ? "-" : a->text());
      return out;
    };
    const QStringList fixed{"Com1", "Com2", "Com3", "Com4", "Com5"};
    emit menu->aboutToShow();
    emit menu->aboutToShow();  // opened again: listed once
    QCOMPARE(captions(), (fixed + QStringList{"-", "ttyUSB0 (FT232R USB UART)"}));
    w.Run("ListedPort0");
    QCOMPARE(w.Get<QLabel>("Label3")->text(), "ttyUSB0");
    QCOMPARE(w.form->state().PortName, system.Root("dev/ttyUSB0"));
    w.Run("SpeedButton2");
    QCOMPARE(w.LogSize(), 2048 / 16);

    emit menu->aboutToShow();
    std::filesystem::remove_all(system.Root("sys/class/tty/ttyUSB0"));
    std::filesystem::remove(system.Root("dev/ttyUSB0"));
    w.Run("ListedPort0");
    w.Run("SpeedButton2");
    QCOMPARE(w.statusAtPause.back(), std::string(kTextLinkFailure));
    emit menu->aboutToShow();
    QCOMPARE(captions(), fixed);
    qunsetenv("ZELWIK_COM1");
  }

  // The window and the terminal show each of the 256 bytes as the same cell.
  void listingCellsMatchTheTerminal() {
    const std::string head = "0000:" + std::string(32, '0') + " ";
    for (int b = 0; b < 256; ++b) {
      const std::string line = head + static_cast<char>(b);
      QCOMPARE(QString::fromStdU16String(DecodeListLine(line)).toStdString(),
               cli::TerminalListingLine(line));
    }
  }

  // A loaded file lists its bytes, and the log keeps its columns: controls, undefined codes and
  // the soft hyphen become '.'. A whole line of wide letters shows beside the scroll bar, in a
  // face that is not squeezed to fit. Run again at twice the scale.
  void startUpListing() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("b.hex").toStdString();
    std::ofstream(path, std::ios::binary) << ":08000000410A0981B9AD7FFF3F\r\n"
                                             ":10001000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF68\r\n";
    Window w(path, true);
    QCOMPARE(w.Status(), std::string(" Odczytano 32 bajtów."));
    QVERIFY(w.pauses.empty());
    auto* log = w.Get<QListWidget>("ListBox1");
    QCOMPARE(log->item(0)->text(),
             "0000:410A0981B9AD7FFF" + QString(16, 'F') + " A...ą..˙" + QString(8, u'˙'));
    const QString line = log->item(1)->text();
    for (int i = 0; i < 20; ++i) log->addItem(line);  // a long listing: the scroll bar shows
    QTRY_VERIFY(log->verticalScrollBar()->isVisible());
    QVERIFY(log->font().stretch() == QFont::AnyStretch || log->font().stretch() == 100);
    const int margin = log->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, log) + 1;
    const int room = log->viewport()->width() - 2 * margin;
    QVERIFY2(QFontMetricsF(log->font()).horizontalAdvance(line) <= room, qPrintable(line));
    // The one real wait: the timer is the feature.
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), std::string(" Gotowy..."), 5000);
  }

  // Each command, from its button and its menu item, paints exactly what the core shows, pauses
  // as it does and sends the same frames.
  void everyCommandRunsItsOperation() {
    const std::pair<const char*, std::function<OpResult(State&, View&)>> commands[] = {
        {"SpeedButton1", ProgramChip},
        {"Zapis2", ProgramChip},
        {"SpeedButton2", ReadChip},
        {"Com11", ReadChip},
        {"Com21", VerifyChip},
        {"Com31", std::bind(ShowSignature, _1, _2, Signature::Device)},
        {"Com41", std::bind(ShowSignature, _1, _2, Signature::Maker)},
        {"Sygnaturanapi1", std::bind(ShowSignature, _1, _2, Signature::Voltage)},
        {"Kasowanie1", std::bind(RunChipCommand, _1, _2, ChipCommand::Erase)},
        {"Blokada11", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock1)},
        {"Blokada21", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock2)},
        {"Blokada31", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock3)},
        {"SpeedButton5", std::bind(RunChipCommand, _1, _2, ChipCommand::LockAll)}};
    for (const auto& [name, op] : commands) {
      SimHarness direct(sim::SimChip::C1051), sim(sim::SimChip::C1051);
      State state{{}, 0, direct.Path(), {}, {}};
      LoadBlink(state.image);
      RecordingView recorded;
      op(state, recorded);

      qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
      Window w(std::nullopt, true);
      LoadBlink(w.form->state().image);
      w.painted = {w.Status()};  // the window is drawn whole before the operation starts
      w.Run(name);
      QVERIFY2(FramesText(sim.Frames()) == FramesText(direct.Frames()), name);
      recorded.statuses.insert(recorded.statuses.begin(), w.painted.front());
      QCOMPARE(w.painted, recorded.statuses);
      QCOMPARE(w.pauses, recorded.pauses);
      QCOMPARE(w.Get<CGauge>("CGauge1")->PaintedPercent(), 0);
    }
  }

  void inputDuringAnOperationIsDropped() {
    SimHarness sim(sim::SimChip::C2051);
    sim.WithModel([](sim::DeviceModel& m) { return m.Flash()[100] = 0x41; });
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w(std::nullopt, true);
    auto* log = w.Get<QListWidget>("ListBox1");
    std::size_t framesAtPause = 0;
    bool once = false;
    w.duringPause = [&] {
      if (std::exchange(once, true)) return;
      framesAtPause = sim.Frames().size();
      QTest::mouseClick(w.Get<QToolButton>("SpeedButton5"), Qt::LeftButton);  // delivered at once
      PostClick(w.Get<QToolButton>("SpeedButton2"), {12, 12});                // queued for later
      PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());
      QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);  // would open "&Plik"
    };
    w.Run("SpeedButton2");
    QTest::qWait(50);
    QCOMPARE(sim.Frames().size(), framesAtPause);
    QCOMPARE(w.LogSize(), 7);
    QVERIFY(log->selectedItems().isEmpty() && !QApplication::activePopupWidget());
    QVERIFY(!w.form->Busy());
    // Control: the same queued click is taken once the operation has ended.
    PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());
    QTRY_COMPARE(log->selectedItems().size(), 1);
  }

  // Timer1 is due inside an erase's pause, which lets the event loop run: its tick waits for the
  // end of the operation, then comes once.
  void timer1WaitsForTheOperation() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("b.hex").toStdString();
    std::ofstream(path, std::ios::binary) << kBlinkHex;
    SimHarness sim(sim::SimChip::C2051);
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    Window w(path, true);
    std::vector<std::string> afterWait;
    w.duringPause = [&] {
      InputBlocker::Wait(1200);
      afterWait.push_back(w.Status());
    };
    w.Run("Kasowanie1");
    QCOMPARE(afterWait, std::vector<std::string>{" Układ wymazano..."});
    auto* timer = w.Get<QTimer>("Timer1");
    QVERIFY(timer->isActive());
    w.Get<QLabel>("StaticText1")->setText("-");
    QTRY_COMPARE(w.Status(), std::string(" Gotowy..."));
    QVERIFY(!timer->isActive());
  }

  // The file commands take their paths from the dialogs, pause and end ready; the file is exact.
  void loadAndSave() {
    QTemporaryDir dir;
    std::optional<std::string> chosen = dir.filePath("in.hex").toStdString();
    std::ofstream(*chosen) << ":03000000020030CB\r\n:00000001FF\r\n";
    Window w;
    w.form->SetOpenDialog([&] { return chosen; });
    w.form->SetSaveDialog([&] { return chosen; });
    w.Run("SpeedButton3");
    QCOMPARE(w.LogSize(), 1);
    chosen = dir.filePath("out.hex").toStdString();
    w.Run("Zapis1");
    QCOMPARE(w.statusAtPause,
             (std::vector<std::string>{" Odczytano 3 bajtów.", " Zapisano 16 bajtów."}));
    QCOMPARE(w.pauses, (std::vector<int>{1000, 1000}));
    QCOMPARE(w.Status(), std::string(" Gotowy..."));
    QCOMPARE(testing::ReadFile(*chosen),
             std::string(":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n"));
  }

  // Beyond either end the bar stops; no range shows 0 %; a huge one does not overflow.
  void gaugeTakesAnyRange() {
    CGauge gauge;
    const int cases[][3] = {{2047, 1023, 49}, {2047, 5000, 100},
                            {2047, -3, 0},    {0, 1, 0},
                            {-1, 0, 0},       {2'000'000'000, 1'999'999'999, 99}};
    for (auto [max, progress, percent] : cases) {
      gauge.SetMaxValue(max);
      gauge.SetProgress(progress);
      QCOMPARE(gauge.PercentDone(), percent);
    }
  }
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
