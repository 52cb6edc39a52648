// STUB: stands in for controls/help_window.h until the help window lands; delete on merge.
#pragma once

class QWidget;

namespace tarnwick {

inline void ShowHelpContents(QWidget*) {}

}  // namespace tarnwick
