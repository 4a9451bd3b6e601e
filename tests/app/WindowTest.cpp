// The main window as the process plug-in and the user see it: widgets and
// texts, the eight callbacks from plug-in threads, questions, the start
// watchdog, the settings and the status bar.
#include "CaptureOutput.h"
#include "ModalCloser.h"
#include "WindowFixture.h"
#include "imagesettings.h"
#include "mainwindow.h"
#include "questionevent.h"
#include "runstatus.h"
#include "windowcallbacks.h"
#include "windowtexts.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>
#include <future>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const char* const kWelcome = "Welcome to Vemora!";

// Runs f on a thread of its own, as the plug-in's threads call the window.
template <typename F> auto OnThread(F f)
{
    return std::async(std::launch::async, f).get();
}

template <typename W> W* Child(QWidget* window, const char* name)
{
    return window->findChild<W*>(QString::fromLatin1(name));
}

QString Info(QWidget* w)
{
    return Child<QLabel>(w, "_ctrlInfo")->text();
}

int Progress(QWidget* w)
{
    return Child<QProgressBar>(w, "_ctrlProcess")->value();
}

// 1 when both buttons are enabled, 0 when both are disabled, -1 otherwise.
int ButtonsEnabled(QWidget* w)
{
    const bool image = Child<QPushButton>(w, "_btnImage")->isEnabled();
    const bool exit = Child<QPushButton>(w, "_btnExit")->isEnabled();
    return image == exit ? int(image) : -1;
}

// Picks path in the file dialog as a user would, and closes it.
void Choose(QFileDialog* dialog, const QString& path)
{
    // The dialog leaves a name typed by the user alone: nothing is typed.
    if (QWidget* typing = dialog->focusWidget())
        typing->clearFocus();
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
}

// Lets posted events arrive.
void Settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

// Swallows the question events sent to the object it filters.
class QuestionCatcher : public QObject {
public:
    bool Caught() const { return m_bCaught; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (!dynamic_cast<QuestionEvent*>(event))
            return false;
        m_bCaught = true;
        return true;
    }

private:
    bool m_bCaught = false;
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void widgetsAndGeometry();
    void languageFileTexts();
    void noLanguageFile();
    void builtInTextsMatchTheLanguageFile();
    void noProcessTable();

    void callbacksWithoutWindow();
    void handlers();
    void burnBeginReloadsOnlyWhenArmed();
    void longErrorIsElided();
    void longProgressTextIsShortened();
    void floodOfReportsIsCoalescedInOrder();
    void question_data();
    void question();
    void questionOnGuiThread();
    void questionWhenWindowCloses();

    void watchdog_data();
    void watchdog();

    void refusedImage();
    void acceptedImage();
    void rootDirectoryImage();
    void unwritableSettings();
    void failedReload();

    void statusBarCounts();
    void statusTexts();

private:
    std::unique_ptr<MainWindow> Bound();
    const VemoCallbackFun& Callbacks() const { return *m_plugins.control->Callbacks(); }
    void WriteIni(const QString& key, const QString& value);
    QString ReadIni(const QString& key);

    WindowPlugins m_plugins;
    QTemporaryDir m_scratch;
    QString m_ini;
};

void WindowTest::initTestCase()
{
    QVERIFY(LoadWindowPlugins(m_plugins));
    QVERIFY(QFile::copy(
        QStringLiteral(VEMORA_BIN_DIR "/Vemora.lan"), m_scratch.filePath(u"Vemora.lan"_s)));
    // "./Vemora.lan" is read from the current folder.
    QVERIFY(QDir::setCurrent(m_scratch.path()));
    m_ini = QCoreApplication::applicationDirPath() + u"/vemora.ini"_s;
    qputenv("LANG", "en_US.UTF-8");
}

void WindowTest::init()
{
    QFile::remove(m_ini);
    m_plugins.control->Reset();
}

