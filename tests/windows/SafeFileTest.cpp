// SPDX-License-Identifier: Apache-2.0
// Safe files with what Windows offers.

#include "Fixtures.h"

#include <windows.h>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;

class WindowsFiles : public ScratchTest {};

TEST_F(WindowsFiles, Placeholder)
{
    WriteFile(dir / "a", "text");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "a", "password").ok());
}
