// Qt widgets need one application object for the whole test program: the program's own, so that
// events are delivered and prompts shown as they are in the program.
#include <gtest/gtest.h>

#include "controls/real_prompter.h"
#include "shell/error_box.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  tarnwick::TarnwickApplication app(argc, argv);
  tarnwick::RealPrompter dialogs;
  const tarnwick::PrompterGuard prompts(dialogs);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