std::unique_ptr<MainWindow> WindowTest::Bound()
{
    auto window = std::make_unique<MainWindow>();
    if (window->ApplyLanguage(m_plugins.language) != 0
        || window->SetVemoProc(m_plugins.process) != 0)
        return nullptr;
    Settle();
    return window;
}

void WindowTest::WriteIni(const QString& key, const QString& value)
{
    QSettings(m_ini, QSettings::IniFormat).setValue(u"Vemora/"_s + key, value);
}

QString WindowTest::ReadIni(const QString& key)
{
    return QSettings(m_ini, QSettings::IniFormat).value(u"Vemora/"_s + key).toString();
}

void WindowTest::widgetsAndGeometry()
{
    MainWindow window;
    QCOMPARE(window.objectName(), u"MainWindow"_s);
    QCOMPARE(window.size(), QSize(804, 593));
    QCOMPARE(window.minimumSize(), QSize(804, 593));
    QCOMPARE(window.maximumSize(), QSize(804, 593));
    QCOMPARE(window.font().pointSize(), 14);
    QCOMPARE(window.windowTitle(), u"VemoraV3.06"_s);
    QCOMPARE(window.centralWidget()->objectName(), u"centralWidget"_s);
    QCOMPARE(window.statusBar()->objectName(), u"statusBar"_s);

    struct Expected {
        const char* name;
        const char* className;
        QRect geometry;
        int points;
    };
    const Expected widgets[] = {
        {"_btnImage", "QPushButton", {10, 14, 121, 41}, 12},
        {"_ctrlImagePath", "QLineEdit", {140, 20, 651, 31}, 12},
        {"_btnExit", "QPushButton", {670, 510, 101, 41}, 12},
        {"label_2", "QLabel", {20, 70, 111, 21}, 13},
        {"_ctrlInfo", "QLabel", {20, 110, 771, 61}, 12},
        {"_ctrlProcess", "QProgressBar", {140, 70, 651, 23}, 12},
        {"_guildText", "QTextBrowser", {20, 180, 771, 321}, 12},
    };
    for (const Expected& expected : widgets) {
        QWidget* widget = Child<QWidget>(&window, expected.name);
        QVERIFY2(widget, expected.name);
        QCOMPARE(widget->metaObject()->className(), expected.className);
        QCOMPARE(widget->geometry(), expected.geometry);
        QCOMPARE(widget->font().pointSize(), expected.points);
    }
    for (const char* name : {"_btnImage", "_btnExit"}) {
        auto* button = Child<QPushButton>(&window, name);
        QVERIFY(!button->icon().pixmap(QSize(36, 36)).isNull());
        QCOMPARE(button->iconSize(), QSize(36, 36));
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
    }
    QVERIFY(QFile::exists(u":/main/button/res/burn.png"_s));
    QVERIFY(QFile::exists(u":/main/button/res/quit.png"_s));
    QCOMPARE(Child<QPushButton>(&window, "_btnImage")->focusPolicy(), Qt::TabFocus);
    QVERIFY(Child<QLineEdit>(&window, "_ctrlImagePath")->isReadOnly());
    auto* info = Child<QLabel>(&window, "_ctrlInfo");
    QVERIFY(info->wordWrap());
    QCOMPARE(info->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(Child<QLabel>(&window, "label_2")->alignment(), Qt::AlignCenter);
    auto* guide = Child<QTextBrowser>(&window, "_guildText");
    QCOMPARE(guide->minimumSize(), QSize(521, 192));
    QCOMPARE(guide->maximumSize(), QSize(800, 500));
    QCOMPARE(guide->font().weight(), QFont::Normal);
    QCOMPARE(guide->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // Built-in texts, the welcome line, and 24 until a plug-in is bound.
    QCOMPARE(Child<QPushButton>(&window, "_btnImage")->text(), u"Image"_s);
    QCOMPARE(Child<QPushButton>(&window, "_btnExit")->text(), u"Exit"_s);
    QCOMPARE(Child<QLabel>(&window, "label_2")->text(), u"Progress"_s);
    QCOMPARE(Progress(&window), 24);
    Settle();
    QCOMPARE(Info(&window), QString::fromLatin1(kWelcome));
    QCOMPARE(window.SetVemoProc(m_plugins.process), 0);
    QCOMPARE(Progress(&window), 0);
    QCOMPARE(
        QString::fromStdString(m_plugins.control->Calls()), u"InitVemoProc\nDeviceMsgLoop\n"_s);
}

void WindowTest::languageFileTexts()
{
    qputenv("LANG", "fr_CA.UTF-8");
    MainWindow window;
    QCOMPARE(window.ApplyLanguage(m_plugins.language), 0);
    qputenv("LANG", "en_US.UTF-8");
    QCOMPARE(Child<QPushButton>(&window, "_btnExit")->text(), u"Quitter"_s);
    QCOMPARE(Child<QPushButton>(&window, "_btnImage")->text(), u"Image"_s);
    QCOMPARE(Child<QLabel>(&window, "label_2")->text(), u"Progression"_s);
    QVERIFY(
        Child<QLineEdit>(&window, "_ctrlImagePath")->text().startsWith(u"Aucune image choisie"_s));
    const QStringList guide
        = Child<QTextBrowser>(&window, "_guildText")->toPlainText().split(QLatin1Char('\n'));
    QVERIFY2(guide.size() >= 9, qPrintable(guide.join(QLatin1Char('|'))));
    QCOMPARE(guide.first(), u"Comment flasher un appareil"_s);
    QVERIFY(guide.last().contains(u"udev"_s));
    for (int step = 1; step <= 5; ++step)
        QVERIFY(guide.filter(QRegularExpression(u"^%1\\. "_s.arg(step))).size() == 1);
    m_plugins.language->SetLanguage(0);
}

void WindowTest::noLanguageFile()
{
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    MainWindow window;
    const int result = window.ApplyLanguage(m_plugins.language);
    QVERIFY(QDir::setCurrent(m_scratch.path()));
    QCOMPARE(result, MainWindow::kLanguageFileFailed);
    QCOMPARE(Child<QPushButton>(&window, "_btnImage")->text(), u"Image"_s);
    QCOMPARE(Child<QPushButton>(&window, "_btnExit")->text(), u"Exit"_s);
    QCOMPARE(Child<QLabel>(&window, "label_2")->text(), u"Progress"_s);
    QCOMPARE(Child<QTextBrowser>(&window, "_guildText")->toPlainText(), QString());
}

// Without a language file the window falls back on its own English texts:
// they are the shipped file's.
void WindowTest::builtInTextsMatchTheLanguageFile()
{
    QVERIFY(m_plugins.language->LoadLanFile("./Vemora.lan"));
    m_plugins.language->SetLanguage(0);
    for (const char* key : {"Info004", "Info005", "Info023", "Info024", "Info040", "Info041",
             "Info042", "Info060", "Info061", "Info062", "Info063", "Info064", "Info065"}) {
        QCOMPARE(WindowText(nullptr, key), WindowText(m_plugins.language, key));
        QVERIFY(!WindowText(nullptr, key).isEmpty());
    }
    QCOMPARE(WindowText(nullptr, "Info043"), QString());
}

void WindowTest::noProcessTable()
{
    MainWindow window;
    QString box;
    ModalCloser closer([&](QWidget* w) {
        auto* message = qobject_cast<QMessageBox*>(w);
        box = message->windowTitle() + QLatin1Char('|') + message->text()
            + (message->parentWidget() == &window ? u"|window"_s : QString());
        message->button(QMessageBox::Ok)->click();
    });
    CaptureOutput out(stdout);
    QCOMPARE(window.SetVemoProc(nullptr), MainWindow::kNoProcessTable);
    QVERIFY(QString::fromStdString(out.Text()).startsWith(u"SetVemoProc1 mainwindow "_s));
    QCOMPARE(box, u"Error|m_pProcFun == NULL|window"_s);
    QCOMPARE(QString::fromStdString(m_plugins.control->Calls()), QString());
}

void WindowTest::callbacksWithoutWindow()
{
    // Before any window exists, and after the window is gone.
    for (int round = 0; round < 2; ++round) {
        const VemoCallbackFun callbacks = round == 0 ? WindowCallbacks() : Callbacks();
        unsigned int length = 0;
        QCOMPARE(callbacks.pfnBurnBegin(nullptr, 1, nullptr), 20);
        QCOMPARE(callbacks.pfnBurnProcess(nullptr, 50, "text"), 26);
        QCOMPARE(callbacks.pfnBurnError(nullptr, 0, "text"), 32);
        QCOMPARE(callbacks.pfnBurnWarning(nullptr, 0, "text"), 38);
        QCOMPARE(callbacks.pfnBurnOver(nullptr, 0, "text"), 44);
        QCOMPARE(callbacks.pfnUpdateTipInfo(nullptr, 0, nullptr), 50);
        QCOMPARE(callbacks.pfnLoadDynamic(nullptr, nullptr, &length), 62);
        QCOMPARE(callbacks.pfnMessageBox(nullptr, nullptr, nullptr), 56);
        QVERIFY(m_plugins.control->Calls().find("LoadFWFile") == std::string::npos);
        if (round == 0)
            QVERIFY(Bound());
    }
}

// Each handler's effect, in the order of runs, called from plug-in threads.
void WindowTest::handlers()
{
    const auto window = Bound();
    QVERIFY(window);
    const VemoCallbackFun& cb = Callbacks();
    unsigned int length = 0;
    const QString welcome = QString::fromLatin1(kWelcome);
    const QString progress = u" Writing rootfs  40%"_s;
    struct Step {
        std::function<int()> call;
        QString info;
        int progress;
        bool buttonsEnabled;
    };
    const Step steps[] = {
        {[&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); }, welcome, 0, false},
        {[&] { return cb.pfnBurnProcess(nullptr, 40, "Writing rootfs"); }, progress, 40, false},
        {[&] { return cb.pfnUpdateTipInfo(nullptr, 0, nullptr); }, progress, 40, false},
        {[&] { return cb.pfnLoadDynamic(nullptr, nullptr, &length); }, progress, 40, false},
        {[&] { return cb.pfnBurnWarning(nullptr, 0, "Battery low"); }, "Battery low", 0, false},
        {[&] { return cb.pfnBurnError(nullptr, 0, nullptr); }, "Flashing failed", 0, true},
        {[&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); }, welcome, 0, false},
        {[&] { return cb.pfnBurnError(nullptr, 0, "no answer"); }, "Flashing failed: no answer", 0,
            true},
        {[&] { return cb.pfnBurnOver(nullptr, 0, "done"); },
            "Flashing finished. You can unplug the device now.", 100, true},
    };
    for (const Step& step : steps) {
        QCOMPARE(OnThread(step.call), 0);
        Settle();
        QCOMPARE(Info(window.get()), step.info);
        QCOMPARE(Progress(window.get()), step.progress);
        QCOMPARE(ButtonsEnabled(window.get()), int(step.buttonsEnabled));
    }
}

