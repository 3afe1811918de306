// Each check prints what it found, one line per result, and returns false
// when a result is not the expected one.
#pragma once

bool checkGmime();
bool checkYtnef();
bool checkIcu();
bool checkCurl();
bool checkZlibJson();
bool checkLibzip();
bool checkQt(int &argc, char **argv);

// Prints "ok" or "FAILED" with the line and returns the verdict.
bool report(bool ok, const char *what, const char *detail);
