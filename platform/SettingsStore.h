// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tandrel {

namespace settings {
//! Where every program of Tandrel keeps its settings.
inline const QString kApplication = QStringLiteral("Tandrel");
inline const QString kSection = QStringLiteral("User Settings");
}  // namespace settings

//! The per-user settings store: text values under application "Tandrel", section
//! "User Settings", addressed by key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    //! The stored text, or `defaultValue` when the key was never written.
    virtual QString read(const QString& key, const QString& defaultValue) const = 0;
    //! Creates or replaces the value.
    virtual void write(const QString& key, const QString& text) = 0;
    //! The file that the last write could not be saved to, or empty when it was
    //! saved. A value that was not saved still reads back until the program ends.
    virtual QString unsavedLocation() const { return {}; }
};

}  // namespace tandrel
