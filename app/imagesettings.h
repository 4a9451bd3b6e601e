// The settings file "vemora.ini" beside the program: the last image the
// process plug-in accepted and its directory, in the group "Vemora".
#pragma once

#include <QString>

class ImageSettings {
public:
    // iniPath empty: nothing is read or written.
    explicit ImageSettings(QString iniPath);

    // The value of key, empty when the file cannot be read (said on standard
    // error) or has no such key.
    QString Read(const QString& key) const;
    // Sets key to value; an empty value is not written (the old one stays).
    // A file that cannot be written is said on standard error.
    void Write(const QString& key, const QString& value) const;
    // Stores the image's directory under "image_path" (the part before the
    // last '/', the whole path when it has none), then the path under "image".
    void RememberImage(const QString& imagePath) const;

private:
    QString m_strIniPath;
};
