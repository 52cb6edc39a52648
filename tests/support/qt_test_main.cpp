// Qt widgets need one application object for the whole test program: the program's own, so that
// events are delivered as they are in the program.
#include <gtest/gtest.h>

#include "controls/error_box.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  tarnwick::TarnwickApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
