#pragma once

#include <string>
#include <string_view>

namespace sorvanto {

// The folder that stands for the Windows drives: $SORVANTO_DRIVES, or
// $XDG_DATA_HOME/sorvanto/drives (~/.local/share/sorvanto/drives) when that is unset or empty.
std::string DrivesRoot();

// A drive path is a letter, a colon and a backslash or slash ("c:\firebird\document.fdb").
bool IsDrivePath(std::string_view path) noexcept;

// Maps a drive path into the drives folder: drive X is its subfolder named by the lower-case
// letter, components are matched against the folder's entries without regard to letter case,
// and a component that matches nothing keeps its spelling. Other paths come back unchanged.
std::string MapDrivePath(std::string_view path);

// A database path as the Firebird client gets it: drive paths are mapped, anything else
// (host:path, an absolute path, an alias) is passed unchanged.
std::string MapDatabasePath(std::string_view path);

} // namespace sorvanto
