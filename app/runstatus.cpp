#include "runstatus.h"

namespace {

constexpr int kRefreshMs = 1000;
constexpr QChar kUnknown(0x2013); // en dash

} // namespace

RunStatus::RunStatus(QWidget* parent)
    : QLabel(parent)
{
    m_clock.setInterval(kRefreshMs);
    connect(&m_clock, &QTimer::timeout, this, &RunStatus::Refresh);
}

void RunStatus::SetFormats(const QString& countsFormat, const QString& runFormat)
{
    m_countsFormat = countsFormat;
    m_runFormat = runFormat;
    Refresh();
}

void RunStatus::Begin(qint64 imageBytes)
{
    m_elapsed.start();
    ShowRun(imageBytes);
}

void RunStatus::Resume(qint64 imageBytes)
{
    // The clock goes on from the begin of the run that goes on.
    if (m_bRunFailed)
        --m_nFailed;
    else
        m_elapsed.start();
    ShowRun(imageBytes);
}

void RunStatus::ShowRun(qint64 imageBytes)
{
    m_imageBytes = imageBytes;
    m_nPercent = 0;
    m_bRunning = true;
    m_bRunFailed = false;
    m_clock.start();
    Refresh();
}

void RunStatus::Progress(int percent)
{
    m_nPercent = percent;
    Refresh();
}

void RunStatus::End(bool finished)
{
    if (!m_bRunning)
        return;
    if (finished)
        ++m_nFinished;
    else
        ++m_nFailed;
    m_bRunFailed = !finished;
    Stop();
}

void RunStatus::Stop()
{
    m_bRunning = false;
    m_clock.stop();
    Refresh();
}

QString RunStatus::ElapsedText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    const QString minutesSeconds
        = QStringLiteral("%1:%2")
              .arg(seconds / 60 % 60, seconds >= 3600 ? 2 : 1, 10, QLatin1Char('0'))
              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return minutesSeconds;
    return QStringLiteral("%1:%2").arg(seconds / 3600).arg(minutesSeconds);
}

QString RunStatus::RateText(qint64 imageBytes, int percent, qint64 ms)
{
    // The plug-in reports no byte counts: the bytes written so far are
    // estimated as the image file's size times the progress percentage.
    if (imageBytes <= 0 || percent <= 0 || ms <= 0)
        return QString();
    const double bytesPerSecond
        = double(imageBytes) * qMin(percent, 100) / 100.0 * 1000.0 / double(ms);
    if (bytesPerSecond >= 1e6)
        return QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 1);
    if (bytesPerSecond >= 1e3)
        return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1e3, 0, 'f', 0);
    return QStringLiteral("%1 B/s").arg(bytesPerSecond, 0, 'f', 0);
}

void RunStatus::Refresh()
{
    QString text = m_countsFormat.arg(QString::number(m_nFinished), QString::number(m_nFailed));
    if (m_bRunning) {
        const qint64 ms = m_elapsed.elapsed();
        QString rate = RateText(m_imageBytes, m_nPercent, ms);
        if (rate.isEmpty())
            rate = kUnknown;
        text += QStringLiteral("      ") + m_runFormat.arg(ElapsedText(ms), rate);
    }
    setText(text);
}
