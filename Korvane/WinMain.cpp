#include <windows.h>

#include "Korvane.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    return KorvaneMain(instance, commandLine, showCommand);
}
