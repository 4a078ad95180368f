#include "app/cli/Main.h"

int main(int argc, char** argv)
{
    return Main::main(argc, argv);
}
