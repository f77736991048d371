// The operator's window on Qt's offscreen platform, with a scripted port and a fake
// clock behind it: its layout and initial state, and Quit and the close box in each
// state of the server.
#include "ui/main_form.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QDropEvent>
#include <QHelpEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "link/os_error.h"
#include "tests/support/fakes.h"
#include "ui/stop_signals.h"

// Names the state in a failure message.
void PrintTo(FormState state, std::ostream* os) {
  static const char* const names[] = {"Idle", "Serving", "Ending", "Broken"};
  *os << names[static_cast<int>(state)];
}

namespace dorvane {
namespace {

using testing::FakeClock;
using testing::FakePortProvider;
using testing::ScriptedPort;

// A port whose device fails under the server: every read raises the OS error.
class FailingPort : public SerialPort {
 public:
  bool ReadAttempt(std::uint8_t&) override { throw OsError(EIO); }
  bool WriteAttempt(std::uint8_t) override { return true; }
};

// A device that fails just as the operator closes the window while it serves.
class FailsAsTheWindowClosesPort : public SerialPort {
 public:
  explicit FailsAsTheWindowClosesPort(QWidget& window) : window_(window) {}
  bool ReadAttempt(std::uint8_t&) override {
    window_.close();
    throw OsError(EIO);
  }
  bool WriteAttempt(std::uint8_t) override { return true; }

 private:
  QWidget& window_;
};

// Closes every modal message box that comes up, noting what it showed.
class MessageBoxCloser {
 public:
  MessageBoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      ++shown;
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      box->accept();
    });
    timer_.start(5);
  }
  int shown = 0;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;

 private:
  QTimer timer_;
};

std::vector<std::string> LogLines(const TMainForm& form) {
  std::vector<std::string> lines;
  for (const QString& line : form.Memo1->toPlainText().split('\n')) {
    lines.push_back(line.toStdString());
  }
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TMainForm>(clock, ports, volume);
    form->show();
    QCoreApplication::processEvents();
  }

  // Hands the server a port with nothing on the line; `on_idle` runs at each read
  // attempt that finds nothing, inside the server's wait, as an operator's click would.
  ScriptedPort& GivePort(std::function<void()> on_idle) {
    auto port = std::make_unique<ScriptedPort>(clock);
    ScriptedPort& ref = *port;
    ref.on_drained = std::move(on_idle);
    ports.port = std::move(port);
    return ref;
  }

  // Runs the application's event loop, starting with `first`, until the program
  // ends; a watchdog ends a run that would never end, and the test then fails.
  int RunProgram(std::function<void()> first) {
    QTimer::singleShot(0, form.get(), std::move(first));
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [this] {
      form->link().StopRequested = true;
      QCoreApplication::exit(99);
    });
    watchdog.start(20000);
    return QApplication::exec();
  }

  FakeClock clock;
  FakePortProvider ports;
  testing::RefusingVolume volume;  // the window only shows where it is
  std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, StartsIdleWithTheLaidOutState) {
  EXPECT_EQ(form->windowTitle(), "Dorvane V5.1");
  EXPECT_EQ(form->State(), FormState::Idle);

  const auto lines = LogLines(*form);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Dorvane V5.1");
  EXPECT_NE(lines[2].find("/srv/c64/games"), std::string::npos) << lines[2];
  for (const std::string& line : lines) EXPECT_FALSE(line.empty());

  EXPECT_TRUE(form->rgComPortItems[0]->isChecked());
  EXPECT_EQ(form->PortChoice(), 0);
  EXPECT_TRUE(form->CheckBox1->isChecked());
  EXPECT_TRUE(form->DeleteProtection());
  EXPECT_EQ(form->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  EXPECT_FALSE(form->ProgressBar1->isEnabled());
  EXPECT_FALSE(form->ProgressBar1->isTextVisible());
  EXPECT_TRUE(form->btnStart1->isEnabled());
  EXPECT_TRUE(form->btnQuit1->isEnabled());
  EXPECT_FALSE(form->btnStop1->isEnabled());
  EXPECT_FALSE(form->btnFolder1->isVisible());  // no way to open another folder given
  EXPECT_TRUE(form->rgComPort->isEnabled());
  EXPECT_TRUE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

  // At its smallest as laid out, and larger at will.
  EXPECT_EQ(form->size(), form->minimumSize());
  EXPECT_GT(form->maximumWidth(), form->minimumWidth());
  EXPECT_GT(form->maximumHeight(), form->minimumHeight());
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_EQ(form->windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});
}

