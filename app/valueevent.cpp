#include "valueevent.h"

#include "guihandover.h"

#include <utility>

ValueEvent::ValueEvent(int type, int value, QString text)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_nValue(value)
    , m_strText(std::move(text))
{
}

ValueEvent::~ValueEvent()
{
    // Deleted on the GUI thread, delivered or not (the window gone first).
    MarkDelivered();
}

void ValueEvent::Replace(int value, QString text)
{
    m_nValue = value;
    m_strText = std::move(text);
}
