// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QSettingsStore.h"

#include <QFileInfo>

namespace tandrel {

QSettingsStore::QSettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, settings::kApplication, settings::kApplication)
{
}

QSettingsStore::QSettingsStore(const QString& iniPath) : settings_(iniPath, QSettings::IniFormat) {}

QString QSettingsStore::read(const QString& key, const QString& defaultValue) const
{
    settings_.beginGroup(settings::kSection);
    const QVariant v = settings_.value(key);
    settings_.endGroup();
    return v.isValid() ? v.toString() : defaultValue;
}

void QSettingsStore::write(const QString& key, const QString& text)
{
    settings_.beginGroup(settings::kSection);
    settings_.setValue(key, text);
    settings_.endGroup();
    settings_.sync();
    // status() keeps the first error it met, so a file that was corrupt when read
    // would hide a failed write; the file and its folder are checked as well.
    const QFileInfo file(settings_.fileName());
    const bool saved = settings_.status() != QSettings::AccessError && file.isWritable()
                       && QFileInfo(file.absolutePath()).isWritable();
    unsaved_ = saved ? QString() : settings_.fileName();
}

}  // namespace tandrel
