#include "valueevent.h"

#include <utility>

ValueEvent::ValueEvent(int type, int value, QString text)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_nValue(value)
    , m_strText(std::move(text))
{
}

void ValueEvent::Replace(int value, QString text)
{
    m_nValue = value;
    m_strText = std::move(text);
}
