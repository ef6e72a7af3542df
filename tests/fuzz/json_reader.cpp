// The JSON reader on arbitrary text, then the writer on whatever it built.
//
// What must hold for every input:
//  - parsing never crashes, over-reads or leaks, whatever the text;
//  - a copy of the tree (also of the partial tree a failed parse leaves)
//    writes the same text as the tree;
//  - a tree the reader built, written by JWriter and read back, gives the same
//    tree again: same types and texts, the same integers, and each real the
//    value its "%g" text stands for (the writer keeps six digits, and a real
//    with an integral value reads back as an integer).
// Not compared: texts holding a backslash followed by 'u'. The writer passes
// such a sequence through unescaped on purpose (an escape already in the
// text), so it is decoded on the second read.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/JValue.h"

namespace {

using quillo::JReader;
using quillo::JValue;
using quillo::JWriter;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "json_reader: %s\n%s\n", what, detail.c_str());
    std::abort();
}

bool HasPassThroughEscape(const std::string& text) { return text.find("\\u") != std::string::npos; }

// True when the writer is expected to give back this tree (see above).
bool RoundTrips(const JValue& v) {
    switch (v.type()) {
    case JValue::String: return !HasPassThroughEscape(v.asString());
    case JValue::Array:
        if (const JValue::ArrayType* items = v.arrayItems())
            for (const JValue& item : *items)
                if (!RoundTrips(item)) return false;
        return true;
    case JValue::Object:
        if (const JValue::ObjectType* members = v.objectItems())
            for (const auto& member : *members)
                if (HasPassThroughEscape(member.first) || !RoundTrips(member.second)) return false;
        return true;
    default: return true;
    }
}

double WrittenReal(double d) {
    char text[40];
    std::snprintf(text, sizeof text, "%g", d);
    return std::strtod(text, nullptr);
}

bool SameTree(const JValue& a, const JValue& b) {
    if (a.type() == JValue::Real) {
        if (b.type() != JValue::Real && b.type() != JValue::Int) return false;
        const double want = WrittenReal(a.asDouble());
        const double got = b.type() == JValue::Int ? static_cast<double>(b.asInt64()) : b.asDouble();
        return got == want || (std::isnan(got) && std::isnan(want));
    }
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case JValue::Null: return true;
    case JValue::Bool: return a.asBool() == b.asBool();
    case JValue::Int: return a.asInt64() == b.asInt64();
    case JValue::String: return a.asString() == b.asString();
    case JValue::Array: {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!SameTree(a.at(i), b.at(i))) return false;
        return true;
    }
    case JValue::Object: {
        if (a.size() != b.size()) return false;
        const JValue::ObjectType* members = a.objectItems();
        if (!members) return true;
        for (const auto& member : *members) {
            if (!b.isMember(member.first) || !SameTree(member.second, b.get(member.first))) return false;
        }
        return true;
    }
    default: return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    JReader reader;
    JValue root;
    const bool ok = reader.parse(text, size, root);
    if (!ok) {
        if (reader.errorMessage().empty()) Fail("a failed parse left no message", std::string(text, size));
        if (reader.errorOffset() > size) Fail("the error offset lies past the text", reader.errorMessage());
    }

    // A failed parse leaves a partial tree behind; it must be a sound one too.
    const std::string written = JWriter::write(root);
    if (written.empty() || written.back() != '\n') Fail("the writer's text does not end with a line feed", written);

    // A copy is the same tree (and frees all it allocates).
    const JValue copy(root);
    if (JWriter::write(copy) != written) Fail("a copy of the tree writes another text", written);

    if (!ok || !RoundTrips(root)) return 0;
    JValue again;
    if (!reader.parse(written, again)) Fail(("the written text does not parse: " + reader.errorMessage()).c_str(), written);
    if (!SameTree(root, again)) Fail("the tree read back differs from the tree written", written);
    return 0;
}
