// The device-support components the product needs to talk to phones: whether
// they are installed, which bitness the product should take after them, and
// their installation from the driver archive a setup file may carry. Windows
// only.
#pragma once

#include <windows.h>

#include <string>

#include "install/RunState.h"

namespace quillo {

// Where the vendor registers its programs and libraries (HKEY_LOCAL_MACHINE,
// read in the 32-bit view like every key of the program).
constexpr const wchar_t* kITunesAppKey = L"SOFTWARE\\Apple Computer, Inc.\\iPod\\RegisteredApps\\4";
constexpr const wchar_t* kITunesAppValue = L"path";
constexpr const wchar_t* kMobileDeviceSharedKey = L"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
constexpr const wchar_t* kMobileDeviceLibraryValue = L"AirTrafficHostDLL";
constexpr const wchar_t* kCoreFpKey = L"SOFTWARE\\Apple Inc.\\CoreFP";
constexpr const wchar_t* kCoreFpValue = L"LibraryPath";
// Offered when the components cannot be installed.
constexpr const wchar_t* kITunesSite = L"https://www.apple.com/itunes/";

// The installer packages a driver archive may hold, in the order they run.
constexpr const wchar_t* kDriverPackages[] = {L"AppleApplicationSupport.msi", L"AppleMobileDeviceSupport64.msi",
                                              L"AppleMobileDeviceSupport.msi"};

// The product's private copy of the two libraries:
// "<roaming application data>\Brightfen\Quillo\Driver" (created when missing).
std::wstring DriverFolder();

// The registered iTunes program with every ".exe" turned into ".dll", which
// names the library beside it; empty when nothing is registered.
std::wstring RegisteredITunesLibrary();

// Whether the components are installed: the registered iTunes library, or
// else the private copy, exists, and so does the registered mobile-device
// support library.
bool ComponentsPresent();

// The machine type in the image header of the registered iTunes library when
// both vendor libraries exist; false otherwise.
bool DetectBitness(WORD& machine);

// What the progress window starts with for drivers64: the detected library's
// bitness (1 for x64, 0 for x86 and anything else), or without one whether the
// process runs under WOW64, that is on 64-bit Windows.
int InitialDrivers64();

// "msiexec /i "<path>"" with the package's options.
std::wstring DriverPackageCommandLine(const std::wstring& packagePath, const std::wstring& packageName);

// The driver step, run on the progress window's driver thread once the
// install sequence has returned: installs the archive, or offers the
// vendor's site, then completes the installation.
void DriverStep(RunState& state);

// Unpacks the driver archive into a temporary folder, moves the two libraries
// into DriverFolder() once their registry value is written, and runs the
// installer packages it holds, each to its end. False when the archive is
// missing, not named ".zip" or cannot be unpacked.
bool InstallDriverArchive(RunState& state);

// Starts a command line and waits for its end while dispatching the messages
// of `window`. A program that cannot be started leaves one line on the
// standard output.
// The program's exit code; kNotStarted when it could not be started.
constexpr DWORD kNotStarted = 0xFFFFFFFF;
DWORD RunAndWait(HWND window, const std::wstring& commandLine);

}  // namespace quillo
