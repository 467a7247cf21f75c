// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/SettingsStore.h"

#include <QSettings>

namespace tandrel {

//! QSettings in the platform's native format, organisation and application
//! "Tandrel", group "User Settings".
class QSettingsStore : public SettingsStore {
public:
    QSettingsStore();
    //! A store in an INI file of its own (tests, and stores moved elsewhere).
    explicit QSettingsStore(const QString& iniPath);
    QString read(const QString& key, const QString& defaultValue) const override;
    void write(const QString& key, const QString& text) override;
    QString unsavedLocation() const override { return unsaved_; }

private:
    mutable QSettings settings_;
    QString unsaved_;
};

}  // namespace tandrel
