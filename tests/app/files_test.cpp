// The window's memory of the user's set-up and of the files: settings across starts, recent
// files, dropped files, and a file changed on disk since it was loaded. Pauses are never slept.
#include <utime.h>

#include <QTest>
#include <QtWidgets>
#include <filesystem>

#include "app/main_window.h"
#include "app/settings_store.h"
#include "image/hex_file.h"
#include "image/srec.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"
#include "window_harness.h"
#include "zelwik_version.h"

using namespace zelwik;
using namespace zelwik::app;
using namespace zelwik::testing;

namespace {

// `count` bytes, byte i = seed + i; as a HEX file.
Image ImageOf(int count, int seed) {
  Image image;
  for (int i = 0; i < count; ++i) image.MemoryImage[i] = static_cast<std::uint8_t>(seed + i);
  FindImageEnd(image);
  return image;
}
std::string HexOf(int count, int seed) { return HexText(ImageOf(count, seed)); }

// The settings the window is started with, before the window: it reads them as it is made.
struct Remembered {
  explicit Remembered(const QString& ini)
      : store(ini.isEmpty() ? nullptr : std::make_unique<QtSettingsStore>(ini)) {}
  std::unique_ptr<QtSettingsStore> store;
};

struct Window : Remembered, TestWindow {
  explicit Window(const QString& ini = {}, std::optional<std::string> file = {},
                  PortListRoots roots = {})
      : Remembered(ini), TestWindow(std::move(file), {.settings = store.get()}, std::move(roots)) {}
  // Whether the status line took the text, whatever readyTimer has put there since.
  bool Showed(const std::string& text, std::size_t from = 0) const {
    return std::find(shown.begin() + from, shown.end(), text) != shown.end();
  }
  void Open(const std::string& path) {
    form->SetOpenDialog([path] { return path; });
    Run("openButton");
  }
  // Drags the files over the window and drops them, then waits for the load unless a pause is
  // held; whether the window took the drag.
  bool Drop(const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.get(), &drop);
    if (!pauses.hold) WaitIdle();
    return enter.isAccepted();
  }
  // The Plik menu's recent files as shown.
  QStringList Recent() const {
    QStringList out;
    for (QAction* a : Get<QMenu>("Plik1")->actions())
      if (a->objectName().startsWith("RecentFile")) out << a->text();
    return out;
  }
  std::uint8_t At(int address) const { return form->state().image.MemoryImage[address]; }
};

// Sets the file's time of change `seconds` from now, so a rewrite shows without waiting.
void Touch(const std::string& path, int seconds) {
  const time_t t = time(nullptr) + seconds;
  const utimbuf times{t, t};
  utime(path.c_str(), &times);
}

}  // namespace

class FilesTest : public QObject {
  Q_OBJECT

 private slots:
  // The chip, a listed adapter, the folder and the recent files come back at the next start; the
  // adapter, gone by then, stays chosen. --reset-settings'
  // Clear() brings back the defaults.
  void settingsSurviveARestart() {
    TempDir dir;
    const QString ini = QString::fromStdString(dir / "zelwik.conf");
    WriteFile(dir / "a.hex", HexOf(16, 1));
    {
      FakePorts system;
      system.Tty("ttyUSB3", "pci0/usb1/1-1/1-1:1.0/ttyUSB3", "ftdi_sio");
      Window w(ini, {}, system.Roots());
      w.Run("N89C20511");
      emit w.Get<QMenu>("Interfejs1")->aboutToShow();
      w.Run("ListedPort0");
      w.Open(dir / "a.hex");
    }
    Window w(ini);
    QCOMPARE(w.Text("chipLabel"), "89C2051");
    QCOMPARE(w.Text("portLabel"), "ttyUSB3");
    QVERIFY(w.form->state().PortName.ends_with("/dev/ttyUSB3"));
    QCOMPARE(w.form->state().ChipType, ToInt(ChipCode::C89C2051));
    QCOMPARE(w.form->FileFolder(), QString::fromStdString(dir.path().string()));
    QCOMPARE(w.Recent(), QStringList{QString::fromStdString("&1 " + (dir / "a.hex"))});

    w.store->Clear();
    Window fresh(ini);
    QCOMPARE(fresh.Text("portLabel"), "Com2");
    QCOMPARE(fresh.Text("chipLabel"), "Automatycznie");
    QVERIFY(fresh.Recent().isEmpty());
  }

