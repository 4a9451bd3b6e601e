#include "questionevent.h"

QuestionEvent::QuestionEvent(int type, Question* question)
    : QEvent(static_cast<QEvent::Type>(type))
    , m_pQuestion(question)
{
}
