// Usage: shell_instance_child MACHINE_DIR. A later copy for a machine ends with exit code 0
// while bringing the first copy forward; a copy that is the only one ends with kOnlyCopy.
#include <QApplication>
#include <QWidget>

#include "machine/machine.h"
#include "shell/single_instance.h"

namespace {

constexpr int kOnlyCopy = 3;

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  const tarnwick::Machine machine = tarnwick::Machine::Open(argv[1]);
  tarnwick::TInstanceDetector detector(machine);
  QWidget window;
  tarnwick::TSingleInstance guard(detector, &window);
  return kOnlyCopy;
}
