// Helper program for the module-path tests: the tests copy it to places of
// their choice and read what the helpers derive from where it lies.
//   base_pathprobe rel <name>   prints file=, rel= and result= lines
//   base_pathprobe center       prints manager=1 or manager=0
#include "ModulePath.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "rel") == 0) {
        char file[MAX_PATH_LEN];
        char rel[MAX_PATH_LEN];
        GetModuleFilePath(file);
        const int result = GetModuleRelPath(argv[2], rel);
        std::printf("file=%s\nrel=%s\nresult=%d\n", file, rel, result);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "center") == 0) {
        void* handle = nullptr;
        tag_PLUGIN_MAN* manager = LoadPluginCenter(&handle);
        std::fflush(stderr);
        std::printf("\nmanager=%d\n", manager != nullptr);
        CloseModule(handle);
        return 0;
    }
    std::fprintf(stderr, "usage: %s rel <name> | center\n", argv[0]);
    return 2;
}
