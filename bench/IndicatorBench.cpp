// CPU of the waiting status screen: the screen with its activity indicator running, shown
// offscreen for some seconds, against the same screen without the indicator, and the same
// screen with only a bare timer at the indicator's tick (what waking up that often costs,
// with nothing painted). CPU is the whole process's (all threads), as percent of one core
// over the wall time.
//
//   QT_QPA_PLATFORM=offscreen kov_bench_indicator [--seconds 10]
#include <KOVModule/KOVWindowStyle.h>
#include <KOVModule/StatusView.h>

#include <QApplication>
#include <QEventLoop>
#include <QPaintEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Counts paint events and the pixels they cover, to see what each tick repaints.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType()) {
      ++paints;
      const QRect r = static_cast<QPaintEvent*>(event)->rect();
      pixels += static_cast<long long>(r.width()) * r.height();
    }
    return false;
  }
  long long paints = 0;
  long long pixels = 0;
};

struct Usage {
  double cpuPercent = 0;
  double wallSeconds = 0;
  bool indicatorRan = false;
  double paintsPerSecond = 0;
  double pixelsPerPaint = 0;
};

Usage measure(bool withIndicator, int seconds, bool bareTick = false) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->showActivityIndicator = withIndicator;
  QTimer tick;
  tick.setInterval(KOVHorzActivityIndicator::kTickMilliseconds);
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [] {});
  if (bareTick) tick.start();
  StatusView view;
  view.applyStyle(style);
  view.show();
  view.showInitializing();

  // Let the first layout and paint pass before counting.
  QEventLoop settle;
  QTimer::singleShot(200, &settle, &QEventLoop::quit);
  settle.exec();

  PaintCounter counter;
  qApp->installEventFilter(&counter);
  QEventLoop loop;
  QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = processCpuSeconds();
  loop.exec();
  const double cpu = processCpuSeconds() - cpuStart;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;

  qApp->removeEventFilter(&counter);

  Usage usage;
  usage.wallSeconds = wall.count();
  usage.paintsPerSecond = static_cast<double>(counter.paints) / usage.wallSeconds;
  usage.pixelsPerPaint = counter.paints ? static_cast<double>(counter.pixels) / static_cast<double>(counter.paints) : 0;
  usage.cpuPercent = 100.0 * cpu / usage.wallSeconds;
  const auto indicators = view.findChildren<KOVHorzActivityIndicator*>();
  usage.indicatorRan = std::any_of(indicators.begin(), indicators.end(),
                                   [](const KOVHorzActivityIndicator* i) { return i->isTimerActive(); });
  view.dismiss();
  return usage;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int seconds = 10;
  const QStringList args = QCoreApplication::arguments();
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == QLatin1String("--seconds")) seconds = std::max(1, args[i + 1].toInt());
  }
  const Usage without = measure(false, seconds);
  const Usage bare = measure(false, seconds, true);
  const Usage with = measure(true, seconds);
  for (const auto& [name, usage] :
       {std::pair{"without", without}, std::pair{"bare_tick", bare}, std::pair{"with   ", with}}) {
    std::printf("indicator %s cpu_percent=%.2f wall_s=%.1f running=%s paints_per_s=%.0f pixels_per_paint=%.0f\n", name,
                usage.cpuPercent, usage.wallSeconds, usage.indicatorRan ? "yes" : "no", usage.paintsPerSecond,
                usage.pixelsPerPaint);
  }
  std::printf("indicator cost_percent=%.2f ratio=%.2f\n", with.cpuPercent - without.cpuPercent,
              without.cpuPercent > 0 ? with.cpuPercent / without.cpuPercent : 0.0);
  return with.indicatorRan && !without.indicatorRan ? 0 : 1;
}
