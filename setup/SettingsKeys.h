// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/SettingsStore.h"

#include <QString>

#include <cstdint>

namespace tandrel::settings {

inline const QString kUserSetup = QStringLiteral("User Setup?");
inline const QString kMIDIInputDeviceID = QStringLiteral("MIDI Input Device ID");
inline const QString kMIDIOutputDeviceID = QStringLiteral("MIDI Output Device ID");
inline const QString kUserFolder = QStringLiteral("UserFolder");
//! The chosen devices' names, kept beside their numbers: a number names whatever
//! device holds that position at the next start, the name the one the user chose.
inline const QString kMIDIInputDeviceName = QStringLiteral("MIDI Input Device Name");
inline const QString kMIDIOutputDeviceName = QStringLiteral("MIDI Output Device Name");

//! The leading decimal number of `text` (after any leading blanks, with an optional
//! sign and fraction); 0 when the text does not begin with a number.
double Val(const QString& text);

//! `Val(text)` as a 16-bit integer (a list position or a device number): rounded to
//! the nearest integer, halves to the even neighbour, and held within the 16-bit
//! range so that no stored value can end the program.
std::int16_t ValInt16(const QString& text);

//! A number as signed decimal text: a blank in the place of the sign when it is not
//! negative (" 0", " 2"), a minus sign otherwise ("-1").
QString SignedText(long long n);

//! The folder that holds the program's executable: the default "UserFolder".
QString ExecutableFolder();

}  // namespace tandrel::settings
