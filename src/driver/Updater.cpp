#include "driver/Updater.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "alias/AliasResolver.h"
#include "driver/ActionParser.h"
#include "driver/CommandLine.h"
#include "driver/ManifestDocument.h"
#include "driver/ManifestReader.h"
#include "platform/ChangeGuard.h"
#include "platform/ExecutablePath.h"
#include "platform/Interrupt.h"
#include "platform/ReadRedirects.h"
#include "signing/PackageVerifier.h"
#include "signing/TrustedKeys.h"
#include "transaction/Transaction.h"

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
constexpr int kStatusRollbackIncomplete = 3;
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

// "--recover" follows the same rule as "--help".
bool asksForRecoveryOnly(int argc, char** argv) {
  std::error_code ignored;
  return argc == 2 && std::strcmp(argv[1], "--recover") == 0 && !std::filesystem::exists(argv[1], ignored);
}

// An opt-in member of the manifest root; old updaters ignore it.
bool wantsTransaction(const rapidjson::Value& root) {
  auto found = root.FindMember("transaction");
  return found != root.MemberEnd() && found->value.IsBool() && found->value.GetBool();
}

// Rolls back what an updater killed in this working directory left
// half-done; false when that could not be completed.
bool recoverInterruptedTransaction() {
  // A working directory that is gone cannot hold a transaction either.
  std::error_code error;
  const std::filesystem::path workingDirectory = std::filesystem::current_path(error);
  if (error) return true;
  transaction::Failures failures;
  if (!transaction::recoverInterrupted(workingDirectory, failures)) return true;
  return transaction::reportRollback(failures, transaction::transactionDirectory(workingDirectory));
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

int run(int argc, char** argv, std::optional<transaction::Transaction>& transaction) {
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
  std::optional<platform::ActiveChangeGuard> guard;
  if (wantsTransaction(document)) {
    transaction.emplace(std::filesystem::current_path());
    guard.emplace(*transaction);
  }
  for (const auto& action : actions) {
    if (!action->isValid()) continue;
    platform::throwIfInterrupted();
    std::cout << std::endl;
    std::cout << "Perform action: " << action->getDescription() << std::endl;
    action->perform();
    std::cout.flush();  // per-file lines are not flushed one by one
  }
  if (transaction) transaction->commit();
  return kStatusSuccess;
}

}  // namespace

int runUpdater(int argc, char** argv) {
  if (answersInformationRequest(argc, argv)) return kStatusSuccess;
  const bool recoveryOnly = asksForRecoveryOnly(argc, argv);
  std::optional<transaction::Transaction> transaction;
  // Failures of the layers below arrive as exceptions; each ends the run at
  // the step that raised it, with one line saying why.
  try {
    if (!recoverInterruptedTransaction()) return kStatusRollbackIncomplete;
    if (recoveryOnly) return kStatusSuccess;
    return run(argc, argv, transaction);
  } catch (const std::exception& error) {
    std::cout << "Update failed: " << error.what() << std::endl;
  } catch (...) {
    std::cout << "Update failed: unknown error" << std::endl;
  }
  // A transaction the failure interrupted is undone after its line.
  if (transaction && !transaction->finished()) {
    std::cout << "Roll back transaction" << std::endl;
    if (!transaction::reportRollback(transaction->rollBack(), transaction->directory())) {
      return kStatusRollbackIncomplete;
    }
  }
  return kStatusFailed;
}
