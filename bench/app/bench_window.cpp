// The window under a flood of progress: the real MainWindow on the offscreen
// platform, reached through its callback record (windowcallbacks.h) as the
// plug-in reaches it, while a thread reports progress 10 000 times a second
// for five seconds. Measured:
// - the event loop's latency: a probe event posted every 20 ms from another
//   thread waits behind everything posted before it; its worst wait;
// - the window's queue: events delivered to the window after the reports
//   stopped (what was still queued then), and how long until it showed the
//   last report;
// - how many events the window took per report.
#include "mainwindow.h"
#include "windowcallbacks.h"

#include "BenchReport.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReportsPerSecond = 10000;
constexpr auto kReporting = std::chrono::seconds(5);
constexpr auto kProbeEvery = std::chrono::milliseconds(20);

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Receives the probes on the GUI thread and keeps their worst wait.
class Probe : public QObject {
public:
    static const QEvent::Type kType;

    class Event : public QEvent {
    public:
        Event()
            : QEvent(kType)
            , posted(Clock::now())
        {
        }
        const Clock::time_point posted;
    };

    bool event(QEvent* e) override
    {
        if (e->type() != kType)
            return QObject::event(e);
        const double waited = Ms(Clock::now() - static_cast<Event*>(e)->posted);
        worstMs = std::max(worstMs, waited);
        ++received;
        return true;
    }

    double worstMs = 0;
    int received = 0;
};
const QEvent::Type Probe::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Counts what the window is handed through the event queue: its own posted
// events and the calls posted to it.
class QueueCount : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() >= QEvent::User || e->type() == QEvent::MetaCall)
            ++delivered;
        return false;
    }
    long delivered = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    QueueCount queue;
    window.installEventFilter(&queue);
    Probe probe;
    const VemoCallbackFun callbacks = WindowCallbacks();
    callbacks.pfnBurnBegin(nullptr, 1, nullptr);

    std::atomic<bool> reporting {true};
    std::atomic<long> reports {0};
    long deliveredAtStop = 0;
    Clock::time_point stopped;
    const char* const kText = "Writing rootfs (2 of 3)";
    std::thread reporter([&] {
        // In steps of a millisecond: ten reports, then wait for the next.
        const auto start = Clock::now();
        auto next = start;
        unsigned int percent = 0;
        while (Clock::now() - start < kReporting) {
            for (int i = 0; i < kReportsPerSecond / 1000; ++i) {
                callbacks.pfnBurnProcess(nullptr, percent, kText);
                percent = (percent + 1) % 100;
                ++reports;
            }
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
        callbacks.pfnBurnProcess(nullptr, 99, kText); // the last one: 99
        ++reports;
        reporting = false;
    });
    std::thread prober([&] {
        while (reporting) {
            QCoreApplication::postEvent(&probe, new Probe::Event);
            std::this_thread::sleep_for(kProbeEvery);
        }
    });

    // The loop runs until the reports stopped and the window shows the last.
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("_ctrlProcess"));
    auto* info = window.findChild<QLabel*>(QStringLiteral("_ctrlInfo"));
    const QString last = QStringLiteral(" %1  99%").arg(QLatin1String(kText));
    double catchUpMs = -1;
    const auto deadline = Clock::now() + kReporting + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        app.processEvents(QEventLoop::AllEvents, 10);
        if (reporting)
            continue;
        if (deliveredAtStop == 0) {
            stopped = Clock::now();
            deliveredAtStop = queue.delivered;
        }
        if (bar && info && bar->value() == 99 && info->text() == last) {
            catchUpMs = Ms(Clock::now() - stopped);
            break;
        }
    }
    reporter.join();
    prober.join();
    const long queuedAtStop = queue.delivered - deliveredAtStop;
    const double perReport = static_cast<double>(queue.delivered) / static_cast<double>(reports);
    std::printf("window: %ld reports in %lld s; probe events waited at worst %.1f ms (%d "
                "probes); %ld window events still queued when the reports stopped, the last "
                "report shown %.1f ms later; %.2f window events per report\n",
        reports.load(), static_cast<long long>(kReporting.count()), probe.worstMs, probe.received,
        queuedAtStop, catchUpMs, perReport);
    ReportFigure("window.latency", probe.worstMs, "ms",
        "GUI event loop, worst wait of a posted probe during 10 000 progress reports a second");
    ReportFigure("window.queued", static_cast<double>(queuedAtStop), "events",
        "window events still queued when the reports stopped");
    ReportFigure("window.catchup", catchUpMs, "ms", "until the window showed the last report");
    ReportFigure(
        "window.per_report", perReport, "events", "events the window took per progress report");
    return catchUpMs < 0 ? 1 : 0;
}
