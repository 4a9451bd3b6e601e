#include "mainwindow.h"

#include "LanguageInterface.h"
#include "ModulePath.h"
#include "callevent.h"
#include "guihandover.h"
#include "languageindex.h"
#include "mainwindowform.h"
#include "progresstext.h"
#include "questionevent.h"
#include "runstatus.h"
#include "valueevent.h"
#include "windowcallbacks.h"
#include "windowtexts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QThread>
#include <QTimerEvent>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

const char* const kWelcome = "Welcome to Vemora!";
constexpr int kGuideFirstLine = 44;
constexpr int kGuideLastLine = 51;

QString IniPath()
{
    char path[MAX_PATH_LEN];
    return GetModuleRelPath("vemora.ini", path) < 0 ? QString() : QString::fromUtf8(path);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_pForm(std::make_unique<MainWindowForm>())
    , m_callbacks(WindowCallbacks())
{
    m_pForm->SetupUi(this);
    connect(m_pForm->_btnImage, &QPushButton::clicked, this, &MainWindow::OnImage);
    connect(m_pForm->_btnExit, &QPushButton::clicked, this, &MainWindow::OnExit);
    QMetaObject::connectSlotsByName(this);
    m_pRunStatus = new RunStatus(m_pForm->statusBar);
    m_pRunStatus->setObjectName(QStringLiteral("_ctrlRunStatus"));
    m_pForm->statusBar->addWidget(m_pRunStatus, 1);
    m_pRunStatus->SetFormats(Text("Info064"), Text("Info065"));

    setWindowTitle(QStringLiteral("VemoraV3.06"));
    m_nQuestionEvent = QEvent::registerEventType();
    m_nProgressEvent = QEvent::registerEventType();
    m_nInfoEvent = QEvent::registerEventType();
    m_nCallEvent = QEvent::registerEventType();
    PostInfoText(QString::fromLatin1(kWelcome));
    m_strIniPath = IniPath();
    // Reached by the plug-in's threads only once everything above exists.
    AttachWindow(this);
}

MainWindow::~MainWindow()
{
    DetachWindow();
    // No one answers a question any more: the waiting threads get Cancel.
    const std::lock_guard<std::mutex> hold(m_questionLock);
    for (Question* question : m_pendingQuestions)
        question->Answer(QMessageBox::Cancel);
}

int MainWindow::SetVemoProc(VemoProcFunc* table)
{
    m_pProcFun = table;
    if (!m_pProcFun) {
        std::printf("SetVemoProc1 %s %d\n", "mainwindow", __LINE__);
        QMessageBox::critical(
            this, QStringLiteral("Error"), QStringLiteral("m_pProcFun == NULL"), QMessageBox::Ok);
        QCoreApplication::quit();
        return kNoProcessTable;
    }
    void* handle = reinterpret_cast<void*>(winId());
    if (const int result = m_pProcFun->InitVemoProc(handle, m_callbacks))
        return result;
    m_pForm->_ctrlProcess->setValue(0);
    return m_pProcFun->DeviceMsgLoop(handle);
}

int MainWindow::ApplyLanguage(tag_LANG_IF* language)
{
    m_pLangFun = language;
    if (!m_pLangFun || !m_pLangFun->LoadLanFile("./Vemora.lan"))
        return kLanguageFileFailed;
    m_pLangFun->SetLanguage(SelectLanguageIndex());

    m_pForm->_btnExit->setText(Text("Info040"));
    m_pForm->_btnImage->setText(Text("Info041"));
    m_pForm->label_2->setText(Text("Info042"));
    m_pForm->_ctrlImagePath->setText(Text("Info004"));
    m_pRunStatus->SetFormats(Text("Info064"), Text("Info065"));

    QTextBrowser* guide = m_pForm->_guildText;
    guide->setAlignment(Qt::AlignCenter);
    guide->setFontWeight(QFont::Bold);
    guide->append(Text("Info043") + QLatin1Char('\n'));
    guide->setAlignment(Qt::AlignLeft);
    guide->setFontWeight(QFont::Normal);
    for (int line = kGuideFirstLine; line <= kGuideLastLine; ++line) {
        char key[16];
        std::snprintf(key, sizeof key, "Info%03d", line);
        guide->append(Text(key));
    }
    return 0;
}

void MainWindow::LoadLastImage()
{
    const QString image = ImageSettings(m_strIniPath).Read(QStringLiteral("image"));
    if (image.isEmpty() || !m_pProcFun)
        return;
    const QByteArray path = image.toUtf8();
    if (m_pProcFun->LoadFWFile(path.constData()) != 0) {
        std::fprintf(stderr, "Load firmware file %s failed\n", path.constData());
        return;
    }
    PostToGui([this, image] { ShowLoadedImage(image); });
}

void MainWindow::SetWatchdogInterval(int ms)
{
    m_nWatchdogMs = ms;
}

int MainWindow::BurnBegin(unsigned int armTimeout)
{
    // A board arriving in FEL (armTimeout set) starts a run from the image
    // as chosen. A board returning in FES after a time-out (0) still needs
    // the script state its FEL half ran in: reloading would replace it.
    if (armTimeout)
        LoadLastImage();
    SetButtonsEnabled(false);
    PostProgress(0);
    PostInfoText(QString::fromLatin1(kWelcome));
    m_bProgressSeen = false;
    PostToGui([this, armTimeout] {
        const qint64 imageBytes
            = m_strLoadedImage.isEmpty() ? 0 : QFileInfo(m_strLoadedImage).size();
        if (armTimeout)
            m_pRunStatus->Begin(imageBytes);
        else
            m_pRunStatus->Resume(imageBytes);
        StopWatchdog();
        if (armTimeout)
            m_nTimerId = startTimer(m_nWatchdogMs);
    });
    return 0;
}

int MainWindow::BurnProcess(unsigned int percent, const char* text)
{
    PostProgress(static_cast<int>(percent));
    PostInfoText(ProgressLine(percent, text));
    if (percent)
        m_bProgressSeen = true;
    return 0;
}

int MainWindow::BurnError(const char* text)
{
    SetButtonsEnabled(true);
    QString message = Text("Info063");
    if (text)
        message += QStringLiteral(": ") + QString::fromLatin1(text);
    PostProgress(0);
    PostInfoText(message, true);
    // The run is over: its error must not be replaced by the watchdog's text.
    PostToGui([this] {
        StopWatchdog();
        m_pRunStatus->End(false);
    });
    return 0;
}

int MainWindow::BurnWarning(const char* text)
{
    PostProgress(0);
    PostInfoText(QString::fromLatin1(text ? text : ""));
    return 0;
}

int MainWindow::BurnOver()
{
    SetButtonsEnabled(true);
    PostProgress(100);
    PostInfoText(Text("Info062"));
    PostToGui([this] {
        StopWatchdog();
        m_pRunStatus->End(true);
    });
    return 0;
}

bool MainWindow::OnGuiThread() const
{
    return QThread::currentThread() == thread();
}

int MainWindow::AskQuestion()
{
    return QMessageBox::question(this, Text("Info060"), Text("Info061"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoButton);
}

void MainWindow::PostQuestion(Question* question)
{
    {
        const std::lock_guard<std::mutex> hold(m_questionLock);
        m_pendingQuestions.push_back(question);
    }
    const std::lock_guard<std::mutex> hold(m_postLock);
    m_pWaitingProgress = m_pWaitingInfo = nullptr;
    Post(new QuestionEvent(m_nQuestionEvent, question));
}

int MainWindow::QuestionAnswered(int button)
{
    const int result = QuestionResult(button);
    PostProgress(0);
    if (button != QMessageBox::Cancel)
        SetButtonsEnabled(false);
    return result;
}

int MainWindow::QuestionResult(int button)
{
    switch (button) {
    case QMessageBox::Yes:
        return 1;
    case QMessageBox::Cancel:
        return -1;
    default:
        return 0;
    }
}

void MainWindow::OnImage()
{
    const ImageSettings settings(m_strIniPath);
    QString directory = settings.Read(QStringLiteral("image_path"));
    if (directory.isEmpty())
        directory = QString::fromLocal8Bit(qgetenv("HOME"));
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Select Image file ..."), directory, tr("Image file(*.img);;All type(*.*)"));
    if (file.isEmpty())
        return;
    m_strImagePath = file;
    m_pForm->_ctrlImagePath->setText(file);
    const QByteArray path = file.toUtf8();
    if (!m_pProcFun || m_pProcFun->LoadFWFile(path.constData()) != 0) {
        QMessageBox::critical(this, tr("Error"), Text("Info023"), QMessageBox::Ok);
        m_strImagePath.clear();
        m_pForm->_ctrlImagePath->setText(Text("Info004"));
        return;
    }
    m_strLoadedImage = file;
    settings.RememberImage(file);
}

void MainWindow::OnBurn()
{
    std::printf("On click Button %s\n", "OnBurn");
    if (m_strImagePath.isEmpty())
        QMessageBox::warning(this, tr("Burn"), Text("Info024"), QMessageBox::Ok);
}

void MainWindow::OnWizard()
{
    std::printf("On click Button %s\n", "OnWizard");
}

void MainWindow::OnHelp()
{
    std::printf("On click Button %s\n", "OnHelp");
}

void MainWindow::OnExit()
{
    close();
}

void MainWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_nTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }
    StopWatchdog();
    if (m_bProgressSeen)
        return;
    {
        // A question waiting for the user is not a stall.
        const std::lock_guard<std::mutex> hold(m_questionLock);
        if (!m_pendingQuestions.empty()) {
            m_nTimerId = startTimer(m_nWatchdogMs);
            return;
        }
    }
    m_pForm->_btnImage->setEnabled(true);
    m_pForm->_btnExit->setEnabled(true);
    m_pForm->_ctrlInfo->setText(Text("Info005"));
    m_pRunStatus->Stop();
    // The user may go on now: a script that did not get the board going must
    // not keep holding the plug-in (no image load, no next board).
    if (m_pProcFun) {
        const QByteArray why = QStringLiteral("no progress %1 s after the board's run began")
                                   .arg(m_nWatchdogMs / 1000.0)
                                   .toLatin1();
        m_pProcFun->PreVemoMessage(reinterpret_cast<void*>(winId()), VEMO_PM_END_RUN, 0,
            const_cast<char*>(why.constData()));
    }
}

