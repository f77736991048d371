#include "ui/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <exception>

#include "link/os_error.h"
#include "service/captions.h"
#include "ui/host_text.h"
#include "ui/progress_text.h"

// The icon lives in a static library, whose resource initialiser the linker would
// drop: it is pulled in by name. Q_INIT_RESOURCE must stand outside any namespace.
static void InitDorvaneResources() { Q_INIT_RESOURCE(dorvane); }

namespace {

// The client area before the window manager shows its frame: a title bar of 23 and
// borders of 4 pixels, as most frames have. FitOuterSize corrects it once the real
// frame is known; without a window manager this is the smallest size.
constexpr int InitialClientWidth = TMainForm::OuterWidth - 2 * 4;
constexpr int InitialClientHeight = TMainForm::OuterHeight - 23 - 4;

// The longest the server sleeps in the event loop before it looks at the port again
// by itself. A byte on a port with a descriptor ends the sleep at once; a port
// without one (a device not there yet) is looked at more often.
constexpr std::uint16_t IdleWaitMs = 1000;
constexpr std::chrono::milliseconds NoDescriptorWait{100};

// Every control with text uses this font, in pixels, so that the layout's pixel
// positions hold whatever text size the desktop is set to.
QFont ControlFont() {
  QFont font(QFontDatabase::hasFamily("Verdana") ? "Verdana" : "DejaVu Sans");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  font.setWeight(QFont::Normal);
  return font;
}

struct Box {
  int left, top, width, height;
};

// The layout, relative to the client area.
constexpr Box GroupBox{8, 16, 249, 57};
constexpr Box CheckBoxBox{280, 32, 113, 17};
constexpr Box ProgressBox{8, 80, 401, 16};
constexpr Box MemoBox{8, 104, 401, 177};
constexpr Box StartBox{81, 295, 92, 31};
constexpr Box QuitBox{248, 295, 92, 31};
// Added in the layout's gaps: Stop between Start and Quit, "Folder..." under the
// check box, beside the port group's lower edge.
constexpr Box StopBox{177, 295, 67, 31};
constexpr Box FolderBox{280, 52, 92, 21};

// `grow` widens and heightens the box; `shift` moves it.
void Place(QWidget* widget, const Box& box, QSize grow = QSize(0, 0), QPoint shift = QPoint(0, 0)) {
  widget->setGeometry(box.left + shift.x(), box.top + shift.y(), box.width + grow.width(),
                      box.height + grow.height());
}

// The bar's own format would take a "%p" in a file's name for the percentage: the
// words are given whole.
class TransferBar : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;
  void SetWords(const QString& words) {
    words_ = words;
    update();
  }
  QString text() const override { return words_; }

 private:
  QString words_;
};

// The device path beside a port item, in the room the item leaves: whole when it
// fits, else without "/dev/", else cut short in the middle.
QString FittedPath(const QString& path, const QFontMetrics& metrics, int room) {
  if (metrics.horizontalAdvance(path) <= room) return path;
  const QString shorter = path.startsWith("/dev/") ? path.mid(5) : path;
  return metrics.elidedText(shorter, Qt::ElideMiddle, room);
}

}  // namespace

