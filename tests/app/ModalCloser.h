// Answers the modal dialogs (message boxes, the file dialog) that the code
// under test opens on the GUI thread, from a timer, one after another.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QWidget;

class ModalCloser : public QObject {
    Q_OBJECT
public:
    // answer gets each new dialog and must close it.
    explicit ModalCloser(std::function<void(QWidget*)> answer);

    // How many dialogs were answered.
    int Answered() const { return m_nAnswered; }

private:
    void Poll();

    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    QPointer<QWidget> m_pLast;
    int m_nAnswered = 0;
};
