#include "frame/Main.h"
#include "frame/MemoryReuse.h"

int main(int argc, char* argv[]) {
  qm::KeepFreedMemoryForReuse();
  return qm::Main(argc, argv);
}
