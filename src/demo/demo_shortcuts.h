// The Start Menu shortcuts of a demo machine.
#pragma once

namespace tarnwick {

class Machine;

// Writes the default user's Start Menu shortcuts below the Windows directory's
// "Start Menu\Programs": Accessories (Notepad, WordPad, Paint, Calculator) and Programs (MS-DOS
// Prompt, Windows Explorer). Missing folders and targets are created, targets as small
// placeholder files; existing shortcuts and files are kept. Everything goes through the machine's
// calls, so a host directory and a disk image get the same shortcuts. Throws std::runtime_error
// naming a folder or target that could not be made or read, FileWriteError for a shortcut that
// could not be written.
void InstallDemoShortcuts(const Machine& machine);

}  // namespace tarnwick
