// Internal steps of the glob library, reachable for its own unit tests.
//
// glob.cpp keeps these steps in an anonymous namespace, as the library's
// private parts; the functions below forward to them unchanged so that tests
// can check each step on its own. Nothing outside src/glob and tests/glob
// should include this header: callers use glob.h.
//
// Failures are those of the library (see glob.h): `match_name` throws
// std::regex_error for a set the expression engine rejects, `expand_tilde`
// throws std::invalid_argument when HOME is unset, and the file-system steps
// throw std::filesystem::filesystem_error where a status cannot be read.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace glob::detail {

using path_list = std::vector<std::filesystem::path>;

// Pattern text alone.
bool has_magic(const std::string& s);
bool is_recursive(const std::string& pattern);
std::string translate(const std::string& pattern);
bool match_name(const std::string& name, const std::string& pattern);
void string_replace(std::string& str, const std::string& from, const std::string& to);
bool is_hidden(const std::string& s);
std::filesystem::path expand_tilde(std::filesystem::path path);

// The file-system walk.
path_list glob(const std::filesystem::path& pathname, bool recursive, bool dironly);
path_list glob0(const std::filesystem::path& dirname, const std::filesystem::path& basename, bool dironly);
path_list glob1(const std::filesystem::path& dirname, const std::filesystem::path& pattern, bool dironly);
path_list glob2(const std::filesystem::path& dirname, const std::filesystem::path& pattern, bool dironly);
path_list iter_directory(const std::filesystem::path& dirname, bool dironly);
path_list rlistdir(const std::filesystem::path& dirname, bool dironly);

}  // namespace glob::detail
