// The first start: the welcome wizard makes the administrator's own unrestricted account and
// switches activation on.
#pragma once

class QWidget;

namespace tarnwick {

class TUsers;

// Runs the welcome wizard. Cancelled: activation is turned off, no account is made, false. Else
// the account of the typed name gets the chosen icon, the current Windows user's folders, the
// program and its tray companion as allowed programs and no restriction; its name becomes the
// next logon's user name; activation is turned on; true. Errors of the store propagate.
bool FirstStartSetup(QWidget* owner, TUsers& users);

}  // namespace tarnwick
