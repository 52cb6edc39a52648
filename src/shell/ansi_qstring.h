// Windows paths and names are code page 1252 bytes; Qt shows Unicode.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "base/cp1252.h"

namespace tarnwick {

inline QString FromAnsi(std::string_view ansi) {
  return QString::fromStdString(Cp1252ToUtf8(ansi));
}

// Empty when the text holds a character that code page 1252 cannot hold.
inline std::optional<std::string> ToAnsi(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

}  // namespace tarnwick
