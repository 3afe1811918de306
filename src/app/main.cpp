#include "frame/Main.h"
#include "frame/MemoryReuse.h"
#include "frame/NoCoreFiles.h"

int main(int argc, char* argv[]) {
  qm::KeepOutOfCoreFiles();
  qm::KeepFreedMemoryForReuse();
  return qm::Main(argc, argv);
}
