// Static entry point for opening a ZIP archive file.
//
// Failure: Open throws std::runtime_error("cannot open zip file") when the
// path cannot be opened for reading as a file (also when it names a
// directory). A path where nothing exists is created as an empty file and
// gives an archive with no entries; an existing file is never changed.
#pragma once

#include <string>

#include "zip/ArchiveFile.h"
#include "zip/ZipArchive.h"

class ZipFile {
 public:
  static ZipArchive::Ptr Open(const std::string& zipPath);
  // The one place where an archive file is opened (same failures as Open).
  static ArchiveFile OpenArchiveFile(const std::string& zipPath);
};
