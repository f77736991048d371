// The window tests need one QApplication for the whole run; without a display they
// run on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler default_handler = nullptr;

// The offscreen platform cannot pass a fixed size on to a window manager it does
// not have, and says so at every window; that says nothing about the window.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("does not support propagateSizeHints")) return;
  default_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  default_handler = qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Dorvane");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
