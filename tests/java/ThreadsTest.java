import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;
import java.util.function.IntSupplier;
import org.junit.jupiter.api.Test;

/**
 * Java threads on shared databases, through the real library. Each worker owns its keys, so it
 * knows which of its calls were acknowledged and checks every answer against that; at the end,
 * and after a close and a new open, each database must hold exactly the acknowledged records.
 * MERO_THREAD_OPS sets the calls per worker (1500 by default).
 */
class ThreadsTest {
  private static final int OPS = Integer.parseInt(System.getenv().getOrDefault("MERO_THREAD_OPS", "1500"));

  private final DatabaseMarshall db = new DatabaseMarshall();
  private final ConcurrentLinkedQueue<String> problems = new ConcurrentLinkedQueue<>();
  private final AtomicLong calls = new AtomicLong();
  private final AtomicLong refused = new AtomicLong();

  /**
   * One worker: appends, updates in place and by moving, deletes, reads by position and by key,
   * finds by whole key and by partial city. With `closable` its database may be closed, reopened
   * or re-registered under it: then a call may give its failure result, and must then have had no
   * effect. Otherwise every call must succeed.
   */
  private Map<String, String[]> work(IntSupplier id, int worker, boolean closable) {
    Map<String, String[]> mine = new LinkedHashMap<>();
    List<String> keys = new ArrayList<>();
    Random random = new Random(worker * 7919L);
    for (int op = 0; op < OPS; op++) {
      calls.incrementAndGet();
      int choice = random.nextInt(12);
      if (keys.isEmpty() || choice < 3) {
        String key = "w" + worker + "-" + op;
        String[] values = {key, "City" + worker % 5, "note"};
        int status = db.write(id.getAsInt(), values);
        if (status == 0) {
          mine.put(key, values);
          keys.add(key);
        } else {
          refusedOr(closable && status == 3, "write " + key + " -> " + status);
        }
        continue;
      }
      int index = random.nextInt(keys.size());
      String key = keys.get(index);
      String[] expected = mine.get(key);
      int position = db.getPos(id.getAsInt(), key);
      if (position < 0) {
        refusedOr(closable, "getPos " + key + " -> -1");
        continue;
      }
      switch (choice) {
        case 3, 4, 5 -> {
          String[] values = expected.clone();
          values[2] = choice == 3 || values[2].length() > 40
              ? "n".repeat(values[2].length() % 40 + 1)  // same length or shorter: in place
              : values[2] + "+grown";                     // longer: moved
          if (db.updateRecord(id.getAsInt(), position, values)) {
            mine.put(key, values);
          } else {
            refusedOr(closable, "update " + key);
          }
        }
        case 6, 7 -> {
          if (db.deleteRecord(id.getAsInt(), position)) {
            mine.remove(key);
            keys.remove(index);
          } else {
            refusedOr(closable, "delete " + key);
          }
        }
        case 8 -> check(closable, expected, db.getRecord(id.getAsInt(), position), "getRecord(pos) " + key);
        case 9 -> check(closable, expected, db.getRecord(id.getAsInt(), key), "getRecord(key) " + key);
        case 10 -> {
          int[] found = db.find(id.getAsInt(), new boolean[] {false, false, false}, new String[] {key, "", ""});
          if (found.length == 0) {
            refusedOr(closable, "find " + key + " found nothing");
          } else if (!Arrays.equals(found, new int[] {position})) {
            problems.add("find " + key + " -> " + Arrays.toString(found) + ", getPos said " + position);
          }
        }
        default -> {
          // Partial find on an indexed field shared with other workers: ours must be among them.
          int[] found = db.find(id.getAsInt(), new boolean[] {false, true, false},
              new String[] {"", "ity" + worker % 5, ""});
          if (found.length == 0) {
            refusedOr(closable, "partial find found nothing");
          } else if (Arrays.stream(found).noneMatch(p -> p == position) && db.numRecs(id.getAsInt()) > 0) {
            refusedOr(closable, "partial find missed " + key);
          }
        }
      }
    }
    return mine;
  }

  private void check(boolean closable, String[] expected, String[] actual, String what) {
    if (actual == null) {
      refusedOr(closable, what + " -> null");
    } else if (!Arrays.equals(expected, actual)) {
      problems.add(what + " -> " + Arrays.toString(actual) + ", expected " + Arrays.toString(expected));
    }
  }

  private void refusedOr(boolean allowed, String problem) {
    if (allowed) {
      refused.incrementAndGet();
    } else {
      problems.add(problem);
    }
  }

  private void expectHolds(int id, List<Map<String, String[]>> models, String when) {
    int total = 0;
    for (Map<String, String[]> model : models) {
      total += model.size();
      for (Map.Entry<String, String[]> e : model.entrySet()) {
        assertArrayEquals(e.getValue(), db.getRecord(id, e.getKey()), when + ": " + e.getKey());
      }
    }
    assertEquals(total, db.numRecs(id), when);
    assertEquals("", ReliabilitySupport.inconsistencies(db, id), when);
  }

