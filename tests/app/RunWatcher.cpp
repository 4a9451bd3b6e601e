#include "RunWatcher.h"

#include "LanguageInterface.h"
#include "ModulePath.h"
#include "windowtexts.h"

#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <dlfcn.h>
#include <utility>

namespace {

constexpr int kHalfWay = 50;

// The language plug-in the program loaded at start-up, from the plug-in
// center it opened (one per process); null when there is none.
const tag_LANG_IF* LoadedLanguage()
{
    char path[MAX_PATH_LEN];
    void* center = GetModuleRelPath("pluginhub.dll", path) < 0
        ? nullptr
        : dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    const auto getManager
        = center ? reinterpret_cast<PFN_GetPluginMan>(dlsym(center, "GetPluginMan")) : nullptr;
    tag_PLUGIN_MAN* manager = getManager ? getManager() : nullptr;
    return manager ? static_cast<const tag_LANG_IF*>(manager->GetPluginInterface(LANGHUB_GUID))
                   : nullptr;
}

// The status bar showing its counts and nothing of a run.
QRegularExpression CountsAlone(const QString& format)
{
    QString pattern = QRegularExpression::escape(format);
    pattern.replace(QStringLiteral("\\%1"), QStringLiteral("\\d+"));
    pattern.replace(QStringLiteral("\\%2"), QStringLiteral("\\d+"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

} // namespace

std::unique_ptr<RunWatcher> RunWatcher::FromEnvironment()
{
    if (qEnvironmentVariableIsEmpty("VEMORA_PROBE_RUN"))
        return nullptr;
    return std::unique_ptr<RunWatcher>(new RunWatcher(qEnvironmentVariable("VEMORA_PROBE_SHOTS")));
}

RunWatcher::RunWatcher(QString shots)
    : m_shots(std::move(shots))
{
    const tag_LANG_IF* language = LoadedLanguage();
    m_finished = WindowText(language, "Info062");
    m_failed = WindowText(language, "Info063");
    m_counts = CountsAlone(WindowText(language, "Info064"));
}

bool RunWatcher::Ended(QWidget* window, const Shown& shown)
{
    if (!m_bRunningShot && shown.progress >= kHalfWay && shown.progress < 100) {
        m_bRunningShot = true;
        Shoot(window, "window-running.png");
    }
    const char* end = nullptr;
    if (shown.info.startsWith(m_failed)) {
        end = "failed";
    } else if (shown.progress == 100 && shown.info == m_finished
        && m_counts.match(shown.status).hasMatch()) {
        Shoot(window, "window-finished.png");
        end = "finished";
    }
    if (!end)
        return false;
    std::printf("run.end=%s\n", end);
    return true;
}

void RunWatcher::Shoot(QWidget* window, const char* name) const
{
    if (m_shots.isEmpty())
        return;
    const QString path = m_shots + QLatin1Char('/') + QString::fromLatin1(name);
    if (window->grab().save(path))
        std::printf("shot=%s\n", qPrintable(path));
    else
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::fflush(stdout);
}
