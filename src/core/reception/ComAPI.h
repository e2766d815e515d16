#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CSerialDevice;
enum class SerialOpenError;
enum class SerialWait;

// The serial link to the machine and the decoder of its print stream.
//
// The machine sends what it would print: single-byte text with CR line ends, and kanji as
// JIS X 0208 pairs between FS '&' (kanji mode on) and FS plus any other byte (off). The
// decoder turns that, byte by byte, into Shift-JIS text with CR LF line ends. Its state
// lives here rather than in one read, so a pair or an FS '&' split across reads decodes
// as if it had arrived in one piece; only closing the port resets it.
//
// The link only receives: it never writes a byte to the port. It has no lock: the port is
// opened and closed on the UI thread while no reader runs, and read on the reader thread.
class CComAPI {
public:
    // Values of the decoder mode.
    static constexpr int DECODE_TEXT = 0;
    static constexpr int DECODE_AFTER_FS = 1;
    static constexpr int DECODE_KANJI = 2;

    // One read takes at most this many raw bytes; it decodes to at most twice as many.
    static constexpr std::size_t RX_BUFFER_SIZE = 512;
    static constexpr std::size_t DECODED_BUFFER_SIZE = 2 * RX_BUFFER_SIZE;

    // The device path of a port name is built in a buffer of this size, terminator included.
    static constexpr std::size_t DEVICE_PATH_SIZE = 100;

    // Opens the device at a path for this process alone; null when it cannot, with the reason.
    using DeviceOpener = std::unique_ptr<CSerialDevice> (*)(const char* devicePath,
                                                            SerialOpenError& error);

    // The link on the platform's serial devices.
    CComAPI();
    // The link on devices opened by openDevice.
    explicit CComAPI(DeviceOpener openDevice);
    // Releases a port still open, without purging it or dropping DTR first.
    ~CComAPI();
    CComAPI(const CComAPI&) = delete;
    CComAPI& operator=(const CComAPI&) = delete;

    // Opens and configures the port, then reads and throws away the input already waiting.
    // 1 when the port is open, 0 when it was not opened. Does not touch the decoder.
    int OpenAndDrain(const char* portName);

    // Opens and configures the port without draining it: 1 or 0. A port still open is
    // closed first. After a failure no port is open.
    int OpenPort(const char* portName);

    // ReadAndDecode's result when the line is gone for good (an unplugged adapter, the
    // other end closed); the port stays open until ClosePort.
    static constexpr int READ_LINE_LOST = -1;

    // Reads what has arrived, without waiting, and decodes it into out (room for
    // DECODED_BUFFER_SIZE bytes). Returns 1 when the read delivered at least one byte, even
    // if it decoded to nothing; 0 when nothing arrived, the read failed or no port is open;
    // READ_LINE_LOST once the line is lost (after every byte that arrived before).
    // decodedLength receives the number of bytes written to out (0 with the result 0); no
    // terminator is written.
    int ReadAndDecode(std::uint8_t* out, std::size_t& decodedLength);

    // Sleeps until the open port has input, its line is lost, CancelWait is called or
    // timeoutMs (negative: no limit) has passed; the device's answer. Without a port it
    // returns Input at once, and a read then says there is none.
    SerialWait WaitForInput(int timeoutMs);

    // Ends a WaitForInput running on the reader thread at once (or the next one). The one
    // call that may come from another thread while the port is read; the port must not be
    // opened or closed meanwhile.
    void CancelWait();

    // Closes the port if one is open (purge, drop DTR, release) and resets the decoder in
    // every case.
    void ClosePort();

    bool IsOpen() const { return m_hCom != nullptr; }

    // Why the last OpenPort or OpenAndDrain failed; None after a success.
    SerialOpenError LastOpenError() const { return m_lastOpenError; }

    // The device path of a port name: the platform's device folder followed by the name, or
    // the name itself when it is already a path. False, with path empty, when the name is
    // empty or the path does not fit in size bytes with its terminator; a name is never cut
    // short into the name of another device. With DEVICE_PATH_SIZE, names of up to 94
    // characters fit.
    static bool BuildDevicePath(const char* portName, char* path, std::size_t size);

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
    void ReleasePort();

    DeviceOpener m_pfnOpenDevice;
    std::unique_ptr<CSerialDevice> m_hCom; // null while no port is open
    SerialOpenError m_lastOpenError;
    std::uint8_t m_byRxBuf[RX_BUFFER_SIZE]; // raw bytes of the last read
    std::uint32_t m_dwRxLen = 0;            // bytes in m_byRxBuf; 0 when the read found none
    int m_nDecodeMode = DECODE_TEXT;
    std::uint8_t m_byJisHigh = 0; // first byte of a JIS pair waiting for its second; 0 = none
    std::uint8_t m_byJisLow = 0;  // working store while a pair is converted
};