void WindowTest::burnBeginReloadsOnlyWhenArmed()
{
    const QString image = m_scratch.filePath(u"chosen.img"_s);
    QFile(image).open(QIODevice::WriteOnly);
    WriteIni(u"image"_s, image);
    const auto window = Bound();
    QVERIFY(window);
    m_plugins.control->Reset();
    const VemoCallbackFun cb = WindowCallbacks();

    // A FES return after a time-out (0) keeps the script state: no reload.
    QCOMPARE(OnThread([&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); }), 0);
    QTRY_COMPARE(ButtonsEnabled(window.get()), 0);
    QCOMPARE(QString::fromStdString(m_plugins.control->Calls()), QString());

    QCOMPARE(OnThread([&] { return cb.pfnBurnBegin(nullptr, 1, nullptr); }), 0);
    QCOMPARE(
        QString::fromStdString(m_plugins.control->Calls()), u"LoadFWFile "_s + image + u"\n"_s);
    QTRY_COMPARE(Child<QLineEdit>(window.get(), "_ctrlImagePath")->text(), image);
}

void WindowTest::longErrorIsElided()
{
    const auto window = Bound();
    QVERIFY(window);
    const std::string text(2000, 'x');
    OnThread([&] { return Callbacks().pfnBurnError(nullptr, 0, text.c_str()); });
    QTRY_VERIFY(Info(window.get()).startsWith(u"Flashing failed: xxx"_s));
    auto* label = Child<QLabel>(window.get(), "_ctrlInfo");
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= 2 * label->width());
}