TMainForm::TMainForm(dorvane::TickClock& clock, dorvane::PortProvider& ports,
                     dorvane::Volume& volume, QWidget* parent)
    : QWidget(parent),
      clock_(clock),
      ports_(ports),
      link_(*this, clock, ports),
      server_(std::make_unique<dorvane::Server>(link_, volume, *this)) {
  InitDorvaneResources();
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setMinimumSize(InitialClientWidth, InitialClientHeight);
  resize(InitialClientWidth, InitialClientHeight);
  setAcceptDrops(true);
  setWindowIcon(QIcon(":/dorvane/dorvane.png"));
  setFont(ControlFont());

  // The laid-out place, moved only as far as needed to stay on a smaller screen.
  QPoint place(OuterLeft, OuterTop);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    place.setX(std::max(room.left(), std::min(place.x(), room.right() + 1 - OuterWidth)));
    place.setY(std::max(room.top(), std::min(place.y(), room.bottom() + 1 - OuterHeight)));
  }
  move(place);

  BuildControls();
  PlaceControls();
  SetTabOrder();
  WriteInitialLines(volume);
  Memo1->setFocus();
  // While the server waits for the C64 without a time limit, it sleeps in this
  // window's event loop (AwaitInput), which a click ends as a byte does.
  link_.IdleWaitMs = IdleWaitMs;
  input_wait_limit_.setSingleShot(true);
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildControls() {
  const QFont font = ControlFont();

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setFont(font);
  Memo1->setReadOnly(true);
  Memo1->setMaximumBlockCount(MaxLogLines);  // one block per line; the oldest go first
  // Read-only, yet the operator may still select and copy from the log.
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setFocusPolicy(Qt::StrongFocus);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The log only grows; an undo history of it would grow alongside for nothing.
  Memo1->setUndoRedoEnabled(false);
  Place(Memo1, MemoBox);

  btnQuit1 = new QPushButton("Quit", this);
  btnQuit1->setObjectName("btnQuit1");
  btnQuit1->setFont(font);
  Place(btnQuit1, QuitBox);
  connect(btnQuit1, &QPushButton::clicked, this, &TMainForm::btnQuit1Click);

  btnStart1 = new QPushButton("Start", this);
  btnStart1->setObjectName("btnStart1");
  btnStart1->setFont(font);
  Place(btnStart1, StartBox);
  connect(btnStart1, &QPushButton::clicked, this, &TMainForm::btnStart1Click);

  rgComPort = new QGroupBox("Select Com", this);
  rgComPort->setObjectName("rgComPort");
  rgComPort->setFont(font);
  // The caption sits on the frame's top line, as the item positions below assume;
  // some styles would put it above the frame and the frame through the first row.
  rgComPort->setStyleSheet(QString("QGroupBox#rgComPort { border: 1px solid palette(mid);"
                                   " margin-top: %1px; }"
                                   "QGroupBox#rgComPort::title { subcontrol-origin: margin;"
                                   " left: 7px; padding: 0 2px; }")
                               .arg(QFontMetrics(font).height() / 2));
  Place(rgComPort, GroupBox);
  // Two columns filled column by column, each the group's width less 10, halved;
  // the rows share the height below the caption.
  const int rows = 2;
  const int text_height = QFontMetrics(font).height();
  const int column_width = (GroupBox.width - 10) / 2;
  const int room = GroupBox.height - text_height - 5;
  const int row_height = room / rows;
  const int top_margin = text_height + 1 + (room % rows) / 2;
  for (int i = 0; i < 4; ++i) {
    auto* item = new QRadioButton(QString("Com%1").arg(i + 1), rgComPort);
    item->setObjectName(QString("rgComPortItem%1").arg(i));
    item->setFont(font);
    item->setGeometry((i / rows) * column_width + 8, (i % rows) * row_height + top_margin,
                      column_width, row_height);
    item->installEventFilter(this);
    rgComPortItems[static_cast<std::size_t>(i)] = item;
  }
  for (std::size_t i = 0; i < rgComPortPaths.size(); ++i) {
    // Over the right of its item, which takes the clicks through it.
    auto* path = new QLabel(rgComPort);
    path->setObjectName(QString("rgComPortPath%1").arg(i));
    path->setFont(font);
    path->setAttribute(Qt::WA_TransparentForMouseEvents);
    QRadioButton* item = rgComPortItems[i];
    const int taken = std::min(item->sizeHint().width() + 2, item->width());
    // A gap before the next column's item.
    const int room = std::max(0, item->width() - taken - 6);
    path->setGeometry(item->x() + taken, item->y(), room, item->height());
    rgComPortPaths[i] = path;
  }
  rgComPortItems[0]->setChecked(true);
  RefreshPortChoices();
  // Adapters come and go: the items follow within a couple of seconds.
  auto* port_watch = new QTimer(this);
  connect(port_watch, &QTimer::timeout, this, &TMainForm::RefreshPortChoices);
  port_watch->start(2000);

  ProgressBar1 = new TransferBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setEnabled(false);
  Place(ProgressBar1, ProgressBox);

  CheckBox1 = new QCheckBox("Protect deleting", this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setFont(font);
  CheckBox1->setChecked(true);
  Place(CheckBox1, CheckBoxBox);

  btnStop1 = new QPushButton("Stop", this);
  btnStop1->setObjectName("btnStop1");
  btnStop1->setFont(font);
  btnStop1->setToolTip("End serving and close the port; the window stays");
  connect(btnStop1, &QPushButton::clicked, this, &TMainForm::btnStop1Click);

  btnFolder1 = new QPushButton("Folder...", this);
  btnFolder1->setObjectName("btnFolder1");
  btnFolder1->setFont(font);
  btnFolder1->setToolTip("Pick the folder to serve (or drop one on the window)");
  btnFolder1->setVisible(false);  // until there is a way to open a folder
  connect(btnFolder1, &QPushButton::clicked, this, &TMainForm::btnFolder1Click);
  Place(btnFolder1, FolderBox);
  EnableForState();
}

void TMainForm::PlaceControls() {
  // The client area beyond the layout's: the log takes it all, the progress bar
  // its width, and the buttons move down with the log's lower edge and stay centred.
  const QSize extra(std::max(0, width() - minimumWidth()), std::max(0, height() - minimumHeight()));
  const QPoint buttons(extra.width() / 2, extra.height());
  Place(Memo1, MemoBox, extra);
  Place(ProgressBar1, ProgressBox, QSize(extra.width(), 0));
  Place(btnStart1, StartBox, QSize(0, 0), buttons);
  Place(btnStop1, StopBox, QSize(0, 0), buttons);
  Place(btnQuit1, QuitBox, QSize(0, 0), buttons);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceControls();
}

void TMainForm::SetTabOrder() {
  QWidget* order[] = {Memo1,
                      btnQuit1,
                      btnStart1,
                      btnStop1,
                      rgComPortItems[0],
                      rgComPortItems[1],
                      rgComPortItems[2],
                      rgComPortItems[3],
                      ProgressBar1,
                      CheckBox1,
                      btnFolder1};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TMainForm::WriteInitialLines(const dorvane::Volume& volume) {
  const QString lines[] = {
      QString(dorvane::CaptionIdle),
      "Lends a directory of this computer to a C64 over RS-232.",
      "Serving: " + dorvane::DisplayText(volume.CurrentDirDisplay()),
      "Line: 115200 baud, 8N1, CTS flow control.",
      "Pick the port of the C64's cable, then press Start.",
      "Quit, or closing the window, ends the program.",
  };
  for (const QString& line : lines) Memo1->appendPlainText(line);
}

void TMainForm::FormCreate() { setWindowTitle(dorvane::CaptionIdle); }

void TMainForm::closeEvent(QCloseEvent* event) { FormClose(event); }

void TMainForm::FormClose(QCloseEvent* event) {
  link_.StopRequested = true;
  // While the server runs, this close comes from inside one of its waits: hiding
  // the window now would leave it serving unseen. The loop sees the flag, logs its
  // end and closes the window itself, and that close goes ahead.
  if (state_ == FormState::Serving) {
    event->ignore();
    end_requested_ = true;
  } else {
    event->accept();
  }
}

void TMainForm::btnQuit1Click() {
  stop_only_ = false;  // a Stop still under way becomes the end of the program
  if (btnStart1->isEnabled()) {
    close();
  } else {
    link_.StopRequested = true;
  }
}

void TMainForm::btnStart1Click() {
  // One server loop at a time, and never one nested inside another's events.
  if (in_start_handler_ || state_ != FormState::Idle) return;
  in_start_handler_ = true;
  stop_only_ = false;
  QString error;
  try {
    server_->StartServing();
  } catch (const std::exception& e) {
    error = dorvane::DisplayText(e.what());
  } catch (...) {
    error = "An unknown error ended serving";
  }
  in_start_handler_ = false;
  // Stopped, or the port never opened: nothing holds the port any more.
  if (state_ == FormState::Idle) {
    input_notifier_.reset();
    link_.PortHandle.reset();
  }
  EnableForState();
  if (error.isNull()) return;
  // A port that opened but could not be configured leaves the window Idle, so
  // another port can be tried; an error while serving ends serving for good.
  if (state_ == FormState::Serving) state_ = FormState::Broken;
  EnableForState();
  ShowError(error);
  // The operator had already closed the window while it served: the error is shown,
  // and then the program ends as asked.
  if (end_requested_ && state_ == FormState::Broken) close();
}

void TMainForm::btnStop1Click() {
  if (state_ != FormState::Serving) return;
  stop_only_ = true;
  link_.StopRequested = true;
}

void TMainForm::btnFolder1Click() {
  if (state_ != FormState::Idle || !open_folder_) return;
  const QString folder = QFileDialog::getExistingDirectory(
      this, "Folder to serve", QString::fromStdString(folder_), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) ServeFolder(folder);
}

void TMainForm::SetFolderOpener(FolderOpener opener) {
  open_folder_ = std::move(opener);
  EnableForState();
}

bool TMainForm::ServeFolder(const QString& folder) {
  if (!open_folder_) return false;
  if (state_ != FormState::Idle || in_start_handler_) {
    LogLine("Stop serving before picking another folder");
    return false;
  }
  const std::string path = QFile::encodeName(folder).toStdString();
  std::unique_ptr<dorvane::Volume> volume;
  try {
    volume = open_folder_(path);
  } catch (const dorvane::OsError& e) {
    LogLine("Can't serve " + path + ": " + std::strerror(e.Code()));
    return false;
  } catch (const std::exception& e) {
    LogLine("Can't serve " + path + ": " + e.what());
    return false;
  }
  if (!volume) return false;
  // The old server goes before the volume it works on.
  server_ = std::make_unique<dorvane::Server>(link_, *volume, *this);
  picked_volume_ = std::move(volume);
  folder_ = path;
  LogLine("Serving: " + picked_volume_->CurrentDirDisplay());
  Remember();
  return true;
}

void TMainForm::PickPort(int choice) {
  if (choice >= 0 && choice < static_cast<int>(rgComPortItems.size())) {
    rgComPortItems[static_cast<std::size_t>(choice)]->setChecked(true);
  }
}

void TMainForm::Remember() {
  if (!settings_) return;
  if (state_ == FormState::Serving)
    settings_->setValue("port", QString::fromStdString(link_.PortName));
  if (!folder_.empty()) settings_->setValue("folder", QFile::decodeName(folder_.c_str()));
  settings_->sync();
}

void TMainForm::EnableForState() {
  btnStop1->setEnabled(state_ == FormState::Serving);
  btnFolder1->setVisible(static_cast<bool>(open_folder_));
  btnFolder1->setEnabled(state_ == FormState::Idle);
}

QString TMainForm::DraggedFolder(const QDropEvent& event) {
  const QMimeData* data = event.mimeData();
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir()) return {};
  return url.toLocalFile();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (open_folder_ && state_ == FormState::Idle && !DraggedFolder(*event).isEmpty()) {
    event->acceptProposedAction();
  }
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString folder = DraggedFolder(*event);
  if (folder.isEmpty()) return;
  event->acceptProposedAction();
  ServeFolder(folder);
}

void TMainForm::ShowError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, this);
  box.setObjectName("ErrorBox");
  box.exec();
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The frame is known only once the window manager has framed the window, which
  // may take a moment after the show; a late second look catches a slow one.
  QTimer::singleShot(0, this, &TMainForm::FitOuterSize);
  QTimer::singleShot(300, this, &TMainForm::FitOuterSize);
}

