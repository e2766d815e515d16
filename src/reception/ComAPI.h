#pragma once

#include <cstddef>
#include <cstdint>

// The serial link to the machine and the decoder of its print stream.
//
// The machine sends what it would print: single-byte text with CR line ends, and kanji as
// JIS X 0208 pairs between FS '&' (kanji mode on) and FS plus any other byte (off). The
// decoder turns that, byte by byte, into Shift-JIS text with CR LF line ends. Its state
// lives here rather than in one read, so a pair or an FS '&' split across reads decodes
// as if it had arrived in one piece; only closing the port resets it.
class CComAPI {
public:
    // Values of the decoder mode.
    static constexpr int DECODE_TEXT = 0;
    static constexpr int DECODE_AFTER_FS = 1;
    static constexpr int DECODE_KANJI = 2;

    // One read takes at most this many raw bytes; it decodes to at most twice as many.
    static constexpr std::size_t RX_BUFFER_SIZE = 512;
    static constexpr std::size_t DECODED_BUFFER_SIZE = 2 * RX_BUFFER_SIZE;

    CComAPI() = default;
    CComAPI(const CComAPI&) = delete;
    CComAPI& operator=(const CComAPI&) = delete;

    // Decodes one received byte into out (room for 2 bytes) and returns how many bytes it
    // wrote: 0, 1 or 2. Never writes a terminator.
    std::uint8_t DecodeByte(std::uint8_t byte, std::uint8_t* out);

    // Decodes length bytes in order into out (room for 2 * length bytes); returns the
    // number of bytes written. Same result as DecodeByte for each byte in turn, but runs of
    // text and of JIS pairs go in bulk; bytes of out past the result may be overwritten.
    std::size_t DecodeBytes(const std::uint8_t* in, std::size_t length, std::uint8_t* out);

    // Back to text mode with no JIS byte waiting.
    void ResetDecoder();

    int DecodeMode() const { return m_nDecodeMode; }
    std::uint8_t JisHigh() const { return m_byJisHigh; }
    std::uint8_t JisLow() const { return m_byJisLow; }

private:
    int m_nDecodeMode = DECODE_TEXT;
    std::uint8_t m_byJisHigh = 0; // first byte of a JIS pair waiting for its second; 0 = none
    std::uint8_t m_byJisLow = 0;  // working store while a pair is converted
};
