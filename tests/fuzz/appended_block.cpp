// A whole setup file or uninstaller: the JSON block read through a ByteSource
// (as the startup code does), the file read whole (as the install sequence
// does), then the package and the optional sections behind it.
//
// What must hold for every input:
//  - no read leaves the input, nothing leaks;
//  - both readers agree: ReadSetupImage gives 0 or 5 exactly when
//    ReadAppendedBlock gives Ok, 4 exactly when it gives JsonInvalid, and
//    then the same locator, length and block;
//  - every offset and size they report lies inside the file;
//  - the package, extra and driver sections come one after the other.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/AppendedBlock.h"
#include "base/FileSource.h"
#include "json/JValue.h"

namespace {

using namespace quillo;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "appended_block: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

void CheckSection(const Section& s, uint64_t start, uint64_t fileSize, const char* what) {
    Check(s.dataOffset == start + 4, what);
    Check(s.dataOffset <= fileSize && s.size <= fileSize - s.dataOffset, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource source(data, size);
    JValue block;
    BlockLayout layout;
    std::string jsonError;
    const BlockStatus status = ReadAppendedBlock(source, block, &layout, &jsonError);
    Check(BlockStatusText(status) != nullptr, "no status text");
    Check(layout.fileSize == size, "the layout's file size is not the input size");
    if (status == BlockStatus::Ok || status == BlockStatus::JsonInvalid) {
        Check(layout.offset != 0 && layout.offset < size, "the locator lies outside the file");
        Check(static_cast<uint64_t>(layout.offset) + 4 + layout.textLength <= size, "the text runs past the file");
    }
    Check((status == BlockStatus::JsonInvalid) == !jsonError.empty(), "a JSON message without a JSON failure");

    SetupImage setup;
    const int code = ReadSetupImage(source, setup);
    Check(code >= 0 && code <= 5, "an install error code outside 0..5");
    Check((code == 0 || code == 5) == (status == BlockStatus::Ok), "the two readers disagree on the block");
    Check((code == 4) == (status == BlockStatus::JsonInvalid), "the two readers disagree on the JSON");
    // A quiet run that cannot use the block ends with the install reader's code.
    if (status != BlockStatus::Ok) Check(RejectedBlockCode(status, layout) == code, "quiet exit code differs");
    if (code == 0 || code == 4 || code == 5) {
        Check(setup.fileSize == size, "the layout's file size is not the input size");
        Check(setup.offset == layout.offset && setup.textLength == layout.textLength,
              "the two readers found different locators or lengths");
        Check(setup.imageSize() == layout.offset, "the image does not end at the locator");
    }
    if (code == 0 || code == 5) Check(JWriter::write(setup.block) == JWriter::write(block), "different blocks");

    if (code == 0) {
        const uint64_t textEnd = static_cast<uint64_t>(setup.offset) + 4 + setup.textLength;
        Check(setup.packageOffset == textEnd + 4, "the package does not follow the text");
        Check(setup.packageEnd() <= size, "the package runs past the file");

        // The install sequence's choice, then every other one.
        const bool extraPack = !setup.block.isMember("extrapack") || setup.block.get("extrapack").asBool();
        const bool driver = setup.block.get("ituneslite64").asBool() || setup.block.get("ituneslite32").asBool();
        const bool choices[5][2] = {{extraPack, driver}, {false, false}, {false, true}, {true, false}, {true, true}};
        for (const auto& choice : choices) {
            const OptionalSections s = LocateSections(setup, choice[0], choice[1]);
            uint64_t next = setup.packageEnd();
            Check(choice[0] || !s.hasExtra, "an extra section that was not asked for");
            Check(choice[1] || !s.hasDriver, "a driver section that was not asked for");
            if (s.hasExtra) {
                CheckSection(s.extra, next, size, "the extra section is misplaced");
                next = s.extra.dataOffset + s.extra.size;
            }
            if (s.hasDriver) CheckSection(s.driver, next, size, "the driver section is misplaced");
        }
    }

    // Sections at arbitrary starts, near and past the end included.
    if (size >= 2) {
        const uint64_t starts[] = {0, size - 1, size, size + 1, data[0], static_cast<uint64_t>(data[1]) * size / 255,
                                   UINT64_MAX - 2};
        for (uint64_t start : starts) {
            Section s;
            if (ReadSection(data, size, start, s)) CheckSection(s, start, size, "a section outside the file");
        }
    }
    return 0;
}