void TMainForm::FitOuterSize() {
  const QRect outer = frameGeometry();
  const QRect client = geometry();
  const int frame_width = outer.width() - client.width();
  const int frame_height = outer.height() - client.height();
  if (frame_width <= 0 && frame_height <= 0) return;  // no frame: the client is all there is
  const QSize wanted(OuterWidth - frame_width, OuterHeight - frame_height);
  if (!wanted.isValid() || wanted == minimumSize()) return;
  const bool at_smallest = size() == minimumSize();
  setMinimumSize(wanted);
  if (at_smallest) resize(wanted);
}

void TMainForm::RefreshPortChoices() {
  for (std::size_t i = 0; i < rgComPortItems.size(); ++i) {
    const std::string described = ports_.PortDescription(static_cast<int>(i));
    QRadioButton* item = rgComPortItems[i];
    item->setEnabled(!described.empty());
    item->setToolTip(described.empty() ? QString("No device") : dorvane::DisplayText(described));
    QLabel* path = rgComPortPaths[i];
    const QString device = described.empty()
                               ? QString()
                               : dorvane::DisplayText(ports_.PortNameFor(static_cast<int>(i)));
    path->setText(FittedPath(device, path->fontMetrics(), path->width()));
    path->setToolTip(item->toolTip());
  }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  // Each tooltip names the device as it is when the operator asks.
  if (event->type() == QEvent::ToolTip &&
      std::find(rgComPortItems.begin(), rgComPortItems.end(), watched) != rgComPortItems.end()) {
    RefreshPortChoices();
  }
  return QWidget::eventFilter(watched, event);
}

