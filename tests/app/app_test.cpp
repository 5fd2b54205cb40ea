// The window against the simulated programmer, and its gauge. Pauses are recorded, never slept.
#include <QTest>
#include <QtWidgets>
#include <fstream>
#include <functional>

#include "app/cp1250.h"
#include "app/gauge.h"
#include "app/main_window.h"
#include "cli/cp1250.h"
#include "image/hex_file.h"
#include "support/fake_ports.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"
#include "window_harness.h"

using namespace zelwik;
using namespace zelwik::app;
using namespace std::placeholders;
using namespace zelwik::testing;

namespace {

const char* const kBlinkHex =
    ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFF5E\r\n"
    ":0A003000758160B290120039DEFB9B\r\n:00000001FF\r\n";

// A window, shown.
struct Window : TestWindow {
  explicit Window(std::optional<std::string> file = std::nullopt, PortListRoots roots = {})
      : TestWindow(std::move(file), {}, std::move(roots)) {
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
  }
  // On the simulator as the port chosen by default.
  explicit Window(const SimHarness& sim) : Window() { form->state().PortName = sim.Path(); }
  int LogSize() const { return Get<QListWidget>("logList")->count(); }
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
  // Below COM1 ... COM5 the Interfejs menu lists, as it opens, the present ports that none of them
  // names, each once, and nothing more once it is gone. The last item of Plik closes the window.
  void presentPortsInTheMenu() {
    FakePorts system;
    system.Tty("ttyS0", "platform/serial8250/tty/ttyS0", "serial8250", 4);
    system.Tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    system.Usb("pci0/usb1/1-1", "0403:6001", "FTDI", "FT232R USB UART");
    for (const char* name : {"ZELWIK_COM1", "ZELWIK_COM2", "ZELWIK_COM3", "ZELWIK_COM4"})
      qunsetenv(name);
    qputenv("ZELWIK_COM5", QByteArray::fromStdString(system.Root("dev/ttyS0")));
    Window w(std::nullopt, system.Roots());
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
    std::filesystem::remove_all(system.Root("sys/class/tty/ttyUSB0"));
    std::filesystem::remove(system.Root("dev/ttyUSB0"));
    emit menu->aboutToShow();
    QCOMPARE(captions(), fixed);
    qunsetenv("ZELWIK_COM5");
    w.Run("Zakocz1");
    QVERIFY(!w.form->isVisible());
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
    Window w(path);
    QCOMPARE(w.Status(), std::string(" Odczytano 32 bajtów."));
    QVERIFY(w.pauses.Taken().empty());
    auto* log = w.Get<QListWidget>("logList");
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

  // Each command, from its button and its menu item, shows exactly what the core shows, pauses as
  // it does and sends the same frames.
  void everyCommandRunsItsOperation() {
    const std::pair<const char*, std::function<OpResult(State&, View&)>> commands[] = {
        {"programButton", ProgramChip},
        {"Zapis2", ProgramChip},
        {"readButton", ReadChip},
        {"Com11", ReadChip},
        {"Com21", VerifyChip},
        {"Com31", std::bind(ShowSignature, _1, _2, Signature::Device)},
        {"Com41", std::bind(ShowSignature, _1, _2, Signature::Maker)},
        {"Sygnaturanapi1", std::bind(ShowSignature, _1, _2, Signature::Voltage)},
        {"Kasowanie1", std::bind(RunChipCommand, _1, _2, ChipCommand::Erase)},
        {"Blokada11", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock1)},
        {"Blokada21", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock2)},
        {"Blokada31", std::bind(RunChipCommand, _1, _2, ChipCommand::Lock3)},
        {"lockButton", std::bind(RunChipCommand, _1, _2, ChipCommand::LockAll)}};
    for (const auto& [name, op] : commands) {
      SimHarness direct(sim::SimChip::C1051), sim(sim::SimChip::C1051);
      State state{{}, 0, direct.Path(), {}, {}};
      LoadBlink(state.image);
      RecordingView recorded;
      op(state, recorded);

      Window w(sim);
      LoadBlink(w.form->state().image);
      w.Run(name);
      QVERIFY2(FramesText(sim.Frames()) == FramesText(direct.Frames()), name);
      QCOMPARE(w.shown, recorded.statuses);
      QCOMPARE(w.pauses.Taken(), recorded.pauses);
      QTRY_COMPARE(w.Get<CGauge>("progressGauge")->PaintedPercent(), 0);
    }
  }

  // While the read pauses at its end, a click on a tool button, queued clicks, Alt+P and the close
  // box all come to nothing, then and later: no frame, no menu, no selection, no closing.
  void inputDuringAnOperationIsDropped() {
    SimHarness sim(sim::SimChip::C2051);
    sim.WithModel([](sim::DeviceModel& m) { return m.Flash()[100] = 0x41; });
    Window w(sim);
    auto* log = w.Get<QListWidget>("logList");
    w.pauses.hold = true;
    w.Start("readButton");
    QTRY_VERIFY(w.pauses.Held());
    const std::size_t framesAtPause = sim.Frames().size();
    QTest::mouseClick(w.Get<QToolButton>("lockButton"), Qt::LeftButton);
    PostClick(w.Get<QToolButton>("readButton"), {12, 12});
    PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());
    QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);  // would open "&Plik"
    QVERIFY(!w.form->close());
    QTest::qWait(50);
    w.pauses.Release();
    w.WaitIdle();
    QTest::qWait(50);
    QCOMPARE(sim.Frames().size(), framesAtPause);
    QCOMPARE(w.LogSize(), 7);
    QVERIFY(log->selectedItems().isEmpty() && !QApplication::activePopupWidget());
    QVERIFY(w.form->isVisible());
    // Control: the same queued click is taken once the operation has ended.
    PostClick(log->viewport(), log->visualItemRect(log->item(0)).center());
    QTRY_COMPARE(log->selectedItems().size(), 1);
  }

  // Esc during a 4 KiB read on a 115,200 baud wire stops it: nothing is listed and the gauge is
  // drawn back at 0 (what the stop sends is the operations' test's). Esc when idle does nothing.
  void escapeStopsAnOperation() {
    SimHarness sim(sim::SimChip::C51_12V, {}, 115200);
    Window w(sim);
    QTest::keyClick(w.form.get(), Qt::Key_Escape);
    w.Start("readButton");
    QTRY_VERIFY(sim.Frames().size() > 100);
    QTest::keyClick(w.form.get(), Qt::Key_Escape);
    w.WaitIdle();
    QCOMPARE(w.shown.back(), std::string(" Przerwano."));
    QCOMPARE(w.LogSize(), 0);
    QTRY_COMPARE(w.Get<CGauge>("progressGauge")->PaintedPercent(), 0);
  }

  // A programmer that falls silent mid-read: while the link waits out its 2 s, the gauge stands
  // at the last byte read, not at whatever the last wake-up had drawn.
  void gaugeShowsTheLastByteWhileTheLinkWaits() {
    sim::Faults silent;
    silent.stopAfterFrames = 300;
    SimHarness sim(sim::SimChip::C51_12V, silent);
    Window w(sim);
    w.Start("readButton");
    QTRY_VERIFY(sim.Frames().size() > 300);
    const sim::Frame last = sim.Frames()[299];  // a 40-pin chip's read: the address in the frame
    QTRY_COMPARE_WITH_TIMEOUT(w.Get<CGauge>("progressGauge")->Progress(), last[1] << 8 | last[2],
                              1000);
    QVERIFY(w.form->Busy());
    w.WaitIdle();
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
