// The line settings handed to the PL2303 driver.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/SerialPort.h"

namespace veldrix {
namespace {

TEST(SerialLine, SettingsStartFromZeroWithoutFlowControl) {
    DCB dcb;
    // Whatever another program left in a record must not carry over.
    std::memset(&dcb, 0xFF, sizeof dcb);
    ASSERT_TRUE(MakeLineSettings("baud=38400 parity=E data=8 stop=1", dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof dcb);
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_FALSE(dcb.fAbortOnError);
    // No flow control of any kind, nothing stripped or replaced.
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fDsrSensitivity);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fNull);
    EXPECT_FALSE(dcb.fErrorChar);
    EXPECT_NE(dcb.fDtrControl, unsigned(DTR_CONTROL_HANDSHAKE));
    EXPECT_NE(dcb.fRtsControl, unsigned(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
}

}  // namespace
}  // namespace veldrix
