// The fault matrix (Cells.h) through the window: the program's window and
// plug-ins, loaded as Vemora loads them from the folder of this test (links
// to build/bin), with simulated boards plugged on a bus in this process. Per
// cell the bad board, then a good one. What the information line showed is
// what the user saw: the bad board must end on an error text with the
// buttons enabled and never on the finish text; the good one must finish.
#include "Cells.h"
#include "Files.h"
#include "LanguageInterface.h"
#include "PluginWiring.h"
#include "SessionHost.h"
#include "SimDevice.h"
#include "imagesettings.h"
#include "mainwindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
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

// The texts the information line changes to while a board's run goes on,
// until `done` holds for the line and has held for `quiet`, or `timeout`
// passed.
template <typename Done>
std::vector<QString> Watch(
    QWidget& window, Done done, Clock::duration quiet, Clock::duration timeout)
{
    std::vector<QString> texts;
    QString last = Info(window); // what the board before left there
    const auto end = Clock::now() + timeout;
    auto changed = Clock::now();
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
        const QString text = Info(window);
        if (text != last) {
            texts.push_back(text);
            last = text;
            changed = Clock::now();
        }
        if (!texts.empty() && done(text) && Clock::now() - changed >= quiet)
            return texts;
    }
    texts.push_back(QStringLiteral("(no end within the cell's time)"));
    return texts;
}

// What the user read about the bad board: its error texts (and the stall
// text) in the order they came.
std::string Seen(const std::vector<QString>& texts)
{
    std::string seen;
    for (const QString& text : texts) {
        if (!text.startsWith(kFailed) && !text.startsWith(kStalled))
            continue;
        seen += (seen.empty() ? "" : " → ") + text.toStdString();
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

TEST(FaultMatrix, ThroughTheWindow)
{
    // As Vemora: relative paths name files beside the program.
    ASSERT_TRUE(QDir::setCurrent(QCoreApplication::applicationDirPath()));
    std::remove(kScriptPlan);
    ImageSettings(QDir::current().filePath(QStringLiteral("vemora.ini")))
        .RememberImage(QStringLiteral(MATRIX_IMG));
    MainWindow window;
    tag_PLUGIN_MAN* manager = OpenPluginCenter();
    ASSERT_TRUE(manager);
    PluginLoadInfo record;
    auto* language
        = static_cast<tag_LANG_IF*>(ObtainInterface(*manager, record, LANGHUB_GUID, "langhub.dll"));
    ASSERT_TRUE(language);
    ASSERT_EQ(0, window.ApplyLanguage(language));
    auto* process = static_cast<VemoProcFunc*>(
        ObtainInterface(*manager, record, VEMOPROC_GUID, "VemoProc.Plg"));
    ASSERT_TRUE(process);
    ASSERT_EQ(0, window.SetVemoProc(process));
    process->PreVemoMessage(nullptr, VEMO_PM_RUN_LIMIT, kScriptLimitMs, nullptr);
    window.SetWatchdogInterval(kWatchdogMs);
    window.LoadLastImage();
    window.show();
    simdev::Bus bus;
    ASSERT_TRUE(bus.WaitForListener(5s));

    std::vector<Outcome> outcomes;
    for (const Cell& cell : kCells) {
        outcomes.push_back(RunCell(cell, bus, window));
        EXPECT_TRUE(outcomes.back().passed)
            << cell.step << ", " << cell.fault << ": " << outcomes.back().result << "\n"
            << outcomes.back().seen;
    }
    WriteTable("window.md", "Through the window", "The information line", outcomes);
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
    return RUN_ALL_TESTS();
}
