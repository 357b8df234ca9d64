package org.mero.db;

import java.lang.ref.Cleaner;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.Spliterator;
import java.util.Spliterators;
import java.util.function.Consumer;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;
import java.util.OptionalInt;
import java.util.concurrent.locks.Lock;
import java.util.concurrent.locks.ReentrantReadWriteLock;
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
 *   db.stream(Query.where("name").startsWith("a")).forEach(System.out::println);
 *   db.batch(b -> b.append("Grace", "Arlington", "compilers").append("Alan", "Wilmslow", "computability"));
 * }
 * }</pre>
 *
 * <p>Records are addressed by position, the byte offset of the record in the data file, which
 * the library returns from each change. {@link #update} may move a record; the old position then
 * reads as absent. Positions stay valid across closing and opening again. {@link #compact} gives
 * records new positions and returns where each went; the command-line tool's {@code mero compact}
 * does too, without telling: after it, look records up again by key or query ({@code mero rekey}
 * keeps positions).
 *
 * <p>A handle is safe to share between threads; each call runs whole under the library's lock of
 * the database, so it sees one consistent state. Changes reach the operating system before each
 * method returns, so they survive the process being killed; how far they survive a power cut is
 * the {@link SyncMode} given in {@link OpenOptions} (by default {@link SyncMode#CLOSE}: durable
 * once {@link #close} or {@link #sync} returns). The key enciphers values by a simple
 * obfuscation, not encryption, and a wrong key is not detected. While a handle is open, its files
 * are held: another open of them, by any path, from this process or another, fails with
 * {@link DatabaseOpenException.Reason#LOCKED}.
 *
 * <p>A null argument, or a null among the values, throws {@link IllegalArgumentException} naming
 * the argument.
 */
public final class Database implements AutoCloseable {
  // A handle that is never closed is closed when it becomes unreachable, with
  // a warning, so that its files are not held until the JVM exits.
  private static final Cleaner CLEANER = Cleaner.create();

  // Replaced only by compact, under the write side of the guard.
  private long handle;
  private final NativeHandle owner;
  private final Cleaner.Cleanable cleanable;
  private final Path base;
  private final Schema schema;
  private final boolean keyIndex;
  // Calls hold the read side while they use the handle; close takes the
  // write side, so the native engine is never freed under a running call.
  private final ReentrantReadWriteLock guard = new ReentrantReadWriteLock();
  private boolean closed;  // written under the write side
  // Compactions so far, and where the last one moved each record (old
  // position to new), so that a stream begun before it resumes where it was.
  private int compactions;
  private Map<Integer, Integer> lastMoves = Map.of();

  private Database(long handle, Path base, Schema schema, boolean keyIndex) {
    this.handle = handle;
    this.owner = new NativeHandle(handle, base);
    this.cleanable = CLEANER.register(this, owner);
    this.base = base;
    this.schema = schema;
    this.keyIndex = keyIndex;
  }

  /**
   * Opens a database, creating it with the given schema when it has none yet.
   *
   * @param base the base path; the files are {@code base.str}, {@code base.dat} and {@code base.idx}
   * @param key the key that enciphers the values; the empty key stores them as they are
   * @param keyIndex whether to keep an index from each record's first value to its position,
   *     which {@link #get(String)} and {@link #positionOf} need and through which {@link #append}
   *     and {@link #update} refuse a key that another live record has; without it, first values
   *     may repeat
   * @param schema the fields; must equal the stored schema when the database exists
   * @return the open database
   * @throws DatabaseOpenException if the folder is missing, a file cannot be read, the stored schema
   *     differs, the files are open elsewhere, or the library refuses them (the message names the
   *     file and what is wrong with it)
   * @throws IllegalArgumentException if an argument is null
   */
  public static Database open(Path base, String key, boolean keyIndex, Schema schema) {
    return openWith(base, key, keyIndex, Arguments.present(schema, "schema"), OpenOptions.defaults());
  }

  /**
   * Opens a database as {@link #open(Path, String, boolean, Schema)} does, with options.
   *
   * @param base the base path; the files are {@code base.str}, {@code base.dat} and {@code base.idx}
   * @param key the key that enciphers the values; the empty key stores them as they are
   * @param keyIndex whether to keep the key index (see {@link #open(Path, String, boolean, Schema)})
   * @param schema the fields; must equal the stored schema when the database exists
   * @param options the sync mode
   * @return the open database
   * @throws DatabaseOpenException as {@link #open(Path, String, boolean, Schema)} does
   * @throws IllegalArgumentException if an argument is null
   */
  public static Database open(Path base, String key, boolean keyIndex, Schema schema, OpenOptions options) {
    return openWith(base, key, keyIndex, Arguments.present(schema, "schema"), Arguments.present(options, "options"));
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
   * @throws IllegalArgumentException if an argument is null
   */
  public static Database open(Path base, String key, boolean keyIndex) {
    return openWith(base, key, keyIndex, null, OpenOptions.defaults());
  }

  /**
   * Opens an existing database with the schema stored in it, with options.
   *
   * @param base the base path; the files are {@code base.str}, {@code base.dat} and {@code base.idx}
   * @param key the key that enciphers the values
   * @param keyIndex whether to keep the key index (see {@link #open(Path, String, boolean, Schema)})
   * @param options the sync mode
   * @return the open database
   * @throws DatabaseOpenException as {@link #open(Path, String, boolean)} does
   * @throws IllegalArgumentException if an argument is null
   */
  public static Database open(Path base, String key, boolean keyIndex, OpenOptions options) {
    return openWith(base, key, keyIndex, null, Arguments.present(options, "options"));
  }

  private static Database openWith(Path base, String key, boolean keyIndex, Schema given, OpenOptions options) {
    Arguments.present(key, "key");
    // The library holds the files exclusively while they are open: a second
    // open, by any path to them, in this process or another, is refused.
    Path absolute = Arguments.present(base, "base").toAbsolutePath().normalize();
    Path folder = absolute.getParent();
    if (folder == null || !Files.isDirectory(folder)) {
      throw new DatabaseOpenException(DatabaseOpenException.Reason.FOLDER_MISSING, "no folder " + folder);
    }
    for (String extension : new String[] {".str", ".dat", ".idx"}) {
      Path file = file(absolute, extension);
      if (Files.exists(file) && !(Files.isRegularFile(file) && Files.isReadable(file))) {
        throw new DatabaseOpenException(DatabaseOpenException.Reason.FILE_NOT_READABLE, "cannot read " + file);
      }
    }
    int[] failure = new int[1];
    String[] message = new String[1];
    long handle = NativeDatabase.open(absolute.toString(), key, keyIndex, options.syncMode().ordinal(),
        given != null ? given.indexedFlags() : null, given != null ? given.names() : null, failure, message);
    if (handle == 0) {
      throw OpenFailures.of(failure[0], absolute, message[0]);
    }
    try {
      Schema stored = storedSchema(handle, absolute);
      if (given != null && !stored.equals(given)) {
        throw new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
            "schema " + given + " given, " + stored + " stored in " + file(absolute, ".str"));
      }
      return new Database(handle, absolute, stored, keyIndex);
    } catch (RuntimeException | Error e) {
      NativeDatabase.close(handle);
      throw e;
    }
  }

  private static Schema storedSchema(long handle, Path base) {
    String[] names = NativeDatabase.fieldNames(handle);
    boolean[] indexed = NativeDatabase.indexedFields(handle);
    if (names == null || indexed == null) {
      throw new OutOfMemoryError("reading the schema of " + base);
    }
    Schema.Builder schema = Schema.builder();
    for (int i = 0; i < names.length; i++) {
      schema.field(names[i], indexed[i]);
    }
    try {
      return schema.build();
    } catch (IllegalArgumentException repeatedName) {
      // The library accepts repeated names; fields found by name cannot be.
      throw new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
          repeatedName.getMessage() + " in " + file(base, ".str"), repeatedName);
    }
  }

  // The extensions (".str", ".dat", ".idx") mirror src/engine/file_names.h, which names the files
  // the native library opens; change both together.
  static Path file(Path base, String extension) {
    return base.resolveSibling(base.getFileName() + extension);
  }

  /**
   * The version of this library, as the jar's manifest and the Maven artifact carry it.
   *
   * @return the version, for example {@code 1.0.0}
   */
  public static String version() {
    return Version.VERSION;
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
   * @throws IllegalArgumentException if the number of values differs from the field count, or a
   *     value is null
   * @throws DuplicateKeyException if the key index is on and the first value is already a key
   * @throws RecordNotStoredException if the record could not be written
   * @throws IllegalStateException if the database is closed
   */
  public int append(String... values) {
    String[] copy = checkedCopy(values);
    Lock held = enter();
    try {
      int position = NativeDatabase.append(handle, copy);
      if (position < 0) {
        throw changeFailure(position, copy, "could not append a record to " + file(base, ".dat"));
      }
      return position;
    } finally {
      held.unlock();
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
    Lock held = enter();
    try {
      return record(NativeDatabase.read(handle, position));
    } finally {
      held.unlock();
    }
  }

  /**
   * Reads the record whose first value equals a key exactly (case included).
   *
   * @param key the first value to look for
   * @return the record, or empty when there is none
   * @throws IllegalStateException if the database is closed, or was opened without the key index
   * @throws IllegalArgumentException if {@code key} is null
   */
  public Optional<Record> get(String key) {
    Arguments.present(key, "key");
    Lock held = enterKeyed("get(key)");
    try {
      return record(NativeDatabase.readByKey(handle, key));
    } finally {
      held.unlock();
    }
  }

  /**
   * The position of the record whose first value equals a key exactly.
   *
   * @param key the first value to look for
   * @return the position, or empty when there is none
   * @throws IllegalStateException if the database is closed, or was opened without the key index
   * @throws IllegalArgumentException if {@code key} is null
   */
  public OptionalInt positionOf(String key) {
    Arguments.present(key, "key");
    Lock held = enterKeyed("positionOf(key)");
    try {
      int position = NativeDatabase.positionOf(handle, key);
      return position < 0 ? OptionalInt.empty() : OptionalInt.of(position);
    } finally {
      held.unlock();
    }
  }

  /**
   * Replaces all values of a record. A record whose new values take more room than the old ones
   * moves to the end of the data file.
   *
   * @param position the record's position
   * @param values one value per field, in schema order
   * @return the record's position after the update, or empty when no live record is at
   *     {@code position}
   * @throws IllegalArgumentException if the number of values differs from the field count, or a
   *     value is null
   * @throws DuplicateKeyException if the key index is on and the new first value is the key of
   *     another live record; the record is unchanged
   * @throws RecordNotStoredException if the new values could not be written; the record is
   *     unchanged
   * @throws IllegalStateException if the database is closed
   */
  public OptionalInt update(int position, String... values) {
    String[] copy = checkedCopy(values);
    Lock held = enter();
    try {
      int moved = NativeDatabase.update(handle, position, copy);
      if (moved == NativeDatabase.NO_RECORD) {
        return OptionalInt.empty();
      }
      if (moved < 0) {
        throw changeFailure(moved, copy, "could not update the record at " + position + " in " + file(base, ".dat"));
      }
      return OptionalInt.of(moved);
    } finally {
      held.unlock();
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
    Lock held = enter();
    try {
      int result = NativeDatabase.delete(handle, position);
      if (result < 0) {
        throw new DatabaseException("could not delete the record at " + position + " in " + file(base, ".idx"));
      }
      return result == 1;
    } finally {
      held.unlock();
    }
  }

  /**
   * The number of live records.
   *
   * @return the record count
   * @throws IllegalStateException if the database is closed
   */
  public int size() {
    Lock held = enter();
    try {
      return NativeDatabase.count(handle);
    } finally {
      held.unlock();
    }
  }

  /**
   * The positions of the records that match a query, in record order.
   *
   * @param query the search
   * @return the positions, possibly none
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field
   *     twice, or is null
   * @throws IllegalStateException if the database is closed
   */
  public int[] find(Query query) {
    Query.NativeTerms terms = Arguments.present(query, "query").resolve(schema);
    if (!terms.exact()) {
      IntStream.Builder positions = IntStream.builder();
      new Scan(this, query).forEach((position, values) -> positions.add(position));
      return positions.build().toArray();
    }
    int[] positions;
    Lock held = enter();
    try {
      positions = answered(NativeDatabase.find(handle, terms.partial()[0], terms.terms()[0]), query);
    } finally {
      held.unlock();
    }
    return positions.length > query.limit() ? Arrays.copyOf(positions, (int) query.limit()) : positions;
  }

  /**
   * The number of records that match a query (at most its limit).
   *
   * @param query the search
   * @return the count
   * @throws IllegalArgumentException as {@link #find} does
   * @throws IllegalStateException if the database is closed
   */
  public int count(Query query) {
    return find(query).length;
  }

  /**
   * The positions of the matching records as a stream; see {@link #find}.
   *
   * @param query the search
   * @return the positions, in record order
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field
   *     twice, or is null
   * @throws IllegalStateException if the database is closed
   */
  public IntStream positions(Query query) {
    return IntStream.of(find(query));
  }

  /**
   * The matching records themselves. A query of one set of terms (no {@link Query#or}) without a
   * {@code startsWith} term is found and read at one moment: changes made by other threads
   * meanwhile are wholly before the call or wholly after it. Other queries are read as
   * {@link #stream} reads them.
   *
   * @param query the search
   * @return the records, in record order
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field
   *     twice, or is null
   * @throws IllegalStateException if the database is closed
   */
  public List<Record> findRecords(Query query) {
    Query.NativeTerms terms = Arguments.present(query, "query").resolve(schema);
    if (!terms.exact()) {
      return stream(query).toList();
    }
    String[][] found;
    Lock held = enter();
    try {
      found = answered(NativeDatabase.findRecords(handle, terms.partial()[0], terms.terms()[0]), query);
    } finally {
      held.unlock();
    }
    List<Record> records = new ArrayList<>(found.length);
    for (int i = 0; i < found.length && i < query.limit(); i++) {
      records.add(new Record(schema, found[i]));
    }
    return records;
  }

  /**
   * Every record, in record order, as a lazy stream; see {@link #stream(Query)}.
   *
   * @return the records
   * @throws IllegalStateException if the database is closed
   */
  public Stream<Record> records() {
    return stream(Query.all());
  }

  /**
   * The matching records in record order, as a lazy stream that reads them in chunks of a few
   * hundred to a few thousand, each chunk at one moment. While other threads change the database
   * the stream still visits every record that stays live: a record that an update moves is not
   * skipped (it may be seen twice, before and after the update, when the update falls between
   * two chunks), records deleted before the stream reaches them are not seen, and records
   * appended meanwhile are. The one exception: when every record of a chunk is deleted or moved
   * before the next chunk is read and records before them are deleted too, records may be
   * skipped. A stream used after {@link #close} throws {@link IllegalStateException}.
   *
   * @param query the search
   * @return the records
   * @throws IllegalArgumentException if the query names a field the schema lacks, or a field
   *     twice, or is null
   * @throws IllegalStateException if the database is closed
   */
  public Stream<Record> stream(Query query) {
    Scan scan = new Scan(this, Arguments.present(query, "query"));
    checkOpen();
    Spliterator<Record> records = new Spliterators.AbstractSpliterator<>(Long.MAX_VALUE,
        Spliterator.ORDERED | Spliterator.NONNULL) {
      private final ArrayDeque<Record> chunk = new ArrayDeque<>();

      @Override
      public boolean tryAdvance(Consumer<? super Record> action) {
        while (chunk.isEmpty()) {
          if (!scan.next(Scan.records(schema, chunk::add))) {
            return false;
          }
        }
        action.accept(chunk.poll());
        return true;
      }
    };
    return StreamSupport.stream(records, false);
  }

  // epoch[0]: the compactions the anchors are from; they are carried across
  // the last compaction and dropped across more (the fallback record number
  // then stands, since a compaction keeps record numbers).
  String[][] scanChunk(boolean[][] partial, String[][] terms, int[] anchors, int[] epoch, int fallback, int max,
      int[] positions, int[] next) {
    Lock held = enter();
    try {
      int[] current = anchors;
      if (epoch[0] != compactions) {
        current = epoch[0] == compactions - 1
            ? Arrays.stream(anchors).filter(lastMoves::containsKey).map(lastMoves::get).toArray()
            : new int[0];
        epoch[0] = compactions;
      }
      String[][] records = NativeDatabase.scan(handle, partial, terms, current, fallback, max, positions, next);
      if (records == null) {
        throw new OutOfMemoryError("reading records of " + base);
      }
      return records;
    } finally {
      held.unlock();
    }
  }

  /**
   * Makes several changes together: the body adds them to a {@link Batch}, and when it returns
   * they run in order under one hold of the library's lock, so other threads see none of them or
   * all. Consecutive appends are written as one change:
   *
   * <pre>{@code
   * int[] positions = db.batch(b -> {
   *   for (String[] person : people) {
   *     b.append(person);
   *   }
   * });
   * }</pre>
   *
   * <p>What is atomic, also if the process is killed or the system fails while it runs:
   * <ul>
   *   <li>a run of consecutive appends: all of its records are stored, or none (the count of
   *       records, written last in one piece, commits them). A refused record (a duplicate key,
   *       also one repeated within the run) refuses the whole run; nothing of it is written;
   *   <li>each update and each delete, by itself, as when called alone.
   * </ul>
   * A batch that mixes appends with updates or deletes is therefore atomic only towards other
   * threads: after a crash, a prefix of its steps may be there (a step being a run of appends, an
   * update or a delete). A batch stops at the first refused step; the steps before it stay made.
   *
   * @param body adds the changes; it runs before anything is written, and an exception it throws
   *     leaves the database unchanged
   * @return per change, in order: the record's position afterwards (for a delete, the position it
   *     had), or -1 where an update or delete found no live record at its position
   * @throws BatchException if a step was refused; the changes before it were made
   * @throws IllegalArgumentException if {@code body} is null, or a change it adds has the wrong
   *     number of values or a null value
   * @throws IllegalStateException if the database is closed
   */
  public int[] batch(Consumer<Batch> body) {
    Batch batch = new Batch(schema);
    Arguments.present(body, "body").accept(batch);
    if (batch.size() == 0) {
      checkOpen();
      return new int[0];
    }
    int[] failure = new int[3];
    int[] results;
    Lock held = enter();
    try {
      results = NativeDatabase.batch(handle, batch.kinds(), batch.positions(), batch.bytes(), batch.lengths(), failure);
    } finally {
      held.unlock();
    }
    if (results == null) {
      throw new OutOfMemoryError("running a batch of " + batch.size() + " changes on " + base);
    }
    if (failure[0] >= 0) {
      String[] values = {batch.keyOf(failure[0])};
      RuntimeException refusal = changeFailure(failure[1], values,
          "could not make change " + failure[0] + " of the batch in " + base);
      if (refusal instanceof DatabaseException refused) {
        throw new BatchException(failure[2], batch.size(), refused);
      }
      throw refusal;
    }
    return results;
  }

  /**
   * The sync mode the database was opened in (see {@link OpenOptions}).
   *
   * @return the sync mode
   * @throws IllegalStateException if the database is closed
   */
  public SyncMode syncMode() {
    Lock held = enter();
    try {
      return SyncMode.values()[NativeDatabase.syncMode(handle)];
    } finally {
      held.unlock();
    }
  }

  /**
   * Makes every change made so far durable: when this returns, the three files (and their
   * folder entries) are on the disk, so a power cut or an operating-system crash keeps them, in
   * any {@link SyncMode}. In {@link SyncMode#OFF} and {@link SyncMode#CLOSE} this is how an
   * application marks a point it must not lose without closing.
   *
   * @throws DatabaseException if the operating system could not make a file durable
   * @throws IllegalStateException if the database is closed
   */
  public void sync() {
    Lock held = enter();
    try {
      if (!NativeDatabase.sync(handle)) {
        throw new DatabaseException("could not make the files of " + base + " durable");
      }
    } finally {
      held.unlock();
    }
  }

  /**
   * How much room the database takes. This reads the length of every live record from the data
   * file, so it takes about as long as reading the data file once.
   *
   * @return the record count, the live and dead bytes of the data file and the file sizes, at one
   *     moment
   * @throws DatabaseException if the files could not be read
   * @throws IllegalStateException if the database is closed
   */
  public Stats stats() {
    long[] out = new long[5];
    Lock held = enter();
    try {
      if (!NativeDatabase.stats(handle, out)) {
        throw new DatabaseException("could not read the records of " + file(base, ".dat"));
      }
    } finally {
      held.unlock();
    }
    return new Stats((int) out[0], out[1], out[2] - out[1], out[2], out[3], out[4]);
  }

  /**
   * What this open took back after a power cut or an operating-system crash (see
   * {@link Recovery}). Empty ({@link Recovery#isEmpty()}) after a clean close, and after a
   * crash that lost nothing.
   *
   * @return what open dropped, and why
   * @throws IllegalStateException if the database is closed
   */
  public Recovery recovery() {
    String[] summary = new String[1];
    int[] packed;
    Lock held = enter();
    try {
      packed = NativeDatabase.recovery(handle, summary);
    } finally {
      held.unlock();
    }
    if (packed == null) {
      throw new OutOfMemoryError("reading what the open of " + base + " recovered");
    }
    List<Recovery.Dropped> dropped = new ArrayList<>();
    for (int i = 4; i + 2 < packed.length; i += 3) {
      dropped.add(new Recovery.Dropped(packed[i], packed[i + 1], Recovery.Reason.values()[packed[i + 2]]));
    }
    return new Recovery(packed[0], packed[1], packed[2], packed[3] != 0, dropped, summary[0]);
  }

  /**
   * Copies the database, as it stands, into a new one at another base path while the application
   * goes on using this handle. The copy is taken under the library's lock of the database, so it
   * holds every change made before the call and none made after it; calls on other threads wait
   * while the files are copied. Every byte is copied, so positions read the same records in the
   * copy, which opens with the same key. The copy is made whole or not at all: its files are
   * written and synced under temporary names, then committed with a marker and renamed into
   * place, so a crash leaves either no database at {@code base} or the whole copy (the next open
   * of it finishes what the crash cut short). The sync mode does not matter: the copy is durable
   * when this returns.
   *
   * @param base the new database's base path; its files are {@code base.str}, {@code base.dat}
   *     and {@code base.idx}
   * @throws IllegalArgumentException if {@code base} is null, if any of its files exists (an
   *     existing database is never overwritten), or if it names this database itself
   * @throws DatabaseException if the copy could not be made, or another program is making a
   *     database at {@code base}; nothing is left there then
   * @throws IllegalStateException if the database is closed
   */
  public void backupTo(Path base) {
    Path target = Arguments.present(base, "base").toAbsolutePath().normalize();
    String[] error = new String[1];
    int outcome;
    Lock held = enter();
    try {
      outcome = NativeDatabase.backup(handle, target.toString(), error);
    } finally {
      held.unlock();
    }
    switch (outcome) {
      case 0:
        return;
      case 1:
      case 2:
        throw new IllegalArgumentException("cannot back up " + this.base + " to " + target + ": " + error[0]);
      default:
        throw new DatabaseException("could not back up " + this.base + " to " + target + ": " + error[0]);
    }
  }

  /**
   * Gives back the room that deleted records and the old copies of moved records take: the data
   * and index files are rewritten with only the live records, back to back in record order.
   * Calls running on other threads complete first, and calls on other threads wait until it is
   * done. The rewrite is safe against a crash: new files are written and synced beside the old
   * ones, then committed with a marker and renamed into place, and the next open finishes or
   * undoes what a crash left, so the database is always either the old files or the new ones,
   * whole. The files stay held throughout: no other open gets in.
   *
   * <p><b>Positions change</b> for every record after the first dead byte: the map says where
   * each live record went. Record order, record count and keys stay; {@link #stream} and
   * {@link #records} streams running across it carry on where they were. The command-line tool's
   * {@code mero compact} does the same to a closed database, without telling the new positions:
   * after it, look records up again by key or query.
   *
   * @return each live record's position before (the key, in record order) and after
   * @throws DatabaseException if the rewrite failed: the database is as it was, and this handle
   *     stays open; or if the rewritten files could not be opened again: then this handle is
   *     closed, and the exception's cause says why
   * @throws IllegalStateException if the database is closed
   */
  public Map<Integer, Integer> compact() {
    Lock held = guard.writeLock();
    held.lock();
    try {
      if (closed) {
        throw new IllegalStateException("database closed: " + base);
      }
      int[][] positions = new int[2][];
      String[] error = new String[1];
      int[] failure = new int[1];
      long after = NativeDatabase.compact(handle, positions, error, failure);
      handle = after;
      owner.handle = after;
      if (after == 0) {
        closed = true;
        owner.closedByOwner = true;
        cleanable.clean();
        throw new DatabaseException("compacted " + base + ", but could not open it again; the handle is closed",
            OpenFailures.of(failure[0], base, null));
      }
      if (positions[0] == null) {
        throw new DatabaseException("could not compact " + base + ": " + error[0]);
      }
      Map<Integer, Integer> moves = new LinkedHashMap<>();
      for (int r = 0; r < positions[0].length; r++) {
        moves.put(positions[0][r], positions[1][r]);
      }
      lastMoves = moves;
      compactions++;
      return java.util.Collections.unmodifiableMap(moves);
    } finally {
      held.unlock();
    }
  }

  /**
   * Closes the files and releases the library's memory for them. A handle that becomes
   * unreachable without being closed is closed by the garbage collector's cleaner, with a
   * warning; until then it holds its files. Calling it again does nothing;
   * any other method then throws {@link IllegalStateException}. Calls running on other threads
   * complete first; calls that start later throw that exception.
   */
  @Override
  public void close() {
    Lock held = guard.writeLock();
    held.lock();
    try {
      if (!closed) {
        closed = true;
        owner.closedByOwner = true;
        cleanable.clean();
      }
    } finally {
      held.unlock();
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

  /** Closes a handle once: for close(), or for the cleaner when nobody did. */
  private static final class NativeHandle implements Runnable {
    private volatile long handle;  // 0 once the engine is gone
    private final Path base;
    private volatile boolean closedByOwner;

    NativeHandle(long handle, Path base) {
      this.handle = handle;
      this.base = base;
    }

    @Override
    public void run() {
      if (!closedByOwner) {
        System.getLogger(Database.class.getName()).log(System.Logger.Level.WARNING,
            "closing " + base + ", which was never closed: close each Database (try-with-resources)");
      }
      if (handle != 0) {
        NativeDatabase.close(handle);
      }
    }
  }

  // The read side of the guard, held until the caller unlocks it; throws
  // when the handle is closed.
  private Lock enter() {
    Lock held = guard.readLock();
    held.lock();
    if (closed) {
      held.unlock();
      throw new IllegalStateException("database closed: " + base);
    }
    return held;
  }

  private void checkOpen() {
    enter().unlock();
  }

  private Lock enterKeyed(String call) {
    if (!keyIndex) {
      throw new IllegalStateException(call + " needs the key index, and " + base + " was opened without it");
    }
    return enter();
  }

  private Optional<Record> record(String[] values) {
    return values == null ? Optional.empty() : Optional.of(new Record(schema, values));
  }

  // Only memory running out in the library leaves an answer null.
  private <T> T answered(T answer, Query query) {
    if (answer == null) {
      throw new OutOfMemoryError("answering " + query + " on " + base);
    }
    return answer;
  }

  private String[] checkedCopy(String[] values) {
    return checkedCopy(schema, values);
  }

  static String[] checkedCopy(Schema schema, String[] values) {
    String[] copy = Arguments.present(values, "values").clone();
    if (copy.length != schema.size()) {
      throw wrongCount(schema, copy);
    }
    for (int i = 0; i < copy.length; i++) {
      if (copy[i] == null) {
        throw new IllegalArgumentException("values[" + i + "] (field " + schema.fields().get(i).name() + ") is null");
      }
    }
    return copy;
  }

  private RuntimeException changeFailure(int code, String[] values, String notStored) {
    switch (code) {
      case NativeDatabase.WRONG_FIELD_COUNT:
        return wrongCount(values);
      case NativeDatabase.DUPLICATE_KEY:
        return new DuplicateKeyException(values[0]);
      default:
        return new RecordNotStoredException(notStored);
    }
  }

  private IllegalArgumentException wrongCount(String[] values) {
    return wrongCount(schema, values);
  }

  private static IllegalArgumentException wrongCount(Schema schema, String[] values) {
    return new IllegalArgumentException(values.length + " values for the " + schema.size() + " fields " + schema);
  }
}
