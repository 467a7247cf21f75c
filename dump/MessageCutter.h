// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <cstddef>

namespace tandrel {

//! End of System Exclusive: the only byte the program ever looks for in a dump.
inline constexpr unsigned char kEndOfExclusive = 0xF7;

//! The length of the next message of `dump` that starts at `from`: the bytes up
//! to and including the first F7 at or after `from`, or 0 when no F7 follows.
//! Cutting a whole dump this way costs time linear in its length.
std::size_t NextMessageLength(const ByteString& dump, std::size_t from);

}  // namespace tandrel
