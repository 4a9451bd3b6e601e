#include "imagesettings.h"

#include <QSettings>
#include <cstdio>
#include <utility>

namespace {

const QString kGroup = QStringLiteral("Vemora");

} // namespace

ImageSettings::ImageSettings(QString iniPath)
    : m_strIniPath(std::move(iniPath))
{
}

QString ImageSettings::Read(const QString& key) const
{
    QString value;
    if (m_strIniPath.isEmpty())
        return value;
    QSettings settings(m_strIniPath, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        // A file that is not settings is left as it is; nothing is taken from it.
        std::fprintf(stderr, "Cannot read the settings %s\n", qPrintable(m_strIniPath));
        return value;
    }
    settings.beginGroup(kGroup);
    if (settings.contains(key))
        value = settings.value(key).toString();
    settings.endGroup();
    return value;
}

void ImageSettings::Write(const QString& key, const QString& value) const
{
    if (m_strIniPath.isEmpty())
        return;
    QSettings settings(m_strIniPath, QSettings::IniFormat);
    settings.beginGroup(kGroup);
    if (!value.isEmpty())
        settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        std::fprintf(stderr, "Cannot save %s in the settings %s\n", qPrintable(key),
            qPrintable(m_strIniPath));
}

void ImageSettings::RememberImage(const QString& imagePath) const
{
    const qsizetype slash = imagePath.lastIndexOf(QLatin1Char('/'));
    Write(QStringLiteral("image_path"), slash < 0 ? imagePath : imagePath.left(slash));
    Write(QStringLiteral("image"), imagePath);
}
