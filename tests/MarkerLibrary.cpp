// Stands in for a library that another user planted in a Firebird root: loading it leaves a mark
// in the file named by SORVANTO_TEST_MARK, before the loader finds out what else it lacks.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void LeaveMark() {
    if (const char* mark = std::getenv("SORVANTO_TEST_MARK"))
        if (std::FILE* file = std::fopen(mark, "w")) {
            std::fputs("loaded\n", file);
            std::fclose(file);
        }
}
