#include "callevent.h"

#include "guihandover.h"

#include <utility>

CallEvent::CallEvent(int type, std::function<void()> call)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_call(std::move(call))
{
}

CallEvent::~CallEvent()
{
    // Deleted on the GUI thread, delivered or not (the window gone first).
    MarkDelivered();
}
