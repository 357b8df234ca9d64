package org.mero.db;

import java.nio.file.Path;

/**
 * The kind of the library's refusal of an open. Its words for the library's own reasons come from
 * the library (one table of messages, shared with the command-line tool), naming the file and the
 * system's reason; the reasons of this binding are worded here.
 */
final class OpenFailures {
  private OpenFailures() {}

  static DatabaseOpenException of(int code, Path base, String message) {
    Path str = Database.file(base, ".str");
    Path idx = Database.file(base, ".idx");
    String told = message != null ? message : "the library refused to open " + base;
    switch (code) {
      case NativeDatabase.FILES_UNAVAILABLE:
        return new DatabaseOpenException(DatabaseOpenException.Reason.FILE_NOT_READABLE, told);
      case NativeDatabase.LOCKED:
        return new DatabaseOpenException(DatabaseOpenException.Reason.LOCKED, told);
      case NativeDatabase.DAMAGED_SCHEMA:
      case NativeDatabase.DAMAGED_INDEX:
      case NativeDatabase.DAMAGED_RECORD:
      case NativeDatabase.REPEATED_POSITION:
      case NativeDatabase.TOO_LARGE_FOR_MEMORY:
      case NativeDatabase.REPAIR_FAILED:
      case NativeDatabase.LOCK_UNSUPPORTED:
        return new DatabaseOpenException(DatabaseOpenException.Reason.REFUSED, told);
      case NativeDatabase.NO_SCHEMA:
        return new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
            "no schema stored in " + str + " and none given");
      case NativeDatabase.DEFINE_REFUSED:
        return new DatabaseOpenException(DatabaseOpenException.Reason.REFUSED, "could not store the schema in " + str
            + " (not writable, or " + idx + " already lists records)");
      default:
        throw new OutOfMemoryError("opening " + base);
    }
  }
}
