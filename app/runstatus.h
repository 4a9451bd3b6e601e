// The status bar's report: boards finished and failed since the program
// started and, while a run goes on, its elapsed time and write rate.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

class RunStatus : public QLabel {
    Q_OBJECT
public:
    explicit RunStatus(QWidget* parent = nullptr);

    // countsFormat has %1 (finished) and %2 (failed), runFormat %1 (elapsed
    // time) and %2 (rate).
    void SetFormats(const QString& countsFormat, const QString& runFormat);

    // A run starts, writing an image of imageBytes (0 when unknown).
    void Begin(qint64 imageBytes);
    // The run goes on after its wait for FES ran out (the board came back
    // late): the failure counted for that run is taken back, and its clock
    // goes on. Without such a failure, as Begin.
    void Resume(qint64 imageBytes);
    void Progress(int percent);
    // The run ended well or failed, and is counted; only its first end
    // counts (a failed run is reported by several errors), and an end
    // reported while no run is shown counts nothing.
    void End(bool finished);
    // The run stopped without an end (the start watchdog): not counted.
    void Stop();

    // RunFigures.h's texts (the runner shows the same): "m:ss", or "h:mm:ss"
    // from an hour on; the write rate, or an empty text while it cannot be told.
    static QString ElapsedText(qint64 ms);
    static QString RateText(qint64 imageBytes, int percent, qint64 ms);

private:
    // Shows a run going on, writing an image of imageBytes.
    void ShowRun(qint64 imageBytes);
    void Refresh();

    QString m_countsFormat;
    QString m_runFormat;
    QTimer m_clock;
    QElapsedTimer m_elapsed;
    qint64 m_imageBytes = 0;
    int m_nPercent = 0;
    int m_nFinished = 0;
    int m_nFailed = 0;
    bool m_bRunning = false;
    bool m_bRunFailed = false; // the last run begun ended failed
};
