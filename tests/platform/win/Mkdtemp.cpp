#include "Mkdtemp.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "OsLayer.h"

// As POSIX has it: the trailing XXXXXX become a name no folder has yet.
char* mkdtemp(char* templ) {
    const std::size_t size = std::strlen(templ);
    if (size < 6 || std::strcmp(templ + size - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    std::mt19937 pick(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = size - 6; i < size; ++i) templ[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[pick() % 36];
        std::error_code ec;
        if (std::filesystem::create_directory(PathFromUtf8(templ), ec)) return templ;
        if (ec) {
            errno = EIO;
            return nullptr;
        }
    }
    errno = EEXIST;
    return nullptr;
}
