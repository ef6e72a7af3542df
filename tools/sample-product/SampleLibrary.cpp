// Stand-in for the product's architecture-specific library.
#include <windows.h>

extern "C" __declspec(dllexport) int QuilloCoreBits() { return static_cast<int>(sizeof(void*) * 8); }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