TEST_F(MainFormTest, ControlsStandWhereTheLayoutPutsThem) {
  const struct {
    QWidget* control;
    QRect place;
    QString text;
  } layout[] = {
      {form->rgComPort, {8, 16, 249, 57}, "Select Com"},
      {form->CheckBox1, {280, 32, 113, 17}, "Protect deleting"},
      {form->ProgressBar1, {8, 80, 401, 16}, ""},
      {form->Memo1, {8, 104, 401, 177}, ""},
      {form->btnStart1, {81, 295, 92, 31}, "Start"},
      {form->btnQuit1, {248, 295, 92, 31}, "Quit"},
      {form->btnStop1, {177, 295, 67, 31}, "Stop"},
      {form->btnFolder1, {280, 52, 92, 21}, "Folder..."},
  };
  for (const auto& c : layout) {
    EXPECT_EQ(c.control->geometry(), c.place) << c.control->objectName().toStdString();
    EXPECT_EQ(c.control->font().pixelSize(), 11) << c.control->objectName().toStdString();
  }
  EXPECT_EQ(form->rgComPort->title(), layout[0].text);
  EXPECT_EQ(form->CheckBox1->text(), layout[1].text);
  EXPECT_EQ(form->btnStart1->text(), layout[4].text);
  EXPECT_EQ(form->btnQuit1->text(), layout[5].text);
  EXPECT_EQ(form->btnStop1->text(), layout[6].text);
  EXPECT_EQ(form->btnFolder1->text(), layout[7].text);
}

TEST_F(MainFormTest, TheLogTakesTheRoomOfALargerWindow) {
  form->resize(form->minimumSize() + QSize(100, 60));
  EXPECT_EQ(form->Memo1->geometry(), QRect(8, 104, 501, 237));
  EXPECT_EQ(form->ProgressBar1->geometry(), QRect(8, 80, 501, 16));
  EXPECT_EQ(form->btnStart1->geometry(), QRect(131, 355, 92, 31));
  EXPECT_EQ(form->btnQuit1->geometry(), QRect(298, 355, 92, 31));
  EXPECT_EQ(form->rgComPort->geometry(), QRect(8, 16, 249, 57));
}

TEST_F(MainFormTest, PortItemsFillTwoColumnsColumnByColumn) {
  const auto& items = form->rgComPortItems;
  const int column_width = (249 - 10) / 2;
  for (int i = 0; i < 4; ++i) {
    const QRadioButton* item = items[static_cast<std::size_t>(i)];
    EXPECT_EQ(item->text(), QString("Com%1").arg(i + 1));
    EXPECT_EQ(item->toolTip(), QString("COM%1").arg(i + 1));  // the provider's description
    EXPECT_TRUE(item->isEnabled());
    EXPECT_EQ(item->width(), column_width);
    EXPECT_EQ(item->x(), 8 + (i / 2) * column_width);
    EXPECT_EQ(item->font().pixelSize(), 11);
  }
  EXPECT_LT(items[0]->y(), items[1]->y());  // Com1 above Com2
  EXPECT_EQ(items[2]->y(), items[0]->y());  // Com3 beside Com1
  EXPECT_EQ(items[3]->y(), items[1]->y());
  EXPECT_LE(items[1]->geometry().bottom(), form->rgComPort->height());

  // The operator moves the choice but cannot clear it.
  items[2]->click();
  EXPECT_EQ(form->PortChoice(), 2);
  items[2]->click();
  EXPECT_TRUE(items[2]->isChecked());
  EXPECT_EQ(form->PortChoice(), 2);
}

