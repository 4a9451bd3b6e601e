#include "runstatus.h"

#include "RunFigures.h"

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
    return QString::fromStdString(::ElapsedText(ms));
}

QString RunStatus::RateText(qint64 imageBytes, int percent, qint64 ms)
{
    return QString::fromStdString(::RateText(imageBytes, percent, ms));
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