void MainWindow::customEvent(QEvent* event)
{
    MarkDelivered();
    const int type = event->type();
    if (type == m_nQuestionEvent) {
        Question* question = static_cast<QuestionEvent*>(event)->GetQuestion();
        const int button = AskQuestion();
        const std::lock_guard<std::mutex> hold(m_questionLock);
        m_pendingQuestions.erase(
            std::remove(m_pendingQuestions.begin(), m_pendingQuestions.end(), question),
            m_pendingQuestions.end());
        question->Answer(button);
    } else if (type == m_nProgressEvent) {
        QString unused;
        m_nProgress = TakeValue(static_cast<ValueEvent*>(event), unused);
        m_pForm->_ctrlProcess->setValue(m_nProgress);
        m_pRunStatus->Progress(m_nProgress);
    } else if (type == m_nCallEvent) {
        static_cast<CallEvent*>(event)->Run();
    } else if (type == m_nInfoEvent) {
        const bool elide = TakeValue(static_cast<ValueEvent*>(event), m_strInfoText) != 0;
        QLabel* label = m_pForm->_ctrlInfo;
        // Long error texts are cut to two lines' width of the label.
        label->setText(elide ? QFontMetrics(label->font())
                                   .elidedText(m_strInfoText, Qt::ElideRight, 2 * label->width())
                             : m_strInfoText);
    } else {
        QMainWindow::customEvent(event);
    }
}

