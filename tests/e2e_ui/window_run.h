// Runs the window as the operator would: Start pressed once its event loop runs,
// then the loop until the window quits.
#pragma once

#include <QApplication>
#include <QTimer>

#include "ui/main_form.h"

namespace dorvane {

// The event loop's exit code; 99 when the window still ran after `limit_ms`, which
// stops its serving and the loop so that a hung test fails instead of hanging.
inline int RunWindowFromStart(TMainForm& form, int limit_ms) {
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    form.link().StopRequested = true;
    QCoreApplication::exit(99);
  });
  watchdog.start(limit_ms);
  QTimer::singleShot(0, &form, [&] { form.btnStart1->click(); });
  return QApplication::exec();
}

}  // namespace dorvane
