// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tandrel::bench {

//! A bulk dump of exactly `bytes` bytes (0, or at least 13) made of Roland data-set
//! messages as a GT-3 sends them: F0 41 10 00 1B 12, four address bytes, data,
//! checksum, F7. Patches of 150 to 400 data bytes are cut into 128-byte messages and
//! a shorter remainder, so lengths vary as in a real dump. The same seed gives the
//! same bytes.
std::string MakeDump(std::size_t bytes, unsigned seed = 1);

//! The lengths of the messages of `dump`, each up to and including its F7.
std::vector<std::size_t> MessageLengths(const std::string& dump);

//! The offset of the first byte where `a` and `b` differ (the shorter length when
//! one is the start of the other).
std::size_t FirstDifference(const std::string& a, const std::string& b);

}  // namespace tandrel::bench