void WindowTest::longProgressTextIsShortened()
{
    const auto window = Bound();
    QVERIFY(window);
    const std::string text(300, 'y');
    OnThread([&] { return Callbacks().pfnBurnProcess(nullptr, 40, text.c_str()); });
    QTRY_VERIFY(Info(window.get()).endsWith(u"...  40%"_s));
    QCOMPARE(Info(window.get()).size(), 255);
    QVERIFY(Info(window.get()).startsWith(u" yyy"_s));
}

// Counts the events posted to the object it filters.
class PostedCount : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() >= QEvent::User || event->type() == QEvent::MetaCall;
        return false;
    }
    int count = 0;
};

// Thousands of reports while the GUI thread is busy take a few events, and a
// report made after another call is shown after that call's effects.
void WindowTest::floodOfReportsIsCoalescedInOrder()
{
    const auto window = Bound();
    QVERIFY(window);
    PostedCount posted;
    window->installEventFilter(&posted);
    const VemoCallbackFun& cb = Callbacks();
    OnThread([&] {
        for (unsigned int i = 0; i < 5000; ++i)
            cb.pfnBurnProcess(nullptr, i % 100, "step");
        cb.pfnBurnBegin(nullptr, 0, nullptr); // progress 0, the welcome text
        for (unsigned int i = 0; i <= 5000; ++i)
            cb.pfnBurnProcess(nullptr, i % 100, i < 5000 ? "step" : "last");
        return 0;
    });
    Settle();
    QCOMPARE(Progress(window.get()), 0); // 5000 % 100
    QCOMPARE(Info(window.get()), u" last  0%"_s);
    QCOMPARE(ButtonsEnabled(window.get()), 0);
    // Progress and text before and after the begin, and its four posts
    // (buttons, progress, text, status bar), not one per report.
    QCOMPARE(posted.count, 8);
}

