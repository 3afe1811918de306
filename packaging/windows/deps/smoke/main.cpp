// Runs every library check; the exit code is the number that failed.
#include "checks.h"

#include <cstdio>

bool report(bool ok, const char *what, const char *detail)
{
    std::printf("%-6s %-8s %s\n", ok ? "ok" : "FAILED", what, detail);
    std::fflush(stdout);
    return ok;
}

int main(int argc, char **argv)
{
    int failed = 0;
    failed += !checkGmime();
    failed += !checkYtnef();
    failed += !checkIcu();
    failed += !checkCurl();
    failed += !checkZlibJson();
    failed += !checkLibzip();
    failed += !checkQt(argc, argv);
    std::printf("%d passed, %d failed\n", 7 - failed, failed);
    return failed;
}
