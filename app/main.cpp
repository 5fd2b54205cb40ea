#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "app/glyphs.h"
#include "app/main_window.h"
#include "app/settings_store.h"
#include "ui/window_description.h"
#include "zelwik_version.h"

namespace {

constexpr const char* kHelp =
    "Usage: zelwik [--reset-settings] [FILE]\n"
    "The window of the AT89 serial programmer; FILE (Intel HEX, .bin or .s19/.srec/.mot) is\n"
    "loaded at start-up; a FILE.zjob is opened as a job (Plik, Otwórz zadanie..., Ctrl+J).\n"
    "\n"
    "The window remembers the port, the chip, the folder and the last 6 files loaded or saved in\n"
    "~/.config/zelwik/zelwik.conf.\n"
    "\n"
    "COM1 ... COM5 in the Interfejs menu open /dev/ttyS0 ... /dev/ttyS4; ZELWIK_COM1 ...\n"
    "ZELWIK_COM5 name another device, for example ZELWIK_COM2=/dev/ttyUSB0 zelwik.\n"
    "Below them the menu lists the other serial devices present, such as a USB adapter.\n"
    "zelwik-cli ports lists the serial devices.\n"
    "\n"
    "Esc stops the running operation after the exchange in flight (\" Przerwano.\").\n"
    "\n"
    "  --reset-settings  start from the defaults, forgetting what was remembered\n"
    "  --help            this text\n"
    "  --version         the program's version\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so they work without a display.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("zelwik " ZELWIK_VERSION);
    return 0;
  }
  QApplication app(argc, argv);  // takes its own options (-platform ...) out of argv
  QApplication::setApplicationName("zelwik");
  QApplication::setDesktopFileName("zelwik");
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(zelwik::app::AppIconImage(32))));

  int first = 1;
  zelwik::app::QtSettingsStore settings;
  if (argc > 1 && std::strcmp(argv[1], "--reset-settings") == 0) {
    settings.Clear();
    first = 2;
  }
  std::optional<std::string> hexFile;
  if (argc > first) hexFile = argv[first];  // the file name's own bytes, further arguments ignored
  try {
    zelwik::app::MainForm::Hooks hooks;
    hooks.settings = &settings;
    zelwik::app::MainForm form(hexFile, std::move(hooks));
    form.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromUtf8(zelwik::ui::MainWindow().caption),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  } catch (...) {
    QMessageBox::critical(nullptr, QString::fromUtf8(zelwik::ui::MainWindow().caption), "?");
    return 1;
  }
}
