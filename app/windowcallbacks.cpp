#include "windowcallbacks.h"

#include "mainwindow.h"
#include "questionevent.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_lock;
std::condition_variable g_idle;
MainWindow* g_pWindow = nullptr;
int g_nInside = 0; // callbacks now using the window

// The window for the duration of one callback, or null when there is none.
class WindowUse {
public:
    WindowUse()
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        m_pWindow = g_pWindow;
        if (m_pWindow)
            ++g_nInside;
    }
    ~WindowUse()
    {
        if (!m_pWindow)
            return;
        const std::lock_guard<std::mutex> hold(g_lock);
        if (--g_nInside == 0)
            g_idle.notify_all();
    }
    WindowUse(const WindowUse&) = delete;
    WindowUse& operator=(const WindowUse&) = delete;

    MainWindow* operator->() const { return m_pWindow; }
    explicit operator bool() const { return m_pWindow != nullptr; }

private:
    MainWindow* m_pWindow;
};

int BurnBegin(void*, unsigned int armTimeout, void*)
{
    const WindowUse window;
    return window ? window->BurnBegin(armTimeout) : kNoWindowBurnBegin;
}

int BurnProcess(void*, unsigned int percent, const char* text)
{
    const WindowUse window;
    return window ? window->BurnProcess(percent, text) : kNoWindowBurnProcess;
}

int BurnError(void*, unsigned int, const char* text)
{
    const WindowUse window;
    return window ? window->BurnError(text) : kNoWindowBurnError;
}

int BurnWarning(void*, unsigned int, const char* text)
{
    const WindowUse window;
    return window ? window->BurnWarning(text) : kNoWindowBurnWarning;
}

int BurnOver(void*, unsigned int, const char*)
{
    const WindowUse window;
    return window ? window->BurnOver() : kNoWindowBurnOver;
}

int UpdateTipInfo(void*, unsigned int, void*)
{
    const WindowUse window;
    return window ? 0 : kNoWindowUpdateTipInfo;
}

int LoadDynamic(void*, unsigned char*, unsigned int*)
{
    const WindowUse window;
    return window ? 0 : kNoWindowLoadDynamic;
}

// Blocks the calling thread until the user has answered. The window is not
// held while the question waits, so closing it is never held up; a window
// closed meanwhile answers Cancel.
int MessageBox(void*, void*, void*)
{
    Question question;
    {
        const WindowUse window;
        if (!window)
            return kNoWindowMessageBox;
        if (window->OnGuiThread())
            return window->QuestionAnswered(window->AskQuestion());
        window->PostQuestion(&question);
    }
    const int button = question.Wait();
    const WindowUse window;
    return window ? window->QuestionAnswered(button) : MainWindow::QuestionResult(button);
}

} // namespace

VemoCallbackFun WindowCallbacks()
{
    return VemoCallbackFun {
        BurnBegin,
        BurnProcess,
        BurnError,
        BurnWarning,
        BurnOver,
        UpdateTipInfo,
        LoadDynamic,
        MessageBox,
    };
}

void AttachWindow(MainWindow* window)
{
    const std::lock_guard<std::mutex> hold(g_lock);
    g_pWindow = window;
}

void DetachWindow()
{
    std::unique_lock<std::mutex> hold(g_lock);
    g_pWindow = nullptr;
    g_idle.wait(hold, [] { return g_nInside == 0; });
}
