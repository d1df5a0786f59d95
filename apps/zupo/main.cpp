// zupo: runs a simulation in its window (numbered log, price chart, Exit button, free disk space).
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "core/format.h"
#include "core/paths.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv); // takes Qt's own options (-platform, -display, ...) out of argv
  QApplication::setQuitOnLastWindowClosed(false);

  CLI::App app{"Zupo: an artificial stock market whose traders forecast with evolved models.\n"
               "Runs the simulation configured by RUN_DIR/Zupo.ini in a window."};
  std::string runDir;
  long long seed = -1;
  std::string screenshot;
  app.add_option("RUN_DIR", runDir, "folder that holds Zupo.ini (default: the program's folder)");
  app.add_option("--seed", seed, "deterministic clock: same seed and inputs, same files")
      ->check(CLI::Range(0LL, 4294967295LL));
  app.add_option("--screenshot", screenshot, "save a PNG of the window when the run ends");
  CLI11_PARSE(app, argc, argv);

  std::string appDir = QCoreApplication::applicationDirPath().toStdString() + "/";
  if (runDir.empty()) runDir = appDir;
  if (runDir.back() != '/') runDir += '/';
  std::string ini = runDir + "Zupo.ini";
  if (!zupo::FileExists(ini)) {
    std::string msg = ini + ": the configuration file does not exist";
    std::fprintf(stderr, "zupo: %s\n", msg.c_str());
    QMessageBox::critical(nullptr, "Zupo", QString::fromStdString(msg));
    return 1;
  }

  zupo::RunSetup setup{ini, appDir, nullptr};
  if (seed >= 0)
    setup.RunClock = std::make_unique<zupo::FixedClock>(static_cast<uint32_t>(seed));
  else
    setup.RunClock = std::make_unique<zupo::SystemClock>();
  zupo::TForm1 window(std::move(setup));
  auto start = std::chrono::steady_clock::now();
  QObject::connect(&window, &zupo::TForm1::runEnded, [&](int status) {
    const zupo::RunResult& r = window.Result();
    if (status == 1) {
      std::fprintf(stderr, "zupo: %s\n", r.Message.c_str());
    } else {
      if (r.End == zupo::RunEnd::Failed)
        std::fprintf(stderr, "zupo: the run stopped in generation %d: %s\n", r.LastGen,
                     r.Message.c_str());
      double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("Run %s: %d generations ran (from %d to %d), last price %s, %.1f s "
                  "(%.2f s of it in the window).\n",
                  status == 0   ? "finished"
                  : status == 3 ? "stopped on request (resume by running again)"
                                : "ended by an error",
                  r.LastGen - r.FirstGen, r.FirstGen, r.LastGen,
                  zupo::FormatGeneral(r.LastPrice).c_str(), secs, window.WindowSeconds());
    }
    if (!screenshot.empty()) {
      if (window.grab().save(QString::fromStdString(screenshot)))
        std::printf("Window saved as %s\n", screenshot.c_str());
      else
        std::fprintf(stderr, "zupo: %s: the picture could not be saved\n", screenshot.c_str());
    }
    std::fflush(stdout);
    // Leave the run's handler first; the event loop then ends with the run's status.
    QMetaObject::invokeMethod(
        &qapp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
  });
  window.show();
  window.activateWindow();
  return QApplication::exec();
}
