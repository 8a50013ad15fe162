#include "plugins/pixbuf/held_bytes.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// The most bytes one read hands over. The engine's reader asks for a large
// block whenever it runs out and keeps what it gets; bytes it holds count for
// nothing when deciding whether the next rows can be made (how far it has
// decoded into them is not known), so they are handed over a few kilobytes
// at a time and rows follow the arriving bytes closely.
constexpr std::size_t kMaxReadBytes = 4096;

}  // namespace

bool HeldBytes::Add(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t room = received < limit ? limit - received : 0;
    const std::size_t kept = size < room ? size : static_cast<std::size_t>(room);
    if (kept > 0) {
        try {
            bytes.insert(bytes.end(), data, data + kept);
        } catch (const std::bad_alloc&) {
            return false;
        } catch (const std::length_error&) {
            return false;
        }
    }
    received += size;
    return true;
}

void HeldBytes::Discard() {
    if (position == 0 || position < bytes.size() / 2) return;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(position));
    position = 0;
    // The vector keeps its capacity: the next pieces reuse it.
}

bool HeldBytes::Read(void* buffer, std::uint32_t size, std::uint32_t* got) {
    std::size_t n = size < Unread() ? size : Unread();
    if (n > kMaxReadBytes) n = kMaxReadBytes;
    if (n > 0) std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    *got = static_cast<std::uint32_t>(n);
    if (n == 0 && size > 0 && !complete) starved = true;
    return true;
}

bool HeldBytes::TotalSize(std::uint64_t* length) const {
    if (!complete) return false;
    *length = received;
    return true;
}
