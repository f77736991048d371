// The window program: serves a folder (the one it was started in, or the one named
// on its command line) to the C64 on the port the operator picks.
#include <unistd.h>
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/plain_cause.h"
#include "link/monotonic_clock.h"
#include "link/os_error.h"
#include "platform/file_size_limit.h"
#include "ports/host_ports.h"
#include "ports/network_ports.h"
#include "service/captions.h"
#include "storage/posix_volume.h"
#include "storage/root_access.h"
#include "storage/served_volume.h"
#include "ui/app_title.h"
#include "ui/main_form.h"
#include "ui/served_folder.h"
#include "ui/stop_signals.h"
#include "ui/window_options.h"
#include "ui/window_start.h"

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

// The serial devices found, with the one given by --port in front as Com1.
dorvane::HostPortProvider::DeviceLister ListerWith(const std::string& given) {
  if (given.empty()) return [] { return dorvane::ListSerialDevices(); };
  return [given] {
    std::vector<std::string> devices = dorvane::ListSerialDevices();
    devices.erase(std::remove(devices.begin(), devices.end(), given), devices.end());
    devices.insert(devices.begin(), given);
    return devices;
  };
}

// Whether a remembered port or folder can still be used. A folder that can no
// longer be entered would stop the window from starting at all.
bool StillThere(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return ::access(path.c_str(), R_OK | X_OK) == 0;
  return std::filesystem::exists(path, error);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Read before Qt starts, so that --help and --version need no display.
  dorvane::WindowOptions options;
  if (auto mistake =
          dorvane::ParseWindowOptions(std::vector<std::string>(argv, argv + argc), options)) {
    std::fprintf(stderr, "dorvane: %s\nTry 'dorvane --help'.\n", mistake->c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(dorvane::WindowUsage, stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("dorvane %s\n", dorvane::ProgramVersion);
    return 0;
  }
  dorvane::IgnoreFileSizeSignal();

  // The port and folder of the last run, under ~/.config/dorvane; the command line wins.
  QSettings settings("dorvane", "dorvane");
  const dorvane::StartChoice start =
      dorvane::ChooseStart(options,
                           {settings.value("port").toString().toStdString(),
                            QFile::encodeName(settings.value("folder").toString()).toStdString()},
                           dorvane::ListSerialDevices(), StillThere);
  options.Port = start.GivenPort;
  options.Root = start.Root;

  const std::string served = options.Root.empty() ? CurrentDirectory() : options.Root;
  if (served.empty()) {
    std::fprintf(stderr, "dorvane: cannot tell the current directory: %s\n",
                 dorvane::PlainCause(errno).c_str());
    return 1;
  }
  // A folder that cannot be served ends here, with a message that names it.
  std::unique_ptr<dorvane::PosixVolume> volume;
  try {
    volume = std::make_unique<dorvane::PosixVolume>(served);
  } catch (const dorvane::OsError& error) {
    std::fprintf(stderr, "dorvane: %s%s: %s\n", options.RootOption ? "--root " : "", served.c_str(),
                 dorvane::DirectoryCause(error.Code()).c_str());
    return 1;
  }

  // Qt would abort without a display; this names what is missing instead.
  if (auto missing = dorvane::MissingDisplay([](const char* name) { return std::getenv(name); },
                                             options.QtArguments)) {
    std::fprintf(stderr, "dorvane: %s\n", missing->c_str());
    return 1;
  }
  // Positions, sizes and fonts are laid out in pixels, not scaled with the desktop.
  if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING")) {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  }
  std::vector<char*> qt_argv;
  for (std::string& arg : options.QtArguments) qt_argv.push_back(arg.data());
  qt_argv.push_back(nullptr);
  int qt_argc = static_cast<int>(options.QtArguments.size());
  QApplication app(qt_argc, qt_argv.data());
  QApplication::setApplicationName(QString::fromStdString(
      dorvane::ApplicationTitleFor(QApplication::applicationFilePath().toStdString())));

  dorvane::MonotonicClock clock;
  dorvane::HostPortProvider host_ports(ListerWith(options.Port));
  // "tcp-listen:[HOST:]PORT" and "stdio" names open network links; the rest are
  // the host's devices.
  dorvane::NetworkPortProvider ports(host_ports);
  dorvane::ServedVolume served_volume(*volume);  // the tree, and the disk images in it
  TMainForm MainForm(clock, ports, served_volume);
  QApplication::setWindowIcon(MainForm.windowIcon());
  std::error_code no_path;
  MainForm.SetServedFolder(std::filesystem::absolute(served, no_path).string());
  MainForm.SetFolderOpener(
      [](const std::string& folder) { return std::make_unique<dorvane::ServedFolder>(folder); });
  MainForm.RememberIn(&settings);
  MainForm.PickPort(start.Pick);
  CloseOnStopSignals(&MainForm);
  MainForm.show();
  // Loads are served all the same; the operator hears why saves will fail.
  const std::string unwritable =
      dorvane::UnwritableRootLine(volume->Root(), dorvane::WriteRefusal(volume->Root()));
  if (!unwritable.empty()) MainForm.LogLine(unwritable);
  // Com1 is picked from the start, so --port needs no further choice.
  if (options.Start) QTimer::singleShot(0, &MainForm, &TMainForm::btnStart1Click);
  return QApplication::exec();
}
