// JSON document model: value tree, lenient reader and compact writer.
#include "json/JValue.h"

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quillo {

// ---------------------------------------------------------------------------
// JValue

JValue::JValue(int64_t v) noexcept : type_(Int) { u_.i = v; }
JValue::JValue(int v) noexcept : type_(Int) { u_.i = v; }
JValue::JValue(bool v) noexcept : type_(Bool) { u_.b = v; }
JValue::JValue(double v) noexcept : type_(Real) { u_.d = v; }

JValue::JValue(const char* text) : type_(String) { u_.s = new std::string(text ? text : ""); }

// Texts are C strings: anything after an embedded NUL is not kept.
JValue::JValue(const std::string& text) : type_(String) { u_.s = new std::string(text.c_str()); }

JValue::JValue(const JValue& other) { copyFrom(other); }

JValue::JValue(JValue&& other) noexcept : type_(other.type_), u_(other.u_) {
    other.type_ = Null;
    other.u_.i = 0;
}

JValue& JValue::operator=(const JValue& other) {
    if (this == &other) return *this;
    // Copy first: `other` may live inside this tree.
    JValue copy(other);
    std::swap(type_, copy.type_);
    std::swap(u_, copy.u_);
    return *this;
}

JValue& JValue::operator=(JValue&& other) noexcept {
    if (this == &other) return *this;
    // Detach `other` before destroying our content: it may be one of our descendants.
    const Type t = other.type_;
    const auto payload = other.u_;
    other.type_ = Null;
    other.u_.i = 0;
    destroy();
    type_ = t;
    u_ = payload;
    return *this;
}

JValue::~JValue() { destroy(); }

void JValue::clear() { destroy(); }

const JValue& JValue::nullValue() {
    static const JValue kNull;
    return kNull;
}

void JValue::destroy() noexcept {
    const Type t = type_;
    const auto payload = u_;
    type_ = Null;
    u_.i = 0;

    if (t == String) {
        delete payload.s;
        return;
    }
    if (t != Array && t != Object) return;

    // Containers are freed from a worklist: before a container is deleted its non-empty
    // container children are moved to the list and the children left null, so no
    // destructor ever recurses more than one level.
    std::vector<ArrayType*> arrays;
    std::vector<ObjectType*> objects;

    auto detach = [&](JValue& child) noexcept {
        try {
            if (child.type_ == Array && child.u_.a) {
                arrays.push_back(child.u_.a);
            } else if (child.type_ == Object && child.u_.o) {
                objects.push_back(child.u_.o);
            } else {
                return;
            }
        } catch (...) {
            return;  // out of memory: leave it attached, its own destructor frees it
        }
        child.type_ = Null;
        child.u_.i = 0;
    };
    auto freeArray = [&](ArrayType* a) noexcept {
        for (JValue& child : *a) detach(child);
        delete a;
    };
    auto freeObject = [&](ObjectType* o) noexcept {
        for (auto& member : *o) detach(member.second);
        delete o;
    };

    if (t == Array) {
        if (payload.a) freeArray(payload.a);
    } else if (payload.o) {
        freeObject(payload.o);
    }
    while (!arrays.empty() || !objects.empty()) {
        if (!arrays.empty()) {
            ArrayType* a = arrays.back();
            arrays.pop_back();
            freeArray(a);
        } else {
            ObjectType* o = objects.back();
            objects.pop_back();
            freeObject(o);
        }
    }
}

void JValue::copyFrom(const JValue& other) {
    // Non-container nodes are copied directly; containers get their storage here and
    // their children are filled from a worklist, so depth costs no stack.
    struct Job {
        JValue* dst;
        const JValue* src;
    };
    std::vector<Job> jobs;

    auto copyNode = [&jobs](JValue& d, const JValue& s) {
        switch (s.type_) {
        case Array:
            d.type_ = Array;
            d.u_.a = nullptr;
            if (s.u_.a && !s.u_.a->empty()) {
                d.u_.a = new ArrayType(s.u_.a->size());
                for (size_t k = 0; k < s.u_.a->size(); ++k) jobs.push_back({&(*d.u_.a)[k], &(*s.u_.a)[k]});
            }
            break;
        case Object:
            d.type_ = Object;
            d.u_.o = nullptr;
            if (s.u_.o && !s.u_.o->empty()) {
                d.u_.o = new ObjectType();
                for (const auto& member : *s.u_.o) {
                    auto it = d.u_.o->emplace_hint(d.u_.o->end(), member.first, JValue());
                    jobs.push_back({&it->second, &member.second});
                }
            }
            break;
        case String:
            d.u_.s = s.u_.s ? new std::string(*s.u_.s) : nullptr;
            d.type_ = String;
            break;
        default:
            d.u_ = s.u_;
            d.type_ = s.type_;
            break;
        }
    };

    try {
        copyNode(*this, other);
        while (!jobs.empty()) {
            const Job job = jobs.back();
            jobs.pop_back();
            copyNode(*job.dst, *job.src);
        }
    } catch (...) {
        destroy();  // the partial tree is always well formed
        throw;
    }
}

namespace {

// What a 32-bit truncating conversion yields on x86 for NaN and out-of-range values.
int32_t realToInt32(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

int64_t textToInt64(const std::string* s) {
    if (!s) return 0;
    return static_cast<int64_t>(std::strtoll(s->c_str(), nullptr, 10));  // clamps on overflow
}

}  // namespace

int32_t JValue::asInt() const {
    switch (type_) {
    case Int: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(u_.i)));
    case Bool: return u_.b ? 1 : 0;
    case Real: return realToInt32(u_.d);
    case String: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(textToInt64(u_.s))));
    default: return 0;
    }
}