// --- OperatorPanel ---------------------------------------------------------------

void TMainForm::LogLine(const std::string& text) {
  Memo1->appendPlainText(dorvane::DisplayText(text));
  // The newest line is always in sight, even when the operator scrolled back.
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(bar->maximum());
  PumpEvents();
}

void TMainForm::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TMainForm::AwaitInput(dorvane::SerialPort& port, std::chrono::milliseconds longest) {
  const int fd = port.InputDescriptor();
  if (fd >= 0 && (!input_notifier_ || input_notifier_->socket() != fd)) {
    input_notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  }
  const bool watching = fd >= 0;
  if (watching) input_notifier_->setEnabled(true);
  input_wait_limit_.start(watching ? longest : std::min(longest, NoDescriptorWait));
  // One pass of the event loop: it sleeps in the kernel until the descriptor turns
  // readable, the timer fires or a window event comes, and runs what came.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  input_wait_limit_.stop();
  // Left enabled, a readable port would wake every later pass of the loop.
  if (watching) input_notifier_->setEnabled(false);
}

void TMainForm::SetStatusCaption(const std::string& text) {
  caption_ = text;
  ShowCaption();
}

void TMainForm::SetPortLost(const std::string& device) {
  lost_device_ = device;
  ShowCaption();
}

void TMainForm::ShowCaption() {
  // While the port is gone the server waits for its device, not for the C64.
  const std::string text = lost_device_.empty()
                               ? (caption_.empty() ? std::string(dorvane::CaptionIdle) : caption_)
                               : std::string(dorvane::CaptionIdle) + " Port lost: " + lost_device_;
  const QString caption = dorvane::DisplayText(text);
  // The display name first: some platforms append it to every window title that
  // does not already end with it, and this title then does.
  QGuiApplication::setApplicationDisplayName(caption);
  setWindowTitle(caption);
}

