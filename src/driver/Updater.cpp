#include "driver/Updater.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "driver/ActionParser.h"
#include "driver/AliasResolver.h"
#include "driver/CommandLine.h"
#include "driver/ManifestDocument.h"
#include "driver/ManifestReader.h"
#include "platform/Interrupt.h"
#include "platform/ExecutablePath.h"
#include "platform/ReadRedirects.h"
#include "signing/PackageVerifier.h"
#include "signing/TrustedKeys.h"

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "unknown"
#endif
#ifndef UPDATER_TRUSTED_KEY
#define UPDATER_TRUSTED_KEY ""
#endif

namespace {

const char* const kPackageAlias = "@update.zip";
const char* const kKeyFileName = "updater.pub";
const char* const kSignatureSuffix = ".minisig";
constexpr int kStatusSuccess = 0;
constexpr int kStatusBadCommandLine = 1;
constexpr int kStatusFailed = 2;
constexpr int kStatusBadManifest = 255;

// "--help" and "--version" are answered only when they are the sole argument
// and no file of that name exists; otherwise they are a package path.
bool answersInformationRequest(int argc, char** argv) {
  if (argc != 2) return false;
  bool help = std::strcmp(argv[1], "--help") == 0;
  bool version = std::strcmp(argv[1], "--version") == 0;
  if (!help && !version) return false;
  std::error_code ignored;
  if (std::filesystem::exists(argv[1], ignored)) return false;
  if (version) {
    std::cout << "updater " << UPDATER_VERSION << std::endl;
  } else {
    std::cout << "Usage: updater -f <package.zip> [-s <action set number>]" << std::endl;
    std::cout << "       updater <package.zip>" << std::endl;
    std::cout << "Reads manifest.json from the update package and performs the chosen action set (0 by default)."
              << std::endl;
  }
  return true;
}

void printHeader(const RunSettings& settings) {
  std::cout << "Begin updater: " << std::endl;
  std::cout << "\tzip file         : " << settings.zipFilePath << std::endl;
  std::cout << "\taction set number: " << static_cast<std::uint32_t>(settings.actionSet) << std::endl;
  std::cout << std::endl;
}

// The keys of the file beside the running executable (never one chosen by
// the command line) and the built-in ones.
std::vector<signing::PublicKey> trustedKeys() {
  return signing::loadTrustedKeys(platform::executablePath().parent_path() / kKeyFileName, UPDATER_TRUSTED_KEY);
}

// The package must carry a good signature from a trusted key. From here on
// every read of the package gets the bytes that were checked.
void checkSignature(const RunSettings& settings, const std::string& packagePath,
                    const std::vector<signing::PublicKey>& keys) {
  signing::VerifiedPackage verified =
      signing::verifyPackage(packagePath, std::string(settings.zipFilePath) + kSignatureSuffix, keys);
  platform::redirectReads(packagePath, verified.copy);
  std::cout << "Signature verified: key " << signing::keyIdText(verified.keyId)
            << ", trusted comment: " << verified.trustedComment << std::endl;
}

int run(int argc, char** argv) {
  RunSettings settings;
  if (parseArgs(argc, argv, settings) != 0) return kStatusBadCommandLine;
  if (settings.zipFilePath == nullptr) {
    // Only flags other than -f were given (or no argument vector at all).
    std::cout << "Arguments are required: -f ";
    return kStatusBadCommandLine;
  }

  printHeader(settings);
  // Without any trusted key packages are not checked.
  const std::vector<signing::PublicKey> keys = trustedKeys();

  AliasResolver& aliases = AliasResolver::getInstance();
  aliases.addAlias(kPackageAlias, std::filesystem::canonical(settings.zipFilePath).string());
  const std::string packagePath = aliases.resolve(kPackageAlias);
  if (!keys.empty()) checkSignature(settings, packagePath, keys);

  Manifest manifest = readManifest(packagePath);
  switch (manifest.status) {
    case ManifestStatus::Missing:
      std::cout << "Manifest file doesn't exist" << std::endl;
      return kStatusBadManifest;
    case ManifestStatus::Empty:
      std::cout << "Manifest file is empty" << std::endl;
      return kStatusBadManifest;
    case ManifestStatus::Unreadable:
      std::cout << "Manifest file can't be read" << std::endl;
      return kStatusBadManifest;
    case ManifestStatus::TooLarge:
      std::cout << "Manifest file is too large" << std::endl;
      return kStatusBadManifest;
    case ManifestStatus::Read:
      break;
  }

  manifest_json::ManifestDocument parsed(manifest.text);
  rapidjson::Value& document = parsed.root();
  if (!document.IsObject()) {
    std::cout << "JSON root is not object";
    return kStatusBadManifest;
  }

  ActionList actions = ActionParser::getActionList(document, settings.actionSet);
  for (const auto& action : actions) {
    if (!action->isValid()) continue;
    platform::throwIfInterrupted();
    std::cout << std::endl;
    std::cout << "Perform action: " << action->getDescription() << std::endl;
    action->perform();
  }
  return kStatusSuccess;
}

}  // namespace

int runUpdater(int argc, char** argv) {
  if (answersInformationRequest(argc, argv)) return kStatusSuccess;
  // Failures of the layers below arrive as exceptions; each ends the run at
  // the step that raised it, with one line saying why.
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::cout << "Update failed: " << error.what() << std::endl;
  } catch (...) {
    std::cout << "Update failed: unknown error" << std::endl;
  }
  return kStatusFailed;
}
