#include "startup.h"

#include "LanguageInterface.h"
#include "PluginCenter.h"
#include "PluginWiring.h"
#include "VemoProc.h"
#include "mainwindow.h"
#include "windowplacement.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>

namespace {

constexpr int kPluginFailed = -1;

// Start-up failures are shown before the window ever is, without a parent.
void ShowFailure(const char* text)
{
    QMessageBox::critical(
        nullptr, QStringLiteral("Error"), QString::fromLatin1(text), QMessageBox::Ok);
}

int Start(MainWindow& window)
{
    tag_PLUGIN_MAN* manager = OpenPluginCenter();
    if (!manager) {
        std::printf("LoadPluginCenter Failed\n");
        ShowFailure("LoadPluginCenter Error");
        return kPluginFailed;
    }

    PluginLoadInfo record;
    auto* language
        = static_cast<tag_LANG_IF*>(ObtainInterface(*manager, record, LANGHUB_GUID, "langhub.dll"));
    if (!language) {
        std::printf("LoadPlugin langhub_Interface Failed\n");
        ShowFailure("Load langhub_Interface plugin Error");
        return kPluginFailed;
    }
    // A missing or broken language file leaves the built-in texts.
    window.ApplyLanguage(language);

    auto* process = static_cast<VemoProcFunc*>(
        ObtainInterface(*manager, record, VEMOPROC_GUID, "VemoProc.Plg"));
    if (!process) {
        std::printf("LoadPlugin VemoProc Failed\n");
        ShowFailure("Load VemoProc plugin Error");
        return kPluginFailed;
    }
    if (const int status = window.SetVemoProc(process)) {
        ShowFailure("SetVemoProc");
        return status;
    }

    window.LoadLastImage();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(CentredOrigin(screen->geometry().size(), window.size()));
    window.show();
    return QApplication::exec();
}

} // namespace

int RunVemora(int argc, char** argv)
{
    // Torn down in reverse order: the window, then the application.
    QApplication application(argc, argv);
    MainWindow window;
    // Relative paths ("./Vemora.lan") name files beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    return Start(window);
}
