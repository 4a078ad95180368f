#include "app/shell/Windowed.h"

#include <cstdio>

int runWindowed(int&, char**)
{
    std::printf("Vantorel %s: the window is not built yet.\n", VANTOREL_VERSION);
    return 1;
}