void WindowTest::question_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("buttonsEnabled");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << 1 << false;
    QTest::newRow("No") << int(QMessageBox::No) << 0 << false;
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << -1 << true;
}

void WindowTest::question()
{
    QFETCH(int, button);
    QFETCH(int, result);
    QFETCH(bool, buttonsEnabled);
    const auto window = Bound();
    QVERIFY(window);
    OnThread([&] { return Callbacks().pfnBurnProcess(nullptr, 30, "step"); });

    QString title, text;
    int buttons = 0;
    ModalCloser closer([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        box->button(QMessageBox::StandardButton(button))->click();
    });
    const VemoCallbackFun cb = Callbacks();
    auto asked = std::async(
        std::launch::async, [&] { return cb.pfnMessageBox(nullptr, nullptr, nullptr); });
    QTRY_VERIFY(asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(asked.get(), result);
    QCOMPARE(title, u"Question"_s);
    QCOMPARE(text,
        QStringLiteral(
            "The firmware asks whether to go on with the next step. Do you want to go on?"));
    QCOMPARE(buttons, int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel));
    QTRY_COMPARE(Progress(window.get()), 0);
    QCOMPARE(ButtonsEnabled(window.get()), int(buttonsEnabled));
}

void WindowTest::questionOnGuiThread()
{
    const auto window = Bound();
    QVERIFY(window);
    ModalCloser closer([](QWidget* dialog) {
        qobject_cast<QMessageBox*>(dialog)->button(QMessageBox::Yes)->click();
    });
    QCOMPARE(Callbacks().pfnMessageBox(nullptr, nullptr, nullptr), 1);
    QCOMPARE(closer.Answered(), 1);
}

