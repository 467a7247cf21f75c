// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <QString>

class QIODevice;

namespace tandrel {

//! A `.syx` file is the dump byte for byte: no header, no length, no trailer.

//! Creates or replaces `path` so that it holds exactly `dump`. The bytes go to a
//! temporary file beside it that replaces the old file only once complete, so a
//! failed write never leaves a half-written file where a good one stood.
//! Returns false when the file could not be written.
bool WriteSyxFile(const QString& path, const ByteString& dump);

//! The largest file that is read into memory: thousands of times any GT-3 dump,
//! and well within what the send's 32-bit counters carry. A larger file is
//! refused like one that cannot be opened, so opening a stray huge file can
//! never exhaust memory.
inline constexpr qint64 kMaxSyxFileSize = qint64(256) * 1024 * 1024;

//! Reads a whole file into `dump`. `dump` is emptied first; when the file cannot be
//! opened, or is larger than kMaxSyxFileSize, it stays empty. When it opens but
//! cannot be read, `dump` becomes as many blanks as the file has bytes.
//! Returns false on any failure.
bool ReadSyxFile(const QString& path, ByteString& dump);

//! The same from a device already open for reading, whose size() is the file's.
bool ReadSyxFile(QIODevice& file, ByteString& dump);

}  // namespace tandrel
