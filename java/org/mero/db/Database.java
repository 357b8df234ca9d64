package org.mero.db;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.OptionalInt;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.stream.IntStream;

/**
 * An open database: three files beside a base path ({@code base.str}, {@code base.dat},
 * {@code base.idx}) and the library's in-memory search structures.
 *
 * <pre>{@code
 * Schema schema = Schema.builder().field("name", true).field("city", true).field("note", false).build();
 * try (Database db = Database.open(Path.of("/data/people"), "my key", true, schema)) {
 *   int ada = db.append("Ada", "London", "first programmer");
 *   db.get("Ada").ifPresent(r -> System.out.println(r.get("city")));
 *   int[] hits = db.find(Query.where("city").is("london").and("name").contains("ad"));
 * }
 * }</pre>
 *
 * <p>Records are addressed by position, the byte offset of the record in the data file.
 * {@link #update} may move a record; the old position then reads as absent. Positions stay valid
 * across closing and opening again.
 *
 * <p>A handle is safe to share between threads. Changes reach the operating system before each
 * method returns, but nothing forces them to the disk. The key enciphers values by a simple
 * obfuscation, not encryption, and a wrong key is not detected. One set of files must be open in
 * one handle at a time, in one process.
 */
public final class Database implements AutoCloseable {
  // Base paths open in this process: a second handle on the same files would
  // make both lose track of where appends land.
  private static final Set<Path> OPEN = ConcurrentHashMap.newKeySet();

  private final int id;
  private final Path base;
  private final Path dataFile;
  private final Schema schema;
  private volatile boolean closed;

  // Guards the live set and the end of the data file, which is where an
  // append lands: changes (and close) run under it so that both stay exact.
  // The library serialises calls on one database anyway.
  private final Object lock = new Object();
  private final LivePositions live;
  private long dataEnd;

  private Database(int id, Path base, Schema schema, LivePositions live, long dataEnd) {
    this.id = id;
    this.base = base;
    this.dataFile = file(base, ".dat");
    this.schema = schema;
    this.live = live;
    this.dataEnd = dataEnd;
  }

  /**
   * Opens a database, creating it with the given schema when it has none yet.
   *
   * @param base the base path; the files are {@code base.str}, {@code base.dat} and {@code base.idx}
   * @param key the key that enciphers the values; the empty key stores them as they are
   * @param keyIndex whether to keep an index from each record's first value to its position,
   *     which {@link #get(String)} and {@link #positionOf} need and which refuses duplicate keys
   * @param schema the fields; must equal the stored schema when the database exists
   * @return the open database
   * @throws DatabaseOpenException if the folder is missing, a file cannot be read, the stored schema
   *     differs, another handle of this process has the files open, or the library refuses (for
   *     example because a file is damaged)
   */
  public static Database open(Path base, String key, boolean keyIndex, Schema schema) {
    return openWith(base, key, keyIndex, Objects.requireNonNull(schema, "schema"));
  }

  /**
   * Opens an existing database with the schema stored in it.
   *
   * @param base the base path; the files are {@code base.str}, {@code base.dat} and {@code base.idx}
   * @param key the key that enciphers the values
   * @param keyIndex whether to keep the key index (see {@link #open(Path, String, boolean, Schema)})
   * @return the open database
   * @throws DatabaseOpenException as {@link #open(Path, String, boolean, Schema)} does, and with
   *     {@link DatabaseOpenException.Reason#SCHEMA_MISMATCH} when no schema is stored
   */
  public static Database open(Path base, String key, boolean keyIndex) {
    return openWith(base, key, keyIndex, null);
  }

  private static Database openWith(Path base, String key, boolean keyIndex, Schema given) {
    Objects.requireNonNull(key, "key");
    Path absolute = Objects.requireNonNull(base, "base").toAbsolutePath().normalize();
    if (!OPEN.add(absolute)) {
      throw new DatabaseOpenException(DatabaseOpenException.Reason.REFUSED, absolute + " is already open in this process");
    }
    try {
      return openOnce(absolute, key, keyIndex, given);
    } catch (RuntimeException | Error e) {
      OPEN.remove(absolute);
      throw e;
    }
  }

