// Stand-in for the desktop box program in end-to-end tests: appends its arguments, one per
// line and each request closed by a line "--end--", to the file named by
// TARVIK_TEST_BOX_LOG, and exits 0 as a box closed by the user would.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* log = std::getenv("TARVIK_TEST_BOX_LOG");
    if (!log) return 1;
    std::FILE* f = std::fopen(log, "a");
    if (!f) return 1;
    for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fprintf(f, "--end--\n");
    return std::fclose(f) == 0 ? 0 : 1;
}
