import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;
import org.mero.db.Database;
import org.mero.db.Schema;

/**
 * Readers sharing one handle: gets by key from 1 and from 4 threads, each alone and while one
 * more thread appends, so the cost of running every call one at a time shows. Prints, per
 * setting, the gets per second of all readers together and the appends per second.
 *
 * <p>Usage: ReaderContentionBenchmark DIR RECORDS GETS ROUNDS
 */
public final class ReaderContentionBenchmark {
  private ReaderContentionBenchmark() {}

  public static void main(String[] args) throws Exception {
    Path dir = Path.of(args[0]);
    int records = Integer.parseInt(args[1]);
    int gets = Integer.parseInt(args[2]);
    int rounds = Integer.parseInt(args[3]);
    Files.createDirectories(dir);
    Schema schema = Schema.builder().field("name", true).field("city", true).field("note", false).build();
    try (Database db = Database.open(dir.resolve("readers"), "bench key", true, schema)) {
      db.batch(b -> {
        for (int i = 0; i < records; i++) {
          b.append("key" + i, "city" + i % 97, "a note of some fifty bytes, about what a row holds " + i);
        }
      });
      System.out.printf("%-28s %14s %14s%n", "setting", "gets/s", "appends/s");
      for (int round = 0; round < rounds; round++) {
        for (int readers : new int[] {1, 4}) {
          for (boolean appending : new boolean[] {false, true}) {
            double[] rates = run(db, records, readers, gets / readers, appending, round);
            System.out.printf("%-28s %,14.0f %,14.0f%n",
                "round " + round + ": " + readers + " reader" + (readers > 1 ? "s" : "") + (appending ? " + 1 appender" : ""),
                rates[0], rates[1]);
          }
        }
      }
    }
  }

  // Gets of all readers per second, and appends per second while they ran.
  private static double[] run(Database db, int records, int readers, int getsEach, boolean appending, int round)
      throws Exception {
    CyclicBarrier start = new CyclicBarrier(readers + 1);
    AtomicBoolean stop = new AtomicBoolean();
    AtomicLong appended = new AtomicLong();
    Thread appender = null;
    if (appending) {
      appender = new Thread(() -> {
        for (long i = 0; !stop.get(); i++) {
          db.append("new-" + round + "-" + readers + "-" + i, "city", "an appended note of a similar length " + i);
          appended.incrementAndGet();
        }
      });
    }
    List<Thread> threads = new ArrayList<>();
    AtomicLong misses = new AtomicLong();
    for (int t = 0; t < readers; t++) {
      int seed = t;
      threads.add(new Thread(() -> {
        try {
          start.await();
        } catch (Exception e) {
          throw new IllegalStateException(e);
        }
        long x = 0x9E3779B97F4A7C15L * (seed + 1);
        for (int i = 0; i < getsEach; i++) {
          x ^= x << 13;
          x ^= x >>> 7;
          x ^= x << 17;
          if (db.get("key" + Math.floorMod(x, records)).isEmpty()) {
            misses.incrementAndGet();
          }
        }
      }));
    }
    threads.forEach(Thread::start);
    if (appender != null) {
      appender.start();
    }
    long began = System.nanoTime();
    start.await();
    for (Thread t : threads) {
      t.join();
    }
    double seconds = (System.nanoTime() - began) / 1e9;
    stop.set(true);
    if (appender != null) {
      appender.join();
    }
    if (misses.get() > 0) {
      throw new IllegalStateException(misses.get() + " keys not found");
    }
    return new double[] {readers * (double) getsEach / seconds, appended.get() / seconds};
  }
}
