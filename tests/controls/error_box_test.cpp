#include "controls/error_box.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QLineEdit>
#include <map>
#include <stdexcept>
#include <string>

#include "base/error.h"
#include "machine/machine.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "support/file_replacements.h"
#include "support/test_machine.h"

namespace tarnwick {
namespace {

TEST(ErrorBox, ShowsTheTextOfAnExceptionAHandlerDidNotHandle) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  EXPECT_TRUE(ShowingErrors([] {}));
  EXPECT_TRUE(prompter.Records().empty());
  // A Windows name (code page 1252) and a host path (UTF-8) both reach the box right.
  test::TestMachine machine;
  Registry registry(machine.Get());
  EXPECT_FALSE(ShowingErrors([&] {
    RegistryAccessor reg(registry);
    reg.OpenKey("Software", true);
    reg.WriteString("Caf\xe9", "text");
    reg.ReadInteger("Caf\xe9");
  }));
  const std::filesystem::path missing = machine.Dir() / "caf\xc3\xa9";
  EXPECT_FALSE(ShowingErrors([&] { Machine::Open(missing); }));
  EXPECT_FALSE(ShowingErrors([] { throw 42; }));
  ASSERT_EQ(prompter.Records().size(), 3u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QString::fromUtf8("Invalid data type for 'Café'"));
  EXPECT_EQ(prompter.Records()[0].buttons, QMessageBox::Ok);
  EXPECT_TRUE(prompter.Records()[1].text.contains(QString::fromUtf8("/café")))
      << prompter.Records()[1].text.toStdString();
  EXPECT_EQ(prompter.Records()[2].text, QStringLiteral("An unexpected error occurred."));
}

// A slot that throws: the exception ends at the slot's edge in the error box, never in Qt's code
// that emitted the signal. The slot gets the leading arguments it takes.
TEST(ErrorBox, ASlotConnectedShowingErrorsStopsItsExceptionsAtItsEdge) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  QLineEdit edit;
  QString seen;
  ConnectShowingErrors(&edit, &QLineEdit::textChanged, &edit, [&](const QString& text) {
    seen = text;
    throw Error("The slot failed for " + text.toStdString());
  });
  ConnectShowingErrors(&edit, &QLineEdit::textChanged, &edit, &QLineEdit::selectAll);
  EXPECT_NO_THROW(edit.setText(QStringLiteral("Kids")));
  EXPECT_EQ(seen, QStringLiteral("Kids"));
  EXPECT_EQ(edit.selectedText(), QStringLiteral("Kids"));
  ASSERT_EQ(prompter.Records().size(), 1u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QStringLiteral("The slot failed for Kids"));
}

// The program's application with a registry for the guard's lifetime.
struct ApplicationRegistry {
  explicit ApplicationRegistry(Registry& registry) { App()->SetRegistry(&registry); }
  ~ApplicationRegistry() { App()->SetRegistry(nullptr); }
  static TarnwickApplication* App() {
    return qobject_cast<TarnwickApplication*>(QCoreApplication::instance());
  }
};

void WriteDword(Registry& registry, std::string_view key, std::string_view name, int32_t value) {
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteInteger(name, value);
}

TEST(ErrorBox, AnEventWritesEachChangedFileOnceWhenDoneAndShowsAWriteThatFails) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  test::TestMachine machine;
  machine.MakeDir("c/WINDOWS/Hives");
  WriteRegistryFile(machine.Host("c/WINDOWS/Hives/x.pol"), RegNode());
  Registry registry(machine.Get());
  ASSERT_NE(ApplicationRegistry::App(), nullptr) << "the tests run in another application";
  const ApplicationRegistry set(registry);
  testing::FileReplacements replaced(machine.Host("c/WINDOWS"));

  QObject receiver;
  std::map<std::string, int> during;
  QMetaObject::invokeMethod(
      &receiver,
      [&] {
        for (int i = 0; i < 13; ++i) WriteDword(registry, "Software", "V" + std::to_string(i), i);
        // The loop of a modal form: its events join this one's batch.
        QEventLoop modal;
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
              WriteDword(registry, "Software", "Modal", 1);
              modal.quit();
            },
            Qt::QueuedConnection);
        modal.exec();
        during = replaced.Take();
      },
      Qt::QueuedConnection);
  QCoreApplication::sendPostedEvents(&receiver);
  EXPECT_TRUE(during.empty());
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"SYSTEM.DAT", 1}}));
  EXPECT_EQ(
      ReadRegistryFile(machine.Host("c/WINDOWS/SYSTEM.DAT"))->FindSubkey("Software")->values.size(),
      14u);
  EXPECT_TRUE(prompter.Records().empty());

  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(reg.LoadKey("X", "C:\\WINDOWS\\Hives\\x.pol"));
  std::filesystem::rename(machine.Host("c/WINDOWS/Hives"), machine.Host("c/WINDOWS/Away"));
  QMetaObject::invokeMethod(
      &receiver, [&] { WriteDword(registry, "X\\Config", "Mode", 3); }, Qt::QueuedConnection);
  QCoreApplication::sendPostedEvents(&receiver);
  ASSERT_EQ(prompter.Records().size(), 1u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_TRUE(prompter.Records()[0].text.contains(QStringLiteral("x.pol")))
      << prompter.Records()[0].text.toStdString();
  std::filesystem::rename(machine.Host("c/WINDOWS/Away"), machine.Host("c/WINDOWS/Hives"));
}

}  // namespace
}  // namespace tarnwick
