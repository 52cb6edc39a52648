#include "controls/error_box.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "machine/machine.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "support/test_machine.h"

namespace tarnwick {
namespace {

TEST(ErrorBox, ShowsTheTextOfAnExceptionNoHandlerCaught) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  EXPECT_TRUE(DeliverShowingErrors([] { return true; }));
  EXPECT_TRUE(prompter.Records().empty());
  // A Windows name (code page 1252) and a host path (UTF-8) both reach the box right.
  test::TestMachine machine;
  Registry registry(machine.Get());
  EXPECT_FALSE(DeliverShowingErrors([&]() -> bool {
    RegistryAccessor reg(registry);
    reg.OpenKey("Software", true);
    reg.WriteString("Caf\xe9", "text");
    reg.ReadInteger("Caf\xe9");
    return true;
  }));
  const std::filesystem::path missing = machine.Dir() / "caf\xc3\xa9";
  EXPECT_FALSE(DeliverShowingErrors([&]() -> bool {
    Machine::Open(missing);
    return true;
  }));
  EXPECT_FALSE(DeliverShowingErrors([]() -> bool { throw 42; }));
  ASSERT_EQ(prompter.Records().size(), 3u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QString::fromUtf8("Invalid data type for 'Café'"));
  EXPECT_EQ(prompter.Records()[0].buttons, QMessageBox::Ok);
  EXPECT_TRUE(prompter.Records()[1].text.contains(QString::fromUtf8("/café")))
      << prompter.Records()[1].text.toStdString();
  EXPECT_EQ(prompter.Records()[2].text, QStringLiteral("An unexpected error occurred."));
}

}  // namespace
}  // namespace tarnwick
