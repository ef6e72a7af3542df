// The install's one pass over its setup file: every byte read once, front to
// back, in bounded windows; the package's bytes handed on in order and
// hashed on the way. Whatever the package's size, the pass holds a few
// windows of it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "app/AppendedBlock.h"

namespace quillo {

struct SetupPassResult {
    bool readOk = false;  // every byte of the file was read (else install error 2)
    bool sinkOk = false;  // the sink took every byte of the package
    std::string digest;   // MD5 of the package, 32 upper-case digits, when asked for
};

// Takes the next piece of the package; false to refuse it and every later one.
using PackageSink = std::function<bool(const uint8_t* data, size_t size)>;

// Reads the whole file of `setup` (as read by ReadSetupImage with code 0).
// The package's bytes go to `sink` (when given) on the calling thread and,
// with `hash`, through MD5 on a second thread, so that the two overlap
// (without a sink they are hashed on the calling thread, a window held). A
// sink that refuses stops the copying but not the reading, so that a read
// failure behind it is still found; a read failure ends the pass at once.
SetupPassResult ReadSetupPass(const SetupImage& setup, const PackageSink& sink, bool hash,
                              size_t window = kSetupReadWindow);

}  // namespace quillo
