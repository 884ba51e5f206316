#pragma once
// Saving a settings file without losing it: the one way config.xml and RuzOzodArir.ini are written.

#include <string>
#include <string_view>

// Makes `bytes` the whole content of the file at `path`; returns 0, or the errno of the failure.
//
// The normal path writes a temporary file beside the file, flushes it and renames it over the
// file, so a reader sees the old content or the new one and a failed save changes nothing. A
// symbolic link is followed: its target is replaced and the link stays. When the folder cannot be
// written but the file can (a settings file shared by several users), the file is overwritten in
// place and flushed instead.
int SaveWholeFile(const std::string& path, std::string_view bytes);
