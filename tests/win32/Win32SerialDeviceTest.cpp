#include "platform/win32/Win32SerialDevice.h"
#include "core/reception/ComAPI.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The word of bit fields that follows DCBlength and BaudRate.
DWORD FlagWord(const DCB& dcb) {
    DWORD word = 0;
    std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + 2 * sizeof(DWORD), sizeof word);
    return word;
}

// The machine's line, 2400 8E2, with DTR and RTS raised and nothing else: no flow control,
// no error character, no NUL stripping, no abort on errors.
TEST(Win32SerialDevice, MachineLineDcb) {
    DCB dcb;
    ASSERT_TRUE(CWin32SerialDevice::BuildDcb({2400, 8, SerialLineSettings::Parity::Even, 2}, dcb));
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 2400u);
    EXPECT_EQ(FlagWord(dcb), 0x1013u) << std::hex << FlagWord(dcb);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.XonLim | dcb.XoffLim | dcb.wReserved | dcb.wReserved1, 0);
    EXPECT_EQ(dcb.XonChar | dcb.XoffChar | dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);

    DCB none;
    ASSERT_TRUE(CWin32SerialDevice::BuildDcb({9600, 7, SerialLineSettings::Parity::None, 1}, none));
    EXPECT_EQ(FlagWord(none), 0x1011u) << "no parity check without parity";
    EXPECT_EQ(none.Parity, NOPARITY);
    EXPECT_EQ(none.StopBits, ONESTOPBIT);
    EXPECT_FALSE(CWin32SerialDevice::BuildDcb({2400, 9, SerialLineSettings::Parity::Even, 2}, dcb));
    EXPECT_FALSE(CWin32SerialDevice::BuildDcb({2400, 8, SerialLineSettings::Parity::Even, 3}, dcb));
}

TEST(Win32SerialDevice, PortThatCannotExistFailsToOpen) {
    const std::string tooLong(95, '9');
    for (const std::string& name : {std::string("COM97"), std::string("NOSUCHPORT"), tooLong}) {
        CComAPI link;
        EXPECT_EQ(link.OpenAndDrain(name.c_str()), 0) << name;
        EXPECT_FALSE(link.IsOpen()) << name;
    }
    char path[CComAPI::DEVICE_PATH_SIZE];
    ASSERT_TRUE(CComAPI::BuildDevicePath("COM3", path, sizeof path));
    EXPECT_STREQ(path, "\\\\.\\COM3");
    SerialOpenError error = SerialOpenError::None;
    EXPECT_EQ(OpenSerialDevice("\\\\.\\COM97", error), nullptr);
    EXPECT_EQ(error, SerialOpenError::Missing);
    EXPECT_FALSE(SerialDeviceExists("\\\\.\\COM97"));
}

} // namespace
