// How a run ends, in one place for the progress window and for a quiet run
// that has no windows: the statistics event, the post-install commands, the
// product's start after a quiet installation. The screens that follow are
// the progress window's business; the exit code is the caller's. Windows only.
#pragma once

#include <string>

#include "install/RunState.h"

namespace quillo {

// A failed installation: the statistics event with the install error code
// and the digest that was computed (empty when none was).
void EndFailedInstall(const RunState& state, int code, const std::string& digest);

// A completed installation or removal: for an installation the setup block's
// post-install commands; the statistics event; and after a quiet installation
// whose block asks for it ("selflaunch"), the product started.
void EndCompletedRun(const RunState& state);

// The end of a quiet installation whose driver step ran: the post-install
// commands and the event that carries the driver step's result.
void EndQuietDriverStep(const RunState& state);

// The file and the parameters the shell is given for a start path: a path
// with a "/" is split before the blank that precedes its last "/", so
// "C:\Quillo 3\Quillo.exe /first" starts the quoted program with "/first".
void SplitStartPath(const std::wstring& startPath, std::wstring& file, std::wstring& parameters);

// The code a run that did its work ends with: 0, or 3010 when something
// was left to the next restart (a file still held, a driver package that
// asked for a restart).
int SuccessExitCode();

// Starts the product's start path through the shell; the shell's result
// (above 32 when it started).
INT_PTR StartProduct(const std::wstring& startPath);

}  // namespace quillo