void MainWindow::SetButtonsEnabled(bool enabled)
{
    PostToGui([this, enabled] {
        m_pForm->_btnImage->setEnabled(enabled);
        m_pForm->_btnExit->setEnabled(enabled);
    });
}

void MainWindow::PostProgress(int value)
{
    PostValue(m_pWaitingProgress, m_nProgressEvent, value, QString());
}

void MainWindow::PostInfoText(const QString& text, bool elide)
{
    PostValue(m_pWaitingInfo, m_nInfoEvent, elide ? 1 : 0, text);
}

void MainWindow::PostValue(ValueEvent*& waiting, int type, int value, const QString& text)
{
    const std::lock_guard<std::mutex> hold(m_postLock);
    if (waiting) {
        waiting->Replace(value, text);
        return;
    }
    waiting = new ValueEvent(type, value, text);
    Post(waiting);
}

int MainWindow::TakeValue(ValueEvent* event, QString& text)
{
    const std::lock_guard<std::mutex> hold(m_postLock);
    if (event == m_pWaitingProgress)
        m_pWaitingProgress = nullptr;
    if (event == m_pWaitingInfo)
        m_pWaitingInfo = nullptr;
    text = event->Text();
    return event->Value();
}

void MainWindow::PostToGui(std::function<void()> f)
{
    // Reports after this call must come after it: no waiting report event
    // takes them any more.
    const std::lock_guard<std::mutex> hold(m_postLock);
    m_pWaitingProgress = m_pWaitingInfo = nullptr;
    Post(new CallEvent(m_nCallEvent, std::move(f)));
}

void MainWindow::Post(QEvent* event)
{
    // The event is complete: from here on it belongs to the GUI thread.
    MarkPosted();
    QCoreApplication::postEvent(this, event);
}

QString MainWindow::Text(const char* key) const
{
    return WindowText(m_pLangFun, key);
}

void MainWindow::ShowLoadedImage(const QString& path)
{
    m_strLoadedImage = path;
    m_pForm->_ctrlImagePath->setText(path);
}

void MainWindow::StopWatchdog()
{
    if (m_nTimerId == 0)
        return;
    killTimer(m_nTimerId);
    m_nTimerId = 0;
}
