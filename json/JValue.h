// JSON document model: value tree, lenient reader and compact writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillo {

class JValue {
public:
    enum Type { Null = 0, Int = 1, Bool = 2, Real = 3, Array = 4, Object = 5, String = 6 };

    using ArrayType = std::vector<JValue>;
    using ObjectType = std::map<std::string, JValue>;  // byte-wise key order

    JValue() noexcept {}
    JValue(int64_t v) noexcept;
    JValue(int v) noexcept;
    JValue(bool v) noexcept;
    JValue(double v) noexcept;
    JValue(const char* text);  // nullptr gives an empty string
    JValue(const std::string& text);
    JValue(const JValue& other);
    JValue(JValue&& other) noexcept;
    JValue& operator=(const JValue& other);
    JValue& operator=(JValue&& other) noexcept;
    ~JValue();

    Type type() const { return type_; }

    // Conversions never fail; type mismatches give neutral values.
    int32_t asInt() const;
    int64_t asInt64() const;
    double asDouble() const;
    bool asBool() const;
    const char* asCString() const;  // never nullptr
    std::string asString() const { return asCString(); }
    size_t size() const;

    // Writing access: converts the value to an array/object first if needed.
    JValue& operator[](int index);
    JValue& operator[](const std::string& key);
    JValue& operator[](const char* key) { return (*this)[std::string(key ? key : "")]; }

    // Reading access: the shared null value when absent.
    const JValue& get(const std::string& key) const;
    const JValue& at(size_t index) const;  // shared null when not an array or out of range
    bool isMember(const std::string& key) const;
    bool getMemberNames(std::vector<std::string>& names) const;

    // Direct access to containers (nullptr when the value is not of that type or empty).
    const ArrayType* arrayItems() const;
    const ObjectType* objectItems() const;

    void clear();  // back to null

    static const JValue& nullValue();

private:
    friend struct JReaderImpl;  // builds empty arrays/objects in place

    void destroy() noexcept;           // iterative: deep trees never exhaust the stack
    void copyFrom(const JValue& other);  // *this must be null; iterative deep copy

    Type type_ = Null;
    union {
        int64_t i;
        bool b;
        double d;
        ArrayType* a;
        ObjectType* o;
        std::string* s;
    } u_{};
};

// Reader. Keeps the message and position of its last error.
class JReader {
public:
    // Nesting deeper than this fails the parse instead of exhausting the stack.
    static constexpr int kMaxDepth = 1000;

    bool parse(const char* text, JValue& root);                    // NUL-terminated; nullptr fails
    bool parse(const char* text, size_t length, JValue& root);     // exactly length bytes (a NUL inside ends the text)
    bool parse(const std::string& text, JValue& root) { return parse(text.data(), text.size(), root); }

    const std::string& errorMessage() const { return error_; }
    size_t errorOffset() const { return errorOffset_; }

private:
    // implementation-defined private members
    std::string error_;
    size_t errorOffset_ = 0;
    const char* begin_ = nullptr;
    const char* end_ = nullptr;
    const char* cur_ = nullptr;
    int depth_ = 0;
    friend struct JReaderImpl;
};

// Compact writer: no whitespace, keys in byte order, one trailing line feed.
class JWriter {
public:
    static std::string write(const JValue& value);
};

// The same text as JWriter::write, as a new string.
inline std::string toString(const JValue& value) { return JWriter::write(value); }

}  // namespace quillo
