// The operator's window: port choice, Start and Quit, the delete protection, the
// log, the status caption and the progress of a load. All serving runs inside the
// Start button's handler on this one thread; the window stays live because the
// server runs pending events from its waits and log lines (PumpEvents).
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>

#include "link/link.h"
#include "link/operator_panel.h"
#include "link/port_provider.h"
#include "link/tick_clock.h"
#include "service/server.h"
#include "storage/volume.h"

class QCloseEvent;
class QShowEvent;

// Where the window stands in the life of the program.
enum class FormState {
  Idle,     // from start-up, and after a port that failed to open or to be configured
  Serving,  // from the successful port open until the loop sees StopRequested
  Ending,   // the loop has ended: Start is enabled again and the window closes
  Broken,   // an error ended serving: nothing serves any more, the window stays
};

class TMainForm : public QWidget, public dorvane::OperatorPanel {
  Q_OBJECT

 public:
  // The layout's outer size and place on the screen, frame and title bar included.
  static constexpr int OuterWidth = 425;
  static constexpr int OuterHeight = 368;
  static constexpr int OuterLeft = 507;
  static constexpr int OuterTop = 304;
  // The log keeps the newest lines only: a flood of stray bytes writes two lines a
  // byte, and an endless log would grow without bound and slow every append.
  static constexpr int MaxLogLines = 10000;

  // The form keeps references to all three; they must outlive it. It builds its
  // own Link and Server over itself as their panel.
  TMainForm(dorvane::TickClock& clock, dorvane::PortProvider& ports, dorvane::Volume& volume,
            QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- OperatorPanel ------------------------------------------------------------
  void LogLine(const std::string& text) override;
  void PumpEvents() override;
  // Waits in the window's own event loop, with the port's descriptor among what
  // wakes it: a byte, a window event or `longest` ends the wait, after that event
  // has run. A port without a descriptor is looked at again after 100 ms at most.
  void AwaitInput(dorvane::SerialPort& port, std::chrono::milliseconds longest) override;
  void SetStatusCaption(const std::string& text) override;
  void SetProgressPosition(int percent) override;
  void SetProgressEnabled(bool enabled) override;
  void SetStartEnabled(bool enabled) override;
  void SetPortChoiceEnabled(bool enabled) override;
  int PortChoice() const override;
  bool DeleteProtection() const override;
  void CloseMainWindow() override;

  FormState State() const { return state_; }
  dorvane::Link& link() { return link_; }
  dorvane::Server& server() { return server_; }

  // The controls, in the layout's order.
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* btnQuit1 = nullptr;
  QPushButton* btnStart1 = nullptr;
  QGroupBox* rgComPort = nullptr;
  std::array<QRadioButton*, 4> rgComPortItems{};  // "Com1" to "Com4"
  QProgressBar* ProgressBar1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;

 public slots:
  void btnQuit1Click();
  void btnStart1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormClose(QCloseEvent* event);

  void BuildControls();
  void SetTabOrder();
  void WriteInitialLines(const dorvane::Volume& volume);
  void ShowError(const QString& text);
  // Makes the outer size 425 x 368 once the window manager has shown its frame.
  void FitOuterSize();
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Each item's tooltip names its device and adapter; an item with no device behind
  // it cannot be picked.
  void RefreshPortChoices();

  dorvane::PortProvider& ports_;
  dorvane::Link link_;
  dorvane::Server server_;
  FormState state_ = FormState::Idle;
  bool in_start_handler_ = false;
  bool end_requested_ = false;  // a close that came while serving, held off
  // Enabled only inside AwaitInput: between waits the link reads the port itself.
  std::unique_ptr<QSocketNotifier> input_notifier_;
  QTimer input_wait_limit_;
};
