// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gt3sim/StreamCheck.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace gt3sim {

//! What the simulated GT-3 makes of a bulk load: gt3sim's stream checks
//! (framing, checksums, the pause between messages) plus the order of the
//! addresses, since the unit writes each block where its address says.
class LoadCheck : public StreamCheck {
public:
    explicit LoadCheck(std::chrono::microseconds minPause) : StreamCheck(minPause), minPauseUs_(minPause.count()) {}

    void feed(const unsigned char* bytes, std::size_t size, std::int64_t stampUs) override;

    std::size_t addressErrors() const { return addressErrors_; }
    //! Something came, and all of it passed every check.
    bool accepted() const { return messages() > 0 && clean() && addressErrors_ == 0; }

    //! For the panel: "N messages, M bytes, checksums OK", or what was wrong.
    std::string report() const;
    //! For whoever watches the panel's output: "messages=… bytes=… … ok=1".
    std::string summary() const;

private:
    void endOfMessage();

    std::int64_t minPauseUs_;
    Bytes message_;
    bool inSysex_ = false;
    bool haveEnd_ = false;
    std::uint32_t end_ = 0;  //!< the address after the last data-set message's data
    std::size_t addressErrors_ = 0;
};

//! FNV-1a over `bytes`: a short name for a memory's contents in the panel's output.
std::uint32_t fingerprint(const Bytes& bytes);

}  // namespace gt3sim
