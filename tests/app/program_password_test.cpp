#include "app/program_password.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "app/change_password_form.h"
#include "app/password_form.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/scramble.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

const char* const kInvalid = "The Password you entered is invalid";
const char* const kTryAgain = "The passwords did not match.  Please try again.";
const char* const kSafePlace =
    "Please write this Password in a safe place.  It must be entered every time you use Tarnwick";
const char* const kEnter = "Enter a new password for Tarnwick";
const char* const kAgain = "Re-enter the password to verify it";
const char* const kOldWrong = "The old password you typed was incorrect.  Please type it again.";
const char* const kNewDiffer =
    "The new and confirmed passwords do not match.  Please type them again.";

QLineEdit& Field(QDialog& form, const char* name) {
  auto* field = form.findChild<QLineEdit*>(QString::fromLatin1(name));
  EXPECT_EQ(field->echoMode(), QLineEdit::Password) << name;
  return *field;
}

class ProgramPasswordTest : public ::testing::Test {
 protected:
  ProgramPasswordTest() : guard_(prompter_) {}

  void Store(std::string_view password) {
    const AttachedPolicyFile attached{machine_.Store()};
    StorePassword(machine_.Store(), password);
  }
  std::string Stored() {
    const AttachedPolicyFile attached{machine_.Store()};
    return ReadStoredPassword(machine_.Store());
  }
  // Answers the start prompt with the text, recording its label; a null text cancels.
  void Type(const QString& text) {
    prompter_.Queue(ScriptedPrompter::DialogScript([this, text](QDialog& form) {
      labels_.push_back(form.findChild<QLabel*>(QStringLiteral("Label1"))->text());
      Field(form, "txtPassword").setText(text);
      return text.isNull() ? int{QDialog::Rejected} : int{QDialog::Accepted};
    }));
  }
  void Change(const QString& old, const QString& fresh, const QString& confirmed) {
    prompter_.Queue(ScriptedPrompter::DialogScript([=](QDialog& form) {
      EXPECT_EQ(Field(form, "txtOld").text(), QString());
      Field(form, "txtOld").setText(old);
      Field(form, "txtNew").setText(fresh);
      Field(form, "txtConfirmNew").setText(confirmed);
      return int{QDialog::Accepted};
    }));
  }
  // Every message box is answered in its turn among the forms.
  void Ok() { prompter_.Queue(QMessageBox::Ok); }
  // The plain messages shown since the last call.
  QStringList Messages() {
    QStringList texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type != PromptRecord::Type::Message) continue;
      EXPECT_EQ(record.kind, MessageKind::Plain);
      texts.push_back(record.text);
    }
    prompter_.ClearRecords();
    return texts;
  }
  void ExpectDetached() {
    EXPECT_FALSE(machine_.Store().PolicyLoaded());
    EXPECT_FALSE(machine_.KeyExists("TARNEX"));
  }

  testing::PolicyMachine machine_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_;
  QStringList labels_;
};

TEST_F(ProgramPasswordTest, StoredPasswordMatchesInAnyCaseOfAToZOnly) {
  Store(" Secret");
  Type(" sECRET");
  EXPECT_TRUE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(labels_, QStringList{"Enter the Tarnwick password:"});
  ExpectDetached();

  for (const char* wrong : {"Secret", " Secret ", " S\u00C9cret"}) {
    Type(QString::fromUtf8(wrong));
    Ok();
  }
  EXPECT_FALSE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList({kInvalid, kInvalid, kInvalid}));
  ExpectDetached();

  Type("x");
  Ok();
  Type(QString());
  EXPECT_FALSE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList{kInvalid});
}

TEST_F(ProgramPasswordTest, FirstPasswordStoredWhenRepeatedExactly) {
  Type("Tarnwick");
  Type("tarnwick");
  Ok();
  Type("Tarnwick");
  Type("Tarnwick ");
  Ok();
  Type(" Caf\u00E9");
  Type(" Caf\u00E9");
  Ok();
  EXPECT_TRUE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList({kTryAgain, kTryAgain, kSafePlace}));
  EXPECT_EQ(labels_, QStringList({kEnter, kAgain, kEnter, kAgain, kEnter, kAgain}));
  ExpectDetached();

  const std::string scrambled = ScrambleText(" Caf\xE9", kScrambleSeed);
  for (const testing::ReaderOutput& file :
       {testing::ReadWithCregexport(machine_.PolicyFile()),
        testing::ReadWithParseWin32Registry(machine_.PolicyFile())}) {
    ASSERT_TRUE(file.ok()) << file.diagnostics;
    const testing::ExportedValue* mode = testing::FindExported(file, "Config", "Mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(testing::SzText(mode->data).substr(0, scrambled.size()), scrambled);
  }
  machine_.Restart();
  Type(" CAF\u00E9");
  EXPECT_TRUE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(ProgramPasswordTest, ThreeMismatchesEndTheStartAndAnEmptyPasswordIsNone) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    Type("one");
    Type("two");
    Ok();
  }
  EXPECT_FALSE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList({kTryAgain, kTryAgain,
                                     "The passwords did not match.  Tarnwick will exit."}));
  EXPECT_EQ(Stored(), "");

  Type("");
  Type("");
  Ok();
  EXPECT_TRUE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList{kSafePlace});
  {
    const AttachedPolicyFile attached{machine_.Store()};
    const std::optional<RegValue> mode = machine_.Value("TARNEX\\Config", "Mode");
    ASSERT_TRUE(mode);
    EXPECT_EQ(testing::SzText(mode->data).find_first_not_of('\0'), std::string::npos);
  }
  labels_.clear();
  Type(QString());
  EXPECT_FALSE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(labels_, QStringList{kEnter});
  EXPECT_TRUE(Messages().isEmpty());
}

