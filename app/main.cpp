// The program Vemora: the window that flashes firmware images into devices.
#include "startup.h"

int main(int argc, char** argv)
{
    return RunVemora(argc, argv);
}
