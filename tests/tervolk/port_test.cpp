// The serial port's locking against other users of the line, on a
// pseudo-terminal from lineemu.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "linerig.h"
#include "termiosport.h"
#include "tervolk.h"

using quendril::test::LineRig;

namespace {

// lineemu keeps the device open, so the exclusive flag would outlive the port
// and refuse a second open to anyone but root; the probe shows it even to root.
TEST(PortLock, CloseLeavesTheDeviceOpenableAgain) {
    LineRig rig;
    int probe = ::open(rig.pathA().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    for (int pass = 1; pass <= 2; ++pass) {
        tvk::TermiosPort port;
        ASSERT_EQ(port.open(rig.pathA(), {}), TVK_OK) << "pass " << pass;
        int exclusive = -1;
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1) << "pass " << pass;
        port.close();
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "pass " << pass;
    }
    ::close(probe);
}

}  // namespace
