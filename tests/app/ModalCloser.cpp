#include "ModalCloser.h"

#include <QApplication>
#include <QWidget>
#include <utility>

ModalCloser::ModalCloser(std::function<void(QWidget*)> answer)
    : m_answer(std::move(answer))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalCloser::Poll);
    m_timer.start(10);
}

void ModalCloser::Poll()
{
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || dialog == m_pLast)
        return;
    m_pLast = dialog;
    ++m_nAnswered;
    m_answer(dialog);
}
