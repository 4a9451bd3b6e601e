// Runs the test copy of Vemora (vemora_probe: the program as shipped, with
// the watcher of BoxCloser.cpp) as "Vemora" in a scratch folder of its own,
// beside the files a case chooses, on Qt's offscreen platform with one
// 1920 x 1080 screen, and collects what it reported.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>

struct ProbeRun {
    QString out;
    QString err;
    int status = -1000;            // the exit status; -1000 when it crashed or was killed
    QMap<QString, QString> fields; // "box.text", "window.pos", "run.end", ...
};

// Source files by the name they get beside the program.
using ProgramFiles = QMap<QString, QString>;

// Copies the probe to dir/Vemora and the files beside it, and runs it with
// LANG set to lang and the variables of extra added to this process's
// environment; waits a minute at most for its end.
ProbeRun RunProbe(const QString& dir, const ProgramFiles& files,
    const QByteArray& lang = "en_US.UTF-8", const QProcessEnvironment& extra = {});

// Whether text holds line as a whole line.
bool HasLine(const QString& text, const QString& line);