int64_t JValue::asInt64() const {
    switch (type_) {
    case Int: return u_.i;
    case Bool: return u_.b ? 1 : 0;
    case Real: return realToInt32(u_.d);
    case String: return textToInt64(u_.s);
    default: return 0;
    }
}

double JValue::asDouble() const {
    switch (type_) {
    case Int: return static_cast<double>(u_.i);
    case Bool: return u_.b ? 1.0 : 0.0;
    case Real: return u_.d;
    case String: return u_.s ? std::strtod(u_.s->c_str(), nullptr) : 0.0;
    default: return 0.0;
    }
}

bool JValue::asBool() const {
    switch (type_) {
    case Int: return u_.i != 0;
    case Bool: return u_.b;
    case Real: return u_.d != 0.0;
    case Array: return u_.a && !u_.a->empty();
    case Object: return u_.o && !u_.o->empty();
    case String: return u_.s && !u_.s->empty();
    default: return false;
    }
}

const char* JValue::asCString() const {
    if (type_ == String && u_.s) return u_.s->c_str();
    return "";
}

size_t JValue::size() const {
    if (type_ == Array) return u_.a ? u_.a->size() : 0;
    if (type_ == Object) return u_.o ? u_.o->size() : 0;
    return 0;
}

JValue& JValue::operator[](int index) {
    const size_t i = index < 0 ? 0 : static_cast<size_t>(index);
    if (type_ != Array) {
        destroy();
        type_ = Array;
        u_.a = nullptr;
    }
    if (!u_.a) u_.a = new ArrayType();
    if (u_.a->size() <= i) u_.a->resize(i + 1);
    return (*u_.a)[i];
}

JValue& JValue::operator[](const std::string& key) {
    if (type_ != Object) {
        destroy();
        type_ = Object;
        u_.o = nullptr;
    }
    if (!u_.o) u_.o = new ObjectType();
    return (*u_.o)[key];
}

const JValue& JValue::get(const std::string& key) const {
    if (type_ != Object || !u_.o) return nullValue();
    auto it = u_.o->find(key);
    return it == u_.o->end() ? nullValue() : it->second;
}

const JValue& JValue::at(size_t index) const {
    if (type_ != Array || !u_.a || index >= u_.a->size()) return nullValue();
    return (*u_.a)[index];
}

bool JValue::isMember(const std::string& key) const {
    return type_ == Object && u_.o && u_.o->count(key) != 0;
}

