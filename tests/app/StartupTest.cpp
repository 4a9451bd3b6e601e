// The start-up of Vemora, run as a program: its test copy (vemora_probe,
// which reports and closes boxes and the window) in a scratch folder with
// the plug-ins each case chooses.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kBin = QStringLiteral(VEMORA_BIN_DIR);
const QString kTestProc = QStringLiteral(TESTPROC_PATH);
constexpr int kRunMs = 60000;

struct Run {
    QString out;
    QString err;
    int status = -1000;
    QMap<QString, QString> fields; // "box.text", "window.pos", ...
};

// Source files by the name they get beside the program.
using Files = QMap<QString, QString>;

Files Complete()
{
    return Files {
        {QStringLiteral("pluginhub.dll"), kBin + QStringLiteral("/pluginhub.dll")},
        {QStringLiteral("langhub.dll"), kBin + QStringLiteral("/langhub.dll")},
        {QStringLiteral("Vemora.lan"), kBin + QStringLiteral("/Vemora.lan")},
        {QStringLiteral("VemoProc.Plg"), kTestProc},
    };
}

Files Without(Files files, const QString& name)
{
    files.remove(name);
    return files;
}

Files With(Files files, const QString& name, const QString& source)
{
    files[name] = source;
    return files;
}

// Qt's offscreen platform with one 1920 x 1080 screen.
QString Platform(const QString& scratch)
{
    const QString config = scratch + QStringLiteral("/screen.json");
    QFile file(config);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920, "height": 1080,
                       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    return QStringLiteral("offscreen:configfile=") + config;
}

Run Start(const QString& dir, const Files& files, const QByteArray& lang = "en_US.UTF-8")
{
    QDir().mkpath(dir);
    QFile::copy(kBin + QStringLiteral("/vemora_probe"), dir + QStringLiteral("/Vemora"));
    for (auto file = files.begin(); file != files.end(); ++file)
        QFile::copy(file.value(), dir + QLatin1Char('/') + file.key());

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), Platform(QFileInfo(dir).path()));
    process.setProcessEnvironment(env);
    process.start(dir + QStringLiteral("/Vemora"), QStringList());
    Run run;
    if (!process.waitForFinished(kRunMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.status = process.exitCode();
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    for (const QString& line : run.out.split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if ((line.startsWith(QLatin1String("box.")) || line.startsWith(QLatin1String("window.")))
            && equals > 0)
            run.fields.insert(line.left(equals), line.mid(equals + 1));
    }
    return run;
}

bool HasLine(const QString& text, const QString& line)
{
    return text.split(QLatin1Char('\n')).contains(line);
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
    void reloadsTheLastImage();

private:
    QTemporaryDir m_scratch;
};

void StartupTest::failures_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QStringList>("outLines");
    QTest::addColumn<bool>("centerErrorPrinted");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<int>("status");

    const Files all = Complete();
    QTest::newRow("plug-in center missing")
        << Without(all, QStringLiteral("pluginhub.dll"))
        << QStringList {QStringLiteral("LoadPluginCenter Failed")} << true
        << QStringLiteral("LoadPluginCenter Error") << 255;
    QTest::newRow("plug-in center without GetPluginMan")
        << With(all, QStringLiteral("pluginhub.dll"), kTestProc)
        << QStringList {QStringLiteral("LoadPluginCenter Failed")} << false
        << QStringLiteral("LoadPluginCenter Error") << 255;
    QTest::newRow("plug-in center without a manager")
        << With(all, QStringLiteral("pluginhub.dll"), kBin + QStringLiteral("/nullhub.dll"))
        << QStringList {QStringLiteral("LoadPluginCenter Failed")} << false
        << QStringLiteral("LoadPluginCenter Error") << 255;
    QTest::newRow("language plug-in missing")
        << Without(all, QStringLiteral("langhub.dll"))
        << QStringList {QStringLiteral("LoadPlugin langhub_Interface Failed")} << false
        << QStringLiteral("Load langhub_Interface plugin Error") << 255;
    QTest::newRow("process plug-in missing")
        << Without(all, QStringLiteral("VemoProc.Plg"))
        << QStringList {QStringLiteral("LoadPlugin VemoProc Failed")} << false
        << QStringLiteral("Load VemoProc plugin Error") << 255;
    QTest::newRow("process plug-in refuses the window")
        << With(all, QStringLiteral("VemoProc.Plg"), kBin + QStringLiteral("/testproc_init7.plg"))
        << QStringList {QStringLiteral("testproc: InitVemoProc")} << false
        << QStringLiteral("SetVemoProc") << 7;
}

void StartupTest::failures()
{
    QFETCH(Files, files);
    QFETCH(QStringList, outLines);
    QFETCH(bool, centerErrorPrinted);
    QFETCH(QString, boxText);
    QFETCH(int, status);

    const QString dir = m_scratch.filePath(QString::fromLatin1(QTest::currentDataTag()));
    const Run run = Start(dir, files);
    QCOMPARE(run.status, status);
    QVERIFY2(HasLine(run.out,
                 QStringLiteral("library file path: ") + dir + QStringLiteral("/pluginhub.dll")),
        qPrintable(run.out));
    for (const QString& line : outLines)
        QVERIFY2(HasLine(run.out, line), qPrintable(run.out));
    QCOMPARE(HasLine(run.err, QStringLiteral("LoadPluginCenter Error")), centerErrorPrinted);
    if (centerErrorPrinted)
        QVERIFY2(run.out.contains(QStringLiteral("pluginhub.dll: cannot open shared object file")),
            qPrintable(run.out));
    QVERIFY(!run.out.contains(QStringLiteral("testproc: DeviceMsgLoop")));

    QCOMPARE(run.fields.value(QStringLiteral("box.title")), QStringLiteral("Error"));
    QCOMPARE(run.fields.value(QStringLiteral("box.text")), boxText);
    QCOMPARE(run.fields.value(QStringLiteral("box.icon")), QString::number(QMessageBox::Critical));
    QCOMPARE(run.fields.value(QStringLiteral("box.buttons")), QString::number(QMessageBox::Ok));
    QCOMPARE(run.fields.value(QStringLiteral("box.parent")), QStringLiteral("none"));
    QCOMPARE(run.fields.value(QStringLiteral("box.window_visible")), QStringLiteral("no"));
    QVERIFY(!run.fields.contains(QStringLiteral("window.pos")));
}

