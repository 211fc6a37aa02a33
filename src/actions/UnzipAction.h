// UnzipAction: the "unzip" step, which unpacks a ZIP archive (usually the
// update package itself, named "@update.zip") into a destination directory.
//
// The constructor reads the required strings "source" and "destination";
// when either is missing or not a string it prints "Fail to parse Unzip
// Action" (no line end) and the action stays invalid. The include and
// exclude lists inherited from FilesActionInterface are exact entry names
// here, not patterns. The source goes through the alias resolver only when
// the action is performed; the destination is used as written.
//
// perform() logs one line per file entry and creates directory entries
// silently. It never writes outside the destination: names that climb out,
// and paths or link entries that lead out through symbolic links, are
// skipped with a line. Every file is written beside its target and renamed
// over it only when complete, with its size and CRC-32 checked; a file
// stored without permission bits gets those of a new file. Encrypted entries
// are listed and skipped. Failures are exceptions that end the run: an
// unbound alias, an archive that cannot be opened or is no ZIP archive, a
// file-system error, or an entry whose data is damaged (std::runtime_error
// naming the entry). Entries unpacked before the failure stay in place.
#pragma once

#include <string>

#include "actions/FilesActionInterface.h"

class UnzipAction final : public FilesActionInterface {
 public:
  explicit UnzipAction(const rapidjson::Value& object);

  void perform() override;

 private:
  std::string _source;                // as written; resolved when performed
  std::string _destinationAsWritten;  // the base class keeps an alias-resolved copy, unused here
};
