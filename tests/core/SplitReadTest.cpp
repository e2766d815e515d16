// The same stream cut into reads anywhere must give the same text and the same history:
// the decoder keeps its state between reads and the document completes lines across chunks.
#include "core/document/KLTDoc.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "core/text/Cp932.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Received {
    std::string text; // decoded bytes, zero bytes included
    std::vector<std::string> lines;
    std::string pending;
    int maxLength = 0;

    bool operator==(const Received&) const = default;
};

// The reception's path for one stream: every read is decoded, stripped of its zero bytes
// and appended to the document. cuts are the read boundaries, ascending.
Received Receive(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    CComAPI com;
    CKLTDoc doc;
    Received result;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t end = i < cuts.size() ? cuts[i] : stream.size();
        Bytes chunk(2 * (end - start) + 1);
        const std::size_t length =
            com.DecodeBytes(stream.data() + start, end - start, chunk.data());
        result.text.append(chunk.begin(), chunk.begin() + length);
        const std::size_t kept = RemoveZeroBytes(chunk.data(), length);
        doc.AppendText(std::string_view(reinterpret_cast<const char*>(chunk.data()), kept));
        start = end;
    }
    for (std::size_t i = 0; i < doc.GetLineCount(); ++i) {
        result.lines.emplace_back(doc.GetLine(i));
    }
    result.pending = doc.m_strPending;
    result.maxLength = doc.m_nMaxLength;
    return result;
}

// The line splitting done the plain way, from the start of the pending text every time.
void ExpectPlainSplit(const Received& got) {
    std::string pending;
    for (char byte : got.text) {
        if (byte != '\0') {
            pending += byte;
        }
    }
    std::vector<std::string> lines;
    int maxLength = 0;
    for (;;) {
        const std::size_t pair = cp932::Find(pending, "\r\n");
        if (pair == std::string::npos) {
            break;
        }
        lines.push_back(pending.substr(0, pair));
        maxLength = std::max(maxLength, static_cast<int>(pair));
        pending.erase(0, pair + 2);
    }
    EXPECT_EQ(got.lines, lines);
    EXPECT_EQ(got.pending, pending);
    EXPECT_EQ(got.maxLength, maxLength);
}

Bytes SampleStream() {
    std::ifstream in(KLT_SOURCE_DIR "/samples/operation-history.prn", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Streams drawn mostly from the bytes that matter: FS, '&', line ends, zero bytes, lead
// bytes, JIS bytes, katakana and bytes the text mode drops.
Bytes RandomStream(std::mt19937& random, std::size_t length) {
    static const std::uint8_t alphabet[] = {0x1C, 0x1C, 0x26, 0x26, 0x0D, 0x0D, 0x0A,
                                            0x00, 0x81, 0x9F, 0xE0, 0xFC, 0x30, 0x21,
                                            0x7E, 0x41, 0xB1, 0xFF, 0x1B, 0x2E};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet);
    std::uniform_int_distribution<int> any(0, 255);
    Bytes stream(length);
    for (auto& byte : stream) {
        const int i = pick(random);
        byte = i == sizeof alphabet ? std::uint8_t(any(random)) : alphabet[i];
    }
    return stream;
}

std::vector<std::size_t> RandomCuts(std::mt19937& random, std::size_t length) {
    std::vector<std::size_t> cuts;
    std::uniform_int_distribution<std::size_t> step(1, 24);
    for (std::size_t pos = step(random); pos < length; pos += step(random)) {
        cuts.push_back(pos);
    }
    return cuts;
}

void ExpectSameAtEveryCut(const Bytes& stream) {
    const Received whole = Receive(stream, {});
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        ASSERT_TRUE(Receive(stream, {cut}) == whole) << "cut at " << cut;
    }
}

// DecodeBytes takes text and JIS pairs in bulk; it must agree with DecodeByte byte for byte,
// in the output and in the state it leaves.
TEST(SplitRead, BulkDecodingMatchesDecodingByteByByte) {
    std::mt19937 random(42);
    std::vector<Bytes> streams{SampleStream()};
    for (int i = 0; i < 2000; ++i) {
        streams.push_back(RandomStream(random, i % 64));
    }
    for (const auto& stream : streams) {
        CComAPI bulk;
        CComAPI single;
        Bytes bulkOut(2 * stream.size() + 1);
        bulkOut.resize(bulk.DecodeBytes(stream.data(), stream.size(), bulkOut.data()));
        Bytes singleOut;
        for (auto byte : stream) {
            std::uint8_t out[2];
            singleOut.insert(singleOut.end(), out, out + single.DecodeByte(byte, out));
        }
        ASSERT_EQ(bulkOut, singleOut);
        ASSERT_EQ(bulk.DecodeMode(), single.DecodeMode());
        ASSERT_EQ(bulk.JisHigh(), single.JisHigh());
    }
}

TEST(SplitRead, SampleStreamDecodesTheSameAtEveryCut) {
    const Bytes stream = SampleStream();
    ASSERT_GT(stream.size(), 1000u);
    ExpectPlainSplit(Receive(stream, {}));
    ExpectSameAtEveryCut(stream);

    // ...and in reads of the serial link's size, and of random sizes.
    std::vector<std::size_t> reads;
    for (std::size_t pos = 512; pos < stream.size(); pos += 512) {
        reads.push_back(pos);
    }
    EXPECT_TRUE(Receive(stream, reads) == Receive(stream, {}));
    std::mt19937 random(20240513);
    EXPECT_TRUE(Receive(stream, RandomCuts(random, stream.size())) == Receive(stream, {}));
}

TEST(SplitRead, RandomStreamsDecodeTheSameHoweverTheyAreCut) {
    std::mt19937 random(1234567);
    std::uniform_int_distribution<std::size_t> length(0, 300);
    for (int round = 0; round < 300; ++round) {
        const Bytes stream = RandomStream(random, length(random));
        const Received whole = Receive(stream, {});
        ExpectPlainSplit(whole);
        ExpectSameAtEveryCut(stream);
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(Receive(stream, RandomCuts(random, stream.size())) == whole)
                << "round " << round;
        }
        if (HasFatalFailure()) {
            return;
        }
    }
}

} // namespace
