// A serial port: a pseudo-terminal pair stands in for the cable; what is
// written on one side comes out parsed on the other.
#if !defined(_WIN32)
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "fileio/scratch.h"
#include "platform/platform.h"
#include "record/view.h"

namespace trovex {

namespace {

TEST(ViewerSerialPort, BytesWrittenOnOneSideComeOutParsed) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string error;
  std::unique_ptr<ByteSource> port = openSerialPort(ptsname(master), &error);
  ASSERT_TRUE(port) << error;

  termios settings{};
  const int slave = open(ptsname(master), O_RDONLY | O_NOCTTY);
  ASSERT_EQ(tcgetattr(slave, &settings), 0);
  close(slave);
  EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B19200));
  EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_lflag & ICANON, 0u) << "raw";

  // Raw: a carriage return, a form feed and a byte above 127 pass unchanged.
  const std::string sent = "warn<NET>: retry\r\n\f\xe4 dump\nerror<IO>: failed\ninit<X>: hidden\n";
  ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  ViewFilter filter;
  ASSERT_TRUE(filter.configure({"", "X", true, true, true, {}, {}}, &error));
  Viewer viewer(filter, OutputForm::Plain);
  char buffer[256];
  for (int tries = 0; tries < 50 && viewer.stats().hiddenMessages == 0; ++tries) {
    const long got = port->read(buffer, sizeof buffer, &error);
    ASSERT_GE(got, 0) << error;
    viewer.feed(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(viewer.output(), "warn<NET>: retry\r\n\f\xe4 dump\nerror<IO>: failed\n");
  EXPECT_EQ(viewer.stats().byId.size(), 2u);

  close(master);  // the cable is pulled: the end of the input
  long got = 0;
  for (int tries = 0; tries < 50 && got == 0; ++tries) got = port->read(buffer, sizeof buffer, &error);
  EXPECT_EQ(got, ByteSource::EndOfInput);
}

class ViewerSerialFailure : public ScratchTest {};

TEST_F(ViewerSerialFailure, NoDeviceOrNoTerminalIsAClearError) {
  writeWholeFile(path("plain.txt"), "x");
  const struct {
    std::string device;
    const char* reason;
  } rows[] = {{path("none"), "No such file"}, {path("plain.txt"), "not a terminal"}};
  for (const auto& row : rows) {
    std::string error;
    EXPECT_FALSE(openSerialPort(row.device, &error));
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
}

}  // namespace

}  // namespace trovex
#endif