bool JValue::getMemberNames(std::vector<std::string>& names) const {
    if (type_ != Object) return false;
    if (u_.o) {
        for (const auto& member : *u_.o) names.push_back(member.first);
    }
    return true;
}

const JValue::ArrayType* JValue::arrayItems() const {
    return type_ == Array && u_.a && !u_.a->empty() ? u_.a : nullptr;
}

const JValue::ObjectType* JValue::objectItems() const {
    return type_ == Object && u_.o && !u_.o->empty() ? u_.o : nullptr;
}

// ---------------------------------------------------------------------------
// Reader

namespace {

enum TokenType {
    TokEnd,
    TokObjectBegin,
    TokObjectEnd,
    TokArrayBegin,
    TokArrayEnd,
    TokComma,
    TokColon,
    TokString,
    TokNumber,
    TokTrue,
    TokFalse,
    TokNull,
    TokError,
};

struct Token {
    TokenType type;
    const char* start;
    const char* end;
};

const char kSyntaxError[] = "Syntax error: value, object or array expected.";
const char kBadEscape[] = "Bad escape sequence in string";
const char kEmptyEscape[] = "Empty escape sequence in string";
const char kTooDeep[] = "Nesting too deep.";
const size_t kMaxRealText = 512;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// Code points above U+FFFF cannot come from four hex digits; a signed "%x" field
// ("-001") can produce them, and those append nothing.
void appendUtf8(std::string& out, unsigned cp) {
    if (cp <= 0x7F) {
        out += static_cast<char>(cp);
    } else if (cp <= 0x7FF) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0xFFFF) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

// The reader proper. The text range [begin_, end_) never holds a NUL: end_ is cut at
// the first one, so the end of the range is the only end token.
struct JReaderImpl {
    JReader& r;

    bool fail(const char* message, const Token& token) { return fail(std::string(message), token); }
    bool fail(std::string message, const Token& token) {
        r.error_ = std::move(message);
        r.errorOffset_ = static_cast<size_t>(token.start - r.begin_);
        return false;
    }

    bool remains(size_t n) const { return static_cast<size_t>(r.end_ - r.cur_) >= n; }

    void skipBlanks() {
        while (r.cur_ < r.end_ && isBlank(*r.cur_)) ++r.cur_;
    }

    void skipBlanksAndComments() {
        for (;;) {
            skipBlanks();
            if (r.cur_ == r.end_) return;
            const char c = *r.cur_;
            if (c != '/' && c != '#' && c != ';') return;
            const char* p = r.cur_ + 1;
            if (p == r.end_) {
                r.cur_ = p;
            } else if (*p == '*') {
                // Block comment: ends after the next "*/", or runs to the end of the text.
                const char* q = p + 1;
                while (q + 1 < r.end_ && !(q[0] == '*' && q[1] == '/')) ++q;
                r.cur_ = q + 1 < r.end_ ? q + 2 : r.end_;
            } else if (*p == '/') {
                const char* q = p + 1;
                while (q < r.end_ && *q != '\r' && *q != '\n') ++q;
                r.cur_ = q < r.end_ ? q + 1 : r.end_;
            } else {
                r.cur_ = p + 1;  // the comment character and the one after it
            }
        }
    }

    bool matchLiteral(const char* rest, size_t n) {
        if (!remains(n) || std::memcmp(r.cur_, rest, n) != 0) return false;
        r.cur_ += n;
        return true;
    }

