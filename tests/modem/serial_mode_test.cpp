// The line-settings text, read as Windows' BuildCommDCB reads it.
#include "platform/serial_mode.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/serial.h"

namespace kelvor {
namespace {

// The name Windows opens: a numbered port by its number as read, so that COM05 is the port
// COM5, not a device \\.\COM05 that no system has.
TEST(WindowsDeviceName, ANumberedPortOpensByItsNumber) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM5", "\\\\.\\COM5"},     {"COM05", "\\\\.\\COM5"},
      {"COM0012", "\\\\.\\COM12"}, {"COM:\\\\.\\CNCA0", "\\\\.\\CNCA0"},
      {"COM00005", "COM00005"},    {"COM0", "COM0"},
  };
  for (const auto& c : cases) {
    char device[64];
    WindowsDeviceName(c.name, device, sizeof device);
    EXPECT_STREQ(device, c.device) << c.name;
  }
}

#ifdef _WIN32
// A line setting the port does not take is said with the port and the setting; NUL, a device
// that is no serial port, takes none.
TEST(WindowsSerialPort, ASettingThePortDoesNotTakeIsSaidWithThePortAndTheSetting) {
  auto port = NewSerialPort();
  ASSERT_TRUE(port->Open("COM:NUL"));
  char error[256] = "";
  EXPECT_FALSE(port->BuildMode("9600,N,8,1", error, sizeof error));
  EXPECT_EQ(std::string(error).rfind("COM:NUL does not take the setting 9600,N,8,1: ", 0), 0u)
      << error;
}
#endif

TEST(ParseSerialMode, TheCommaForm) {
  struct Case {
    const char* text;
    uint32_t baud;
    char parity;
    uint8_t data;
    StopBits stop;
    Handshake handshake;
  } cases[] = {
      {"9600,N,8,1", 9600, 'N', 8, StopBits::kOne, Handshake::kUnset},
      {"9600,n,8,1", 9600, 'N', 8, StopBits::kOne, Handshake::kUnset},
      {"96,e,7,2", 9600, 'E', 7, StopBits::kTwo, Handshake::kUnset},
      {"11,o,5,1.5", 110, 'O', 5, StopBits::kOnePointFive, Handshake::kUnset},
      {"15,e,7,2", 150, 'E', 7, StopBits::kTwo, Handshake::kUnset},
      {"30,m,6,1", 300, 'M', 6, StopBits::kOne, Handshake::kUnset},
      {"60,s,8,1", 600, 'S', 8, StopBits::kOne, Handshake::kUnset},
      {"12", 1200, 0, 0, StopBits::kUnset, Handshake::kUnset},
      {"24,N", 2400, 'N', 0, StopBits::kUnset, Handshake::kUnset},
      {"48,N,8", 4800, 'N', 8, StopBits::kUnset, Handshake::kUnset},
      {"19,N,8,1,X", 19200, 'N', 8, StopBits::kOne, Handshake::kXonXoff},
      {"115200,N,8,1,p", 115200, 'N', 8, StopBits::kOne, Handshake::kHardware},
      {"COM5:9600,N,8,1", 9600, 'N', 8, StopBits::kOne, Handshake::kUnset},
      {"COM12 9600, N, 8, 1", 9600, 'N', 8, StopBits::kOne, Handshake::kUnset},
      {"", 0, 0, 0, StopBits::kUnset, Handshake::kUnset},
      {"COM1:", 0, 0, 0, StopBits::kUnset, Handshake::kUnset},
  };
  for (const Case& c : cases) {
    SerialSettings s;
    ASSERT_TRUE(ParseSerialMode(c.text, &s)) << c.text;
    EXPECT_EQ(s.baud, c.baud) << c.text;
    EXPECT_EQ(s.parity, c.parity) << c.text;
    EXPECT_EQ(s.dataBits, c.data) << c.text;
    EXPECT_EQ(s.stopBits, c.stop) << c.text;
    EXPECT_EQ(s.handshake, c.handshake) << c.text;
    EXPECT_EQ(s.dtr, LineSwitch::kUnset) << c.text;
  }
}

