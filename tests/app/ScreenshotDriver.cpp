// Makes PNG screenshots of the real window, bound to the recording stand-in
// of the process plug-in, which plays one flashing run of the sample image:
//   vemora_screenshots <output folder>
// writes window-idle.png, window-running.png and window-finished.png.
#include "WindowFixture.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QSettings>
#include <QTimer>
#include <cstdio>

namespace {

bool Save(QWidget& window, const QString& folder, const char* name)
{
    QCoreApplication::processEvents();
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    WindowPlugins plugins;
    if (!QDir().mkpath(folder) || !LoadWindowPlugins(plugins))
        return 1;

    // The shipped language file and the sample image, as in build/bin.
    QDir::setCurrent(QStringLiteral(VEMORA_BIN_DIR));
    // The sample image, as if chosen with the Image button before.
    QSettings(QCoreApplication::applicationDirPath() + QStringLiteral("/vemora.ini"),
        QSettings::IniFormat)
        .setValue(QStringLiteral("Vemora/image"), QStringLiteral(VEMORA_BIN_DIR "/sample.img"));
    MainWindow window;
    window.ApplyLanguage(plugins.language);
    if (window.SetVemoProc(plugins.process) != 0)
        return 1;
    window.LoadLastImage();
    window.show();
    const VemoCallbackFun& callbacks = *plugins.control->Callbacks();
    bool ok = Save(window, folder, "window-idle.png");

    callbacks.pfnBurnBegin(nullptr, 1, nullptr);
    Wait(1500);
    callbacks.pfnBurnProcess(nullptr, 40, "Writing partition rootfs");
    Wait(1100);
    ok = ok && Save(window, folder, "window-running.png");

    callbacks.pfnBurnOver(nullptr, 0, nullptr);
    ok = ok && Save(window, folder, "window-finished.png");
    return ok ? 0 : 1;
}
