// Internal to the window tests.
#ifndef OWNSETTINGS_H
#define OWNSETTINGS_H

#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>

// Points the window's QSettings at a folder of this test process, emptied: never the user's own
// settings, and never those of another window test that ctest runs at the same time (they would
// clear and overwrite each other's between a window's save and the next one's restore).
inline void useOwnSettings()
{
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings(QStringLiteral("Kavri"), QStringLiteral("kavri-view")).clear();
}

#endif // OWNSETTINGS_H