void WindowTest::questionWhenWindowCloses()
{
    auto window = Bound();
    QVERIFY(window);
    // The question reaches the window but is never shown: nobody answers it.
    QuestionCatcher catcher;
    window->installEventFilter(&catcher);
    const VemoCallbackFun cb = Callbacks();
    auto asked = std::async(
        std::launch::async, [&] { return cb.pfnMessageBox(nullptr, nullptr, nullptr); });
    QTRY_VERIFY((QCoreApplication::sendPostedEvents(window.get()), catcher.Caught()));
    QVERIFY(asked.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout);
    window.reset();
    QVERIFY(asked.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QCOMPARE(asked.get(), -1);
}

void WindowTest::watchdog_data()
{
    QTest::addColumn<int>("percent"); // -1: no progress report
    QTest::addColumn<bool>("error");
    QTest::addColumn<bool>("asking");
    QTest::addColumn<bool>("fires");
    QTest::newRow("no progress") << -1 << false << false << true;
    QTest::newRow("progress") << 5 << false << false << false;
    QTest::newRow("zero percent") << 0 << false << false << true;
    // The run's end stays on the information line.
    QTest::newRow("error") << -1 << true << false << false;
    // The user has a question to answer: the run is not stalled.
    QTest::newRow("question") << -1 << false << true << false;
}

void WindowTest::watchdog()
{
    QFETCH(int, percent);
    QFETCH(bool, error);
    QFETCH(bool, asking);
    QFETCH(bool, fires);
    auto window = Bound();
    QVERIFY(window);
    window->SetWatchdogInterval(100);
    const VemoCallbackFun& cb = Callbacks();
    OnThread([&] { return cb.pfnBurnBegin(nullptr, 1, nullptr); });
    QuestionCatcher catcher; // the question stays unanswered
    std::future<int> asked;
    if (asking) {
        window->installEventFilter(&catcher);
        asked = std::async(
            std::launch::async, [&] { return cb.pfnMessageBox(nullptr, nullptr, nullptr); });
        QTRY_VERIFY((QCoreApplication::sendPostedEvents(window.get()), catcher.Caught()));
    }
    if (percent >= 0)
        OnThread([&] { return cb.pfnBurnProcess(nullptr, percent, "step"); });
    if (error)
        OnThread([&] { return cb.pfnBurnError(nullptr, 0, "FEL failed"); });
    const auto stalled
        = [&] { return Info(window.get()).startsWith(u"The device did not start"_s); };
    if (fires) {
        QTRY_VERIFY(stalled());
    } else {
        QTest::qWait(400);
        QVERIFY(!stalled());
    }
    QCOMPARE(ButtonsEnabled(window.get()), asking ? 0 : int(fires || error));
    // A stalled run's script is ended, so the user can go on.
    QCOMPARE(
        QString::fromStdString(m_plugins.control->Calls())
            .contains(u"PreVemoMessage 0x5701 0 no progress 0.1 s after the board's run began"_s),
        fires);
    if (asking) {
        window.reset(); // the question is answered Cancel
        QCOMPARE(asked.get(), -1);
    }
}

void WindowTest::refusedImage()
{
    const QString old = m_scratch.filePath(u"old/old.img"_s);
    WriteIni(u"image_path"_s, m_scratch.filePath(u"old"_s));
    WriteIni(u"image"_s, old);
    QDir(m_scratch.path()).mkpath(u"old"_s);
    QDir(m_scratch.path()).mkpath(u"new"_s);
    const QString chosen = m_scratch.filePath(u"new/broken.img"_s);
    QFile(chosen).open(QIODevice::WriteOnly);
    const auto window = Bound();
    QVERIFY(window);
    m_plugins.control->SetLoadResult(5);

    QString startDir, boxText;
    ModalCloser closer([&](QWidget* w) {
        if (auto* files = qobject_cast<QFileDialog*>(w)) {
            startDir = files->directory().absolutePath();
            Choose(files, chosen);
        } else if (auto* message = qobject_cast<QMessageBox*>(w)) {
            boxText = message->windowTitle() + QLatin1Char('|') + message->text();
            message->button(QMessageBox::Ok)->click();
        }
    });
    window->OnImage();
    QCOMPARE(startDir, m_scratch.filePath(u"old"_s));
    QCOMPARE(closer.Answered(), 2);
    QCOMPARE(boxText,
        QStringLiteral("Error|Vemora cannot use this file: it is not a firmware image Vemora can "
                       "read, or it is damaged. Please choose another image."));
    QVERIFY(
        Child<QLineEdit>(window.get(), "_ctrlImagePath")->text().startsWith(u"No image chosen"_s));
    QCOMPARE(ReadIni(u"image"_s), old);
    QCOMPARE(ReadIni(u"image_path"_s), m_scratch.filePath(u"old"_s));

    // The refused image is forgotten: a burn asks for an image first.
    QMetaObject::invokeMethod(window.get(), "OnBurn");
    QCOMPARE(closer.Answered(), 3);
    QCOMPARE(boxText, u"Burn|Please choose a firmware image first."_s);
}

void WindowTest::acceptedImage()
{
    // Without a remembered folder the dialog starts at HOME.
    const QString home = m_scratch.filePath(u"home"_s);
    QDir().mkpath(home + u"/images"_s);
    const QString chosen = home + u"/images/good.img"_s;
    QFile(chosen).open(QIODevice::WriteOnly);
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.toLocal8Bit());
    const auto window = Bound();
    QVERIFY(window);
    QString startDir;
    ModalCloser dialog([&](QWidget* w) {
        auto* files = qobject_cast<QFileDialog*>(w);
        startDir = files->directory().absolutePath();
        Choose(files, chosen);
    });
    window->OnImage();
    qputenv("HOME", savedHome);
    QCOMPARE(startDir, home);
    QCOMPARE(dialog.Answered(), 1);
    QCOMPARE(Child<QLineEdit>(window.get(), "_ctrlImagePath")->text(), chosen);
    QCOMPARE(ReadIni(u"image_path"_s), home + u"/images"_s);
    QCOMPARE(ReadIni(u"image"_s), chosen);
    QVERIFY(
        m_plugins.control->Calls().find("LoadFWFile " + chosen.toStdString()) != std::string::npos);
}

