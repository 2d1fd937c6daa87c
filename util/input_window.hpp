// Reading a dump at scattered offsets: which of its bytes to keep in memory
// and how many to read when a read falls outside them.  The decisions are
// the same on every system; the platform only fetches the bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The bytes of a file held in memory: `length` of them from offset `start`.
struct input_window {
    std::int64_t start = 0;
    std::size_t length = 0;

    std::int64_t end() const { return start + static_cast<std::int64_t>(length); }
    // Whether the `size` bytes from `at` are all held.
    bool holds(std::int64_t at, std::size_t size) const {
        return at >= start && at <= end() && size <= static_cast<std::size_t>(end() - at);
    }
};

// The first read after a jump: about one sound description, so that a bank
// whose descriptions and data lie in any order is still read about once.
constexpr std::size_t k_first_fetch = 128;

// What to hold after a read of `wanted` bytes at `at` that `held` does not
// hold: the new window, of which the first `kept` bytes are those `held` has
// already (the rest are to be read, from window.start + kept).
struct input_fetch {
    input_window window;
    std::size_t kept = 0;
};

// Reads that run on from the window (from inside it, or a little past its
// end, as reads that step over a chunk's data do) grow it to three times
// its size, keeping what it holds for the step back to a description's
// start or name; so a dump read front to back soon moves in reads of about
// `capacity`.  After a jump elsewhere the window starts small again, at the
// read.  A window never holds less than the read, nor more than capacity.
inline input_fetch plan_fetch(const input_window& held, std::int64_t at, std::size_t wanted,
                              std::size_t capacity) {
    const bool runs_on = held.length != 0 && at >= held.start &&
                         at - held.end() < static_cast<std::int64_t>(held.length);
    const std::size_t size =
        std::min(std::max(runs_on ? 2 * held.length : k_first_fetch, wanted), capacity);
    const auto extended = static_cast<std::size_t>(at - held.start) + size;
    if (runs_on && extended <= capacity) return {{held.start, extended}, held.length};
    return {{at, size}, 0};
}
