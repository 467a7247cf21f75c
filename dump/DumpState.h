// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ByteString.h"

#include <QString>

#include <cstdint>

namespace tandrel {

//! The program-wide dump variables of module `MAIN`. The program holds one
//! instance from start-up to exit; every handler reads and writes it directly on
//! the user-interface thread.
struct DumpState {
    //! Bytes received since the count was last reset.
    std::int32_t lByteCount = 0;
    //! The dump: received messages back to back, or the whole of the file last
    //! opened. Empty means no dump is held.
    ByteString sSysexData;
    //! The message being sent at the moment; it keeps the last one until the next send.
    ByteString sSysexMessage;
    //! The folder both file dialogs open in.
    QString sUserFolder;
};

}  // namespace tandrel
