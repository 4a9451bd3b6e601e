// Part of the test copy of Vemora (vemora_probe): with VEMORA_PROBE_RUN set,
// the window is reported and closed only once a flashing run has ended, as
// the user sees it in the texts of the loaded language:
//   run.end=finished   progress 100, the finish text (Info062), and the
//                      status bar counting boards again (no run shown)
//   run.end=failed     the failure text (Info063) leads the information line
// With VEMORA_PROBE_SHOTS=<folder> as well, the window is saved as
// window-running.png the first time its progress reaches half way, and as
// window-finished.png at the end of a good run.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <memory>

class QWidget;

class RunWatcher {
public:
    // Null when VEMORA_PROBE_RUN is not set. Made once the window shows the
    // loaded language.
    static std::unique_ptr<RunWatcher> FromEnvironment();

    // What the window shows now.
    struct Shown {
        int progress;
        QString info;   // the information line
        QString status; // the status bar
    };

    // Looks at the window (once a tick): takes the screenshot that is due,
    // and answers true, with the "run.end" line printed, once the run ended.
    bool Ended(QWidget* window, const Shown& shown);

private:
    explicit RunWatcher(QString shots);
    void Shoot(QWidget* window, const char* name) const;

    QString m_shots;
    QString m_finished;
    QString m_failed;
    QRegularExpression m_counts;
    bool m_bRunningShot = false;
};
