// The Start Menu shortcuts of a demo machine.
#pragma once

namespace tarnwick {

class Machine;

// Writes the default user's Start Menu shortcuts below the Windows directory's
// "Start Menu\Programs": Accessories (Notepad, WordPad, Paint, Calculator) and Programs (MS-DOS
// Prompt, Windows Explorer). Missing folders and targets are created, targets as small
// placeholder files; existing shortcuts and files are kept. Throws std::runtime_error naming the
// shortcut that could not be written.
void InstallDemoShortcuts(const Machine& machine);

}  // namespace tarnwick
