#include "valueevent.h"

#include <utility>

ValueEvent::ValueEvent(int type, int value, QString text)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_nValue(value)
    , m_strText(std::move(text))
{
}
