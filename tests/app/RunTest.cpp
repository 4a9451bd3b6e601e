// One whole flashing run in the real window: the test copy of Vemora with the
// real "VemoProc.Plg" and its libraries in a scratch program folder, the
// sample image preselected in its "vemora.ini", and one simulated board
// preloaded into the program, arriving in FEL. The window ends on the finish
// text of its language with progress 100 and the board counted in the status
// bar, and the board's flash holds the image's partitions.
#include "LanguageInterface.h"
#include "ProbeRun.h"
#include "SampleFlash.h"
#include "languageindex.h"
#include "windowtexts.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <dlfcn.h>

using namespace Qt::StringLiterals;

namespace {

const QString kBin = QStringLiteral(VEMORA_BIN_DIR);
const char* const kLang = "de_DE.UTF-8";

// The shipped language plug-in with "Vemora.lan" in the language LANG names,
// as the window loads them; null when the plug-in cannot be loaded.
const tag_LANG_IF* Language()
{
    void* library = dlopen(VEMORA_BIN_DIR "/langhub.dll", RTLD_NOW);
    const auto getInterface = library
        ? reinterpret_cast<tag_LANG_IF* (*)(void*)>(dlsym(library, "GetInterface"))
        : nullptr;
    tag_LANG_IF* language = getInterface ? getInterface(nullptr) : nullptr;
    if (!language || !language->LoadLanFile(VEMORA_BIN_DIR "/Vemora.lan"))
        return nullptr;
    qputenv("LANG", kLang);
    language->SetLanguage(SelectLanguageIndex());
    return language;
}

} // namespace

class RunTest : public QObject {
    Q_OBJECT

private slots:
    void flashesTheSampleIntoABoard();

private:
    QTemporaryDir m_scratch;
};

void RunTest::flashesTheSampleIntoABoard()
{
    const QString dir = m_scratch.filePath(u"program"_s);
    const QString flashDir = m_scratch.filePath(u"flash"_s);
    QVERIFY(QDir().mkpath(dir) && QDir().mkpath(flashDir));
    QSettings(dir + u"/vemora.ini"_s, QSettings::IniFormat)
        .setValue(u"Vemora/image"_s, kBin + u"/sample.img"_s);
    ProgramFiles files;
    for (const QString& name :
        {u"pluginhub.dll"_s, u"langhub.dll"_s, u"Vemora.lan"_s, u"VemoProc.Plg"_s, u"usbwire.dll"_s,
            u"scriptbase.dll"_s, u"blockcrypt.dll"_s, u"imgdec_fun.lua"_s})
        files.insert(name, kBin + QLatin1Char('/') + name);

    QProcessEnvironment env;
    // The sanitizer runtimes of a sanitized build must come first.
    env.insert(u"LD_PRELOAD"_s, QStringLiteral(SANITIZER_PRELOAD SIMDRV_SO ":" SIMDEV_SO));
    // Plugged at the simulator's default of 500 ms after the monitor
    // listens: start-up loads the image only after it has started the
    // monitor, and a board that comes before any image is not taken.
    env.insert(u"VEMORA_SIM_BOARDS"_s, u"1"_s);
    // Just room for the partitions: the whole flash is compared below.
    env.insert(u"VEMORA_SIM_FLASH_SIZE"_s, u"33M"_s);
    env.insert(u"VEMORA_SIM_FLASH_DIR"_s, flashDir);
    env.insert(u"VEMORA_SIM_FLASH_KEEP"_s, u"1"_s);
    env.insert(u"VEMORA_PROBE_RUN"_s, u"1"_s);
    const ProbeRun run = RunProbe(dir, files, kLang, env);
    const QByteArray output = (run.out + run.err).toUtf8();
    QVERIFY2(run.status == 0, output.constData());
    QVERIFY2(run.fields.value(u"run.end"_s) == u"finished"_s, output.constData());

    const tag_LANG_IF* language = Language();
    QVERIFY(language);
    QCOMPARE(run.fields.value(u"window.info"_s), WindowText(language, "Info062"));
    QCOMPARE(run.fields.value(u"window.progress"_s), u"100"_s);
    QCOMPARE(
        run.fields.value(u"window.status"_s), WindowText(language, "Info064").arg(u"1"_s, u"0"_s));
    QCOMPARE(run.fields.value(u"window.path"_s), kBin + u"/sample.img"_s);

    const QStringList flashes = QDir(flashDir).entryList(QDir::Files);
    QCOMPARE(flashes.size(), 1);
    QFile flash(flashDir + QLatin1Char('/') + flashes.first());
    QVERIFY(flash.open(QIODevice::ReadOnly));
    const QByteArray bytes = flash.readAll();
    const auto held = FlashHoldsSample(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    QVERIFY2(held, held.message());
}

QTEST_GUILESS_MAIN(RunTest)
#include "RunTest.moc"
