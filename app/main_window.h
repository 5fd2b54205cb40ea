#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ops/operations.h"

class QAction;
class QFileDialog;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class QToolButton;

namespace zelwik::app {

class CGauge;
class WindowView;
enum class Glyph;

// The program's window. It only routes: every command runs the matching operation of the core on
// the window's thread, with user input shut out until the operation has ended.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // A file dialog: the chosen path, or nothing when the user cancelled.
  using PathDialog = std::function<std::optional<std::string>()>;
  struct Hooks {
    std::function<void(int)> pause;  // InputBlocker::Wait when empty
    PathDialog openDialog;           // OpenDialog1 when empty
    PathDialog saveDialog;           // SaveDialog1 when empty
  };

  // startupHex: the first command-line argument, loaded before the window first shows.
  explicit TForm1(std::optional<std::string> startupHex = std::nullopt, Hooks hooks = {},
                  QWidget* parent = nullptr);
  ~TForm1() override;

  State& state() { return state_; }
  void SetOpenDialog(PathDialog dialog) { hooks_.openDialog = std::move(dialog); }
  void SetSaveDialog(PathDialog dialog) { hooks_.saveDialog = std::move(dialog); }
  bool Busy() const { return busy_; }

 public slots:
  // Tool buttons.
  void SpeedButton1Click();  // program
  void SpeedButton2Click();  // read
  void SpeedButton3Click();  // load a HEX file
  void SpeedButton4Click();  // save a HEX file
  void SpeedButton5Click();  // all lock bits
  // "&Plik"
  void Odczyt1Click();
  void Zapis1Click();
  void Zakocz1Click();
  // "&Weryfikacja"
  void Com11Click();
  void Com21Click();
  void Com31Click();
  void Com41Click();
  void Sygnaturanapi1Click();
  // "&Programowanie"
  void Zapis2Click();
  void Kasowanie1Click();
  void Blokada11Click();
  void Blokada21Click();
  void Blokada31Click();
  // "&Układ"
  void Auto2Click();
  void Auto1Click();
  void N89C5212V1Click();
  void N89C525V1Click();
  void N89C10511Click();
  void N89C20511Click();
  void N89C40511Click();
  void Innyukad1Click();
  // "&Interfejs"
  void Com12Click();
  void Com22Click();
  void Com32Click();
  void Com42Click();
  void Com51Click();

  void Timer1Timer();

 private:
  void BuildElements();
  void BuildMenu();
  QAction* AddItem(QMenu* menu, const char* name, const QString& caption,
                   void (TForm1::*handler)());
  QToolButton* AddButton(const char* name, int left, const char* hint, Glyph glyph,
                         void (TForm1::*handler)());
  template <typename Fn>
  void RunOperation(Fn&& operation);
  void SelectChip(int code);
  void SelectPort(int number);
  std::optional<std::string> RunFileDialog(QFileDialog* dialog);

  State state_;
  Hooks hooks_;
  bool busy_ = false;

  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QLabel* StaticText1 = nullptr;
  CGauge* CGauge1 = nullptr;
  QTimer* Timer1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  std::unique_ptr<WindowView> view_;
};

}  // namespace zelwik::app
