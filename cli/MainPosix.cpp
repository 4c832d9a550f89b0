// SPDX-License-Identifier: Apache-2.0
#include "Cli.h"

int main(int argc, char** argv)
{
    return kestrawin::cli::RunCli(argc, argv);
}
