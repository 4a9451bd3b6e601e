// The start-up of Vemora, run as a program: its test copy (vemora_probe,
// which reports and closes boxes and the window) in a scratch folder with
// the plug-ins each case chooses.
#include "ProbeRun.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kBin = QStringLiteral(VEMORA_BIN_DIR);
const QString kTestProc = QStringLiteral(TESTPROC_PATH);

ProgramFiles Complete()
{
    return ProgramFiles {
        {u"pluginhub.dll"_s, kBin + u"/pluginhub.dll"_s},
        {u"langhub.dll"_s, kBin + u"/langhub.dll"_s},
        {u"Vemora.lan"_s, kBin + u"/Vemora.lan"_s},
        {u"VemoProc.Plg"_s, kTestProc},
    };
}

ProgramFiles Without(ProgramFiles files, const QString& name)
{
    files.remove(name);
    return files;
}

ProgramFiles With(ProgramFiles files, const QString& name, const QString& source)
{
    files[name] = source;
    return files;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void failures_data();
    void failures();
    void unreadableProgramPath();
    void startsWithLanguageFile();
    void startsWithoutLanguageFile();
    void brokenFiles_data();
    void brokenFiles();
    void reloadsTheLastImage();

private:
    QTemporaryDir m_scratch;
};

void StartupTest::failures_data()
{
    QTest::addColumn<ProgramFiles>("files");
    QTest::addColumn<QStringList>("outLines");
    QTest::addColumn<bool>("centerErrorPrinted");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<int>("status");

    const ProgramFiles all = Complete();
    QTest::newRow("plug-in center missing")
        << Without(all, u"pluginhub.dll"_s) << QStringList {u"LoadPluginCenter Failed"_s} << true
        << u"LoadPluginCenter Error"_s << 255;
    QTest::newRow("plug-in center without GetPluginMan")
        << With(all, u"pluginhub.dll"_s, kTestProc) << QStringList {u"LoadPluginCenter Failed"_s}
        << false << u"LoadPluginCenter Error"_s << 255;
    QTest::newRow("plug-in center without a manager")
        << With(all, u"pluginhub.dll"_s, kBin + u"/nullhub.dll"_s)
        << QStringList {u"LoadPluginCenter Failed"_s} << false << u"LoadPluginCenter Error"_s
        << 255;
    QTest::newRow("language plug-in missing")
        << Without(all, u"langhub.dll"_s) << QStringList {u"LoadPlugin langhub_Interface Failed"_s}
        << false << u"Load langhub_Interface plugin Error"_s << 255;
    QTest::newRow("process plug-in missing")
        << Without(all, u"VemoProc.Plg"_s) << QStringList {u"LoadPlugin VemoProc Failed"_s} << false
        << u"Load VemoProc plugin Error"_s << 255;
    QTest::newRow("process plug-in refuses the window")
        << With(all, u"VemoProc.Plg"_s, kBin + u"/testproc_init7.plg"_s)
        << QStringList {u"testproc: InitVemoProc"_s} << false << u"SetVemoProc"_s << 7;
}

void StartupTest::failures()
{
    QFETCH(ProgramFiles, files);
    QFETCH(QStringList, outLines);
    QFETCH(bool, centerErrorPrinted);
    QFETCH(QString, boxText);
    QFETCH(int, status);

    const QString dir = m_scratch.filePath(QString::fromLatin1(QTest::currentDataTag()));
    const ProbeRun run = RunProbe(dir, files);
    QCOMPARE(run.status, status);
    QVERIFY2(HasLine(run.out, u"library file path: "_s + dir + u"/pluginhub.dll"_s),
        qPrintable(run.out));
    for (const QString& line : outLines)
        QVERIFY2(HasLine(run.out, line), qPrintable(run.out));
    QCOMPARE(HasLine(run.err, u"LoadPluginCenter Error"_s), centerErrorPrinted);
    if (centerErrorPrinted)
        QVERIFY2(run.out.contains(u"pluginhub.dll: cannot open shared object file"_s),
            qPrintable(run.out));
    QVERIFY(!run.out.contains(u"testproc: DeviceMsgLoop"_s));

    QCOMPARE(run.fields.value(u"box.title"_s), u"Error"_s);
    QCOMPARE(run.fields.value(u"box.text"_s), boxText);
    QCOMPARE(run.fields.value(u"box.icon"_s), QString::number(QMessageBox::Critical));
    QCOMPARE(run.fields.value(u"box.buttons"_s), QString::number(QMessageBox::Ok));
    QCOMPARE(run.fields.value(u"box.parent"_s), u"none"_s);
    QCOMPARE(run.fields.value(u"box.window_visible"_s), u"no"_s);
    QVERIFY(!run.fields.contains(u"window.pos"_s));
}

// A program path that does not fit the 260-byte path buffer: nothing is
// loaded from anywhere else, and start-up ends as without a plug-in center.
void StartupTest::unreadableProgramPath()
{
    QString dir = m_scratch.filePath(u"long"_s);
    while (dir.size() < 300)
        dir += u"/"_s + QString(40, QLatin1Char('d'));
    const ProbeRun run = RunProbe(dir, Complete());
    QCOMPARE(run.status, 255);
    QVERIFY2(HasLine(run.err, u"LoadPluginCenter Error"_s), qPrintable(run.err));
    QVERIFY2(HasLine(run.out, u"LoadPluginCenter Failed"_s), qPrintable(run.out));
    QVERIFY(!run.out.contains(u"library file path"_s));
    QCOMPARE(run.fields.value(u"box.text"_s), u"LoadPluginCenter Error"_s);
}

