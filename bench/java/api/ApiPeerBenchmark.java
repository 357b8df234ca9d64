import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.Locale;
import java.util.Random;
import java.util.stream.Stream;
import org.h2.mvstore.MVMap;
import org.h2.mvstore.MVStore;
import org.mero.db.Database;
import org.mero.db.Schema;

/**
 * The packaged API against sqlite-jdbc and H2's MVStore on one load, in one JVM, engines taking
 * turns each round: single appends (each its own change: an API call, an autocommitted INSERT, a
 * put and a commit), batched appends (one API batch; one SQLite transaction of batched INSERTs;
 * puts and one commit), reads by key, and a pass over every record. Prints the median of the
 * rounds per phase, in operations per second, and each peer's figure as a ratio of the API's.
 *
 * <p>Usage: ApiPeerBenchmark --dir DIR [--n N] [--single S] [--gets G] [--rounds R]
 */
public final class ApiPeerBenchmark {
  private static final String[] PHASES = {"single appends", "batched appends", "get by key", "stream all"};
  private static final String[] ENGINES = {"mero API", "sqlite-jdbc", "MVStore"};

  private ApiPeerBenchmark() {}

  /** One engine's run of the four phases on a fresh store in dir; returns seconds per phase. */
  private interface Engine {
    double[] run(Path dir, String[][] batch, String[][] single, String[] keys) throws Exception;
  }

  public static void main(String[] args) throws Exception {
    Path dir = null;
    int n = 100_000;
    int singles = 10_000;
    int gets = 100_000;
    int rounds = 5;
    for (int i = 0; i < args.length; i += 2) {
      switch (args[i]) {
        case "--dir" -> dir = Path.of(args[i + 1]);
        case "--n" -> n = Integer.parseInt(args[i + 1]);
        case "--single" -> singles = Integer.parseInt(args[i + 1]);
        case "--gets" -> gets = Integer.parseInt(args[i + 1]);
        case "--rounds" -> rounds = Integer.parseInt(args[i + 1]);
        default -> throw new IllegalArgumentException("unknown option " + args[i]);
      }
    }
    if (dir == null) {
      throw new IllegalArgumentException("--dir is required");
    }
    Random random = new Random(2026);
    String[][] batch = records("b", n, random);
    String[][] single = records("s", singles, random);
    String[] keys = new String[gets];
    for (int i = 0; i < gets; i++) {
      keys[i] = batch[random.nextInt(n)][0];
    }
    Engine[] engines = {ApiPeerBenchmark::mero, ApiPeerBenchmark::sqlite, ApiPeerBenchmark::mvstore};
    double[][][] seconds = new double[engines.length][PHASES.length][rounds];
    for (int round = 0; round < rounds; round++) {
      for (int e = 0; e < engines.length; e++) {
        Path work = dir.resolve("round" + round + "-" + e);
        Files.createDirectories(work);
        double[] phases = engines[e].run(work, batch, single, keys);
        for (int p = 0; p < PHASES.length; p++) {
          seconds[e][p][round] = phases[p];
        }
        deleteTree(work);
      }
    }
    int[] counts = {singles, n, gets, n + singles};
    System.out.printf(Locale.ROOT, "%d records (batched), %d single appends, %d gets, %d rounds; median ops/s%n%n",
        n, singles, gets, rounds);
    System.out.println("| phase | mero API | sqlite-jdbc | MVStore | API / sqlite | API / MVStore |");
    System.out.println("|---|---:|---:|---:|---:|---:|");
    for (int p = 0; p < PHASES.length; p++) {
      double[] rate = new double[engines.length];
      for (int e = 0; e < engines.length; e++) {
        rate[e] = counts[p] / median(seconds[e][p]);
      }
      System.out.printf(Locale.ROOT, "| %s | %,.0f | %,.0f | %,.0f | %.1fx | %.1fx |%n", PHASES[p], rate[0], rate[1],
          rate[2], rate[0] / rate[1], rate[0] / rate[2]);
    }
  }

  private static String[][] records(String prefix, int n, Random random) {
    String[][] records = new String[n][];
    for (int i = 0; i < n; i++) {
      records[i] = new String[] {prefix + i + "-" + random.nextInt(1_000_000), "city" + random.nextInt(500),
          "note " + Long.toString(random.nextLong(), 36)};
    }
    return records;
  }

  private static double median(double[] values) {
    double[] sorted = values.clone();
    Arrays.sort(sorted);
    return sorted[sorted.length / 2];
  }

  private static double since(long start) {
    return (System.nanoTime() - start) / 1e9;
  }

