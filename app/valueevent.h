// A posted event that carries the value it reports to the window, so the
// GUI thread applies exactly what the reporting thread handed over. While it
// waits in the queue a newer value may replace the one it carries (the
// window coalesces reports, under its own lock).
#pragma once

#include <QEvent>
#include <QString>

class ValueEvent : public QEvent {
public:
    ValueEvent(int type, int value, QString text = QString());
    ~ValueEvent() override;

    int Value() const { return m_nValue; }
    const QString& Text() const { return m_strText; }
    void Replace(int value, QString text);

private:
    int m_nValue;
    QString m_strText;
};
