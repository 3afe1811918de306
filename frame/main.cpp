#include "frame/Main.h"

int main(int argc, char* argv[]) { return qm::Main(argc, argv); }
