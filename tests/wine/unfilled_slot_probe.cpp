// A program with the fault that the check after the stub's link must find: a call into a library
// through an import slot that holds 0 and that nothing fills (the loader knows nothing of it). The
// program is never run; the check is run on it and must refuse it.
#include <windows.h>

#if defined(__i386__)
#define BEEP_SLOT "__imp__Beep@8"
#else
#define BEEP_SLOT "__imp_Beep"
#endif

extern "C" void* unfilledSlot asm(BEEP_SLOT);
__attribute__((section(".data"))) void* unfilledSlot = nullptr;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return Beep(440, 10) ? 0 : 1;
}
