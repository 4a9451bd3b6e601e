// A question of the process plug-in on its way to the GUI thread, and the
// answer on its way back.
#pragma once

#include <QEvent>
#include <QMessageBox>
#include <condition_variable>
#include <mutex>

// Lives on the asking thread's stack until answered; answered once, with the
// button the user pressed (Cancel when the window ends first).
class Question {
public:
    // On the GUI thread; the asker may be gone as soon as this returns.
    void Answer(int button);
    // On the asking thread: blocks until answered, then the button.
    int Wait();

private:
    std::mutex m_lock;
    std::condition_variable m_answered;
    bool m_bAnswered = false;
    int m_nButton = QMessageBox::Cancel;
};

class QuestionEvent : public QEvent {
public:
    QuestionEvent(int type, Question* question);
    ~QuestionEvent() override;

    Question* GetQuestion() const { return m_pQuestion; }

private:
    Question* m_pQuestion;
};
