// SPDX-License-Identifier: Apache-2.0
// Owned system handles close exactly once, whatever path their owner takes.

#include "io/FileDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>

#include <utility>

using kestrawin::io::FileDescriptor;

namespace {

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(OwnedHandles, AFileDescriptorClosesOnceWhenItsLastOwnerGoes)
{
    int raw = -1;
    {
        FileDescriptor first(open("/dev/null", O_RDONLY | O_CLOEXEC));
        raw = first.get();
        ASSERT_TRUE(first.valid());
        FileDescriptor second(std::move(first));
        EXPECT_FALSE(first.valid()); // NOLINT: moved-from state is part of the contract
        EXPECT_EQ(second.get(), raw);
        FileDescriptor third;
        third = std::move(second);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(OwnedHandles, ResetClosesWhatWasHeldAndReleaseGivesItUp)
{
    FileDescriptor fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int before = fd.get();
    fd.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_FALSE(IsOpen(before) && before != fd.get());
    const int kept = fd.release();
    EXPECT_FALSE(fd.valid());
    EXPECT_TRUE(IsOpen(kept));
    close(kept);
}

TEST(OwnedHandles, ResetKeepsTheReasonTheNewDescriptorFailed)
{
    FileDescriptor fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd.valid());
    fd.reset(open("/nonexistent-kestrawin/file", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(errno, ENOENT); // not whatever closing the old one left
    EXPECT_FALSE(fd.valid());
}