// Settings that cannot be read or written: the image is used all the same,
// the window says so on standard error, and the path is left as it was.
void WindowTest::unwritableSettings()
{
    QVERIFY(QDir().mkpath(m_ini)); // a folder where the file should be
    const QString chosen = m_scratch.filePath(u"unwritable.img"_s);
    QFile(chosen).open(QIODevice::WriteOnly);
    const auto window = Bound();
    QVERIFY(window);
    CaptureOutput err(stderr);
    ModalCloser dialog([&](QWidget* w) { Choose(qobject_cast<QFileDialog*>(w), chosen); });
    window->OnImage();
    const QString said = QString::fromStdString(err.Text());
    QCOMPARE(dialog.Answered(), 1); // no error box: the image is fine
    QCOMPARE(Child<QLineEdit>(window.get(), "_ctrlImagePath")->text(), chosen);
    QVERIFY2(said.contains(u"Cannot read the settings "_s + m_ini), qPrintable(said));
    QVERIFY2(said.contains(u"Cannot save image in the settings "_s + m_ini), qPrintable(said));
    QVERIFY(QFileInfo(m_ini).isDir());
    QVERIFY(QDir().rmdir(m_ini));
}

void WindowTest::rootDirectoryImage()
{
    const ImageSettings settings(m_ini);
    settings.RememberImage(u"/opt/images/a.img"_s);
    QCOMPARE(ReadIni(u"image_path"_s), u"/opt/images"_s);
    // The directory of an image in "/" is empty: it is not written.
    settings.RememberImage(u"/b.img"_s);
    QCOMPARE(ReadIni(u"image_path"_s), u"/opt/images"_s);
    QCOMPARE(ReadIni(u"image"_s), u"/b.img"_s);
    settings.RememberImage(u"c.img"_s);
    QCOMPARE(ReadIni(u"image_path"_s), u"c.img"_s);
}