TEST_F(MainFormTest, TabGoesFromTheLogToQuitStartThePortsAndTheCheckBox) {
  std::vector<QWidget*> order;
  QWidget* w = form->Memo1;
  do {
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
    w = w->nextInFocusChain();
  } while (w != form->Memo1 && order.size() < 20);
  const auto& items = form->rgComPortItems;
  const std::vector<QWidget*> expected = {
      form->Memo1, form->btnQuit1, form->btnStart1, form->btnStop1,  items[0],
      items[1],    items[2],       items[3],        form->CheckBox1, form->btnFolder1};
  EXPECT_EQ(order, expected);
}

TEST_F(MainFormTest, LogLineAppendsKeepsTheNewestLineInSightAndRunsPendingEvents) {
  bool ran = false;
  QMetaObject::invokeMethod(
      form.get(), [&ran] { ran = true; }, Qt::QueuedConnection);
  form->LogLine("Waiting for command from C64...");
  EXPECT_TRUE(ran);
  EXPECT_EQ(LogLines(*form).back(), "Waiting for command from C64...");

  form->Memo1->verticalScrollBar()->setValue(0);  // the operator scrolled back
  for (int i = 0; i < 60; ++i) form->LogLine("Action " + std::to_string(i));
  const QScrollBar* bar = form->Memo1->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(LogLines(*form).size(), 6u + 1u + 60u);
  EXPECT_EQ(LogLines(*form).back(), "Action 59");
}

TEST_F(MainFormTest, LogKeepsOnlyTheNewestTenThousandLines) {
  for (int i = 0; i < TMainForm::MaxLogLines + 5; ++i) {
    form->Memo1->appendPlainText(QString("Line %1").arg(i));
  }
  form->LogLine("Newest");
  const std::vector<std::string> lines = LogLines(*form);
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines.front(), "Line 6");
  EXPECT_EQ(lines.back(), "Newest");
}

TEST_F(MainFormTest, WhileThePortIsLostTheTitleSaysSoInsteadOfWaiting) {
  const QString lost = "Dorvane V5.1 Port lost: /dev/ttyUSB0";
  form->SetPortLost("/dev/ttyUSB0");
  form->SetStatusCaption("Dorvane V5.1 Waiting...");  // the server goes on waiting meanwhile
  EXPECT_EQ(form->windowTitle(), lost);
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), lost);
  form->SetPortLost("");
  EXPECT_EQ(form->windowTitle(), "Dorvane V5.1 Waiting...");
}

TEST_F(MainFormTest, TheProgressBarNamesTheFileAndTimesItFromItsStart) {
  clock.Advance(5000);
  form->SetTransferProgress("100%.prg", 0, 10000);
  clock.Advance(1000);
  form->SetTransferProgress("100%.prg", 5000, 10000);
  EXPECT_EQ(form->ProgressBar1->text(), "100%.prg  50%  5.0 kB/s  1 s left");
  form->SetProgressEnabled(false);  // back at waiting, the words go
  EXPECT_FALSE(form->ProgressBar1->isTextVisible());
}

TEST_F(MainFormTest, StatusCaptionIsAlsoTheApplicationsTitle) {
  form->SetStatusCaption("Dorvane V5.1 Sending directory...");
  EXPECT_EQ(form->windowTitle(), "Dorvane V5.1 Sending directory...");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Dorvane V5.1 Sending directory...");
}

