// A posted event that carries the value it reports to the window, so the
// GUI thread applies exactly what the reporting thread handed over.
#pragma once

#include <QEvent>
#include <QString>

class ValueEvent : public QEvent {
public:
    ValueEvent(int type, int value, QString text = QString());
    ~ValueEvent() override;

    int Value() const { return m_nValue; }
    const QString& Text() const { return m_strText; }

private:
    int m_nValue;
    QString m_strText;
};
