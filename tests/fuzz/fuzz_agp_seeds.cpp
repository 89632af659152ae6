// Turns machine files into seed inputs for fuzz_agp:
//   fuzz_agp_seeds OUTPUT_DIR MACHINE_FILE...
// Each machine becomes OUTPUT_DIR/<file name without .txt>.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pci_dump.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR MACHINE_FILE...\n", argv[0]);
        return 2;
    }
    const std::string outputDir = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string path = argv[i];
        std::vector<PciDumpFunction> functions;
        std::string error;
        if (!LoadPciDumpFile(path, functions, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::string name = path.substr(path.find_last_of('/') + 1);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
            name.resize(name.size() - 4);
        const std::vector<uint8_t> seed = fuzz::EncodeSeed(functions);
        const std::string seedPath = outputDir + "/" + name;
        FILE* out = std::fopen(seedPath.c_str(), "wb");
        if (!out || std::fwrite(seed.data(), 1, seed.size(), out) != seed.size() ||
            std::fclose(out) != 0) {
            std::fprintf(stderr, "%s: cannot write the seed\n", seedPath.c_str());
            return 1;
        }
    }
    return 0;
}
