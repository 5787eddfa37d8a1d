// A stand-in for the control module: a DLL that carries the controls' type library, their and
// their pages' type names and its version block, so registration can be exercised without the control. No
// code.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) noexcept { return TRUE; }