void StartupTest::startsWithLanguageFile()
{
    const QString dir = m_scratch.filePath(u"with-lan"_s);
    const ProbeRun run = RunProbe(dir, Complete(), "de_DE.UTF-8");
    QCOMPARE(run.status, 0);
    QVERIFY(!run.fields.contains(u"box.text"_s));
    // Bound in this order: InitVemoProc, then the monitor.
    const qsizetype init = run.out.indexOf(u"testproc: InitVemoProc\n"_s);
    QVERIFY2(init >= 0, qPrintable(run.out));
    QVERIFY(run.out.indexOf(u"testproc: DeviceMsgLoop\n"_s) > init);

    // Centred, at a third of the free height.
    QCOMPARE(run.fields.value(u"window.screen"_s), u"1920x1080"_s);
    QCOMPARE(run.fields.value(u"window.pos"_s), u"558,162"_s);
    QCOMPARE(run.fields.value(u"window.size"_s), u"804x593"_s);
    QCOMPARE(run.fields.value(u"window.title"_s), u"VemoraV3.06"_s);
    QCOMPARE(run.fields.value(u"window.image"_s), u"Image"_s);
    QCOMPARE(run.fields.value(u"window.exit"_s), u"Beenden"_s);
    QCOMPARE(run.fields.value(u"window.label"_s), u"Fortschritt"_s);
    QVERIFY(run.fields.value(u"window.path"_s).startsWith(u"Noch kein Image gewählt"_s));
    QCOMPARE(run.fields.value(u"window.info"_s), u"Welcome to Vemora!"_s);
    QCOMPARE(run.fields.value(u"window.progress"_s), u"0"_s);
    QVERIFY(run.fields.value(u"window.guide"_s).startsWith(u"So flashen Sie ein Gerät"_s));
}

void StartupTest::startsWithoutLanguageFile()
{
    const QString dir = m_scratch.filePath(u"without-lan"_s);
    const ProbeRun run = RunProbe(dir, Without(Complete(), u"Vemora.lan"_s), "de_DE.UTF-8");
    QCOMPARE(run.status, 0);
    QVERIFY(!run.fields.contains(u"box.text"_s));
    QCOMPARE(run.fields.value(u"window.image"_s), u"Image"_s);
    QCOMPARE(run.fields.value(u"window.exit"_s), u"Exit"_s);
    QCOMPARE(run.fields.value(u"window.label"_s), u"Progress"_s);
    QCOMPARE(run.fields.value(u"window.path"_s), QString());
    QCOMPARE(run.fields.value(u"window.guide"_s), QString());
    QVERIFY2(run.err.contains(u"Vemora.lan refused"_s), qPrintable(run.err));
}

void StartupTest::brokenFiles_data()
{
    QTest::addColumn<QString>("name"); // beside the program
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("said");
    QTest::newRow("language file not one")
        << u"Vemora.lan"_s << QByteArray("\x01\xff no texts here") << u"Vemora.lan refused"_s;
    // Read as settings without an image: nothing to say.
    QTest::newRow("settings not text")
        << u"vemora.ini"_s << QByteArray("\x00\xfe[\x01\x02\n=\xff", 9) << QString();
    // An empty content: a folder by that name.
    QTest::newRow("settings a folder")
        << u"vemora.ini"_s << QByteArray() << u"Cannot read the settings"_s;
}

// A broken language file or settings file: the window starts with its
// built-in texts and no image, says why, and leaves the file as it was.
void StartupTest::brokenFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    const QString dir
        = m_scratch.filePath(u"broken-"_s + QString::fromLatin1(QTest::currentDataTag()));
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    if (content.isEmpty()) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const ProbeRun run
        = RunProbe(dir, name == u"Vemora.lan"_s ? Without(Complete(), name) : Complete());
    QCOMPARE(run.status, 0);
    QVERIFY(!run.fields.contains(u"box.text"_s));
    QCOMPARE(run.fields.value(u"window.exit"_s), u"Exit"_s);
    QVERIFY2(said.isEmpty() || run.err.contains(said), qPrintable(run.err));
    QVERIFY(!run.out.contains(u"testproc: LoadFWFile"_s));
    if (content.isEmpty()) {
        QVERIFY(QFileInfo(path).isDir());
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void StartupTest::reloadsTheLastImage()
{
    const QString dir = m_scratch.filePath(u"reload"_s);
    QDir().mkpath(dir);
    const QString image = dir + u"/last.img"_s;
    QFile(image).open(QIODevice::WriteOnly);
    QSettings(dir + u"/vemora.ini"_s, QSettings::IniFormat).setValue(u"Vemora/image"_s, image);
    ProbeRun run = RunProbe(dir, Complete());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.indexOf(u"testproc: LoadFWFile "_s + image)
            > run.out.indexOf(u"testproc: DeviceMsgLoop"_s),
        qPrintable(run.out));
    QCOMPARE(run.fields.value(u"window.path"_s), image);

    QFile::remove(image);
    run = RunProbe(dir, Complete());
    QCOMPARE(run.status, 0);
    QVERIFY2(
        HasLine(run.err, u"Load firmware file "_s + image + u" failed"_s), qPrintable(run.err));
    QVERIFY(run.fields.value(u"window.path"_s).startsWith(u"No image chosen"_s));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