TEST_F(MainFormTest, QuitOrTheCloseBoxBeforeStartEndsTheProgram) {
  const std::function<void(TMainForm&)> ways[] = {
      [](TMainForm& f) { f.btnQuit1->click(); },
      [](TMainForm& f) { f.close(); },
  };
  for (const auto& way : ways) {
    if (!form) SetUp();
    EXPECT_EQ(RunProgram([&] { way(*form); }), 0);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(ports.opened.empty());  // nothing touched a port
    form.reset();
  }
}

TEST_F(MainFormTest, ItemsNameTheirAdapterAndThoseWithoutADeviceCannotBePicked) {
  ports.descriptions = {"/dev/ttyUSB0: FT232R USB UART (FTDI)", "/dev/ttyAMA0", "", ""};
  QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), QPoint(1, 1));
  QApplication::sendEvent(form->rgComPortItems[0], &hover);
  const QString tips[] = {"/dev/ttyUSB0: FT232R USB UART (FTDI)", "/dev/ttyAMA0", "No device",
                          "No device"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(form->rgComPortItems[i]->toolTip(), tips[i]) << i;
    EXPECT_EQ(form->rgComPortItems[i]->isEnabled(), i < 2) << i;
  }
  // The adapter on Com2 is pulled out and another comes in as Com3.
  ports.descriptions = {"/dev/ttyUSB0: FT232R USB UART (FTDI)", "", "/dev/ttyACM0", ""};
  QApplication::sendEvent(form->rgComPortItems[2], &hover);
  EXPECT_FALSE(form->rgComPortItems[1]->isEnabled());
  EXPECT_TRUE(form->rgComPortItems[2]->isEnabled());
  EXPECT_EQ(form->rgComPortItems[2]->toolTip(), "/dev/ttyACM0");
  // Each item shows its device beside it, in the room the item leaves.
  for (std::size_t i = 0; i < 4; ++i) {
    const QLabel* path = form->rgComPortPaths[i];
    EXPECT_EQ(path->text(), i == 1 || i == 3 ? "" : QString("COM%1").arg(i + 1)) << i;
    EXPECT_GT(path->x(), form->rgComPortItems[i]->x()) << i;
    EXPECT_LE(path->geometry().right(), form->rgComPortItems[i]->geometry().right()) << i;
  }
}

