import java.util.function.Consumer;

/**
 * One database engine as the benchmark drives it. A handle names one record the way the engine
 * does (this library: the position; SQL engines: the row id). Every method fails loudly by
 * throwing when the engine reports a failure, so a run never measures refused work.
 */
interface BenchEngine {
  /** "mero", "sqlite" or "h2". */
  String name();

  /** The engine's version, as it reports it. */
  String version() throws Exception;

  /** Opens the database, creating it with its fields and indexes when it does not exist. */
  void open() throws Exception;

  void close() throws Exception;

  /** Appends one record, committed before the call returns. */
  void append(String[] values) throws Exception;

  /** The whole record whose key (field 0) is key, or null. */
  String[] readByKey(String key) throws Exception;

  /** Handles, in record order, of the records whose field equals term, ignoring ASCII case. */
  long[] findWhole(int field, String term) throws Exception;

  /** Handles, in record order, of the records whose field contains term, ignoring ASCII case. */
  long[] findSubstring(int field, String term) throws Exception;

  /** The handle of the record with this key; throws when there is none. */
  long handleOf(String key) throws Exception;

  /** Replaces all values of the record at handle, committed before the call returns. */
  void update(long handle, String[] values) throws Exception;

  /** Deletes the record at handle, committed before the call returns. */
  void delete(long handle) throws Exception;

  /** The key (field 0) of the record at handle. */
  String keyAt(long handle) throws Exception;

  /** Every live record, in record order. */
  void forEachRecord(Consumer<String[]> consumer) throws Exception;

  int count() throws Exception;
}
