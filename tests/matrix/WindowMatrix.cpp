// The fault matrix (Cells.h) through the window: the program's window and
// plug-ins, loaded as Vemora loads them from the folder of this test (links
// to build/bin), with simulated boards plugged on a bus in this process. Per
// cell the bad board, then a good one. What the information line showed is
// what the user saw: the bad board must end on an error text with the
// buttons enabled and never on the finish text; the good one must finish.
#include "BadInput.h"
#include "Cells.h"
#include "Files.h"
#include "LanguageInterface.h"
#include "ModalCloser.h"
#include "PluginWiring.h"
#include "SampleFlash.h"
#include "SessionHost.h"
#include "SimDevice.h"
#include "imagesettings.h"
#include "mainwindow.h"
#include "valueevent.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The run has ended when an error stays this long.
constexpr auto kQuiet = 200ms;
constexpr auto kCellTime = 20s;

const QString kFailed = QStringLiteral("Flashing failed");
const QString kFinished = QStringLiteral("Flashing finished. You can unplug the device now.");
const QString kStalled = QStringLiteral("The device did not start flashing");

QString Info(QWidget& window)
{
    return window.findChild<QLabel*>(QStringLiteral("_ctrlInfo"))->text();
}

bool ButtonsEnabled(QWidget& window)
{
    return window.findChild<QPushButton*>(QStringLiteral("_btnImage"))->isEnabled()
        && window.findChild<QPushButton*>(QStringLiteral("_btnExit"))->isEnabled();
}

simdev::BoardOptions BoardFor(const Cell* cell)
{
    simdev::BoardOptions options;
    options.flash_size = 33ull << 20; // just room for the partitions
    options.flash_file = simdev::FlashFile::Unnamed;
    options.fes_delay = 20ms;
    if (!cell)
        return options;
    std::string error;
    EXPECT_TRUE(simdev::ParseFaults(cell->simFaults, options.faults, error)) << error;
    if (*cell->openError)
        options.open_error = EACCES; // the only one the cells name
    options.returns_in_fes = cell->returnsInFes;
    return options;
}

// Every text the window is told to show on its information line, in order:
// the line may change more than once between two looks at it, and to the
// text it had before.
class InfoLog : public QObject {
public:
    explicit InfoLog(QWidget& window)
        : m_window(window)
    {
        m_window.installEventFilter(this);
    }
    ~InfoLog() override { m_window.removeEventFilter(this); }
    InfoLog(const InfoLog&) = delete;
    InfoLog& operator=(const InfoLog&) = delete;

    std::vector<QString> texts;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const auto* value = dynamic_cast<ValueEvent*>(event);
        if (value && !value->Text().isEmpty())
            texts.push_back(value->Text());
        return false;
    }

private:
    QWidget& m_window;
};

// The texts the information line is given while a board's run goes on (and
// the start watchdog's, which it sets itself), until `done` holds for the
// last of them and nothing new came for `quiet`, or `timeout` passed.
template <typename Done>
std::vector<QString> Watch(
    QWidget& window, Done done, Clock::duration quiet, Clock::duration timeout)
{
    InfoLog log(window);
    const auto end = Clock::now() + timeout;
    size_t seen = 0;
    auto changed = Clock::now();
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
        const QString shown = Info(window);
        if (shown.startsWith(kStalled) && (log.texts.empty() || log.texts.back() != shown))
            log.texts.push_back(shown);
        if (log.texts.size() != seen) {
            seen = log.texts.size();
            changed = Clock::now();
        }
        if (seen && done(log.texts.back()) && Clock::now() - changed >= quiet)
            return log.texts;
    }
    log.texts.push_back(QStringLiteral("(no end within the cell's time)"));
    return log.texts;
}

// What the user read about the bad board: its error texts (and the stall
// text) in the order they came.
std::string Seen(const std::vector<QString>& texts)
{
    std::string seen;
    for (const QString& text : texts) {
        if (!text.startsWith(kFailed) && !text.startsWith(kStalled))
            continue;
        seen += (seen.empty() ? "" : " → ") + text.trimmed().toStdString();
    }
    return seen;
}

Outcome RunCell(const Cell& cell, simdev::Bus& bus, QWidget& window)
{
    Outcome outcome;
    if (*cell.scriptFault)
        WriteFile(kScriptPlan, cell.scriptFault);
    auto bad = bus.Plug(BoardFor(&cell));
    const auto texts = Watch(
        window,
        [&](const QString& text) { return text.startsWith(kFailed) && ButtonsEnabled(window); },
        kQuiet, kCellTime);
    outcome.seen = Seen(texts);
    const bool finished = std::find(texts.begin(), texts.end(), kFinished) != texts.end();
    if (bad && bad->OnBus())
        bus.Unplug(*bad);
    if (finished) {
        outcome.result = "the finish text was shown for the bad board";
        return outcome;
    }
    if (!texts.back().startsWith(kFailed)) {
        outcome.result = "no error at the end: " + texts.back().toStdString();
        return outcome;
    }

    auto good = bus.Plug(BoardFor(nullptr));
    const auto next = Watch(
        window, [&](const QString& text) { return text == kFinished && ButtonsEnabled(window); },
        0ms, kCellTime);
    if (next.back() != kFinished || !good
        || !FlashHoldsSample(good->ReadFlash(0, good->FlashSize()))) {
        outcome.result = "the next board was not flashed: " + next.back().toStdString();
        return outcome;
    }
    bus.Unplug(*good);
    outcome.passed = true;
    outcome.result = std::string(EndKind(cell)) + ", next board ok";
    return outcome;
}

