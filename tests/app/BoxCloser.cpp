// Built into the test copy of Vemora (vemora_probe): the program as shipped,
// plus a watcher that reports each message box on standard output and
// answers it with Ok, and reports the window once it is shown (or, with
// VEMORA_PROBE_RUN, once a flashing run has ended: RunWatcher.h) and closes
// it. So a test can run the whole start-up, or a whole run, to its exit
// status.
//   box.<field>=<value>     for every box (fields: title, text, icon,
//                           buttons, parent, window_visible)
//   window.<field>=<value>  once, for the shown window
#include "RunWatcher.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

constexpr int kPollMs = 20;

void Field(const char* group, const char* name, const QString& value)
{
    // One line per field: line breaks in texts are shown as "\n".
    QString flat = value;
    flat.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    std::printf("%s.%s=%s\n", group, name, flat.toUtf8().constData());
}

QWidget* MainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("MainWindow"))
            return widget;
    }
    return nullptr;
}

template <typename W> QString TextOf(QWidget* window, const char* name)
{
    const W* widget = window->findChild<W*>(QString::fromLatin1(name));
    return widget ? widget->text() : QStringLiteral("(missing)");
}

int ProgressOf(QWidget* window)
{
    const auto* progress = window->findChild<QProgressBar*>(QStringLiteral("_ctrlProcess"));
    return progress ? progress->value() : -1;
}

QString StatusOf(QWidget* window)
{
    const auto* bar = window->findChild<QStatusBar*>(QStringLiteral("statusBar"));
    const auto* label = bar ? bar->findChild<QLabel*>(QStringLiteral("_ctrlRunStatus")) : nullptr;
    return label ? label->text() : QStringLiteral("(missing)");
}

void ReportBox(QMessageBox* box)
{
    const QWidget* window = MainWindow();
    Field("box", "title", box->windowTitle());
    Field("box", "text", box->text());
    Field("box", "icon", QString::number(box->icon()));
    Field("box", "buttons", QString::number(box->standardButtons()));
    Field("box", "parent", box->parentWidget() ? QStringLiteral("window") : QStringLiteral("none"));
    Field("box", "window_visible",
        window && window->isVisible() ? QStringLiteral("yes") : QStringLiteral("no"));
    std::fflush(stdout);
    box->done(QMessageBox::Ok);
}

void ReportWindow(QWidget* window)
{
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    Field("window", "screen", QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()));
    Field("window", "pos", QStringLiteral("%1,%2").arg(window->x()).arg(window->y()));
    Field("window", "size", QStringLiteral("%1x%2").arg(window->width()).arg(window->height()));
    Field("window", "title", window->windowTitle());
    Field("window", "image", TextOf<QPushButton>(window, "_btnImage"));
    Field("window", "exit", TextOf<QPushButton>(window, "_btnExit"));
    Field("window", "label", TextOf<QLabel>(window, "label_2"));
    Field("window", "path", TextOf<QLineEdit>(window, "_ctrlImagePath"));
    Field("window", "info", TextOf<QLabel>(window, "_ctrlInfo"));
    Field("window", "progress", QString::number(ProgressOf(window)));
    const auto* guide = window->findChild<QTextBrowser*>(QStringLiteral("_guildText"));
    Field("window", "guide", guide ? guide->toPlainText() : QStringLiteral("(missing)"));
    Field("window", "status", StatusOf(window));
    std::fflush(stdout);
    window->close();
}

void Watch()
{
    auto* timer = new QTimer(QCoreApplication::instance());
    // The window is reported on the tick after it was first seen, when what
    // start-up posted to it has been applied.
    auto seen = std::make_shared<bool>(false);
    auto run = std::make_shared<std::unique_ptr<RunWatcher>>();
    QObject::connect(timer, &QTimer::timeout, [seen, run] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ReportBox(box);
            return;
        }
        QWidget* window = MainWindow();
        if (!window || !window->isVisible())
            return;
        if (!*seen) {
            *seen = true;
            *run = RunWatcher::FromEnvironment();
            return;
        }
        if (*run
            && !(*run)->Ended(window,
                {ProgressOf(window), TextOf<QLabel>(window, "_ctrlInfo"), StatusOf(window)}))
            return;
        ReportWindow(window);
    });
    timer->start(kPollMs);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Watch)
