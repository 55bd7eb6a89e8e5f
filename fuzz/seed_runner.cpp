// Runs a fuzz target once over each file of the folders given, as libFuzzer's -runs=0 does, for
// builds without libFuzzer: the AddressSanitizer build runs every target over its seeds as a
// test. Each input is handed over in a heap block of its exact size, so that a read past its end
// is caught; a target's failed check aborts, which fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[]) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
        for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FOLDER...: no input files found\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto &path : inputs) {
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        const std::streamsize size = file ? std::streamsize(file.tellg()) : -1;
        const auto exact = std::make_unique<uint8_t[]>(size_t(std::max<std::streamsize>(size, 0)));
        if (size < 0 || !file.seekg(0) || !file.read(reinterpret_cast<char *>(exact.get()), size)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(exact.get(), size_t(size));
    }
    std::printf("%zu inputs run\n", inputs.size());
    return 0;
}