void WindowTest::failedReload()
{
    const QString missing = m_scratch.filePath(u"gone.img"_s);
    WriteIni(u"image"_s, missing);
    WriteIni(u"image_path"_s, m_scratch.path());
    const auto window = Bound();
    QVERIFY(window);
    const QString before = Child<QLineEdit>(window.get(), "_ctrlImagePath")->text();
    CaptureOutput err(stderr);
    window->LoadLastImage();
    const std::string printed = err.Text();
    Settle();
    QCOMPARE(QString::fromStdString(printed), u"Load firmware file "_s + missing + u" failed\n"_s);
    QCOMPARE(Child<QLineEdit>(window.get(), "_ctrlImagePath")->text(), before);
    QCOMPARE(ReadIni(u"image"_s), missing);
    QCOMPARE(ReadIni(u"image_path"_s), m_scratch.path());
}

void WindowTest::statusBarCounts()
{
    const auto window = Bound();
    QVERIFY(window);
    auto* status = Child<RunStatus>(window.get(), "_ctrlRunStatus");
    QVERIFY(status);
    QCOMPARE(status->text(), u"Finished: 0   Failed: 0"_s);
    const VemoCallbackFun& cb = Callbacks();
    OnThread([&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); });
    QTRY_VERIFY(status->text().contains(u"Elapsed: 0:00"_s));
    OnThread([&] { return cb.pfnBurnOver(nullptr, 0, nullptr); });
    QTRY_COMPARE(status->text(), u"Finished: 1   Failed: 0"_s);
    // A failed run: the script's reason, then the tool driver's text.
    OnThread([&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); });
    OnThread([&] { return cb.pfnBurnError(nullptr, 0, "FES: CMD_FES_TRANS failed"); });
    OnThread([&] {
        return cb.pfnBurnError(nullptr, 0, "returned value of Tools.entry_fes_thread is error");
    });
    // A board refused before its run began.
    OnThread([&] { return cb.pfnBurnError(nullptr, 0, "Get Device Stage Failed!"); });
    QTRY_VERIFY(Info(window.get()).endsWith(u"Get Device Stage Failed!"_s));
    QCOMPARE(status->text(), u"Finished: 1   Failed: 1"_s);
    // A board back in FES after its wait ran out: its run goes on, and the
    // failure the time-out counted is taken back.
    OnThread([&] { return cb.pfnBurnBegin(nullptr, 1, nullptr); });
    OnThread([&] { return cb.pfnBurnError(nullptr, 0, "Wait for Fes Device Timeout..."); });
    QTRY_COMPARE(status->text(), u"Finished: 1   Failed: 2"_s);
    OnThread([&] { return cb.pfnBurnBegin(nullptr, 0, nullptr); });
    QTRY_VERIFY(status->text().startsWith(u"Finished: 1   Failed: 1      Elapsed: "_s));
    OnThread([&] { return cb.pfnBurnOver(nullptr, 0, nullptr); });
    QTRY_COMPARE(status->text(), u"Finished: 2   Failed: 1"_s);
}

void WindowTest::statusTexts()
{
    QCOMPARE(RunStatus::ElapsedText(0), u"0:00"_s);
    QCOMPARE(RunStatus::ElapsedText(65000), u"1:05"_s);
    QCOMPARE(RunStatus::ElapsedText(3723000), u"1:02:03"_s);
    QCOMPARE(RunStatus::RateText(100000000, 50, 10000), u"5.0 MB/s"_s);
    QCOMPARE(RunStatus::RateText(1000000, 10, 1000), u"100 kB/s"_s);
    QCOMPARE(RunStatus::RateText(1000000, 0, 1000), QString());
    QCOMPARE(RunStatus::RateText(0, 50, 1000), QString());
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