void TMainForm::SetProgressPosition(int percent) {
  ProgressBar1->setValue(std::clamp(percent, 0, 100));
}

void TMainForm::SetProgressEnabled(bool enabled) {
  ProgressBar1->setEnabled(enabled);
  // Back to waiting: the words of the last transfer go.
  if (!enabled) {
    ProgressBar1->setTextVisible(false);
    transfer_name_.clear();
  }
}

void TMainForm::SetTransferProgress(const std::string& name, std::uint64_t done,
                                    std::uint64_t total) {
  const std::uint32_t now = clock_.GetTickCount();
  if (done == 0 || name != transfer_name_ || !ProgressBar1->isTextVisible()) {
    transfer_name_ = name;
    transfer_start_ = now;
  }
  const std::string text = dorvane::TransferText(name, done, total, now - transfer_start_);
  static_cast<TransferBar*>(ProgressBar1)->SetWords(dorvane::DisplayText(text));
  ProgressBar1->setTextVisible(true);
}

void TMainForm::SetStartEnabled(bool enabled) {
  btnStart1->setEnabled(enabled);
  // The server disables Start right after the port opened, and enables it again
  // when its loop has seen StopRequested.
  if (!enabled && in_start_handler_ && state_ == FormState::Idle) {
    state_ = FormState::Serving;
    Remember();  // the port opened: it and the folder are the ones to serve next time
  }
  if (enabled && state_ == FormState::Serving) state_ = FormState::Ending;
  EnableForState();
}

void TMainForm::SetPortChoiceEnabled(bool enabled) { rgComPort->setEnabled(enabled); }

int TMainForm::PortChoice() const {
  for (std::size_t i = 0; i < rgComPortItems.size(); ++i) {
    if (rgComPortItems[i]->isChecked()) return static_cast<int>(i);
  }
  return 0;
}

bool TMainForm::DeleteProtection() const { return CheckBox1->isChecked(); }

void TMainForm::CloseMainWindow() {
  if (!stop_only_ || end_requested_) {
    close();
    return;
  }
  // Stopped: the window serves again once Start is pressed.
  stop_only_ = false;
  state_ = FormState::Idle;
  rgComPort->setEnabled(true);
  lost_device_.clear();
  caption_ = dorvane::CaptionIdle;
  ShowCaption();
  EnableForState();
}