TEST_F(MainFormTest, PortThatCannotOpenLeavesStartUsableAndAnotherPortServes) {
  ports.failure_cause = "No such device: COM1 (no serial devices present)";
  form->btnStart1->click();  // no port to hand out: the open fails
  auto lines = LogLines(*form);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Initialising port COM1");
  EXPECT_EQ(lines[lines.size() - 2], "Can't initialize port COM1");
  EXPECT_EQ(lines.back(), "No such device: COM1 (no serial devices present)");
  EXPECT_TRUE(form->btnStart1->isEnabled());
  EXPECT_TRUE(form->rgComPort->isEnabled());
  EXPECT_EQ(form->State(), FormState::Idle);
  EXPECT_TRUE(form->isVisible());

  form->rgComPortItems[1]->click();
  int quits = 0;
  GivePort([&] {
    if (quits++ == 0) form->btnQuit1->click();
  });
  EXPECT_EQ(RunProgram([&] { form->btnStart1->click(); }), 0);
  EXPECT_EQ(ports.opened, (std::vector<std::string>{"COM1", "COM2"}));
  lines = LogLines(*form);
  EXPECT_TRUE(Contains(lines, "Initialising port COM2"));
  EXPECT_TRUE(Contains(lines, "Waiting for command from C64..."));
  EXPECT_EQ(lines.back(), " terminated!");
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, QuitOrTheCloseBoxWhileServingEndsWithTerminated) {
  struct Seen {
    FormState state;
    bool start, port_choice, check_box, quit, closed, visible;
  };
  const struct {
    const char* name;
    std::function<bool(TMainForm&)> stop;  // true when the window closed at once
  } ways[] = {
      {"Quit",
       [](TMainForm& f) {
         f.btnQuit1->click();
         return !f.isVisible();
       }},
      {"close box", [](TMainForm& f) { return f.close(); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    if (!form) SetUp();
    Seen seen{};
    int attempts = 0;
    GivePort([&] {
      if (attempts++ != 0) return;
      seen.state = form->State();
      seen.start = form->btnStart1->isEnabled();
      seen.port_choice = form->rgComPort->isEnabled();
      // The delete protection can be switched while the server runs.
      form->CheckBox1->click();
      seen.check_box = !form->DeleteProtection();
      seen.quit = form->btnQuit1->isEnabled();
      seen.closed = way.stop(*form);
      seen.visible = form->isVisible();
    });
    EXPECT_EQ(RunProgram([&] { form->btnStart1->click(); }), 0);

    EXPECT_EQ(seen.state, FormState::Serving);
    EXPECT_FALSE(seen.start);
    EXPECT_FALSE(seen.port_choice);
    EXPECT_TRUE(seen.check_box);
    EXPECT_TRUE(seen.quit);
    EXPECT_FALSE(seen.closed);  // the window waits for the server to end
    EXPECT_TRUE(seen.visible);

    const auto lines = LogLines(*form);
    EXPECT_EQ(lines.back(), " terminated!");
    EXPECT_FALSE(Contains(lines, "Action"));
    EXPECT_EQ(form->State(), FormState::Ending);
    EXPECT_TRUE(form->btnStart1->isEnabled());
    EXPECT_FALSE(form->rgComPort->isEnabled());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Dorvane V5.1 Waiting...");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Dorvane V5.1 Waiting...");
    form.reset();
  }
}

TEST_F(MainFormTest, ErrorWhileServingIsShownAndLeavesTheWindowBroken) {
  ports.port = std::make_unique<FailingPort>();
  MessageBoxCloser boxes;
  form->btnStart1->click();  // returns once the box has been closed

  EXPECT_EQ(boxes.shown, 1);
  EXPECT_EQ(boxes.icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.title, "Dorvane V5.1 Waiting...");  // the application's title by then
  EXPECT_TRUE(boxes.text.startsWith("OS Error.  Code: 5.\n")) << boxes.text.toStdString();

  EXPECT_EQ(form->State(), FormState::Broken);
  EXPECT_FALSE(form->btnStart1->isEnabled());
  EXPECT_FALSE(form->rgComPort->isEnabled());
  EXPECT_FALSE(Contains(LogLines(*form), " terminated!"));

  // Quit only sets the flag, which nothing reads any more; the close box still closes.
  form->link().StopRequested = false;
  form->btnQuit1->click();
  EXPECT_TRUE(form->link().StopRequested);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(RunProgram([&] { form->close(); }), 0);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, ACloseWhileServingStillEndsTheProgramWhenAnErrorEndsServing) {
  ports.port = std::make_unique<FailsAsTheWindowClosesPort>(*form);
  MessageBoxCloser boxes;
  EXPECT_EQ(RunProgram([&] { form->btnStart1->click(); }), 0);

  EXPECT_EQ(boxes.shown, 1);  // the error is still shown first
  EXPECT_EQ(form->State(), FormState::Broken);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, AStopSignalClosesTheWindowAsItsCloseBoxDoes) {
  CloseOnStopSignals(form.get());
  EXPECT_EQ(RunProgram([] { std::raise(SIGHUP); }), 0);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, PortThatCannotBeConfiguredIsShownAndLeavesTheWindowIdle) {
  ports.port = std::make_unique<FailingPort>();
  ports.throw_on_configure = true;
  MessageBoxCloser boxes;
  form->btnStart1->click();

  EXPECT_EQ(boxes.shown, 1);
  EXPECT_EQ(boxes.icon, QMessageBox::Critical);
  EXPECT_TRUE(boxes.text.startsWith("OS Error.  Code: 25.\n")) << boxes.text.toStdString();
  EXPECT_EQ(form->State(), FormState::Idle);
  EXPECT_TRUE(form->btnStart1->isEnabled());
  EXPECT_TRUE(form->rgComPort->isEnabled());
  EXPECT_TRUE(form->isVisible());
}

// A port that only has a descriptor: the read end of a pipe the test writes into.
class DescriptorPort : public SerialPort {
 public:
  explicit DescriptorPort(int fd) : fd_(fd) {}
  bool ReadAttempt(std::uint8_t&) override { return false; }
  bool WriteAttempt(std::uint8_t) override { return false; }
  int InputDescriptor() const override { return fd_; }

 private:
  int fd_;
};

// Notes whether the port's descriptor woke the event loop: its notifier's event.
class DescriptorWakeSpy : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::SockAct) seen = true;
    return false;
  }
  bool seen = false;
};

