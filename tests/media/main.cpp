#include "support/Sound.h"

#include <cstdio>
#include <gtest/gtest.h>

// The real players run offscreen, and their sound goes nowhere: they must show the picture
// all the same.
int main(int argc, char** argv)
{
    sound::PlayersProgram program(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!program.hasSoundServer())
        std::printf("No sound server to start: the players meet no sound output at all.\n");
    return RUN_ALL_TESTS();
}
