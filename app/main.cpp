#include "startup.h"

int main(int argc, char* argv[])
{
    return runRimdal(argc, argv);
}
