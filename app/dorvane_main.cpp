// The window program: serves the directory it was started in to the C64 on the port
// the operator picks.
#include <unistd.h>
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/host_ports.h"
#include "platform/monotonic_clock.h"
#include "platform/posix_volume.h"
#include "ui/app_title.h"
#include "ui/main_form.h"
#include "ui/stop_signals.h"

namespace {

std::string CurrentDirectory() {
  std::string path(256, '\0');
  while (getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return path;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Positions, sizes and fonts are laid out in pixels, not scaled with the desktop.
  if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING")) {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromStdString(
      dorvane::ApplicationTitleFor(QApplication::applicationFilePath().toStdString())));

  const std::string served = CurrentDirectory();
  if (served.empty()) {
    std::fprintf(stderr, "dorvane: cannot tell the current directory: %s\n", std::strerror(errno));
    return 1;
  }

  dorvane::MonotonicClock clock;
  // A hook for the benchmark and for tests: DORVANE_TEST_PORT names the one device
  // behind the first choice, and Start is pressed as soon as the window shows, so
  // that the window serves without a hand on the mouse.
  const std::string test_port = qEnvironmentVariable("DORVANE_TEST_PORT").toStdString();
  std::unique_ptr<dorvane::HostPortProvider> ports;
  if (test_port.empty()) {
    ports = std::make_unique<dorvane::HostPortProvider>();
  } else {
    ports = std::make_unique<dorvane::HostPortProvider>(
        [test_port] { return std::vector<std::string>{test_port}; });
  }
  dorvane::PosixVolume volume(served);
  TMainForm MainForm(clock, *ports, volume);
  QApplication::setWindowIcon(MainForm.windowIcon());
  CloseOnStopSignals(&MainForm);
  MainForm.show();
  if (!test_port.empty()) QTimer::singleShot(0, &MainForm, &TMainForm::btnStart1Click);
  return QApplication::exec();
}