  private static Database openOnce(Path absolute, String key, boolean keyIndex, Schema given) {
    Path folder = absolute.getParent();
    if (folder == null || !Files.isDirectory(folder)) {
      throw new DatabaseOpenException(DatabaseOpenException.Reason.FOLDER_MISSING, "no folder " + folder);
    }
    for (String extension : new String[] {".str", ".dat", ".idx"}) {
      Path file = file(absolute, extension);
      if (Files.exists(file) && !(Files.isRegularFile(file) && Files.isReadable(file))) {
        throw notReadable(file, null);
      }
    }
    Schema stored;
    try {
      stored = StoredFiles.readSchema(file(absolute, ".str"));
    } catch (IOException e) {
      throw notReadable(file(absolute, ".str"), e);
    }
    if (stored == null && given == null) {
      throw new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
          "no schema stored in " + file(absolute, ".str") + " and none given");
    }
    if (stored != null && given != null && !stored.equals(given)) {
      throw new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
          "schema " + given + " given, " + stored + " stored in " + file(absolute, ".str"));
    }

    int id = Marshall.register(absolute.toString());
    if (id < 0) {
      throw refused(absolute, "register");
    }
    boolean defined = stored != null || Marshall.define(id, given.indexedFlags(), given.names());
    if (!defined || !Marshall.open(id, key, keyIndex)) {
      Marshall.unregister(id);
      throw refused(absolute, defined ? "open" : "define");
    }
    try {
      LivePositions live = StoredFiles.readIndex(file(absolute, ".idx"));
      long dataEnd = Files.size(file(absolute, ".dat"));
      return new Database(id, absolute, stored != null ? stored : given, live, dataEnd);
    } catch (IOException e) {
      Marshall.unregister(id);
      throw notReadable(file(absolute, ".idx"), e);
    }
  }

  private static Path file(Path base, String extension) {
    return base.resolveSibling(base.getFileName() + extension);
  }

  private static DatabaseOpenException notReadable(Path file, IOException cause) {
    return new DatabaseOpenException(DatabaseOpenException.Reason.FILE_NOT_READABLE,
        "cannot read " + file + (cause != null ? ": " + cause.getMessage() : ""), cause);
  }

  private static DatabaseOpenException refused(Path base, String step) {
    return new DatabaseOpenException(DatabaseOpenException.Reason.REFUSED,
        "the library refused to " + step + " " + base + " (damaged or unwritable files?)");
  }

  /**
   * The schema of this database.
   *
   * @return the schema
   */
  public Schema schema() {
    return schema;
  }

  /**
   * The base path the database was opened with, made absolute.
   *
   * @return the base path
   */
  public Path path() {
    return base;
  }

  /**
   * Appends a record.
   *
   * @param values one value per field, in schema order
   * @return the new record's position
   * @throws IllegalArgumentException if the number of values differs from the field count
   * @throws DuplicateKeyException if the key index is on and the first value is already a key
   * @throws RecordNotStoredException if the record could not be written
   * @throws IllegalStateException if the database is closed
   */
  public int append(String... values) {
    String[] copy = checkedCopy(values);
    long size = 4;
    for (String value : copy) {
      size += 4 + ModifiedUtf8.length(value);
    }
    synchronized (lock) {
      checkOpen();
      int status = Marshall.write(id, copy);
      if (status == 0) {
        // The library appends at the end of the data file, which only this
        // handle's changes move.
        int position = (int) dataEnd;
        dataEnd += size;
        live.add(position);
        return position;
      }
      checkOpen();
      if (status == 1) {
        throw wrongCount(copy);
      }
      if (status == 2) {
        throw new DuplicateKeyException(copy[0]);
      }
      resyncDataEnd();
      throw new RecordNotStoredException("could not append a record of " + size + " bytes to " + dataFile);
    }
  }

  /**
   * Reads the record at a position.
   *
   * @param position a position returned by {@link #append}, {@link #update}, {@link #find} or
   *     {@link #positionOf}
   * @return the record, or empty when no live record is at that position (deleted, moved away or
   *     never there)
   * @throws IllegalStateException if the database is closed
   */
  public Optional<Record> get(int position) {
    synchronized (lock) {
      checkOpen();
      if (!live.contains(position)) {
        return Optional.empty();
      }
    }
    // Read outside the lock: the record was live when looked up, and its
    // image stays at this position even if it is deleted or moved meanwhile.
    String[] values = Marshall.getRecord(id, position);
    if (values == null) {
      checkOpen();
      return Optional.empty();
    }
    return Optional.of(new Record(schema, values));
  }

  /**
   * Reads the record whose first value equals a key exactly (case included).
   *
   * @param key the first value to look for
   * @return the record, or empty when there is none; always empty without the key index
   * @throws IllegalStateException if the database is closed
   */
  public Optional<Record> get(String key) {
    checkOpen();
    String[] values = Marshall.getRecord(id, Objects.requireNonNull(key, "key"));
    if (values == null) {
      checkOpen();
      return Optional.empty();
    }
    return Optional.of(new Record(schema, values));
  }

  /**
   * The position of the record whose first value equals a key exactly.
   *
   * @param key the first value to look for
   * @return the position, or empty when there is none; always empty without the key index
   * @throws IllegalStateException if the database is closed
   */
  public OptionalInt positionOf(String key) {
    checkOpen();
    int position = Marshall.getPos(id, Objects.requireNonNull(key, "key"));
    if (position < 0) {
      checkOpen();
      return OptionalInt.empty();
    }
    return OptionalInt.of(position);
  }

  /**
   * Replaces all values of a record. A record whose new values take more room than the old ones
   * moves to the end of the data file.
   *
   * @param position the record's position
   * @param values one value per field, in schema order
   * @return the record's position after the update, or empty when no live record is at
   *     {@code position}
   * @throws IllegalArgumentException if the number of values differs from the field count
   * @throws RecordNotStoredException if the new values could not be written; the record is
   *     unchanged
   * @throws IllegalStateException if the database is closed
   */
  public OptionalInt update(int position, String... values) {
    String[] copy = checkedCopy(values);
    synchronized (lock) {
      checkOpen();
      if (!live.contains(position)) {
        return OptionalInt.empty();
      }
      if (!Marshall.updateRecord(id, position, copy)) {
        checkOpen();
        resyncDataEnd();
        throw new RecordNotStoredException("could not update the record at " + position + " in " + dataFile);
      }
      // A record that no longer fits is written at the end of the data file;
      // one rewritten in place leaves the file's length as it was.
      long end = dataFileSize();
      if (end <= dataEnd) {
        return OptionalInt.of(position);
      }
      int moved = (int) dataEnd;
      dataEnd = end;
      live.remove(position);
      live.add(moved);
      return OptionalInt.of(moved);
    }
  }

  /**
   * Deletes a record.
   *
   * @param position the record's position
   * @return true when the record was deleted; false when no live record is at {@code position}
   * @throws DatabaseException if the files could not be changed; the record stays
   * @throws IllegalStateException if the database is closed
   */
  public boolean delete(int position) {
    synchronized (lock) {
      checkOpen();
      if (!live.contains(position)) {
        return false;
      }
      if (!Marshall.deleteRecord(id, position)) {
        checkOpen();
        throw new DatabaseException("could not delete the record at " + position + " in " + dataFile);
      }
      live.remove(position);
      return true;
    }
  }

  /**
   * The number of live records.
   *
   * @return the record count
   * @throws IllegalStateException if the database is closed
   */
  public int size() {
    checkOpen();
    int count = Marshall.numRecs(id);
    if (count == 0) {
      checkOpen();
    }
    return count;
  }

  /**
   * The positions of the records that match every term of a query, in record order.
   *
   * @param query the search
   * @return the positions, possibly none
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field twice
   * @throws IllegalStateException if the database is closed
   */
  public int[] find(Query query) {
    Query.NativeTerms terms = query.resolve(schema);
    checkOpen();
    int[] positions = Marshall.find(id, terms.partial(), terms.terms());
    if (positions.length == 0) {
      checkOpen();
    }
    return positions;
  }

  /**
   * The positions of the matching records as a stream; see {@link #find}.
   *
   * @param query the search
   * @return the positions, in record order
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field twice
   * @throws IllegalStateException if the database is closed
   */
  public IntStream positions(Query query) {
    return IntStream.of(find(query));
  }

  /**
   * The matching records themselves; see {@link #find}. Records deleted by another thread
   * meanwhile are left out.
   *
   * @param query the search
   * @return the records, in record order
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field twice
   * @throws IllegalStateException if the database is closed
   */
  public List<Record> findRecords(Query query) {
    int[] positions = find(query);
    List<Record> records = new ArrayList<>(positions.length);
    for (int position : positions) {
      get(position).ifPresent(records::add);
    }
    return records;
  }

  /**
   * Closes the files and releases the library's memory for them. Calling it again does nothing;
   * any other method then throws {@link IllegalStateException}. Calls running on other threads
   * either complete or throw that exception.
   */
  @Override
  public void close() {
    synchronized (lock) {
      if (!closed) {
        closed = true;
        Marshall.close(id);
        Marshall.unregister(id);
        OPEN.remove(base);
      }
    }
  }

  /**
   * The base path and the schema.
   *
   * @return a readable description of this handle
   */
  @Override
  public String toString() {
    return "Database " + base + " " + schema + (closed ? " (closed)" : "");
  }

  private void checkOpen() {
    if (closed) {
      throw new IllegalStateException("database closed: " + base);
    }
  }

  private String[] checkedCopy(String[] values) {
    String[] copy = Objects.requireNonNull(values, "values").clone();
    if (copy.length != schema.size()) {
      throw wrongCount(copy);
    }
    for (String value : copy) {
      Objects.requireNonNull(value, "a value is null");
    }
    return copy;
  }

  private IllegalArgumentException wrongCount(String[] values) {
    return new IllegalArgumentException(values.length + " values for the " + schema.size() + " fields " + schema);
  }

  // After a failed write the library has put its own end back to the file's
  // length; follow it.
  private void resyncDataEnd() {
    try {
      dataEnd = dataFileSize();
    } catch (DatabaseException e) {
      // The next change finds out again.
    }
  }

  private long dataFileSize() {
    try {
      return Files.size(dataFile);
    } catch (IOException e) {
      throw new DatabaseException("cannot read the length of " + dataFile, e);
    }
  }
}