// A character code page 1252 lacks is refused without using up an attempt.
TEST_F(ProgramPasswordTest, CharacterOutsideTheCodePageIsAskedAgain) {
  Store("pass");
  Type("pa\u0151ss");
  Ok();
  for (int wrong = 0; wrong < 2; ++wrong) {
    Type("x");
    Ok();
  }
  Type("PASS");
  EXPECT_TRUE(AskPasswordAtStart(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList({"A Tarnwick password cannot hold the character "
                                     "\"\u0151\".  Please type it again.",
                                     kInvalid, kInvalid}));
}

TEST_F(ProgramPasswordTest, ReadErrorStillDetachesThePolicyFile) {
  {
    const AttachedPolicyFile attached{machine_.Store()};
    machine_.Put("TARNEX\\Config", "Mode", kRegDword, testing::Dword(7));
  }
  EXPECT_THROW(AskPasswordAtStart(nullptr, machine_.Store()), RegistryError);
  ExpectDetached();
  EXPECT_TRUE(prompter_.Records().empty());
}

class ChangePasswordTest : public ProgramPasswordTest {
 protected:
  ChangePasswordTest() { machine_.Store().LoadPolicyFile(); }
  ~ChangePasswordTest() override { machine_.Store().UnloadPolicyFile(); }
};

// The stored password is trimmed here, and the new pair compares without regard to case.
TEST_F(ChangePasswordTest, OldPasswordTrimmedNewPairInAnyCase) {
  StorePassword(machine_.Store(), " Old ");
  Change(" Old", "n", "n");
  Ok();
  Change("oLD", " New", " nEW");
  EXPECT_TRUE(ChangePassword(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList{kOldWrong});
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), " New");
}

TEST_F(ChangePasswordTest, ThreeStrikesOrCancelKeepTheOldPassword) {
  StorePassword(machine_.Store(), "old");
  Change("wrong", "a", "a");
  Ok();
  Change("old", "a", "b");
  Ok();
  Change("old", "a", "ab");
  Ok();
  Ok();
  EXPECT_FALSE(ChangePassword(nullptr, machine_.Store()));
  EXPECT_EQ(Messages(), QStringList({kOldWrong, kNewDiffer, kNewDiffer,
                                     "Three strikes and you're out.  Try again later."}));
  EXPECT_FALSE(ChangePassword(nullptr, machine_.Store()));  // the form is cancelled
  EXPECT_TRUE(Messages().isEmpty());
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "old");
}

// The names of the controls Tab visits, from the first on.
QStringList TabOrder(QWidget& first) {
  QStringList names;
  QWidget* widget = &first;
  do {
    if (widget->focusPolicy() & Qt::TabFocus) names.push_back(widget->objectName());
    widget = widget->nextInFocusChain();
  } while (widget != &first);
  return names;
}

int PressKey(QDialog& form, QWidget& focused, Qt::Key key) {
  form.show();
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&focused, &press);
  EXPECT_FALSE(form.isVisible());
  return form.result();
}

TEST(PasswordFormsTest, ReturnAcceptsEscapeCancelsTabRunsFieldsThenButtons) {
  TfrmPassword password(nullptr);
  EXPECT_EQ(PressKey(password, password.txtPassword(), Qt::Key_Return), QDialog::Accepted);
  EXPECT_EQ(PressKey(password, password.txtPassword(), Qt::Key_Escape), QDialog::Rejected);
  EXPECT_EQ(TabOrder(password.txtPassword()), QStringList({"txtPassword", "cmdOK", "cmdCancel"}));

  TfrmChangePassword change(nullptr);
  EXPECT_EQ(PressKey(change, change.txtConfirmNew(), Qt::Key_Return), QDialog::Accepted);
  EXPECT_EQ(PressKey(change, change.txtOld(), Qt::Key_Escape), QDialog::Rejected);
  EXPECT_EQ(TabOrder(change.txtOld()),
            QStringList({"txtOld", "txtNew", "txtConfirmNew", "cmdOK", "cmdCancel"}));
  const QList<QLabel*> labels = change.findChildren<QLabel*>();
  for (QLineEdit* field : {&change.txtOld(), &change.txtNew(), &change.txtConfirmNew()}) {
    EXPECT_EQ(std::ranges::count(labels, field, &QLabel::buddy), 1)
        << field->objectName().toStdString();
  }
}

}  // namespace
}  // namespace tarnwick
