// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <QString>

namespace tandrel {

//! A `.syx` file is the dump byte for byte: no header, no length, no trailer.

//! Creates or replaces `path` so that it holds exactly `dump`. The bytes go to a
//! temporary file beside it that replaces the old file only once complete, so a
//! failed write never leaves a half-written file where a good one stood.
//! Returns false when the file could not be written.
bool WriteSyxFile(const QString& path, const ByteString& dump);

//! Reads a whole file into `dump`. `dump` is emptied first; when the file cannot be
//! opened it stays empty. When it opens but cannot be read (or is too large to
//! hold), `dump` becomes as many blanks as the file has bytes, where memory allows.
//! Returns false on any failure.
bool ReadSyxFile(const QString& path, ByteString& dump);

}  // namespace tandrel
