// soundclassifier: listens to the default microphone, detects and classifies
// short sounds, and shows them over the scrolling waveform.
#include "app/config.h"
#include "audio/audio.h"
#include "gui/display_config.h"
#include "processing/validation.h"
#include "gui/main_window.h"
#include "processing/event_manager.h"
#include "segmentation/segmentator.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QSocketNotifier>
#include <QStyleFactory>

#include <csignal>
#include <cstring>
#include <iostream>

#ifdef SC_STATIC_QT_PLUGINS
#include <QtPlugin>
Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)
#endif

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace classification;

namespace {
#ifndef _WIN32

// SIGINT and SIGTERM close the window through the event loop, so that they
// take the same orderly path as a click on the close button.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[0], &byte, 1);
}

// Closes the window when SIGINT or SIGTERM arrives.
void closeOnSignals(QApplication& app, MainWindow& window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[1], &byte, 1);
    window.close();
  });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}
#else
// Closing the console window or Ctrl-C ends a Windows console program; the
// window's own close button is the orderly way out there.
void closeOnSignals(QApplication&, MainWindow&) {}
#endif

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0) {
      std::cout << "usage: soundclassifier [Qt options]\n\n"
                   "Reads ClassificationSystem.xml and the two documents it names from the\n"
                   "working directory, listens to the default input device and shows the\n"
                   "detected, classified sounds over the scrolling waveform. Installed, the\n"
                   "command starts it in ~/.config/soundclassifier, where the default\n"
                   "documents are copied on the first start.\n\n"
                   "Exit status: 0 after the window is closed, 2 for a configuration error.\n";
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "soundclassifier " SC_VERSION "\n";
      return 0;
    }

  return runReportingConfigErrors("soundclassifier", [&]() -> int {
    ConfigSet config;  // ClassificationSystem.xml and the two documents it names
    XmlNode* userRoot = config.userRoot();
    XmlNode* systemRoot = config.systemRoot();
    checkConfiguration(config);  // stop before anything starts

    MAudio audio(systemRoot);
    MSegmentator segmentator(userRoot, systemRoot);
    MEventManager eventManager(systemRoot, segmentator.getRingBuffer());
    eventManager.start(QThread::InheritPriority);
    const bool capturing = audio.initCallback(&segmentator, userRoot, &MSegmentator::recordCallback);
    RingBuffer* displayRing = audio.getRingBuffer();

    int status = 0;
    {
      QApplication app(argc, argv);
#ifdef SC_EMBEDDED_FONTS
      // Times where Windows has it, else the embedded DejaVu faces.
      for (const char* f : {":/fonts/DejaVuSerif.ttf", ":/fonts/DejaVuSerif-Bold.ttf", ":/fonts/DejaVuSans.ttf",
                            ":/fonts/DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(f);
      QFont::insertSubstitutions("Times", {"Times New Roman", "DejaVu Serif"});
      if (!QFontDatabase().families().contains("Tahoma")) QApplication::setFont(QFont("DejaVu Sans", 9));
#endif
      QStyle* style = QStyleFactory::create("plastique");
      if (!style) style = QStyleFactory::create("Fusion");
      if (style) QApplication::setStyle(style);

      MainWindow window(eventManager.getClassifiedQueue(), displayRing, userRoot, systemRoot);
      window.setWindowTitle(capturing ? "soundclassifier"
                                      : "soundclassifier - no input device, not listening");

      closeOnSignals(app, window);

      window.resize(800, 400);
      window.show();
      window.start();
      status = app.exec() == 0 ? 0 : 1;

      audio.stopStream();
      eventManager.stop();
      eventManager.join();
    }
    return status;
  });
}
