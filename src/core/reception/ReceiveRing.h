#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

// The 2048-byte ring that carries decoded text from the reader thread to the UI thread, with
// the lock that guards it. One slot stays free to tell a full ring from an empty one, so at
// most 2047 bytes wait unread. The writer never overwrites them: Put takes what fits and the
// reader keeps the rest for its next poll, so a busy UI thread slows the transfer down but
// loses nothing.
class CReceiveRing {
public:
    static constexpr std::size_t RING_SIZE = 2048;
    static constexpr std::size_t RING_MASK = RING_SIZE - 1;
    static constexpr std::size_t CAPACITY = RING_SIZE - 1;

    // Appends as many of the length bytes as fit, in order; returns how many were taken.
    std::size_t Put(const std::uint8_t* data, std::size_t length) {
        std::lock_guard<std::mutex> lock(m_cs);
        const std::size_t used = (m_nRingWrite - m_nRingRead) & RING_MASK;
        const std::size_t taken = length < CAPACITY - used ? length : CAPACITY - used;
        for (std::size_t i = 0; i < taken; ++i) {
            m_ring[m_nRingWrite] = data[i];
            m_nRingWrite = (m_nRingWrite + 1) & RING_MASK;
        }
        return taken;
    }

    // Takes every unread byte into out, which has room for RING_SIZE bytes, and puts a
    // terminator after them. Returns the number of bytes taken.
    std::size_t Drain(std::uint8_t* out) {
        std::lock_guard<std::mutex> lock(m_cs);
        std::size_t count = 0;
        while (m_nRingRead != m_nRingWrite) {
            out[count++] = m_ring[m_nRingRead];
            m_nRingRead = (m_nRingRead + 1) & RING_MASK;
        }
        out[count] = 0;
        return count;
    }

    // Empties the ring. Only while no reader runs.
    void Reset() {
        std::lock_guard<std::mutex> lock(m_cs);
        m_nRingRead = 0;
        m_nRingWrite = 0;
    }

    bool IsEmpty() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_nRingRead == m_nRingWrite;
    }

private:
    std::mutex m_cs;
    std::uint8_t m_ring[RING_SIZE] = {};
    std::size_t m_nRingRead = 0;  // changed by the UI thread only
    std::size_t m_nRingWrite = 0; // changed by the reader only
};
