// The shell's icon lookups: the picture the Windows 95 shell shows for a file of the machine.
#pragma once

#include <QPixmap>
#include <cstdint>
#include <span>
#include <string>

namespace tarnwick {

class Machine;
class Registry;

// The small (16 x 16) or large (32 x 32) icon of a Windows path on the machine, in this order:
// a folder's picture; a shortcut's icon location, else its target's icon, with the shortcut
// arrow over it; the icon the registry's file classes give the extension (DefaultIcon, else the
// registered program's icon) when a registry is given; an icon file's image, an executable's
// or DLL's first icon group; else the generic program or document picture. When the path does
// not exist, or names a damaged icon file, executable or shortcut, icon is left as it was.
// Images of other sizes are scaled.
void GetSmallFileIcon(const Machine& machine, const std::string& path, QPixmap& icon,
                      Registry* registry = nullptr);
void GetLargeFileIcon(const Machine& machine, const std::string& path, QPixmap& icon,
                      Registry* registry = nullptr);

// The same lookup at any size; a null pixmap when the path does not exist or the file is damaged.
QPixmap FileIcon(const Machine& machine, const std::string& path, int size,
                 Registry* registry = nullptr);

// The icon at an icon location ("file,index" as shortcuts and DefaultIcon name it): index >= 0
// counts an executable's icon groups, < 0 names a group ID; an icon file has index 0 only.
// A null pixmap when the file or icon does not exist or is damaged.
QPixmap IconAtLocation(const Machine& machine, const std::string& file, int32_t index, int size);

// The image of an icon file's bytes for a size (scaled when it holds no image of that size);
// null when the bytes are no icon file.
QPixmap IconFilePixmap(std::span<const uint8_t> ico, int size);

}  // namespace tarnwick