// The server's sleep between requests: the window's event loop wakes for a byte on
// the port, for a window event (which has run by the time the wait ends), and for
// its time limit, and for nothing else. A wait that missed its wake-up would last
// ten minutes; the watchdog ends it after twenty seconds and the test fails.
TEST_F(MainFormTest, TheIdleWaitEndsOnAByteAWindowEventOrItsLimit) {
  enum class Wake { Byte, WindowEvent, Limit };
  struct Case {
    const char* name;
    Wake wake;
    bool with_descriptor;
  };
  const Case cases[] = {
      {"a click while the port is silent", Wake::WindowEvent, true},
      {"a click on a port without a descriptor", Wake::WindowEvent, false},
      // A device being waited for is looked at again soon, whatever the limit.
      {"the short limit of a port without a descriptor", Wake::Limit, false},
      {"a byte on the port", Wake::Byte, true},
  };
  // A window never shown has no timers of its own running that would end a wait early.
  TMainForm quiet(clock, ports, volume);
  QCoreApplication::processEvents();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int pipe_fds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipe_fds), 0);
    DescriptorPort port(c.with_descriptor ? pipe_fds[0] : -1);
    if (c.wake == Wake::Byte) {
      ASSERT_EQ(::write(pipe_fds[1], "\x10", 1), 1);
    }
    bool clicked = false;
    if (c.wake == Wake::WindowEvent) QTimer::singleShot(0, &quiet, [&] { clicked = true; });
    bool watchdog_fired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { watchdog_fired = true; });
    watchdog.start(20000);

    DescriptorWakeSpy spy;
    QCoreApplication::instance()->installEventFilter(&spy);
    quiet.AwaitInput(port, std::chrono::minutes(10));
    QCoreApplication::instance()->removeEventFilter(&spy);
    EXPECT_FALSE(watchdog_fired);
    EXPECT_EQ(spy.seen, c.wake == Wake::Byte);
    EXPECT_EQ(clicked, c.wake == Wake::WindowEvent);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
  }
}