// The program as Vemora starts it, for the whole test program.
struct Program {
    MainWindow window;
    VemoProcFunc* process = nullptr;
    simdev::Bus bus;
    std::string error; // why it did not start
};
Program* g_pProgram = nullptr;

QString IniPath()
{
    return QDir::current().filePath(QStringLiteral("vemora.ini"));
}

// The image the user picked last, as the window's settings keep it.
void Remember(const QString& image)
{
    ImageSettings(IniPath()).RememberImage(image);
}

std::string Start(Program& program)
{
    tag_PLUGIN_MAN* manager = OpenPluginCenter();
    if (!manager)
        return "no plug-in center";
    PluginLoadInfo record;
    auto* language
        = static_cast<tag_LANG_IF*>(ObtainInterface(*manager, record, LANGHUB_GUID, "langhub.dll"));
    if (!language || program.window.ApplyLanguage(language) != 0)
        return "no language plug-in or file";
    program.process = static_cast<VemoProcFunc*>(
        ObtainInterface(*manager, record, VEMOPROC_GUID, "VemoProc.Plg"));
    if (!program.process || program.window.SetVemoProc(program.process) != 0)
        return "no process plug-in";
    program.process->PreVemoMessage(nullptr, VEMO_PM_RUN_LIMIT, kScriptLimitMs, nullptr);
    program.window.SetWatchdogInterval(kWatchdogMs);
    program.window.show();
    if (!program.bus.WaitForListener(5s))
        return "the monitor does not listen";
    return "";
}

TEST(FaultMatrix, ThroughTheWindow)
{
    ASSERT_EQ("", g_pProgram->error);
    Program& program = *g_pProgram;
    std::remove(kScriptPlan);
    Remember(QStringLiteral(MATRIX_IMG));
    program.window.LoadLastImage();
    std::vector<Outcome> outcomes;
    for (const Cell& cell : kCells) {
        outcomes.push_back(RunCell(cell, program.bus, program.window));
        EXPECT_TRUE(outcomes.back().passed)
            << cell.step << ", " << cell.fault << ": " << outcomes.back().result << "\n"
            << outcomes.back().seen;
    }
    WriteTable("window.md", "Through the window", "The information line", outcomes);
}

// Bad input (BadInput.h) through the window: each image picked with the Image
// button. A refused one gets the error box and the settings keep the image
// picked before; the others are taken and a board fails with an error text,
// or, for the odd paths, is flashed. The image files stay as they were and
// nothing in a path is executed.
TEST(BadInput, ThroughTheWindow)
{
    ASSERT_EQ("", g_pProgram->error);
    Program& program = *g_pProgram;
    ScratchDir scratch;
    const QString refusal = QStringLiteral(
        "Vemora cannot use this file: it is not a firmware image Vemora can read, or it is "
        "damaged. Please choose another image.");
    for (const BadInput& input : MakeBadInputs(scratch.path())) {
        SCOPED_TRACE(input.what);
        const std::string before = ReadFile(input.path);
        const QString path = QString::fromStdString(input.path);
        Remember(QStringLiteral(MATRIX_IMG));
        QString box;
        ModalCloser closer([&](QWidget* dialog) {
            if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
                if (QWidget* typing = files->focusWidget())
                    typing->clearFocus(); // nothing typed: the selection counts
                files->selectFile(path);
                static_cast<QDialog*>(files)->done(QDialog::Accepted);
            } else if (auto* message = qobject_cast<QMessageBox*>(dialog)) {
                box = message->text();
                message->button(QMessageBox::Ok)->click();
            }
        });
        program.window.OnImage();
        const QString remembered = ImageSettings(IniPath()).Read(QStringLiteral("image"));
        if (input.refused) {
            EXPECT_EQ(refusal, box);
            EXPECT_EQ(QStringLiteral(MATRIX_IMG), remembered);
        } else {
            EXPECT_EQ(QString(), box);
            EXPECT_EQ(path, remembered);
            auto board = program.bus.Plug(BoardFor(nullptr));
            const auto texts = Watch(
                program.window,
                [&](const QString& text) {
                    return (text.startsWith(kFailed) || text == kFinished)
                        && ButtonsEnabled(program.window);
                },
                kQuiet, kCellTime);
            if (input.fails) {
                EXPECT_TRUE(texts.back().startsWith(kFailed)) << texts.back().toStdString();
                EXPECT_EQ(texts.end(), std::find(texts.begin(), texts.end(), kFinished));
                EXPECT_NE(0x1234A5CDu,
                    board->PrivateData().at(4) | board->PrivateData().at(5) << 8
                        | board->PrivateData().at(6) << 16
                        | static_cast<uint32_t>(board->PrivateData().at(7)) << 24)
                    << "not marked flashed";
            } else {
                EXPECT_EQ(kFinished, texts.back());
                EXPECT_TRUE(FlashHoldsSample(board->ReadFlash(0, board->FlashSize())));
            }
            if (board->OnBus())
                program.bus.Unplug(*board);
        }
        EXPECT_EQ(before, ReadFile(input.path)) << "the image changed";
        EXPECT_TRUE(NothingExecuted(scratch.path(), QDir::currentPath().toStdString()));
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Before the plug-in reads them: the wait for FES shortened, English texts.
    setenv("VEMORA_FES_WAIT_MS", std::to_string(kFesWaitMs).c_str(), 1);
    setenv("LANG", "en_US.UTF-8", 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // As Vemora: relative paths name files beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    Program program;
    if (!::testing::GTEST_FLAG(list_tests))
        program.error = Start(program);
    g_pProgram = &program;
    return RUN_ALL_TESTS();
}
