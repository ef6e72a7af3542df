// The std::string and std::wstring members the program calls out of line.
//
// The standard library declares its string instantiations extern, so every
// out-of-line call goes to the library's string-inst objects. Each of those
// objects comes whole: its unwind tables refer to all of its functions, and
// the linker keeps every function that an unwind table refers to, about 30 KB
// of code and tables for each character type on 32-bit x86. Defining here,
// in an object of the program, the members the program calls means the
// linker finds them before it searches the library and leaves those objects
// out. A member missing from this list only costs size: the library object
// is linked as before, and one copy of each duplicate is kept.
//
// Built with unwind tables (see CMakeLists.txt): the JSON reader and the
// threads' start-up catch exceptions thrown from inside these functions, as
// they can from the library's copies.
#include <bits/c++config.h>

// Instantiate here whatever these members call, rather than leaving it to
// the library's extern instantiations.
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0

#include <string>

#define QUILLO_STRING_MEMBERS(S, C)                                                        \
    template S::basic_string(const S&);                                                    \
    template S::basic_string(S&&);                                                         \
    template auto S::find(const C*, size_type) const->size_type;                           \
    template auto S::find(C, size_type) const->size_type;                                  \
    template auto S::find(const S&, size_type) const->size_type;                           \
    template auto S::rfind(C, size_type) const->size_type;                                 \
    template auto S::find_first_of(const C*, size_type) const->size_type;                  \
    template auto S::find_last_of(const C*, size_type) const->size_type;                   \
    template auto S::find_first_not_of(const C*, size_type) const->size_type;              \
    template auto S::find_first_not_of(C, size_type) const->size_type;                     \
    template auto S::find_last_not_of(C, size_type) const->size_type;                      \
    template auto S::substr(size_type, size_type) const->S;                                \
    template auto S::compare(const C*) const->int;                                         \
    template auto S::compare(const S&) const->int;                                         \
    template auto S::compare(size_type, size_type, const C*) const->int;                   \
    template auto S::compare(size_type, size_type, const S&) const->int;                   \
    template auto S::end()->iterator;                                                      \
    template auto S::end() const->const_iterator;                                          \
    template auto S::back()->reference;                                                    \
    template auto S::back() const->const_reference;                                        \
    template auto S::append(const C*)->S&;                                                 \
    template auto S::append(const C*, size_type)->S&;                                      \
    template auto S::append(const S&)->S&;                                                 \
    template auto S::insert(size_type, const C*)->S&;                                      \
    template auto S::insert(size_type, const S&)->S&;                                      \
    template auto S::insert(size_type, size_type, C)->S&;                                  \
    template auto S::replace(size_type, size_type, const C*, size_type)->S&;               \
    template auto S::swap(S&)->void;                                                       \
    template auto S::resize(size_type)->void;                                              \
    template auto S::reserve(size_type)->void;                                             \
    template auto S::push_back(C)->void;                                                   \
    template auto S::pop_back()->void;                                                     \
    template auto S::_M_create(size_type&, size_type)->pointer;                            \
    template auto S::_M_dispose()->void;                                                   \
    template auto S::_M_construct(size_type, C)->void;                                     \
    template auto S::_M_set_length(size_type)->void;                                       \
    template auto S::_M_assign(const S&)->void;                                            \
    template auto S::_M_append(const C*, size_type)->S&;                                   \
    template auto S::_M_replace(size_type, size_type, const C*, size_type)->S&;            \
    template auto S::_M_replace_aux(size_type, size_type, size_type, C)->S&;               \
    template auto S::_M_erase(size_type, size_type)->void;                                 \
    template auto S::_S_copy(C*, const C*, size_type)->void;                               \
    template struct KeepMember<static_cast<void (*)(C*, const C*, const C*)>(&S::_S_copy_chars)>; \
    template struct KeepMember<static_cast<void (*)(C*, C*, C*)>(&S::_S_copy_chars)>;

// The plain overloads of _S_copy_chars sit beside a member template of the
// same name, so they cannot be named in an explicit instantiation; taking
// their addresses in one makes them instantiated here all the same.
template <auto Member>
struct KeepMember {
    static const void* const address;
};
template <auto Member>
const void* const KeepMember<Member>::address = reinterpret_cast<const void*>(Member);

QUILLO_STRING_MEMBERS(std::string, char)
QUILLO_STRING_MEMBERS(std::wstring, wchar_t)
