// The run driver: command line, header, alias for the package, reading the
// manifest and performing the chosen action set.
//
// With a trusted public key (updater.pub beside the executable, or built in)
// the package must carry a good minisign signature in PACKAGE.minisig: the
// line "Signature verified: key ID, trusted comment: TEXT" then follows the
// header, and the rest of the run reads the checked copy of the package.
//
// runUpdater returns the process exit status: 0 after the last action, 255
// when the manifest is missing, empty, unreadable or not a JSON object, 1
// for a bad command line, and 2 when an exception ended the run (after the
// line "Update failed: " + its message).
#pragma once

int runUpdater(int argc, char** argv);
