// The program's only window: picks the image and shows what the process
// plug-in reports about each flashing run.
#pragma once

#include "VemoProc.h"
#include "imagesettings.h"

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class MainWindowForm;
class RunStatus;
class Question;
class ValueEvent;
struct tag_LANG_IF;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Binds the process plug-in: InitVemoProc with the window's callbacks,
    // then DeviceMsgLoop. 0, or the first non-zero result.
    int SetVemoProc(VemoProcFunc* table);
    // Loads "./Vemora.lan" and shows its texts in the language LANG names.
    // 0, or kLanguageFileFailed (the built-in texts stay).
    int ApplyLanguage(tag_LANG_IF* language);
    // Hands the image remembered in the settings to the plug-in again.
    void LoadLastImage();
    // How long a started run may go without progress (120 000 ms).
    void SetWatchdogInterval(int ms);

    // The callback handlers (windowcallbacks.h), on any thread; 0 each.
    int BurnBegin(unsigned int armTimeout);
    int BurnProcess(unsigned int percent, const char* text);
    int BurnError(const char* text);
    int BurnWarning(const char* text);
    int BurnOver();
    // The question of pfnMessageBox: asked directly on the GUI thread, else
    // posted and answered through Question::Answer.
    bool OnGuiThread() const;
    int AskQuestion();
    void PostQuestion(Question* question);
    // Applies the answer's effects and returns 1 (Yes), 0 (No) or -1 (Cancel).
    int QuestionAnswered(int button);
    static int QuestionResult(int button);

    static constexpr int kLanguageFileFailed = 441;
    static constexpr int kNoProcessTable = 442;
    static constexpr int kWatchdogMs = 120000;

public slots:
    void OnImage();
    void OnBurn();
    void OnWizard();
    void OnHelp();
    void OnExit();

protected:
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void SetButtonsEnabled(bool enabled);
    // Progress and the information line reach the GUI thread in posted
    // events; a report while the last one of its kind still waits, with
    // nothing posted after it, replaces its value instead of queueing another
    // (a plug-in may report thousands of times a second).
    void PostProgress(int value);
    void PostInfoText(const QString& text, bool elide = false);
    void PostValue(ValueEvent*& waiting, int type, int value, const QString& text);
    // The value of a report event, taken on the GUI thread.
    int TakeValue(ValueEvent* event, QString& text);
    // Runs f on the GUI thread, after what was posted before.
    void PostToGui(std::function<void()> f);
    // Posts an event to the window, from any thread.
    void Post(QEvent* event);
    QString Text(const char* key) const;
    void ShowLoadedImage(const QString& path);
    void StopWatchdog();

    std::unique_ptr<MainWindowForm> m_pForm;
    tag_LANG_IF* m_pLangFun = nullptr;
    VemoProcFunc* m_pProcFun = nullptr;
    VemoCallbackFun m_callbacks;
    QString m_strIniPath;
    QString m_strImagePath;   // chosen with OnImage
    QString m_strLoadedImage; // the last image the plug-in accepted
    QString m_strInfoText;
    int m_nQuestionEvent;
    int m_nProgressEvent;
    int m_nInfoEvent;
    int m_nCallEvent;
    int m_nProgress = 0;
    int m_nTimerId = 0;
    int m_nWatchdogMs = kWatchdogMs;
    std::atomic<bool> m_bProgressSeen {false};
    std::mutex m_questionLock;
    std::vector<Question*> m_pendingQuestions;
    // The last progress and information events posted, while they wait with
    // nothing posted after them; guarded by m_postLock, which every post to
    // the window takes.
    std::mutex m_postLock;
    ValueEvent* m_pWaitingProgress = nullptr;
    ValueEvent* m_pWaitingInfo = nullptr;
    RunStatus* m_pRunStatus;
};
