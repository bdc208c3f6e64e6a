// The text of a freedesktop desktop entry (Desktop Entry Specification 1.5), the file that stands
// in for a shortcut on Linux desktops. Pure functions over text; writing the file is
// shortcuts_linux.cpp's job.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One argument of an Exec value, before the value's own string escapes: "%" doubles (a lone "%"
// would start a field code), and an argument holding a reserved character (space, tab, line
// break, " ' \ > < ~ | & ; $ * ? # ( ) `) or an empty one is put in double quotes, inside which
// " ` $ and \ get a backslash.
//   /opt/zelk/ZelkLauncher.exe   -> /opt/zelk/ZelkLauncher.exe
//   /home/a b/x                  -> "/home/a b/x"
//   /home/$(id)/x                -> "/home/\$(id)/x"
//   50%                          -> 50%%
std::string QuoteExecArgument(std::string_view argument);

// A value of type string (or localestring, iconstring) as the file holds it: \ becomes \\, a line
// break \n, a tab \t, a carriage return \r, and a leading space \s.
std::string EscapeStringValue(std::string_view value);

// The Exec value for running `command` (the program first): the quoted arguments joined by
// spaces, then string-escaped. "/home/a\b/x" with "-repair" -> "/home/a\\\\b/x" -repair
std::string FormatExecValue(const std::vector<std::string>& command);

struct DesktopEntry {
  std::string name;
  std::string comment;
  std::vector<std::string> command;  // the program, then its arguments
  std::string working_folder;
  std::string icon;  // an absolute path or an icon-theme name
};

// The whole file, a "[Desktop Entry]" group with Type=Application, Name, Comment, Exec, Path,
// Icon and Terminal=false. Nothing when a text is not valid UTF-8, which the format cannot hold,
// or holds a control character other than a line break or a tab, which desktops reject.
std::optional<std::string> FormatDesktopEntry(const DesktopEntry& entry);
