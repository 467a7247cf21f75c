// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tandrel {

//! A fixed ring of byte records (a length, then the bytes) from one producer thread
//! to one consumer thread, with no lock and no allocation after construction: JACK's
//! realtime thread writes into it without ever waiting on a reader. A record that
//! does not fit is not written and is counted as dropped.
class MidiByteRing {
public:
    //! `capacity` bytes, rounded up to a power of two; each record takes 4 more.
    explicit MidiByteRing(std::size_t capacity);
    MidiByteRing(const MidiByteRing&) = delete;
    MidiByteRing& operator=(const MidiByteRing&) = delete;

    std::size_t capacity() const { return mask_ + 1; }
    //! Writes every page once, before the producer starts, so its first lap takes no
    //! page faults on the realtime thread.
    void touch();

    //! Producer: appends one record; false (and counted) when it does not fit whole.
    bool write(const unsigned char* bytes, std::size_t size);
    //! Consumer: moves the oldest record into `out`; false when none waits.
    bool read(std::vector<unsigned char>& out);
    //! Consumer: records the producer could not write since the last call.
    std::size_t takeDropped() { return dropped_.exchange(0, std::memory_order_relaxed); }

private:
    static constexpr std::size_t HeaderBytes = sizeof(std::uint32_t);
    void copyIn(std::uint64_t at, const unsigned char* from, std::size_t size);
    void copyOut(std::uint64_t at, unsigned char* to, std::size_t size) const;

    std::size_t mask_;
    std::unique_ptr<unsigned char[]> bytes_;
    // Both count bytes since construction, so full and empty differ; apart, so the two
    // threads do not share a cache line.
    alignas(64) std::atomic<std::uint64_t> written_{0};
    alignas(64) std::atomic<std::uint64_t> read_{0};
    alignas(64) std::atomic<std::size_t> dropped_{0};
};

}  // namespace tandrel