  private static List<Thread> start(int count, java.util.function.IntConsumer body) {
    List<Thread> threads = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      int n = i;
      Thread t = new Thread(() -> body.accept(n));
      t.start();
      threads.add(t);
    }
    return threads;
  }

  @Test
  void sixteenThreadsOnOneDatabaseAndFourOnAnotherKeepEveryAcknowledgedCall() throws Exception {
    Path dir = ReliabilitySupport.freshDir("threads");
    int a = ReliabilitySupport.createOpen(db, dir.resolve("a").toString());
    int b = ReliabilitySupport.createOpen(db, dir.resolve("b").toString());
    List<Map<String, String[]>> onA = new ArrayList<>();
    List<Map<String, String[]>> onB = new ArrayList<>();
    for (int i = 0; i < 20; i++) {
      (i < 16 ? onA : onB).add(null);
    }
    List<Thread> threads = start(20, i -> {
      Map<String, String[]> model = work(() -> i < 16 ? a : b, i, false);
      synchronized (onA) {
        (i < 16 ? onA : onB).set(i < 16 ? i : i - 16, model);
      }
    });
    for (Thread t : threads) {
      t.join();
    }
    assertEquals(List.of(), List.copyOf(problems));
    expectHolds(a, onA, "database a");
    expectHolds(b, onB, "database b");
    for (int id : new int[] {a, b}) {
      assertTrue(db.close(id));
      assertTrue(db.open(id, ReliabilitySupport.KEY, true));
    }
    expectHolds(a, onA, "database a reopened");
    expectHolds(b, onB, "database b reopened");
    assertTrue(db.unregister(a));
    assertTrue(db.unregister(b));
    System.out.printf("[figures] java threads: 20 threads (16 on one database, 4 on another), %d calls, 0 lost%n",
        calls.get());
  }

  @Test
  void closeOpenAndUnregisterRacingRecordCallsNeverCrashAndLoseNothing() throws Exception {
    Path dir = ReliabilitySupport.freshDir("threads-racing");
    String base = dir.resolve("c").toString();
    AtomicInteger id = new AtomicInteger(ReliabilitySupport.createOpen(db, base));
    AtomicBoolean done = new AtomicBoolean();
    AtomicLong cycles = new AtomicLong();
    Thread racer = new Thread(() -> {
      Random random = new Random(11);
      while (!done.get()) {
        int current = id.get();
        switch (random.nextInt(3)) {
          case 0 -> {
            if (!db.close(current) || !db.open(current, ReliabilitySupport.KEY, true)) {
              problems.add("close and open of " + current + " failed");
            }
          }
          case 1 -> {
            if (!db.open(current, ReliabilitySupport.KEY, true)) {
              problems.add("open again of " + current + " failed");
            }
          }
          default -> {
            if (!db.unregister(current)) {
              problems.add("unregister of " + current + " failed");
            }
            int fresh = db.register(base);
            if (!db.open(fresh, ReliabilitySupport.KEY, true)) {
              problems.add("open of the new id " + fresh + " failed");
            }
            id.set(fresh);
          }
        }
        cycles.incrementAndGet();
        // A pause lets the workers in; without it the racer can hold the registry nearly all the
        // time and almost every call finds the database closed.
        LockSupport.parkNanos(random.nextInt(200_000));
      }
    });
    racer.start();
    List<Map<String, String[]>> models = new ArrayList<>(List.of(Map.of(), Map.of(), Map.of(), Map.of()));
    List<Thread> threads = start(4, i -> {
      Map<String, String[]> model = work(id::get, 100 + i, true);
      synchronized (models) {
        models.set(i, model);
      }
    });
    for (Thread t : threads) {
      t.join();
    }
    done.set(true);
    racer.join();
    assertEquals(List.of(), List.copyOf(problems));
    assertTrue(refused.get() < calls.get(), "no call ever ran");
    expectHolds(id.get(), models, "after the race");
    assertTrue(db.close(id.get()));
    assertTrue(db.open(id.get(), ReliabilitySupport.KEY, true));
    expectHolds(id.get(), models, "reopened after the race");
    assertTrue(db.unregister(id.get()));
    // Calls on a closed or forgotten id answer their failure results.
    assertEquals(3, db.write(id.get(), new String[] {"x", "y", "z"}));
    assertEquals(0, db.numRecs(id.get()));
    System.out.printf("[figures] java racing: 5 threads, %d close/open/unregister cycles racing %d calls, "
        + "%d calls answered their failure result, 0 lost%n", cycles.get(), calls.get(), refused.get());
  }
}
