import java.nio.file.Files;
import java.nio.file.Path;
import java.util.function.Consumer;

/** This library through its Java class: fields 0 and 1 indexed, key index on. */
final class MeroEngine implements BenchEngine {
  private static final String CIPHER_KEY = "bench-key-7";

  private final Path dir;
  private final DatabaseMarshall db = new DatabaseMarshall();
  private int id = -1;

  MeroEngine(Path dir) {
    this.dir = dir;
  }

  @Override
  public String name() {
    return "mero";
  }

  @Override
  public String version() {
    return "build " + System.getProperty("mero.build", "(unknown commit)");
  }

  @Override
  public void open() throws Exception {
    String base = dir.resolve("records").toString();
    if (id < 0) {
      boolean fresh = !Files.exists(Path.of(base + ".str"));
      id = db.register(base);
      check(id > 0, "register");
      if (fresh) {
        boolean[] indexed = new boolean[Workload.FIELDS];
        indexed[0] = true;
        indexed[Workload.CITY_FIELD] = true;
        check(db.define(id, indexed, Workload.FIELD_NAMES), "define");
      }
    }
    check(db.open(id, CIPHER_KEY, true), "open");
  }

  @Override
  public void close() {
    check(db.close(id), "close");
  }

  @Override
  public void append(String[] values) {
    int status = db.write(id, values);
    check(status == 0, "write returned " + status);
  }

  @Override
  public String[] readByKey(String key) {
    return db.getRecord(id, key);
  }

  @Override
  public long[] findWhole(int field, String term) {
    return find(field, term, false);
  }

  @Override
  public long[] findSubstring(int field, String term) {
    return find(field, term, true);
  }

  private long[] find(int field, String term, boolean partial) {
    boolean[] partials = new boolean[field + 1];
    String[] terms = new String[field + 1];
    java.util.Arrays.fill(terms, "");
    partials[field] = partial;
    terms[field] = term;
    return toLongs(db.find(id, partials, terms));
  }

  @Override
  public long handleOf(String key) {
    int pos = db.getPos(id, key);
    check(pos >= 0, "getPos(" + key + ")");
    return pos;
  }

  @Override
  public void update(long handle, String[] values) {
    check(db.updateRecord(id, (int) handle, values), "updateRecord(" + handle + ")");
  }

  @Override
  public void delete(long handle) {
    check(db.deleteRecord(id, (int) handle), "deleteRecord(" + handle + ")");
  }

  @Override
  public String keyAt(long handle) {
    String[] record = db.getRecord(id, (int) handle);
    check(record != null, "getRecord(" + handle + ")");
    return record[0];
  }

  @Override
  public void forEachRecord(Consumer<String[]> consumer) {
    int[] all = db.find(id, new boolean[] {false}, new String[] {""});
    for (int pos : all) {
      String[] record = db.getRecord(id, pos);
      check(record != null, "getRecord(" + pos + ")");
      consumer.accept(record);
    }
  }

  @Override
  public int count() {
    return db.numRecs(id);
  }

  private static long[] toLongs(int[] positions) {
    long[] handles = new long[positions.length];
    for (int i = 0; i < positions.length; i++) {
      handles[i] = positions[i];
    }
    return handles;
  }

  private static void check(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException("mero: " + what + " failed");
    }
  }
}
