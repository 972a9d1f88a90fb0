// A file's bytes as a string and its mode, for tests that compare what the program wrote.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

// The whole file, or empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

// The type and permission bits of path itself (a link is not followed); 0 if it is missing.
inline unsigned FileMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & (S_IFMT | 07777) : 0u;
}
