#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fuzzsupport {

namespace {

std::string MakeScratchFolder() {
    std::error_code error;
    std::string base = std::filesystem::is_directory("/dev/shm", error)
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/tv-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("fuzz: mkdtemp");
        std::abort();
    }
    return pattern;
}

struct Scratch {
    std::string path = MakeScratchFolder();
    ~Scratch() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
};

}  // namespace

const std::string& ScratchFolder() {
    static Scratch scratch;
    return scratch.path;
}

std::string ScratchFile(const std::string& name) {
    return ScratchFolder() + "/" + name;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr || (size != 0 && std::fwrite(data, 1, size, stream) != size) ||
        std::fclose(stream) != 0) {
        std::perror(("fuzz: writing " + path).c_str());
        std::abort();
    }
}

void WriteFile(const std::string& path, const std::string& bytes) {
    WriteFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace fuzzsupport
