// The reference-counted std::string members that the standard library's
// exception classes use (std::logic_error and std::runtime_error keep their
// message in the library's older string). Defined here for the reason given
// in StringMembers.cpp: the library's cow-string-inst object would otherwise
// come whole, with everything its unwind tables refer to.
//
// Built with the older string (_GLIBCXX_USE_CXX11_ABI=0) and unwind tables
// (see CMakeLists.txt); nothing else in the program uses that string.
#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0

#include <string>

static_assert(!_GLIBCXX_USE_CXX11_ABI, "this file defines the reference-counted string");

template auto std::string::_S_construct(size_type, char, const std::allocator<char>&) -> char*;
template auto std::string::_Rep::_S_create(size_type, size_type, const std::allocator<char>&) -> _Rep*;
template auto std::string::_Rep::_M_destroy(const std::allocator<char>&) -> void;
template auto std::string::_Rep::_M_dispose(const std::allocator<char>&) -> void;
template auto std::string::_Rep::_M_clone(const std::allocator<char>&, size_type) -> char*;
template auto std::string::swap(std::string&) -> void;
template auto std::string::assign(const std::string&) -> std::string&;
