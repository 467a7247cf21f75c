// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/MessageCutter.h"

#include <cstring>

namespace tandrel {

std::size_t NextMessageLength(const ByteString& dump, std::size_t from)
{
    if (from >= dump.size())
        return 0;
    const void* hit = std::memchr(dump.data() + from, kEndOfExclusive, dump.size() - from);
    if (!hit)
        return 0;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - (dump.data() + from)) + 1;
}

}  // namespace tandrel
