#include "ProbeRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRunMs = 60000;

// Qt's offscreen platform with one 1920 x 1080 screen.
QString Platform(const QString& scratch)
{
    const QString config = scratch + u"/screen.json"_s;
    QFile file(config);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920, "height": 1080,
                       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    return u"offscreen:configfile="_s + config;
}

} // namespace

ProbeRun RunProbe(const QString& dir, const ProgramFiles& files, const QByteArray& lang,
    const QProcessEnvironment& extra)
{
    QDir().mkpath(dir);
    QFile::copy(QStringLiteral(VEMORA_BIN_DIR "/vemora_probe"), dir + u"/Vemora"_s);
    for (auto file = files.begin(); file != files.end(); ++file)
        QFile::copy(file.value(), dir + QLatin1Char('/') + file.key());

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, QString::fromLatin1(lang));
    env.insert(u"QT_QPA_PLATFORM"_s, Platform(QFileInfo(dir).path()));
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.start(dir + u"/Vemora"_s, QStringList());
    ProbeRun run;
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
        if (equals > 0
            && (line.startsWith(QLatin1String("box.")) || line.startsWith(QLatin1String("window."))
                || line.startsWith(QLatin1String("run."))))
            run.fields.insert(line.left(equals), line.mid(equals + 1));
    }
    return run;
}

bool HasLine(const QString& text, const QString& line)
{
    return text.split(QLatin1Char('\n')).contains(line);
}
