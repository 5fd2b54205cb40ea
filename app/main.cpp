#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <optional>
#include <string>

#include "app/glyphs.h"
#include "app/main_window.h"
#include "ui/window_description.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes its own options (-platform ...) out of argv
  QApplication::setApplicationName("zelwik");
  QApplication::setDesktopFileName("zelwik");
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(zelwik::app::AppIconImage(32))));

  std::optional<std::string> hexFile;
  if (argc > 1) hexFile = argv[1];  // the file name's own bytes, further arguments ignored
  try {
    zelwik::app::TForm1 form(hexFile);
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
