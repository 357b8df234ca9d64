/**
 * An embedded record database of string fields, implemented natively.
 *
 * <p>Register a database under a base file name, define its fields once, open it with a key,
 * then append, read, search, update and delete records. Records are addressed by their position
 * (a byte offset in the data file), which {@link #write} appends at and {@link #find} and
 * {@link #getPos} return. Every failure is a return value; no method throws.
 *
 * <p>The field cipher keyed by {@link #open} is obfuscation, not encryption. Changes reach the
 * operating system before each method returns, but nothing forces them to the disk. One set of
 * files must be open in one engine at a time.
 */
public class DatabaseMarshall {
  static {
    DatabaseMarshallLoader.load();
  }

  public DatabaseMarshall() {}

  /** Registers a database under a base file name; returns its id (1, 2, ... per process). */
  public native int register(String name);

  /** Forgets a database id, closing it first if it is open. */
  public native boolean unregister(int id);

  /** Appends a schema block to name.str; only the first define of a database takes effect. */
  public native boolean define(int id, boolean[] indexed, String[] fieldNames);

  /** Opens (creating missing files) and rebuilds the in-memory search structures. */
  public native boolean open(int id, String key, boolean useKeyIndex);

  /** Closes the files and releases the engine; the id stays registered. */
  public native boolean close(int id);

  /** The number of live records. */
  public native int numRecs(int id);

  /** The record at a position, or null. */
  public native String[] getRecord(int id, int position);

  /** The record whose first field equals key (key index only), or null. */
  public native String[] getRecord(int id, String key);

  /** The position of the record whose first field equals key, or -1. */
  public native int getPos(int id, String key);

  /** Positions of the records matching every non-empty term (term i on field i). */
  public native int[] find(int id, boolean[] partial, String[] terms);

  /** 0 appended, 1 wrong number of values, 2 key already present, 3 could not be stored. */
  public native int write(int id, String[] values);

  /** Replaces a live record's values; it may move to a new position. */
  public native boolean updateRecord(int id, int pos, String[] values);

  /** Deletes the live record at a position. */
  public native boolean deleteRecord(int id, int pos);
}
