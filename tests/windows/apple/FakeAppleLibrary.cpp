// Stands in for the vendor's device libraries (iTunes.dll, CoreFP.dll) in the
// driver tests: a real DLL of the build's machine type, nothing more.
extern "C" __declspec(dllexport) int FakeAppleLibraryBits() { return static_cast<int>(sizeof(void*) * 8); }
