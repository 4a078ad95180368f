#include <cstdio>

// The program's entry. The windowed application and the command-line jobs are not built
// yet; until then it only says which version this is.
int main()
{
    std::printf("Vantorel %s\n", VANTOREL_VERSION);
    return 0;
}
