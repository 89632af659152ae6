// Turns machine files into seed inputs for fuzz_dump:
//   fuzz_dump_seeds OUTPUT_DIR MACHINE_FILE...
// Each machine file is copied to OUTPUT_DIR/<name> and written in each
// posted form to OUTPUT_DIR/<name>-<form number>.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "posted_dump.h"

namespace {

bool WriteSeed(const std::string& path, const std::string& text)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write the seed\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR MACHINE_FILE...\n", argv[0]);
        return 2;
    }
    const std::string outputDir = argv[1];
    const std::vector<posted::Variant> variants = posted::Variants();
    for (int i = 2; i < argc; ++i) {
        const std::string path = argv[i];
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot open the file\n", path.c_str());
            return 1;
        }
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::string name = path.substr(path.find_last_of('/') + 1);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
            name.resize(name.size() - 4);
        const std::string seedPath = outputDir + "/" + name;
        if (!WriteSeed(seedPath, text)) return 1;
        for (size_t v = 0; v < variants.size(); ++v)
            if (!WriteSeed(seedPath + "-" + std::to_string(v + 1), variants[v].make(text))) return 1;
    }
    return 0;
}
