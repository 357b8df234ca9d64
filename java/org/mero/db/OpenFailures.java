package org.mero.db;

import java.nio.file.Path;

/** What the library's reason for refusing an open means, naming the file it concerns. */
final class OpenFailures {
  private OpenFailures() {}

  static DatabaseOpenException of(int code, Path base) {
    Path str = Database.file(base, ".str");
    Path dat = Database.file(base, ".dat");
    Path idx = Database.file(base, ".idx");
    DatabaseOpenException.Reason refused = DatabaseOpenException.Reason.REFUSED;
    switch (code) {
      case NativeDatabase.FILES_UNAVAILABLE:
        return new DatabaseOpenException(DatabaseOpenException.Reason.FILE_NOT_READABLE,
            "cannot open or create " + str + ", " + dat + " and " + idx + " for reading and writing");
      case NativeDatabase.DAMAGED_SCHEMA:
        return new DatabaseOpenException(refused, "damaged schema block in " + str
            + ": a negative count or name length, or a block cut short while records need it");
      case NativeDatabase.DAMAGED_INDEX:
        return new DatabaseOpenException(refused, "damaged index " + idx
            + ": its count or an entry is negative");
      case NativeDatabase.DAMAGED_RECORD:
        return new DatabaseOpenException(refused, "damaged data file " + dat
            + ": a position that " + idx + " lists holds no well-formed record, and no power cut explains it");
      case NativeDatabase.REPEATED_POSITION:
        return new DatabaseOpenException(refused, "damaged index " + idx + ": it lists one record twice");
      case NativeDatabase.TOO_LARGE_FOR_MEMORY:
        return new DatabaseOpenException(refused, "the indexed values of " + dat + " do not fit in memory");
      case NativeDatabase.REPAIR_FAILED:
        return new DatabaseOpenException(refused, "could not complete a change that was cut short in " + idx);
      case NativeDatabase.LOCKED:
        return new DatabaseOpenException(DatabaseOpenException.Reason.LOCKED,
            base + " is open in another process or handle, or a tool is rewriting it");
      case NativeDatabase.LOCK_UNSUPPORTED:
        return new DatabaseOpenException(refused, "the file system of " + str
            + " cannot lock files, so the database cannot be held against a second writer");
      case NativeDatabase.NO_SCHEMA:
        return new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
            "no schema stored in " + str + " and none given");
      case NativeDatabase.DEFINE_REFUSED:
        return new DatabaseOpenException(refused, "could not store the schema in " + str
            + " (not writable, or " + idx + " already lists records)");
      default:
        throw new OutOfMemoryError("opening " + base);
    }
  }
}
