// SPDX-License-Identifier: Apache-2.0
// Must not build: the operations layer cannot reach the window's headers.
#include "ui/MainWindow.h"
