#include "questionevent.h"

#include "guihandover.h"

void Question::Answer(int button)
{
    // Told while the lock is held: the asker cannot leave Wait and take the
    // question with it before the notification is done.
    const std::lock_guard<std::mutex> hold(m_lock);
    m_nButton = button;
    m_bAnswered = true;
    m_answered.notify_one();
}

int Question::Wait()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_answered.wait(hold, [this] { return m_bAnswered; });
    return m_nButton;
}

QuestionEvent::QuestionEvent(int type, Question* question)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_pQuestion(question)
{
}

QuestionEvent::~QuestionEvent()
{
    // Deleted on the GUI thread, delivered or not (caught by a filter, or
    // the window gone first).
    MarkDelivered();
}
