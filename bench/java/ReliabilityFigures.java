import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Two figures of the library's behaviour over long runs, run by hand (bench/run_reliability_figures.sh):
 *
 * <ul>
 *   <li>{@code toggles N}: one 100 KB record whose indexed field swings between "" and 100 KB
 *       (a plain field taking the difference), N times; prints the growth of the process's
 *       resident memory and whether every update succeeded.
 *   <li>{@code stall N}: while one thread opens a database of N records, another times calls on
 *       a small database; prints the slowest call and how long the open took.
 * </ul>
 */
public final class ReliabilityFigures {
  private ReliabilityFigures() {}

  public static void main(String[] args) throws Exception {
    Path dir = Files.createTempDirectory(Path.of(args[2]), "figures");
    int n = Integer.parseInt(args[1]);
    if (args[0].equals("toggles")) {
      toggles(dir, n);
    } else {
      stall(dir, n);
    }
  }

  private static int create(DatabaseMarshall db, Path dir, String name) {
    int id = db.register(dir.resolve(name).toString());
    if (!db.define(id, new boolean[] {true, false}, new String[] {"indexed", "plain"}) || !db.open(id, "k", true)) {
      throw new IllegalStateException("cannot create " + name);
    }
    return id;
  }

  private static void toggles(Path dir, int n) {
    DatabaseMarshall db = new DatabaseMarshall();
    int id = create(db, dir, "toggles");
    String big = "v".repeat(100_000);
    db.write(id, new String[] {"", big});
    long before = ProcessMemory.kib("VmRSS");
    int failed = 0;
    for (int i = 0; i < n; i++) {
      int position = db.find(id, new boolean[2], new String[] {"", ""})[0];
      boolean grow = i % 2 == 0;
      if (!db.updateRecord(id, position, new String[] {grow ? big : "", grow ? "" : big})) {
        failed++;
      }
    }
    long after = ProcessMemory.kib("VmRSS");
    System.out.printf("toggles %d: resident memory grew by %.1f MiB (%d -> %d KiB), %d updates failed%n", n,
        (after - before) / 1024.0, before, after, failed);
  }

  /** Times getRecord + numRecs on id while `until` runs, or for `millis`; sorted nanoseconds. */
  private static long[] timeCalls(DatabaseMarshall db, int id, Thread until, long millis) {
    java.util.ArrayList<Long> times = new java.util.ArrayList<>();
    long end = System.nanoTime() + millis * 1_000_000;
    while (until != null ? until.isAlive() : System.nanoTime() < end) {
      long t = System.nanoTime();
      db.getRecord(id, "only");
      db.numRecs(id);
      times.add(System.nanoTime() - t);
    }
    return times.stream().mapToLong(Long::longValue).sorted().toArray();
  }

  private static String describe(long[] sorted) {
    long over = java.util.Arrays.stream(sorted).filter(t -> t > 10_000_000).count();
    return String.format("%d calls, 99.9%% within %.3f ms, slowest %.2f ms, %d over 10 ms", sorted.length,
        sorted[(int) (sorted.length * 0.999)] / 1e6, sorted[sorted.length - 1] / 1e6, over);
  }

  private static void stall(Path dir, int n) throws Exception {
    DatabaseMarshall db = new DatabaseMarshall();
    int large = create(db, dir, "large");
    for (int i = 0; i < n; i++) {
      db.write(large, new String[] {"key" + i, "value " + i});
    }
    db.close(large);
    int small = create(db, dir, "small");
    db.write(small, new String[] {"only", "record"});
    // The same calls with nothing else running first: on a loaded machine the slowest call
    // says as much about the scheduler as about the library.
    long[] alone = timeCalls(db, small, null, 2000);
    Thread opener = new Thread(() -> db.open(large, "k", true));
    long start = System.nanoTime();
    opener.start();
    long[] during = timeCalls(db, small, opener, 0);
    long openNanos = System.nanoTime() - start;
    System.out.printf("stall %d: the open took %.0f ms; calls on a small database meanwhile: %s; with nothing"
        + " else running: %s%n", n, openNanos / 1e6, describe(during), describe(alone));
    db.unregister(large);
    db.unregister(small);
  }
}
