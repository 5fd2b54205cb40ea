// A job in the Qt window: it programs as the command line does (frames and log rows), counts its
// chips as the log does, locks what would change it, and refuses a changed image unsent.
#include <QTest>
#include <QtWidgets>
#include <sstream>

#include "app/main_window.h"
#include "cli/command_line.h"
#include "production/run_log.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"
#include "window_harness.h"

using namespace zelwik;
using namespace zelwik::testing;

namespace {

// 32 bytes from address 0, none at 7F0 where the serial number goes.
const char* const kFirmware =
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":10001000101112131415161718191A1B1C1D1E1F68\n"
    ":00000001FF\n";

using Window = TestWindow;

// The log's rows without what differs between two runs of one job: time, port (two simulators),
// duration, and the folder of the image (each run has a copy of its own).
std::vector<std::vector<std::string>> Rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string>& row = rows.emplace_back(12);
    std::istringstream cells(line);
    for (std::string& cell : row) std::getline(cells, cell, ',');
    row[0] = row[1] = row[9] = "";
    row[4] = std::filesystem::path(row[4]).filename().string();  // each run has its folder
  }
  return rows;
}

// A job of kFirmware for an 89C2051 on `port`, made as an engineer makes one: `zelwik-cli
// --save-job` (program, verify, lock 2, a serial number at 7F0).
std::string MakeJob(TempDir& dir, const std::string& port, const std::string& name) {
  WriteFile((dir / "fw.hex"), kFirmware);
  std::ostringstream out, err;
  const int status = cli::RunCommandLine(
      {"--save-job", (dir / name), "--port", port, "--chip", "89C2051", "--verify", "--lock", "2",
       "--serial", "7F0:2:1000:1:le", "--serial-file", (dir / "window.serial"), "--log",
       (dir / "window.csv"), "--timeout", "700", "program", (dir / "fw.hex")},
      out, err, nullptr, {}, nullptr);
  if (status != 0) qFatal("--save-job: %s", err.str().c_str());
  return (dir / name);
}

}  // namespace

class JobViewTest : public QObject {
  Q_OBJECT

 private slots:
  // The window's chip gets the frames and leaves the rows the command line's does for the same
  // run; its counters are the log's; the strip shows the checksums; a reset zeroes them.
  void programsAsTheCommandLine() {
    TempDir dir;
    SimHarness windowSim(sim::SimChip::C2051), cliSim(sim::SimChip::C2051);
    Window w;
    const QSize ordinary = w.Get("ClientArea")->size();
    w.jobPath = MakeJob(dir, windowSim.Path(), "linia.zjob");
    w.Run("OpenJobItem");
    QCOMPARE(w.shown.back(), std::string(" Otwarto zadanie linia"));
    QVERIFY(!w.Get("JobLine")->isHidden());
    // CRC-32 of the 32 bytes, and the first 8 digits of their SHA-256.
    QCOMPARE(w.Text("JobLine"), QString("linia  CRC-32 91267E8A  SHA-256 630dcd29"));
    QCOMPARE(w.Get("ClientArea")->height(), ordinary.height() + 33);
    w.Run("programButton");
    QCOMPARE(w.Text("JobCounters"), QString::fromUtf8("Dobre: 1  Złe: 0  Razem: 1"));

    // The same job file, with counter and log of its own, through `zelwik-cli --job`.
    TempDir copy;
    for (const char* file : {"linia.zjob", "fw.hex"})
      std::filesystem::copy_file(dir / file, copy / file);
    std::ostringstream out, err;
    const int status = cli::RunCommandLine(
        {"--job", (copy / "linia.zjob"), "--port", cliSim.Path()}, out, err, nullptr, {}, nullptr);
    QVERIFY2(status == 0, err.str().c_str());
    QCOMPARE(FramesText(windowSim.Frames()), FramesText(cliSim.Frames()));
    const auto cliRows = Rows((copy / "window.csv")), windowRows = Rows((dir / "window.csv"));
    QCOMPARE(windowRows.size(), std::size_t(4));
    QCOMPARE(windowRows, cliRows);

    // A second chip that the socket does not hold: failed and counted so.
    windowSim.WithModel([](sim::DeviceModel& m) { m.RemoveChip(); });
    w.Run("programButton");
    QCOMPARE(w.Text("JobCounters"), QString::fromUtf8("Dobre: 1  Złe: 1  Razem: 2"));
    w.Run("ResetJobCountersItem");
    QCOMPARE(w.Text("JobCounters"), QString::fromUtf8("Dobre: 0  Złe: 0  Razem: 0"));
  }

  // The chip menu, the file commands and the port the job names are locked until it closes. A
  // job file given at start-up is opened as a job.
  void locksWhatTheJobFixes() {
    TempDir dir;
    SimHarness sim(sim::SimChip::C2051);
    Window w(MakeJob(dir, sim.Path(), "linia.ZJOB"));
    QCOMPARE(w.Text("chipLabel"), QString("89C2051"));
    for (const char* name : {"Odczyt1", "Zapis1", "openButton", "saveButton", "Auto2", "N89C20511",
                             "Com12", "OpenJobItem"})
      QVERIFY2(!w.Enabled(name), name);
    QVERIFY(w.Enabled("programButton") && w.Enabled("CloseJobItem") && w.Enabled("Com21"));
    // Refused even when asked for directly.
    w.form->Run({ui::Action::SelectChip, 1});
    w.form->Run({ui::Action::SelectPort, 1});
    QCOMPARE(w.form->state().PortName, sim.Path());
    QCOMPARE(w.Text("chipLabel"), QString("89C2051"));
    w.Run("programButton");
    QCOMPARE(w.form->state().link.ReplyTimeout(), 700);
    w.Run("CloseJobItem");
    QCOMPARE(w.form->state().link.ReplyTimeout(), 2000);
    QVERIFY(w.Enabled("Odczyt1") && w.Enabled("Auto2") && !w.Enabled("CloseJobItem"));
    QCOMPARE(w.form->state().PortName, std::string("COM2"));
    QCOMPARE(w.Text("chipLabel"), QString("Automatycznie"));
  }

  // A log begun before logs named their job: refused with the job's reason (by the job's name: the
  // status line is too short for its folder), nothing written, the window left ordinary.
  void refusesBeforeAnythingIsSent() {
    TempDir dir;
    SimHarness sim(sim::SimChip::C2051);
    Window w;
    w.jobPath = MakeJob(dir, sim.Path(), "linia.zjob");
    WriteFile((dir / "window.csv"), production::kLogHeaderWithoutJob);
    w.Run("OpenJobItem");
    QVERIFY2(w.shown.back().rfind(" linia.zjob: cannot write the log", 0) == 0,
             w.shown.back().c_str());
    QVERIFY(!w.Enabled("CloseJobItem") && w.Get("JobLine")->isHidden());
    w.Run("programButton");  // an ordinary program: the image is empty, and that is no job's
    QCOMPARE(ReadFile(dir / "window.csv"), std::string(production::kLogHeaderWithoutJob));
  }
};

QTEST_MAIN(JobViewTest)
#include "job_view_test.moc"
