#include "core/reception/ReceiveRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string DrainAll(CReceiveRing& ring) {
    std::uint8_t out[CReceiveRing::RING_SIZE];
    const std::size_t count = ring.Drain(out);
    EXPECT_EQ(out[count], 0);
    return std::string(reinterpret_cast<const char*>(out), count);
}

const std::uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

} // namespace

TEST(ReceiveRing, DrainTakesEverythingInOrderAcrossTheWrap) {
    CReceiveRing ring;
    EXPECT_EQ(DrainAll(ring), "");
    // Walk the indices close to the end, then write across it.
    const std::string filler(2000, 'f');
    ASSERT_EQ(ring.Put(Bytes(filler), filler.size()), filler.size());
    EXPECT_EQ(DrainAll(ring), filler);
    std::string wrapped;
    for (int i = 0; i < 100; ++i) {
        wrapped += static_cast<char>('A' + i % 26);
    }
    ASSERT_EQ(ring.Put(Bytes(wrapped), wrapped.size()), wrapped.size());
    EXPECT_EQ(DrainAll(ring), wrapped);
    EXPECT_TRUE(ring.IsEmpty());
}

TEST(ReceiveRing, FullRingTakesWhatFitsAndKeepsUnreadBytes) {
    CReceiveRing ring;
    const std::string first(1500, 'a');
    const std::string second(1000, 'b');
    ASSERT_EQ(ring.Put(Bytes(first), first.size()), 1500u);
    // Only 547 of 1000 fit; the writer must not run over the 1500 unread bytes.
    ASSERT_EQ(ring.Put(Bytes(second), second.size()), CReceiveRing::CAPACITY - 1500);
    EXPECT_EQ(ring.Put(Bytes(second), 1), 0u);
    EXPECT_EQ(DrainAll(ring), first + std::string(CReceiveRing::CAPACITY - 1500, 'b'));
    // After the drain the rest fits.
    EXPECT_EQ(ring.Put(Bytes(second), 453), 453u);
    EXPECT_EQ(DrainAll(ring), std::string(453, 'b'));
}

TEST(ReceiveRing, ResetEmptiesIt) {
    CReceiveRing ring;
    ring.Put(Bytes("abc"), 3);
    ring.Reset();
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(DrainAll(ring), "");
}

// A writer that keeps what did not fit and a slow reader: every byte arrives once, in order.
TEST(ReceiveRing, ConcurrentWriterAndReaderLoseAndReorderNothing) {
    CReceiveRing ring;
    constexpr std::size_t TOTAL = 600'000;
    std::vector<std::uint8_t> source(TOTAL);
    for (std::size_t i = 0; i < TOTAL; ++i) {
        source[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        std::size_t sent = 0;
        std::size_t chunk = 1;
        while (sent < TOTAL) {
            const std::size_t length = std::min(chunk, TOTAL - sent);
            sent += ring.Put(source.data() + sent, length);
            chunk = chunk % 1024 + 37; // chunks of many sizes, some larger than the free space
            if (sent % 5 == 0) {
                std::this_thread::yield();
            }
        }
        writerDone = true;
    });

    std::vector<std::uint8_t> received;
    received.reserve(TOTAL);
    std::uint8_t out[CReceiveRing::RING_SIZE];
    for (;;) {
        const bool finished = writerDone.load();
        const std::size_t count = ring.Drain(out);
        ASSERT_LE(count, CReceiveRing::CAPACITY);
        received.insert(received.end(), out, out + count);
        if (finished && count == 0) {
            break;
        }
        if (received.size() % 3 == 0) {
            std::this_thread::yield();
        }
    }
    writer.join();
    ASSERT_EQ(received.size(), TOTAL);
    EXPECT_TRUE(received == source);
}