  // A settings file that is garbage, one whose values are not valid, and one that cannot be read
  // at all: the window starts from its defaults and works; the next change is kept again.
  void corruptSettingsAreIgnored() {
    TempDir dir;
    WriteFile(dir / "a.hex", HexOf(16, 1));
    const std::pair<const char*, std::string> files[] = {
        {"garbage.conf", std::string("\xff\xfe[zel\0wik\n=\n==x\r\nport\n", 24)},
        {"values.conf",
         "[General]\nchip=89C9999\nport=\nrecent1=@Variant(\\0\\0\\0\\x7f)\n"
         "folder=@ByteArray(x)\n"},
        {"folder.conf", ""}};
    std::filesystem::create_directory(dir / "folder.conf");
    for (const auto& [name, content] : files) {
      if (!content.empty()) WriteFile(dir / name, content);
      Window w(QString::fromStdString(dir / name));
      QCOMPARE(w.Text("chipLabel"), "Automatycznie");
      QCOMPARE(w.Text("portLabel"), "Com2");
      QVERIFY(w.Recent().isEmpty());
      w.Open(dir / "a.hex");
      QCOMPARE(w.At(15), 16);
    }
    for (const char* name : {"values.conf", "garbage.conf"}) {
      Window again(QString::fromStdString(dir / name));
      QCOMPARE(again.Recent().size(), 1);
    }
  }

  // The latest first, each file once, six at most, Alt+P 1 ... 6; one that has gone away is
  // dropped from the list when chosen, with a message, and the image stays.
  void recentFiles() {
    TempDir dir;
    Window w;
    for (int i = 1; i <= 8; ++i) {
      WriteFile(dir / (std::to_string(i) + ".hex"), HexOf(16, i));
      w.Open(dir / (std::to_string(i) + ".hex"));
    }
    w.Open(dir / "5.hex");
    const auto caption = [&](int n, int file) {
      return QString("&%1 %2.hex").arg(n).arg(QString::fromStdString(dir / std::to_string(file)));
    };
    QCOMPARE(w.Recent(), (QStringList{caption(1, 5), caption(2, 8), caption(3, 7), caption(4, 6),
                                      caption(5, 4), caption(6, 3)}));
    w.Run("RecentFile3");
    QCOMPARE(w.At(0), 7);
    QCOMPARE(w.shown.back(), std::string(" Gotowy..."));  // as Plik/Odczyt ends
    QCOMPARE(w.Recent().first(), caption(1, 7));
    std::filesystem::remove(dir / "8.hex");
    w.Run("RecentFile3");
    QCOMPARE(w.Status(), std::string(" Brak pliku 8.hex: usunięto z ostatnich plików"));
    QCOMPARE(w.Recent().size(), 5);
    QVERIFY(!w.Recent().contains(caption(3, 8)));
    QCOMPARE(w.At(0), 7);
    // The separator below them is rebuilt with them: one before Zakończ.
    const auto actions = w.Get<QMenu>("Plik1")->actions();
    QVERIFY(actions.end()[-2]->isSeparator() && !actions.end()[-3]->isSeparator());
  }

  // A dropped file loads by its extension as it would from the menu, the title names it; several
  // files: the first, with a message; a refused S-record keeps the image; a drop during an
  // operation does nothing.
  void droppedFiles() {
    TempDir dir;
    const Image image = ImageOf(40, 0x80);
    WriteFile(dir / "a.hex", HexOf(20, 1));
    WriteFile(dir / "c.s19", SrecText(image));
    std::string bad = SrecText(image);
    bad[bad.find("S1", 4) + 10] ^= 1;
    WriteFile(dir / "bad.srec", bad);
    Window w;
    w.Drop({dir / "a.hex"});
    QCOMPARE(w.At(19), 20);
    QCOMPARE(w.shown.end()[-2], std::string(" Odczytano 20 bajtów."));
    QCOMPARE(w.form->windowTitle(), "Zelwik ver " ZELWIK_VERSION " - a.hex");
    w.Drop({dir / "c.s19", dir / "a.hex"});
    QCOMPARE(w.At(39), 0x80 + 39);
    QCOMPARE(w.shown.end()[-2], std::string(" Upuszczono kilka plików; wczytano pierwszy: c.s19"));
    w.Drop({dir / "bad.srec"});
    QCOMPARE(w.Status(), std::string(" Plik odrzucony, wiersz 2: błędna suma kontrolna"));
    QCOMPARE(w.At(39), 0x80 + 39);
    QVERIFY(w.form->windowTitle().endsWith(" - c.s19"));

    w.pauses.hold = true;
    w.form->SetOpenDialog([&] { return dir / "c.s19"; });
    w.Get<QAction>("Odczyt1")->trigger();  // held in its pause
    QTRY_VERIFY(w.pauses.Held());
    QVERIFY(!w.Drop({dir / "a.hex"}));
    w.pauses.Release();
    QTRY_VERIFY(!w.form->Busy());
    QTest::qWait(20);
    QVERIFY(!w.form->Busy());
    QCOMPARE(w.At(0), 0x80);
  }