TEST(ParseSerialMode, TheKeywordForm) {
  SerialSettings s;
  ASSERT_TRUE(ParseSerialMode(
      "COM2: baud=96 PARITY=e DATA=7 STOP=2 TO=ON XON=off ODSR=OFF OCTS=ON DTR=HS RTS=TG IDSR=OFF",
      &s));
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.parity, 'E');
  EXPECT_EQ(s.dataBits, 7);
  EXPECT_EQ(s.stopBits, StopBits::kTwo);
  EXPECT_EQ(s.timeout, LineSwitch::kOn);
  EXPECT_EQ(s.xon, LineSwitch::kOff);
  EXPECT_EQ(s.outDsr, LineSwitch::kOff);
  EXPECT_EQ(s.outCts, LineSwitch::kOn);
  EXPECT_EQ(s.dtr, LineSwitch::kHandshake);
  EXPECT_EQ(s.rts, LineSwitch::kToggle);
  EXPECT_EQ(s.inDsr, LineSwitch::kOff);
  EXPECT_EQ(s.handshake, Handshake::kUnset);

  SerialSettings few;
  ASSERT_TRUE(ParseSerialMode("BAUD=115200", &few));
  EXPECT_EQ(few.baud, 115200u);
  EXPECT_EQ(few.parity, 0);
  EXPECT_EQ(few.rts, LineSwitch::kUnset);
}

TEST(ParseSerialMode, RefusesWhatItCannotReadAndLeavesTheSettingsAlone) {
  const char* refused[] = {
      "9600,N,8,1,X,1",  // one field too many
      "9600,,8,1",       // an empty field
      "9600,N,8,",       // a trailing empty field
      "0,N,8,1",         // no rate
      "9600,Q,8,1",      // no such parity
      "9600,N,9,1",      // data bits 5 to 8
      "9600,N,4,1",
      "9600,N,8,3",    // stop bits 1, 1.5 or 2
      "9600,N,8,1,Z",  // handshake X or P
      "96 00,N,8,1",
      "9600 N 8 1",
      "9600,N,8,1 DTR=ON",  // the two forms mixed
      "BAUD=9600,PARITY=N",
      "BAUD=9600 8",
      "BAUD= PARITY=N",
      "SPEED=9600",
      "DTR=TG",  // TG only for RTS
      "XON=HS",  // HS only for DTR and RTS
      "TO=YES",
      "1234567890,N,8,1",  // more digits than any rate
      "COM1",
  };
  for (const char* text : refused) {
    SerialSettings s;
    s.baud = 4711;
    EXPECT_FALSE(ParseSerialMode(text, &s)) << text;
    EXPECT_EQ(s.baud, 4711u) << text;
  }
}

// The Windows names of the n-th serial port, whatever the build: COM and digits alone, in the
// device namespace or not, of either case.
TEST(ComPortNumber, IsReadOnlyFromComAndDigitsAlone) {
  const struct {
    const char* name;
    uint32_t number;
  } cases[] = {
      {"COM5", 5},       {"com5", 5},    {"\\\\.\\COM5", 5}, {"\\\\.\\com5", 5}, {"COM05", 5},
      {"COM9999", 9999}, {"COM0", 0},    {"COM10000", 0},    {"COM", 0},         {"COM5X", 0},
      {"COM 5", 0},      {"COM+5", 0},   {"COM:COM5", 0},    {"\\\\.\\COM", 0},  {"\\\\?\\COM5", 0},
      {"\\.\\COM5", 0},  {"COMPORT", 0}, {"LPT1", 0},        {"/dev/ttyS4", 0},  {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ComPortNumber(c.name), c.number) << c.name;
}

}  // namespace
}  // namespace kelvor
