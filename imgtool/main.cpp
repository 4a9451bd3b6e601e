// vemora-imgtool: packs, lists and extracts Vemora firmware images.
#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage:\n"
                      "  vemora-imgtool pack <image> <manifest file | folder>\n"
                      "  vemora-imgtool list <image>\n"
                      "  vemora-imgtool extract <image> <main type> <subtype> <file> [--decrypt]\n"
                      "  vemora-imgtool extract <image> --all <folder>\n"
                      "The image format and the manifest are described in docs/image-format.md\n"
                      "and docs/tool-scripts.md.\n";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    if (command == "pack" && argc == 4)
        return PackImage(argv[2], argv[3]);
    if (command == "list" && argc == 3)
        return ListImage(argv[2]);
    if (command == "extract" && argc == 5 && std::strcmp(argv[3], "--all") == 0)
        return ExtractAll(argv[2], argv[4]);
    if (command == "extract" && argc == 6)
        return ExtractItem(argv[2], argv[3], argv[4], argv[5], false);
    if (command == "extract" && argc == 7 && std::strcmp(argv[6], "--decrypt") == 0)
        return ExtractItem(argv[2], argv[3], argv[4], argv[5], true);
    return Usage();
}