    Token readToken() {
        skipBlanksAndComments();
        Token t{TokEnd, r.cur_, r.cur_};
        if (r.cur_ == r.end_) return t;
        const char c = *r.cur_++;
        switch (c) {
        case '{': t.type = TokObjectBegin; break;
        case '}': t.type = TokObjectEnd; break;
        case '[': t.type = TokArrayBegin; break;
        case ']': t.type = TokArrayEnd; break;
        case ',': t.type = TokComma; break;
        case ':': t.type = TokColon; break;
        case '"':
            t.type = TokError;  // until the closing quote is found
            while (r.cur_ < r.end_) {
                const char d = *r.cur_;
                if (d == '"') {
                    ++r.cur_;
                    t.type = TokString;
                    break;
                }
                if (d == '\\') {
                    if (!remains(2)) {
                        r.cur_ = r.end_;
                        break;
                    }
                    r.cur_ += 2;
                } else {
                    ++r.cur_;
                }
            }
            break;
        case 't': t.type = matchLiteral("rue", 3) ? TokTrue : TokError; break;
        case 'f': t.type = matchLiteral("alse", 4) ? TokFalse : TokError; break;
        case 'n': t.type = matchLiteral("ull", 3) ? TokNull : TokError; break;
        default:
            if (c == '-' || (c >= '0' && c <= '9')) {
                while (r.cur_ < r.end_ && isNumberChar(*r.cur_)) ++r.cur_;
                t.type = TokNumber;
            } else {
                t.type = TokError;
            }
            break;
        }
        t.end = r.cur_;
        return t;
    }

    // Decodes the text between the quotes of a string token.
    bool decodeString(const Token& token, std::string& out) {
        out.clear();
        const char* p = token.start + 1;
        const char* const e = token.end - 1;  // the closing quote
        while (p < e) {
            const char c = *p++;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p == e) return fail(kEmptyEscape, token);
            const char esc = *p++;
            switch (esc) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (e - p < 4) return fail(kBadEscape, token);
                char hex[5];
                std::memcpy(hex, p, 4);
                hex[4] = '\0';
                // Read as scanf's "%x" would: optional blanks, sign and 0x, then hex digits.
                char* end = hex;
                const unsigned cp = static_cast<unsigned>(std::strtoul(hex, &end, 16));
                if (end == hex) return fail(kBadEscape, token);
                p += 4;
                appendUtf8(out, cp);
                break;
            }
            default: return fail(kBadEscape, token);
            }
        }
        out.resize(std::strlen(out.c_str()));  // texts end at a decoded NUL
        return true;
    }

    bool decodeReal(const Token& token, JValue& value) {
        const size_t n = static_cast<size_t>(token.end - token.start);
        double d = 0.0;
        if (n <= kMaxRealText) {
            const std::string copy(token.start, n);
            char* end = nullptr;
            d = std::strtod(copy.c_str(), &end);
            if (end != copy.c_str()) {
                value = JValue(d);
                return true;
            }
        }
        return fail("'" + std::string(token.start, n) + "' is too large or not a number.", token);
    }

    bool decodeNumber(const Token& token, JValue& value) {
        for (const char* p = token.start; p < token.end; ++p) {
            if (*p == '.' || *p == 'e' || *p == 'E') return decodeReal(token, value);
        }
        const char* p = token.start;
        const bool negative = *p == '-';
        if (negative) ++p;
        uint64_t acc = 0;  // wraps silently beyond 64 bits
        for (; p < token.end; ++p) {
            if (*p < '0' || *p > '9') {
                return fail("'" + std::string(token.start, token.end) + "' is not a number.", token);
            }
            acc = acc * 10u + static_cast<unsigned>(*p - '0');
        }
        value = JValue(static_cast<int64_t>(negative ? 0u - acc : acc));
        return true;
    }

    bool readValue(JValue& value) {
        value.clear();
        const Token token = readToken();
        switch (token.type) {
        case TokNull: return true;
        case TokTrue: value = JValue(true); return true;
        case TokFalse: value = JValue(false); return true;
        case TokNumber: return decodeNumber(token, value);
        case TokString: {
            std::string text;
            if (!decodeString(token, text)) return false;
            value = JValue(text);
            return true;
        }
        case TokArrayBegin:
        case TokObjectBegin: {
            if (r.depth_ >= JReader::kMaxDepth) return fail(kTooDeep, token);
            ++r.depth_;
            const bool ok = token.type == TokArrayBegin ? readArray(value) : readObject(value);
            --r.depth_;
            return ok;
        }
        default: return fail(kSyntaxError, token);
        }
    }

    bool readArray(JValue& value) {
        value.type_ = JValue::Array;
        value.u_.a = nullptr;
        skipBlanks();
        if (r.cur_ < r.end_ && *r.cur_ == ']') {
            ++r.cur_;
            return true;
        }
        value.u_.a = new JValue::ArrayType();
        for (;;) {
            value.u_.a->emplace_back();
            if (!readValue(value.u_.a->back())) return false;
            const Token token = readToken();
            if (token.type == TokArrayEnd) return true;
            if (token.type != TokComma) return fail("Missing ',' or ']' in array declaration", token);
        }
    }

    bool readObject(JValue& value) {
        value.type_ = JValue::Object;
        value.u_.o = nullptr;
        std::string key;
        for (;;) {
            Token token = readToken();
            if (token.type == TokObjectEnd) return true;
            if (token.type != TokString) return fail("Missing '}' or object member name", token);
            if (!decodeString(token, key)) return false;
            token = readToken();
            if (token.type != TokColon) return fail("Missing ':' after object member name", token);
            if (!readValue(value[key])) return false;
            token = readToken();
            if (token.type == TokObjectEnd) return true;
            if (token.type != TokComma) return fail("Missing ',' or '}' in object declaration", token);
        }
    }
};

