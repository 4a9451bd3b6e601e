// A question of the process plug-in on its way to the GUI thread, and the
// answer on its way back.
#pragma once

#include <QEvent>
#include <QMessageBox>
#include <QSemaphore>

// Lives on the asking thread's stack until answered; released once with the
// button the user pressed.
struct Question {
    QSemaphore answered;
    int button = QMessageBox::Cancel;
};

class QuestionEvent : public QEvent {
public:
    QuestionEvent(int type, Question* question);

    Question* GetQuestion() const { return m_pQuestion; }

private:
    Question* m_pQuestion;
};
