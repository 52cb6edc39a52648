// The program's own password, asked at every start and changed by a menu command. It lives
// scrambled in the policy file.
#pragma once

class QWidget;

namespace tarnwick {

class PolicyStore;

// Attaches the policy file to read the stored password, then asks for it up to three times; with
// none stored, asks for a new one twice and stores it. True when the right password was typed or
// a first one was stored. The policy file is detached again on return, also by an error.
bool AskPasswordAtStart(QWidget* owner, PolicyStore& store);

// Asks for the old password and the new one twice, up to three times, and stores the new one.
// True when it was stored. The policy file must be attached.
bool ChangePassword(QWidget* owner, const PolicyStore& store);

}  // namespace tarnwick
