// A posted event that carries a call to make on the GUI thread, in order with
// the other events posted to the window.
#pragma once

#include <QEvent>
#include <functional>

class CallEvent : public QEvent {
public:
    CallEvent(int type, std::function<void()> call);
    ~CallEvent() override;

    void Run() const { m_call(); }

private:
    std::function<void()> m_call;
};