// A program path that does not fit the 260-byte path buffer: nothing is
// loaded from anywhere else, and start-up ends as without a plug-in center.
void StartupTest::unreadableProgramPath()
{
    QString dir = m_scratch.filePath(QStringLiteral("long"));
    while (dir.size() < 300)
        dir += QStringLiteral("/") + QString(40, QLatin1Char('d'));
    const Run run = Start(dir, Complete());
    QCOMPARE(run.status, 255);
    QVERIFY2(HasLine(run.err, QStringLiteral("LoadPluginCenter Error")), qPrintable(run.err));
    QVERIFY2(HasLine(run.out, QStringLiteral("LoadPluginCenter Failed")), qPrintable(run.out));
    QVERIFY(!run.out.contains(QStringLiteral("library file path")));
    QCOMPARE(
        run.fields.value(QStringLiteral("box.text")), QStringLiteral("LoadPluginCenter Error"));
}

void StartupTest::startsWithLanguageFile()
{
    const QString dir = m_scratch.filePath(QStringLiteral("with-lan"));
    const Run run = Start(dir, Complete(), "de_DE.UTF-8");
    QCOMPARE(run.status, 0);
    QVERIFY(!run.fields.contains(QStringLiteral("box.text")));
    // Bound in this order: InitVemoProc, then the monitor.
    const qsizetype init = run.out.indexOf(QStringLiteral("testproc: InitVemoProc\n"));
    QVERIFY2(init >= 0, qPrintable(run.out));
    QVERIFY(run.out.indexOf(QStringLiteral("testproc: DeviceMsgLoop\n")) > init);

    // Centred, at a third of the free height.
    QCOMPARE(run.fields.value(QStringLiteral("window.screen")), QStringLiteral("1920x1080"));
    QCOMPARE(run.fields.value(QStringLiteral("window.pos")), QStringLiteral("558,162"));
    QCOMPARE(run.fields.value(QStringLiteral("window.size")), QStringLiteral("804x593"));
    QCOMPARE(run.fields.value(QStringLiteral("window.title")), QStringLiteral("VemoraV3.06"));
    QCOMPARE(run.fields.value(QStringLiteral("window.image")), QStringLiteral("Image"));
    QCOMPARE(run.fields.value(QStringLiteral("window.exit")), QStringLiteral("Beenden"));
    QCOMPARE(run.fields.value(QStringLiteral("window.label")), QStringLiteral("Fortschritt"));
    QVERIFY(run.fields.value(QStringLiteral("window.path"))
                .startsWith(QStringLiteral("Noch kein Image gewählt")));
    QCOMPARE(run.fields.value(QStringLiteral("window.info")), QStringLiteral("Welcome to Vemora!"));
    QCOMPARE(run.fields.value(QStringLiteral("window.progress")), QStringLiteral("0"));
    QVERIFY(run.fields.value(QStringLiteral("window.guide"))
                .startsWith(QStringLiteral("So flashen Sie ein Gerät")));
}

void StartupTest::startsWithoutLanguageFile()
{
    const QString dir = m_scratch.filePath(QStringLiteral("without-lan"));
    const Run run = Start(dir, Without(Complete(), QStringLiteral("Vemora.lan")), "de_DE.UTF-8");
    QCOMPARE(run.status, 0);
    QVERIFY(!run.fields.contains(QStringLiteral("box.text")));
    QCOMPARE(run.fields.value(QStringLiteral("window.image")), QStringLiteral("Image"));
    QCOMPARE(run.fields.value(QStringLiteral("window.exit")), QStringLiteral("Exit"));
    QCOMPARE(run.fields.value(QStringLiteral("window.label")), QStringLiteral("Progress"));
    QCOMPARE(run.fields.value(QStringLiteral("window.path")), QString());
    QCOMPARE(run.fields.value(QStringLiteral("window.guide")), QString());
    QVERIFY2(run.err.contains(QStringLiteral("Vemora.lan refused")), qPrintable(run.err));
}

void StartupTest::reloadsTheLastImage()
{
    const QString dir = m_scratch.filePath(QStringLiteral("reload"));
    QDir().mkpath(dir);
    const QString image = dir + QStringLiteral("/last.img");
    QFile(image).open(QIODevice::WriteOnly);
    QSettings(dir + QStringLiteral("/vemora.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("Vemora/image"), image);
    Run run = Start(dir, Complete());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.indexOf(QStringLiteral("testproc: LoadFWFile ") + image)
            > run.out.indexOf(QStringLiteral("testproc: DeviceMsgLoop")),
        qPrintable(run.out));
    QCOMPARE(run.fields.value(QStringLiteral("window.path")), image);

    QFile::remove(image);
    run = Start(dir, Complete());
    QCOMPARE(run.status, 0);
    QVERIFY2(
        HasLine(run.err, QStringLiteral("Load firmware file ") + image + QStringLiteral(" failed")),
        qPrintable(run.err));
    QVERIFY(run.fields.value(QStringLiteral("window.path"))
                .startsWith(QStringLiteral("No image chosen")));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
