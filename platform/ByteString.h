// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tandrel {

//! A byte-exact string: one element per byte (0 to 255), its length the number of
//! bytes. Dumps and MIDI messages travel as these between the ports, memory and
//! files; no character-set conversion is ever applied to them.
using ByteString = std::string;

inline unsigned char byteAt(const ByteString& s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

}  // namespace tandrel
