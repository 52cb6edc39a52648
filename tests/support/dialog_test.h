// Helpers of the tests that drive the program's dialogs and wizards.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "policy/policy_store.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {

// The child widget of that object name; a failed expectation when there is none.
template <typename T>
T* Find(const QObject& parent, const char* name) {
  T* widget = parent.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

// Answers from its script as ScriptedPrompter does, and keeps the file chooser's requests and the
// owners of the message boxes.
class RecordingPrompter : public ScriptedPrompter {
 public:
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override {
    requests.push_back(request);
    return ScriptedPrompter::ChooseFile(owner, machine, request);
  }
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    owners.push_back(owner);
    return ScriptedPrompter::Message(owner, kind, title, text, buttons);
  }
  std::vector<FileChooserRequest> requests;
  std::vector<QWidget*> owners;  // of the message boxes
};

// A test on a new demo machine whose policy file stays attached for the whole test, its prompts
// answered from prompter_'s script.
class AttachedPolicyTest : public ::testing::Test {
 protected:
  AttachedPolicyTest() { machine_.Store().LoadPolicyFile(); }
  ~AttachedPolicyTest() override { machine_.Store().UnloadPolicyFile(); }

  PolicyMachine machine_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

}  // namespace tarnwick::test
