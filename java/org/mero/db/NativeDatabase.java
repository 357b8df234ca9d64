package org.mero.db;

import org.mero.db.internal.NativeLibrary;

/**
 * The native methods of the API's own library, {@code mero_java}, over the same engine as
 * {@code DatabaseMarshall}'s. A handle is an open engine: {@link Database} owns it, never calls
 * {@link #close} while another call on it runs, and no call after it.
 *
 * <p>Every method runs under the engine's lock, so each answer is one consistent state: a change
 * returns the position the engine gave the record, and {@link #findRecords} finds and reads in
 * one hold of the lock. None throws; failures are the codes below.
 */
final class NativeDatabase {
  /** The values do not match the field count. */
  static final int WRONG_FIELD_COUNT = -1;
  /** The first value is the key of another live record. */
  static final int DUPLICATE_KEY = -2;
  /** A write failed, or the data file would grow past its limit; nothing changed. */
  static final int NOT_STORED = -3;
  /** No live record stands at the position. */
  static final int NO_RECORD = -4;

  /** Why {@link #open} failed: its {@code failure[0]}. */
  static final int FILES_UNAVAILABLE = 1;
  static final int DAMAGED_SCHEMA = 2;
  static final int DAMAGED_INDEX = 3;
  static final int DAMAGED_RECORD = 4;
  static final int REPEATED_POSITION = 5;
  static final int TOO_LARGE_FOR_MEMORY = 6;
  static final int REPAIR_FAILED = 7;
  static final int LOCKED = 8;
  static final int LOCK_UNSUPPORTED = 9;
  static final int NO_SCHEMA = 20;
  static final int DEFINE_REFUSED = 21;

  static final String LIBRARY = "mero_java";
  static final String LIBRARY_PATH_PROPERTY = "mero.api.library.path";

  static {
    new NativeLibrary(LIBRARY, LIBRARY_PATH_PROPERTY).load();
  }

  private NativeDatabase() {}

  /**
   * Opens the files of base in a sync mode (SyncMode's ordinal), first storing the schema
   * (indexed, names) when none is stored yet; null arrays give none. Returns the handle, or 0 with
   * the reason in failure[0] and, for the library's own reasons, its words for it in message[0]
   * (naming the file and the system's reason).
   */
  static native long open(String base, String key, boolean keyIndex, int syncMode, boolean[] indexed,
      String[] names, int[] failure, String[] message);

  /** The engine's sync mode, as SyncMode's ordinal. */
  static native int syncMode(long db);

  /** Makes the three files durable now; false when a sync failed. */
  static native boolean sync(long db);

  /**
   * Fills out with the record count, live bytes and the data, index and schema file sizes; false
   * when a read failed.
   */
  static native boolean stats(long db, long[] out);

  /**
   * What open took back: stored count, missing entries, kept count, 1 when the schema block was
   * incomplete, then per dropped entry its record number, position and reason (Recovery.Reason's
   * ordinal). summary[0] receives the one-line summary. Null only when memory ran out.
   */
  static native int[] recovery(long db, String[] summary);

  /**
   * Rewrites the data and index files with only the live records. Returns the handle to use from
   * now on, which may differ from db (db is then gone), or 0 when the engine could not be opened
   * again over the rewritten files (db is gone too; the reason in failure[0]). When the rewrite
   * committed, positions[0] and positions[1] receive each record's position before and after, by
   * record number; otherwise error[0] says why not.
   */
  static native long compact(long db, int[][] positions, String[] error, int[] failure);

  /**
   * Copies the files, under the engine's lock, into a new database at target. 0 when copied;
   * else 1 target's files exist, 2 they are db's own, 3 another maker holds target, 4 failed, with
   * the reason in error[0].
   */
  static native int backup(long db, String target, String[] error);

  static native void close(long db);

  static native String[] fieldNames(long db);

  static native boolean[] indexedFields(long db);

  /** The new record's position, or a failure code. */
  static native int append(long db, String[] values);

  /** The live record at position, or null. */
  static native String[] read(long db, int position);

  static native String[] readByKey(long db, String key);

  static native int positionOf(long db, String key);

  /** The record's position after the update, or a failure code. */
  static native int update(long db, int position, String[] values);

  /** 1 when deleted, 0 when no live record was there, NOT_STORED when the files refused. */
  static native int delete(long db, int position);

  static native int count(long db);

  /**
   * Runs the operations in order (kinds: 0 append, 1 update, 2 delete; positions for updates and
   * deletes; the values' modified UTF-8 bytes one after another and their lengths, one per field
   * for each append and update), consecutive appends as one
   * all-or-none batch append. Returns per operation the record's position afterwards, or -1 where
   * an update or delete found no live record; stops at the first failure, with its operation in
   * failure[0] (else -1), its code in failure[1] and the number of operations made in failure[2].
   * Null only when memory ran out.
   */
  static native int[] batch(long db, int[] kinds, int[] positions, byte[] bytes, int[] lengths, int[] failure);

  /** Positions in record order; null only when memory ran out. */
  static native int[] find(long db, boolean[] partial, String[] terms);

  /**
   * One chunk of a scan: up to max records matching any branch, in record order, resuming after
   * the latest anchor (a position read in the previous chunk) still live there, else at record
   * number fallback. Their positions go to positionsOut, the record number after the last to
   * next[0]. Null when memory ran out.
   */
  static native String[][] scan(long db, boolean[][] partial, String[][] terms, int[] anchors, int fallback,
      int max, int[] positionsOut, int[] next);

  /** The matching records in record order, found and read at one moment; null as find. */
  static native String[][] findRecords(long db, boolean[] partial, String[] terms);
}