bool JReader::parse(const char* text, JValue& root) {
    return parse(text, text ? std::strlen(text) : 0, root);
}

bool JReader::parse(const char* text, size_t length, JValue& root) {
    error_.clear();
    errorOffset_ = 0;
    depth_ = 0;
    if (!text) {
        error_ = kSyntaxError;
        return false;
    }
    const void* nul = length ? std::memchr(text, '\0', length) : nullptr;
    begin_ = text;
    end_ = nul ? static_cast<const char*>(nul) : text + length;
    cur_ = text;
    root.clear();
    JReaderImpl impl{*this};
    return impl.readValue(root);
}

// ---------------------------------------------------------------------------
// Writer

namespace {

void writeString(const char* s, std::string& out) {
    out += '"';
    if (!std::strpbrk(s, "\"\\\b\f\n\r\t")) {
        out += s;
        out += '"';
        return;
    }
    for (const char* p = s; *p; ++p) {
        switch (*p) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\':
            if (p[1] == 'u') {
                out += "\\u";  // an escape already in the text passes through
                ++p;
            } else {
                out += "\\\\";
            }
            break;
        default: out += *p; break;
        }
    }
    out += '"';
}

void writeInt(int64_t v, std::string& out) {
    char buf[24];
    char* p = buf + sizeof buf;
    uint64_t m = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    if (v < 0) *--p = '-';
    out.append(p, static_cast<size_t>(buf + sizeof buf - p));
}

void writeValue(const JValue& v, std::string& out) {
    switch (v.type()) {
    case JValue::Null: out += "null"; break;
    case JValue::Bool: out += v.asBool() ? "true" : "false"; break;
    case JValue::Int: writeInt(v.asInt64(), out); break;
    case JValue::Real: {
        // "%g" gives "inf" and "nan", which no JSON reader takes (ours included,
        // though it reads "1e400" as an infinity): an infinity is written as a
        // number that overflows back into it, a NaN as null.
        const double d = v.asDouble();
        if (d != d) {
            out += "null";
        } else if (d > DBL_MAX || d < -DBL_MAX) {
            out += d > 0 ? "1e+9999" : "-1e+9999";
        } else {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%g", d);
            out += buf;
        }
        break;
    }
    case JValue::String: writeString(v.asCString(), out); break;
    case JValue::Array: {
        out += '[';
        if (const JValue::ArrayType* items = v.arrayItems()) {
            bool first = true;
            for (const JValue& item : *items) {
                if (!first) out += ',';
                first = false;
                writeValue(item, out);
            }
        }
        out += ']';
        break;
    }
    case JValue::Object: {
        out += '{';
        if (const JValue::ObjectType* members = v.objectItems()) {
            bool first = true;
            for (const auto& member : *members) {
                if (!first) out += ',';
                first = false;
                writeString(member.first.c_str(), out);
                out += ':';
                writeValue(member.second, out);
            }
        }
        out += '}';
        break;
    }
    }
}

}  // namespace

std::string JWriter::write(const JValue& value) {
    std::string out;
    writeValue(value, out);
    out += '\n';
    return out;
}

}  // namespace quillo
