// A file's bytes as a string, for tests that compare what the program wrote.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// The whole file, or empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}