  private static double[] mero(Path dir, String[][] batch, String[][] single, String[] keys) {
    Schema schema = Schema.builder().field("name", true).field("city", true).field("note", false).build();
    double[] t = new double[4];
    try (Database db = Database.open(dir.resolve("db"), "", true, schema)) {
      long start = System.nanoTime();
      db.batch(b -> {
        for (String[] r : batch) {
          b.append(r);
        }
      });
      t[1] = since(start);
      start = System.nanoTime();
      for (String[] r : single) {
        db.append(r);
      }
      t[0] = since(start);
      start = System.nanoTime();
      long found = 0;
      for (String key : keys) {
        found += db.get(key).isPresent() ? 1 : 0;
      }
      t[2] = since(start);
      check(found == keys.length, "mero gets");
      start = System.nanoTime();
      long bytes = db.records().mapToLong(r -> r.get(2).length()).sum();
      t[3] = since(start);
      check(bytes > 0, "mero stream");
    }
    return t;
  }

  private static double[] sqlite(Path dir, String[][] batch, String[][] single, String[] keys) throws SQLException {
    double[] t = new double[4];
    try (Connection c = DriverManager.getConnection("jdbc:sqlite:" + dir.resolve("db.sqlite"))) {
      try (Statement s = c.createStatement()) {
        s.execute("PRAGMA journal_mode=WAL");
        s.execute("PRAGMA synchronous=OFF");
        s.execute("CREATE TABLE recs (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, city TEXT NOT NULL,"
            + " note TEXT NOT NULL)");
        s.execute("CREATE INDEX recs_city ON recs (city COLLATE NOCASE)");
      }
      String insert = "INSERT INTO recs (name, city, note) VALUES (?, ?, ?)";
      long start = System.nanoTime();
      c.setAutoCommit(false);
      try (PreparedStatement p = c.prepareStatement(insert)) {
        for (String[] r : batch) {
          bind(p, r);
          p.addBatch();
        }
        p.executeBatch();
      }
      c.commit();
      c.setAutoCommit(true);
      t[1] = since(start);
      start = System.nanoTime();
      try (PreparedStatement p = c.prepareStatement(insert)) {
        for (String[] r : single) {
          bind(p, r);
          p.executeUpdate();
        }
      }
      t[0] = since(start);
      start = System.nanoTime();
      long found = 0;
      try (PreparedStatement p = c.prepareStatement("SELECT name, city, note FROM recs WHERE name = ?")) {
        for (String key : keys) {
          p.setString(1, key);
          try (ResultSet rs = p.executeQuery()) {
            if (rs.next()) {
              found += rs.getString(3).isEmpty() ? 0 : 1;
            }
          }
        }
      }
      t[2] = since(start);
      check(found == keys.length, "sqlite gets");
      start = System.nanoTime();
      long bytes = 0;
      try (Statement s = c.createStatement(); ResultSet rs = s.executeQuery("SELECT name, city, note FROM recs ORDER BY id")) {
        while (rs.next()) {
          rs.getString(1);
          rs.getString(2);
          bytes += rs.getString(3).length();
        }
      }
      t[3] = since(start);
      check(bytes > 0, "sqlite stream");
    }
    return t;
  }

  private static void bind(PreparedStatement p, String[] r) throws SQLException {
    p.setString(1, r[0]);
    p.setString(2, r[1]);
    p.setString(3, r[2]);
  }

  // MVStore keeps one map from key to the other values, joined by a separator that no value holds.
  private static double[] mvstore(Path dir, String[][] batch, String[][] single, String[] keys) {
    double[] t = new double[4];
    MVStore store = new MVStore.Builder().fileName(dir.resolve("db.mv").toString()).autoCommitDisabled().open();
    try {
      MVMap<String, String> map = store.openMap("recs");
      long start = System.nanoTime();
      for (String[] r : batch) {
        map.put(r[0], r[1] + '\u0001' + r[2]);
      }
      store.commit();
      t[1] = since(start);
      start = System.nanoTime();
      for (String[] r : single) {
        map.put(r[0], r[1] + '\u0001' + r[2]);
        store.commit();
      }
      t[0] = since(start);
      start = System.nanoTime();
      long found = 0;
      for (String key : keys) {
        String value = map.get(key);
        found += value != null && value.split("\u0001", -1).length == 2 ? 1 : 0;
      }
      t[2] = since(start);
      check(found == keys.length, "MVStore gets");
      start = System.nanoTime();
      long bytes = 0;
      for (var entry : map.entrySet()) {
        bytes += entry.getValue().split("\u0001", -1)[1].length();
      }
      t[3] = since(start);
      check(bytes > 0, "MVStore stream");
    } finally {
      store.close();
    }
    return t;
  }

  private static void check(boolean condition, String what) {
    if (!condition) {
      throw new IllegalStateException(what + " gave a wrong answer");
    }
  }

  private static void deleteTree(Path dir) throws IOException {
    try (Stream<Path> paths = Files.walk(dir)) {
      List<Path> all = new ArrayList<>(paths.toList());
      all.sort(Comparator.reverseOrder());
      for (Path p : all) {
        Files.delete(p);
      }
    }
  }
}
