// The ZIP writer of tools/ under the names the tests use.
#pragma once

#include "zip_writer/ZipBuilder.h"

namespace testing_support {
using zip_writer::makeEntry;
using zip_writer::makeManifestPackage;
using zip_writer::ZipBuilder;
using zip_writer::ZipEntrySpec;
namespace zip_codecs = zip_writer::zip_codecs;
}  // namespace testing_support
