// The operator's window: port choice, Start, Stop and Quit, the served folder, the
// delete protection, the log, the status caption and the progress of a transfer. All serving runs
// inside the Start button's handler on this one thread; the window stays live because the server
// runs pending events from its waits and log lines (PumpEvents).
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link.h"
#include "link/operator_panel.h"
#include "link/port_provider.h"
#include "link/tick_clock.h"
#include "service/server.h"
#include "storage/volume.h"

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QResizeEvent;
class QSettings;
class QShowEvent;

// Where the window stands in the life of the program.
enum class FormState {
  Idle,     // from start-up, after a port that failed to open or to be configured,
            // and after Stop
  Serving,  // from the successful port open until the loop sees StopRequested
  Ending,   // the loop has ended on Quit or a close: the window closes
  Broken,   // an error ended serving: nothing serves any more, the window stays
};

class TMainForm : public QWidget, public dorvane::OperatorPanel {
  Q_OBJECT

 public:
  // The layout's outer size and place on the screen, frame and title bar included;
  // the window may be made larger, and the log grows with it.
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

  // Opens a folder the operator picked as the volume to serve; throws a
  // std::exception that names the cause when it cannot be served.
  using FolderOpener = std::function<std::unique_ptr<dorvane::Volume>(const std::string& folder)>;
  // Without an opener the folder cannot be changed: "Folder..." stays hidden.
  void SetFolderOpener(FolderOpener opener);
  // The host path of the folder served now, remembered with the port.
  void SetServedFolder(const std::string& folder) { folder_ = folder; }
  const std::string& ServedFolder() const { return folder_; }
  // Serves `folder` from now on, as "Folder..." and a drop do. Refused (false, with
  // a log line) while serving or when it cannot be served.
  bool ServeFolder(const QString& folder);
  // Where the port that served and the folder are remembered between runs; the
  // form does not own it. Null remembers nothing.
  void RememberIn(QSettings* settings) { settings_ = settings; }
  // Picks "Com1" to "Com4" (0 to 3).
  void PickPort(int choice);

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
  void SetTransferProgress(const std::string& name, std::uint64_t done,
                           std::uint64_t total) override;
  void SetPortLost(const std::string& device) override;
  void SetStartEnabled(bool enabled) override;
  void SetPortChoiceEnabled(bool enabled) override;
  int PortChoice() const override;
  bool DeleteProtection() const override;
  void CloseMainWindow() override;

  FormState State() const { return state_; }
  dorvane::Link& link() { return link_; }
  dorvane::Server& server() { return *server_; }

  // The controls, in the layout's order.
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* btnQuit1 = nullptr;
  QPushButton* btnStart1 = nullptr;
  QGroupBox* rgComPort = nullptr;
  std::array<QRadioButton*, 4> rgComPortItems{};  // "Com1" to "Com4"
  QProgressBar* ProgressBar1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  // Added to the original layout, in its gaps.
  QPushButton* btnStop1 = nullptr;
  QPushButton* btnFolder1 = nullptr;
  std::array<QLabel*, 4> rgComPortPaths{};  // each device path beside its item

 public slots:
  void btnQuit1Click();
  void btnStart1Click();
  void btnStop1Click();
  void btnFolder1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FormCreate();
  void FormClose(QCloseEvent* event);

  void BuildControls();
  void SetTabOrder();
  void WriteInitialLines(const dorvane::Volume& volume);
  void ShowError(const QString& text);
  // Makes the smallest outer size 425 x 368 once the window manager has shown its
  // frame, and the window that size unless the operator made it larger.
  void FitOuterSize();
  // Places the controls for the window's size: at the smallest, as laid out.
  void PlaceControls();
  // The folder a drag carries, when it carries just one local folder; else empty.
  static QString DraggedFolder(const QDropEvent& event);
  // What the operator can do now: Stop only while serving, Folder... only before.
  void EnableForState();
  // The window's title and the task bar: the server's caption, or the lost port.
  void ShowCaption();
  void Remember();
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Each item's tooltip names its device and adapter; an item with no device behind
  // it cannot be picked.
  void RefreshPortChoices();

  dorvane::TickClock& clock_;
  dorvane::PortProvider& ports_;
  dorvane::Link link_;
  // The folder picked in the window; the one given at construction is the caller's.
  std::unique_ptr<dorvane::Volume> picked_volume_;
  std::unique_ptr<dorvane::Server> server_;
  FormState state_ = FormState::Idle;
  bool in_start_handler_ = false;
  bool end_requested_ = false;  // a close that came while serving, held off
  bool stop_only_ = false;      // Stop, not Quit, ends this serving
  FolderOpener open_folder_;
  std::string folder_;
  QSettings* settings_ = nullptr;
  std::string caption_;      // the server's last status caption
  std::string lost_device_;  // the port's device while it is gone
  // The transfer the progress bar names, and when it began (the clock's ticks).
  std::string transfer_name_;
  std::uint32_t transfer_start_ = 0;
  // Enabled only inside AwaitInput: between waits the link reads the port itself.
  std::unique_ptr<QSocketNotifier> input_notifier_;
  QTimer input_wait_limit_;
};
