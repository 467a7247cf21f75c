// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Finding a remembered device by its name in a freshly listed set of devices.
// Device numbers are positions in a list that the MIDI system rebuilds whenever a
// device comes or goes, so the name is what identifies the device the user chose.

#include <QString>
#include <QStringList>

#include <optional>

namespace tandrel {

//! `name` without the client and port numbers that ALSA appends after a blank
//! (" 20:0"); they change between boots and when devices are plugged in another
//! order. Any other name is returned as it is.
QString WithoutClientPort(const QString& name);

//! The position in `names` of the device remembered as `stored`, or none when it is
//! not listed. An exact name beats one that matches only without the client:port
//! numbers; among equals the one at `storedPosition` wins (two identical interfaces
//! have the same name), then the first listed. An empty `stored` matches nothing.
std::optional<int> FindDevice(const QStringList& names, const QString& stored, int storedPosition);

}  // namespace tandrel
