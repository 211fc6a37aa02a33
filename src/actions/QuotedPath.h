// Quoting of paths in the log lines of the file actions.
//
// A quoted path is its text between double quotes, with a backslash written
// before every double quote and every backslash inside it: exactly what
// std::quoted writes with its default delimiter and escape. An empty path
// gives two double quotes. Pure text work: owns nothing, never fails.
#pragma once

#include <filesystem>
#include <string>

std::string quotedPath(const std::filesystem::path& path);
