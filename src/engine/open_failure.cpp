#include "engine/open_failure.h"

#include "platform/file.h"

namespace mero {

namespace {
// Each message is its text before the file's name and after it.
struct Message {
  OpenFailure failure;
  const char* before;
  const char* after;
};

constexpr Message kMessages[] = {
    {OpenFailure::none, "", " opened"},
    {OpenFailure::filesUnavailable, "cannot open or create ", " for reading and writing"},
    {OpenFailure::damagedSchema, "damaged schema block in ",
     ": a negative count or name length, or a block cut short while records need it"},
    {OpenFailure::damagedIndex, "damaged index ", ": its count or an entry is negative"},
    {OpenFailure::damagedRecord, "damaged data file ",
     ": a position that the index lists holds no well-formed record, and no power cut explains it"},
    {OpenFailure::repeatedPosition, "damaged index ", ": it lists one record twice"},
    {OpenFailure::tooLargeForMemory, "the indexed values of ", " do not fit in memory"},
    {OpenFailure::repairFailed, "could not complete a change that was cut short in ", ""},
    {OpenFailure::locked, "", " is open in another process or handle, or a tool is rewriting it"},
    {OpenFailure::lockUnsupported, "the file system of ",
     " cannot lock files, so the database cannot be held against a second writer"},
};
}  // namespace

std::string describe(const OpenRefusal& refusal) {
  for (const Message& m : kMessages) {
    if (m.failure != refusal.failure) continue;
    std::string text = m.before + refusal.file + m.after;
    if (refusal.failure == OpenFailure::damagedRecord && refusal.record >= 0)
      text = m.before + refusal.file + ": record " + std::to_string(refusal.record) + " at position " +
             std::to_string(refusal.position) + ": " + describe(refusal.damage) + ", and no power cut explains it";
    if (refusal.systemError != 0) text += ": " + File::describeError(refusal.systemError);
    return text;
  }
  return "cannot open " + refusal.file;
}

}  // namespace mero
