#include "engine/new_database.h"

#include "engine/file_names.h"
#include "engine/rewrite_recovery.h"

namespace mero {

NewDatabase::NewDatabase(std::string base, std::string maker, void (*step)())
    : base_(std::move(base)), maker_(std::move(maker)), step_(step) {}

NewDatabase::~NewDatabase() {
  if (claimed_ && !committed_) removeDrafts();
}

std::string NewDatabase::draftPath(const std::string& extension) const { return rewriteDraftPath(base_ + extension); }

void NewDatabase::removeDrafts() {
  for (const char* extension : kDatabaseExtensions) File::remove(scratchBase() + extension);
  File::remove(draftPath(kDataExtension));
  File::remove(draftPath(kIndexExtension));
  if (!File::exists(schemaFileName(base_))) File::remove(rewriteMarkerPath(base_));
  // The locked draft goes last: until then no other command takes NEW's leftovers for its own.
  schemaDraft_.close();
  File::remove(draftPath(kSchemaExtension));
}

NewDatabase::Outcome NewDatabase::claim(std::string& error) {
  const std::string finished = "a database at " + base_ +
                               ", which an earlier command was cut short putting in place, is now complete: "
                               "choose a new name, or use it";
  if (File::exists(schemaFileName(base_)) && File::exists(rewriteMarkerPath(base_))) {
    // Cut short after its schema file was in place: finished as any open would.
    File schema;
    if (!schema.openReadWrite(schemaFileName(base_)) || schema.lockExclusive() == File::LockResult::heldElsewhere) {
      bool rewriting = false;
      for (const char* extension : kRewrittenExtensions)
        rewriting = rewriting || File::exists(rewriteDraftPath(base_ + extension));
      error = (rewriting ? maker_ + " is rewriting " + base_ : base_ + " is open in an application") +
              ": try again once it is closed";
      return Outcome::inUse;
    }
    if (!recoverInterruptedRewrite(base_)) {
      error = "cannot finish what an interrupted command left at " + base_ + ": " + File::lastErrorText();
      return Outcome::failed;
    }
    error = finished;
    return Outcome::exists;
  }
  for (const char* extension : kDatabaseExtensions)
    if (File::exists(base_ + extension)) {
      error = base_ + extension + " exists: choose a new name";
      return Outcome::exists;
    }
  const std::string schemaDraft = draftPath(kSchemaExtension);
  if (File::exists(schemaDraft) || File::exists(draftPath(kDataExtension)) ||
      File::exists(draftPath(kIndexExtension)) || File::exists(rewriteMarkerPath(base_))) {
    File leftover;
    if (leftover.openReadWrite(schemaDraft) && leftover.lockExclusive() == File::LockResult::heldElsewhere) {
      error = maker_ + " is making a database at " + base_ + ": try again when it has finished";
      return Outcome::inUse;
    }
    if (!recoverInterruptedCreation(base_)) {
      error = "cannot clear what an interrupted command left at " + base_ + ": " + File::lastErrorText();
      return Outcome::failed;
    }
    for (const char* extension : kDatabaseExtensions) File::remove(scratchBase() + extension);
    if (File::exists(schemaFileName(base_))) {
      error = finished;
      return Outcome::exists;
    }
  }
  bool created = false;
  if (!File::createIfMissing(schemaDraft, &created) || !created || !schemaDraft_.openReadWrite(schemaDraft) ||
      schemaDraft_.lockExclusive() == File::LockResult::heldElsewhere) {
    error = created ? "cannot create the files of " + base_ + ": " + File::lastErrorText()
                    : maker_ + " is making a database at " + base_ + ": try again when it has finished";
    if (created) File::remove(schemaDraft);
    return created ? Outcome::failed : Outcome::inUse;
  }
  claimed_ = true;
  return Outcome::done;
}

NewDatabase::Outcome NewDatabase::commit(const std::string& schemaBytes, std::string& error) {
  auto failed = [&](const std::string& what) {
    error = what + ": " + File::lastErrorText();
    return Outcome::failed;
  };
  if (!schemaDraft_.writeAt(0, schemaBytes.data(), schemaBytes.size()) || !schemaDraft_.sync())
    return failed("writing the schema file of " + base_ + " failed");
  std::string text;
  const std::string marker = rewriteMarkerPath(base_);
  bool created = false;
  File markerFile;
  if (!describeRewrite(base_, {kDataExtension, kIndexExtension}, true, text))
    return failed("cannot examine the new files of " + base_);
  if (!File::createIfMissing(marker, &created) || !created) {
    error = maker_ + " is committing a database at " + base_;
    return Outcome::inUse;
  }
  if (!markerFile.openReadWrite(marker) || !markerFile.writeAt(0, text.data(), text.size()) || !markerFile.sync() ||
      !File::syncDirectoryOf(marker)) {
    File::remove(marker);
    return failed("cannot write the commit marker of " + base_);
  }
  markerFile.close();
  stepDone();
  if (!File::renameNoReplace(draftPath(kSchemaExtension), schemaFileName(base_))) {
    const std::string reason = File::lastErrorText();
    File::remove(marker);
    error = "a database appeared at " + base_ + " meanwhile (" + reason + "): it was left as it is";
    return Outcome::inUse;
  }
  // From here on the files are NEW: what a kill leaves is finished by the
  // next command or engine that opens it.
  committed_ = true;
  stepDone();
  for (const char* extension : kRewrittenExtensions) {
    if (!File::renameNoReplace(draftPath(extension), base_ + extension))
      return failed("cannot put " + base_ + extension + " in place (the next open of " + base_ + " finishes it)");
    stepDone();
  }
  if (!File::syncDirectoryOf(marker) || !File::remove(marker) || !File::syncDirectoryOf(marker))
    return failed("cannot remove the commit marker of " + base_ + " (the next open of " + base_ + " does)");
  stepDone();
  schemaDraft_.close();
  return Outcome::done;
}

}  // namespace mero
