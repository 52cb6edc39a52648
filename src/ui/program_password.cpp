#include "ui/program_password.h"

#include <QLabel>
#include <QLineEdit>
#include <array>
#include <optional>
#include <string>

#include "base/cp1252.h"
#include "base/text.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "shell/ansi_qstring.h"
#include "shell/prompts.h"
#include "ui/change_password_form.h"
#include "ui/password_form.h"

namespace tarnwick {

namespace {

constexpr int kAttempts = 3;

void Say(QWidget* owner, const char* text) {
  ShowMessage(owner, MessageKind::Plain, QString::fromUtf8(text));
}

// Names the first character of the typed text that code page 1252 lacks.
void RefuseCharacter(QWidget* owner, const QString& typed) {
  QString character;
  for (const char32_t cp : typed.toUcs4()) {
    if (!CodePointToCp1252(cp)) {
      character = QString::fromUcs4(&cp, 1);
      break;
    }
  }
  ShowMessage(owner, MessageKind::Plain,
              QStringLiteral("A Tarnwick password cannot hold the character \"%1\".  Please type "
                             "it again.")
                  .arg(character));
}

// Shows the form until it is cancelled (empty) or accepted with every field in code page 1252.
// A field that code page 1252 cannot hold is refused and the form shown again as typed; the
// refusal does not count as an attempt.
template <size_t N>
std::optional<std::array<std::string, N>> RunForTexts(QWidget* owner, QDialog& form,
                                                      const std::array<QLineEdit*, N>& fields) {
  for (;;) {
    if (RunDialog(form) != QDialog::Accepted) return std::nullopt;
    std::array<std::string, N> texts;
    const QLineEdit* refused = nullptr;
    for (size_t i = 0; i < N && refused == nullptr; ++i) {
      std::optional<std::string> ansi = ToAnsi(fields[i]->text());
      if (ansi) {
        texts[i] = std::move(*ansi);
      } else {
        refused = fields[i];
      }
    }
    if (refused == nullptr) return texts;
    RefuseCharacter(owner, refused->text());
  }
}

std::optional<std::string> RunForText(QWidget* owner, QDialog& form, QLineEdit& field) {
  const auto texts = RunForTexts(owner, form, std::array{&field});
  if (!texts) return std::nullopt;
  return (*texts)[0];
}

// A password is stored: the typed text is compared without regard to the case of a to z.
bool AskStoredPassword(QWidget* owner, TfrmPassword& form, const std::string& stored) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const std::optional<std::string> typed = RunForText(owner, form, form.txtPassword());
    if (!typed) return false;
    if (EqualsIgnoreCase(*typed, stored)) return true;
    Say(owner, "The Password you entered is invalid");
  }
  return false;
}

std::optional<std::string> AskEntry(QWidget* owner, TfrmPassword& form, const char* prompt) {
  form.Label1().setText(QString::fromUtf8(prompt));
  form.txtPassword().clear();
  return RunForText(owner, form, form.txtPassword());
}

// None is stored: a new password typed twice alike, letter case counting, is stored.
bool AskNewPassword(QWidget* owner, PolicyStore& store, TfrmPassword& form) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const std::optional<std::string> first =
        AskEntry(owner, form, "Enter a new password for Tarnwick");
    if (!first) return false;
    const std::optional<std::string> second =
        AskEntry(owner, form, "Re-enter the password to verify it");
    if (!second) return false;
    if (*first == *second) {
      {
        AttachedPolicyFile attached(store);
        StorePassword(store, *first);
        attached.Detach();
      }
      Say(owner,
          "Please write this Password in a safe place.  It must be entered every time you use "
          "Tarnwick");
      return true;
    }
    Say(owner, attempt < kAttempts ? "The passwords did not match.  Please try again."
                                   : "The passwords did not match.  Tarnwick will exit.");
  }
  return false;
}

}  // namespace

bool AskPasswordAtStart(QWidget* owner, PolicyStore& store) {
  std::string stored;
  {
    const AttachedPolicyFile attached(store);
    stored = ReadStoredPassword(store);
  }
  TfrmPassword form(owner);
  return stored.empty() ? AskNewPassword(owner, store, form)
                        : AskStoredPassword(owner, form, stored);
}

bool ChangePassword(QWidget* owner, const PolicyStore& store) {
  const std::string stored(Trim(ReadStoredPassword(store)));
  TfrmChangePassword form(owner);
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    form.txtOld().clear();
    form.txtNew().clear();
    form.txtConfirmNew().clear();
    const auto typed =
        RunForTexts(owner, form, std::array{&form.txtOld(), &form.txtNew(), &form.txtConfirmNew()});
    if (!typed) return false;
    const auto& [old, fresh, confirmed] = *typed;
    if (!EqualsIgnoreCase(old, stored)) {
      Say(owner, "The old password you typed was incorrect.  Please type it again.");
    } else if (!EqualsIgnoreCase(fresh, confirmed)) {
      Say(owner, "The new and confirmed passwords do not match.  Please type them again.");
    } else {
      StorePassword(store, fresh);
      return true;
    }
  }
  Say(owner, "Three strikes and you're out.  Try again later.");
  return false;
}

}  // namespace tarnwick