  // A file rebuilt after it was loaded is loaded again before program and verify, and the chip
  // gets the new bytes. One that has gone, or no longer loads, starts nothing and keeps the old
  // image.
  void changedFileIsReloaded() {
    TempDir dir;
    const std::string file = dir / "fw.hex";
    WriteFile(file, HexOf(32, 1));
    SimHarness sim(sim::SimChip::C2051);
    Window w({}, file);
    w.form->state().PortName = sim.Path();
    WriteFile(file, HexOf(48, 0x40));
    Touch(file, 5);

    w.Run("Zapis2");
    const Image rebuilt = ImageOf(48, 0x40);
    QVERIFY(sim.WithModel([&](sim::DeviceModel& m) {
      return std::equal(m.Flash().begin(), m.Flash().end(), rebuilt.MemoryImage.begin());
    }));
    QVERIFY(w.Showed(" Plik fw.hex zmienił się na dysku: wczytano ponownie"));
    // Unchanged since: no second load.
    const std::size_t shownBefore = w.shown.size();
    w.Run("Com21");
    QCOMPARE(w.shown[shownBefore + 1], std::string(kTextVerifying));
    QCOMPARE(w.form->windowTitle(), "Zelwik ver " ZELWIK_VERSION " - fw.hex");

    std::filesystem::remove(file);
    sim.ClearFrames();
    w.Run("Com21");
    QVERIFY(w.Showed(" Brak pliku fw.hex; operacji nie rozpoczęto"));
    QVERIFY(sim.Frames().empty());
    QCOMPARE(w.At(47), 0x40 + 47);

    // After a read the image is the chip's, whatever becomes of the file it replaced.
    WriteFile(file, HexOf(48, 0x40));
    w.Run("readButton");
    QCOMPARE(w.form->windowTitle(), "Zelwik ver " ZELWIK_VERSION);
    WriteFile(file, HexOf(8, 0x10));
    Touch(file, 7);
    const std::size_t atVerify = w.shown.size();
    w.Run("Com21");
    QVERIFY(w.Showed(kTextVerified, atVerify));

    // An S-record that no longer loads.
    const std::string s19 = dir / "fw.s19";
    WriteFile(s19, SrecText(rebuilt));
    w.Open(s19);
    WriteFile(s19, "S1030000FF\r\n");
    Touch(s19, 10);
    sim.ClearFrames();
    w.Run("Zapis2");
    QVERIFY(w.Showed(" Plik fw.s19: wiersz 1: błędna suma kontrolna; operacji nie rozpoczęto"));
    QVERIFY(sim.Frames().empty());
    QCOMPARE(w.At(47), 0x40 + 47);
  }

  // Open and save pause and end ready. A save over the loaded file that has changed on disk asks
  // first; "no" leaves the file. A save writes the format its name's extension picks.
  void saveOverAChangedFileAsks() {
    TempDir dir;
    const std::string file = dir / "fw.hex";
    WriteFile(file, HexOf(16, 1));
    Window w;
    w.Open(file);
    w.form->SetSaveDialog([file] { return file; });
    w.Run("Zapis1");
    QVERIFY(w.asked.empty());
    QCOMPARE(w.shown, (std::vector<std::string>{" Odczytano 16 bajtów.", " Gotowy...",
                                                " Zapisano 16 bajtów.", " Gotowy..."}));
    QCOMPARE(w.pauses.Taken(), (std::vector<int>{1000, 1000}));
    WriteFile(file, "changed");
    Touch(file, 5);
    w.Run("Zapis1");
    QCOMPARE(w.asked, std::vector<std::string>{"fw.hex"});
    QCOMPARE(ReadFile(file), std::string("changed"));
    w.answer = true;
    w.Run("Zapis1");
    QCOMPARE(ReadFile(file), HexOf(16, 1));
    // The name's extension picks the format, as when loading; another file is not asked about.
    WriteFile(dir / "fw.bin", "older");
    w.form->SetSaveDialog([&] { return dir / "fw.bin"; });
    w.Run("Zapis1");
    QCOMPARE(w.asked.size(), std::size_t{2});
    QCOMPARE(ReadFile(dir / "fw.bin").substr(0, 3), std::string("\x01\x02\x03"));
    QCOMPARE(ReadFile(dir / "fw.bin").size(), std::size_t{16});
  }
};

QTEST_MAIN(FilesTest)
#include "files_test.moc"
