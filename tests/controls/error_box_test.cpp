#include "controls/error_box.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "shell/scripted_prompter.h"

namespace tarnwick {
namespace {

TEST(ErrorBox, ShowsTheTextOfAnExceptionNoHandlerCaught) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  EXPECT_TRUE(DeliverShowingErrors([] { return true; }));
  EXPECT_TRUE(prompter.Records().empty());
  EXPECT_FALSE(DeliverShowingErrors(
      []() -> bool { throw std::runtime_error("Failed to create key Software\\Caf\xe9"); }));
  EXPECT_FALSE(DeliverShowingErrors([]() -> bool { throw 42; }));
  ASSERT_EQ(prompter.Records().size(), 2u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QString::fromUtf8("Failed to create key Software\\Café"));
  EXPECT_EQ(prompter.Records()[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(prompter.Records()[1].kind, MessageKind::Error);
}

}  // namespace
}  // namespace tarnwick