TEST_F(MainFormTest, StopEndsServingAndTheWindowServesAgain) {
  bool stop_enabled = false, folder_enabled = true;
  int attempts = 0;
  GivePort([&] {
    if (attempts++ != 0) return;
    stop_enabled = form->btnStop1->isEnabled();
    folder_enabled = form->btnFolder1->isEnabled();
    form->btnStop1->click();
  });
  form->btnStart1->click();  // returns once serving has stopped

  EXPECT_TRUE(stop_enabled);
  EXPECT_FALSE(folder_enabled);
  EXPECT_EQ(form->State(), FormState::Idle);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->link().PortHandle, nullptr) << "the port stays open after Stop";
  EXPECT_TRUE(form->btnStart1->isEnabled());
  EXPECT_TRUE(form->rgComPort->isEnabled());
  EXPECT_FALSE(form->btnStop1->isEnabled());
  EXPECT_TRUE(form->btnFolder1->isEnabled());
  EXPECT_EQ(LogLines(*form).back(), " terminated!");
  EXPECT_EQ(form->windowTitle(), "Dorvane V5.1");

  // Another port, picked now, serves; Quit then ends the program as before.
  form->rgComPortItems[1]->click();
  int quits = 0;
  GivePort([&] {
    if (quits++ == 0) form->btnQuit1->click();
  });
  EXPECT_EQ(RunProgram([&] { form->btnStart1->click(); }), 0);
  EXPECT_EQ(ports.opened, (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_FALSE(form->isVisible());
}

// A drag of `paths` from a file manager, let go over the window; whether it took it.
bool DropOn(TMainForm& form, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls.push_back(QUrl::fromLocalFile(path));
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(20, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(20, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &drop);
  return drop.isAccepted();
}

TEST_F(MainFormTest, AFolderIsPickedOrDroppedOnlyWhileNotServing) {
  QTemporaryDir a, b;
  ASSERT_TRUE(a.isValid() && b.isValid());
  const std::string a_path = a.path().toStdString(), b_path = b.path().toStdString();
  // Each folder opens as a volume that only shows where it is, or is refused.
  bool refuse = false;
  form->SetFolderOpener([&](const std::string& folder) -> std::unique_ptr<Volume> {
    if (refuse) throw OsError(EACCES);
    auto volume = std::make_unique<testing::RefusingVolume>();
    volume->display = folder;
    return volume;
  });
  EXPECT_TRUE(form->btnFolder1->isVisible());

  const struct {
    const char* name;
    std::function<bool()> pick;
    bool refuse;
    bool taken;
    std::string served, log;
  } cases[] = {
      {"picked", [&] { return form->ServeFolder(a.path()); }, false, true, a_path,
       "Serving: " + a_path},
      {"dropped", [&] { return DropOn(*form, {b.path()}); }, false, true, b_path,
       "Serving: " + b_path},
      {"a file dropped", [&] { return DropOn(*form, {a.filePath("x.prg")}); }, false, false, b_path,
       "Serving: " + b_path},
      {"a folder that cannot be served", [&] { return form->ServeFolder(a.path()); }, true, false,
       b_path, "Can't serve " + a_path + ": Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    refuse = c.refuse;
    EXPECT_EQ(c.pick(), c.taken);
    EXPECT_EQ(form->ServedFolder(), c.served);
    EXPECT_EQ(LogLines(*form).back(), c.log);
  }

  // While serving, neither way changes the folder, one that could be served either.
  refuse = false;
  bool button = true, picked = true, dropped = true;
  GivePort([&] {
    if (!picked) return;
    button = form->btnFolder1->isEnabled();
    picked = form->ServeFolder(a.path());
    dropped = DropOn(*form, {a.path()});
    form->btnStop1->click();
  });
  form->btnStart1->click();
  EXPECT_FALSE(button);
  EXPECT_FALSE(picked);
  EXPECT_FALSE(dropped);
  EXPECT_EQ(form->ServedFolder(), b_path);
  EXPECT_TRUE(Contains(LogLines(*form), "Stop serving before picking another folder"));
}

TEST_F(MainFormTest, ThePortThatServedAndTheFolderAreRemembered) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("dorvane.conf");
  {
    QSettings settings(file, QSettings::IniFormat);
    form->RememberIn(&settings);
    form->SetServedFolder("/srv/c64");
    form->PickPort(2);
    form->btnStart1->click();  // no port to hand out: nothing served, nothing remembered
    EXPECT_FALSE(settings.contains("port"));
    int quits = 0;
    GivePort([&] {
      if (quits++ == 0) form->btnQuit1->click();
    });
    EXPECT_EQ(RunProgram([&] { form->btnStart1->click(); }), 0);
    form.reset();
  }
  const QSettings next_run(file, QSettings::IniFormat);
  EXPECT_EQ(next_run.value("port").toString(), "COM3");
  EXPECT_EQ(next_run.value("folder").toString(), "/srv/c64");
}

}  // namespace
}  // namespace dorvane
