#include "ui/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

namespace {

// A signal handler may only write a byte; the event loop, which the server's waits
// keep running, reads it and closes the window.
int signal_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  const char byte = 1;
  (void)!::write(signal_pipe[1], &byte, 1);
}

}  // namespace

void CloseOnStopSignals(QWidget* window) {
  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // signals keep their defaults
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char bytes[16];
    while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    window->close();
  });

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}
