import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import org.junit.jupiter.api.Test;

/**
 * Java threads on one database through the real library under -Xcheck:jni: the per-thread
 * buffers, local references and strings of the native layer, from many threads at once. (Racing
 * closes and reopens are tested natively, under ThreadSanitizer.) Each worker owns its keys and
 * checks every answer; at the end, and after a new open, the database holds exactly the
 * acknowledged records. MERO_THREAD_OPS sets the calls per worker.
 */
class ThreadsTest {
  private static final int OPS = Integer.parseInt(System.getenv().getOrDefault("MERO_THREAD_OPS", "800"));
  private final DatabaseMarshall db = new DatabaseMarshall();
  private final ConcurrentLinkedQueue<String> problems = new ConcurrentLinkedQueue<>();

  private Map<String, String[]> work(int id, int worker) {
    Map<String, String[]> mine = new LinkedHashMap<>();
    List<String> keys = new ArrayList<>();
    Random random = new Random(worker * 7919L);
    for (int op = 0; op < OPS; op++) {
      int choice = random.nextInt(10);
      if (keys.isEmpty() || choice < 3) {
        String key = "w" + worker + "-" + op + "-\u00e9\ud83d\ude00";
        String[] values = {key, "City" + worker % 5, "n".repeat(random.nextInt(3000))};
        expect(db.write(id, values) == 0, "write " + key);
        mine.put(key, values);
        keys.add(key);
        continue;
      }
      String key = keys.get(random.nextInt(keys.size()));
      int position = db.getPos(id, key);
      if (choice < 6) {
        String[] values = {key, "City" + op % 5, "n".repeat(random.nextInt(3000))};
        expect(db.updateRecord(id, position, values), "update " + key);
        mine.put(key, values);
      } else if (choice < 7) {
        expect(db.deleteRecord(id, position), "delete " + key);
        mine.remove(key);
        keys.remove(key);
      } else {
        expect(java.util.Arrays.equals(db.getRecord(id, key), mine.get(key)), "read " + key);
        int[] found = db.find(id, new boolean[] {false, true}, new String[] {key, "city"});
        expect(found.length == 1 && found[0] == position, "find " + key);
      }
    }
    return mine;
  }

  private void expect(boolean ok, String what) {
    if (!ok && problems.size() < 20) {
      problems.add(what);
    }
  }

  @Test
  void threadsOnOneDatabaseKeepEveryAcknowledgedCall() throws Exception {
    String base = TestDatabases.scratch("threads").resolve("db").toString();
    int id = TestDatabases.createStandard(db, base);
    List<Map<String, String[]>> models = new ArrayList<>();
    List<Thread> threads = new ArrayList<>();
    for (int w = 0; w < 8; w++) {
      Map<String, String[]> model = new LinkedHashMap<>();
      models.add(model);
      final int worker = w;
      threads.add(new Thread(() -> model.putAll(work(id, worker))));
    }
    threads.forEach(Thread::start);
    for (Thread t : threads) {
      t.join();
    }
    assertEquals(List.of(), List.copyOf(problems));
    for (int round = 0; round < 2; round++) {
      assertEquals("", TestDatabases.inconsistencies(db, id));
      int total = 0;
      for (Map<String, String[]> model : models) {
        total += model.size();
        for (Map.Entry<String, String[]> e : model.entrySet()) {
          assertArrayEquals(e.getValue(), db.getRecord(id, e.getKey()), e.getKey());
        }
      }
      assertEquals(total, db.numRecs(id));
      assertTrue(db.open(id, TestDatabases.KEY, true));
    }
    assertTrue(db.unregister(id));
  }
}
