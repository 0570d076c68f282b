// resource_gen OUTDIR: writes OUTDIR/pipl.bin and OUTDIR/aete.bin, the raw
// PIPL and AETE resources that the resource script embeds unchanged.
// Runs on the build machine.
#include <cstdio>
#include <string>
#include <vector>

#include "host/resource_description.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "resource_gen: cannot create %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "resource_gen: cannot write %s\n", path.c_str());
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_gen OUTDIR\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';
    if (!WriteFile(folder + "pipl.bin", BuildPiplResource())) return 1;
    if (!WriteFile(folder + "aete.bin", BuildAeteResource())) return 1;
    return 0;
}
