// Usage: shell_instance_child MACHINE_DIR [END_MARK]. A later copy for a machine ends with exit
// code 0 while bringing the first copy forward; a copy that is the only one ends with kOnlyCopy.
// END_MARK, when given, is written as main's objects are destroyed.
#include <QApplication>
#include <QWidget>
#include <fstream>
#include <string>

#include "machine/machine.h"
#include "shell/single_instance.h"

namespace {

constexpr int kOnlyCopy = 3;

struct EndMark {
  std::string file;
  ~EndMark() {
    if (!file.empty()) std::ofstream(file) << "ended";
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) return 2;
  const EndMark mark{argc == 3 ? argv[2] : ""};
  const tarnwick::Machine machine = tarnwick::Machine::Open(argv[1]);
  tarnwick::TInstanceDetector detector(machine);
  QWidget window;
  tarnwick::TSingleInstance guard(detector, &window);
  if (guard.EndsThisCopy()) return 0;
  return kOnlyCopy;
}
