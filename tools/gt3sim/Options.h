// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace gt3sim {

//! Everything the command line can set; see usage() in main.cpp.
struct Options {
    std::string command;
    std::string file;
    // generate
    std::size_t size = 125000;
    std::size_t block = 0;  //!< 0: the GT-3's own layout of blocks
    unsigned device = 0x10;
    unsigned seed = 1;
    // the MIDI peer
    std::string api;  //!< "jack", "alsa", or empty: JACK, else ALSA
    std::string name = "gt3sim";
    std::string connect;
    bool inactive = false;  //!< JACK: the port is made but the client never activates, so nothing can connect
    // transmit
    bool din = true;
    std::chrono::microseconds pause{20000};
    std::size_t piece = 4096;
    std::size_t cycleBytes = 8192;
    std::chrono::milliseconds wait{10000};
    std::chrono::milliseconds delay{0};  //!< from the connection to the first byte
    // receive
    std::size_t expectMessages = 0;
    std::size_t expectBytes = 0;
    std::chrono::milliseconds idle{2000};
    std::chrono::milliseconds timeout{60000};
    std::chrono::microseconds minPause{0};
};

}  // namespace gt3sim
