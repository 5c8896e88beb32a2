// Entry point of the stub.
#include "../launch/relaunch.h"
#include "sfxhead.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    if (!relaunchFromTemporaryCopy())
        return 0;
    instanceHandle = instance;
    return runStub(commandLine);
}
