import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import java.util.Random;
import java.util.TreeMap;
import org.junit.jupiter.api.Test;
import org.mero.db.Database;
import org.mero.db.DatabaseOpenException;
import org.mero.db.Query;
import org.mero.db.Record;
import org.mero.db.Schema;

/**
 * Kills a child JVM that appends batches through the packaged API (BatchWorker) at random
 * moments, then reopens the database: every acknowledged batch is there whole, the batch in
 * flight is whole or absent, and nothing else is there. MERO_CRASH_KILLS sets how many kills.
 */
class BatchKillTest {
  @Test
  void aKilledBatchLeavesAllOrNoneOfItsAppends() throws Exception {
    int kills = Integer.parseInt(System.getenv().getOrDefault("MERO_CRASH_KILLS", "100"));
    String libraryDir = CrashKillTest.nativeDir();
    Path dir = TestDatabases.scratch("batch-kill");
    Path base = dir.resolve("db");
    Schema schema = Schema.builder().field("name", true).field("city", true).field("note", false).build();
    Database.open(base, TestDatabases.KEY, true, schema).close();

    Random random = new Random(20261207L);
    Map<String, Integer> expected = new TreeMap<>();  // batch name -> its size
    int whole = 0;
    int absent = 0;
    for (int kill = 0; kill < kills; kill++) {
      CrashKillTest.Run run = CrashKillTest.runUntilKilled(dir, libraryDir, BatchWorker.class, base.toString(),
          "r" + kill, random, () -> {
            try {
              Database.open(base, TestDatabases.KEY, true).close();
              return true;
            } catch (DatabaseOpenException e) {
              assertEquals(DatabaseOpenException.Reason.LOCKED, e.reason(), e.getMessage());
              return false;
            }
          });
      String inFlight = null;
      int inFlightSize = 0;
      for (String line : run.lines) {
        String[] parts = line.split("\t", -1);
        if (parts[0].equals("B") && parts.length == 3) {
          inFlight = parts[1];
          inFlightSize = Integer.parseInt(parts[2]);
        } else if (parts[0].equals("A") && parts.length == 2 && parts[1].equals(inFlight)) {
          expected.put(inFlight, inFlightSize);
          inFlight = null;
        }
      }
      Map<String, Integer> found = new TreeMap<>();
      try (Database db = Database.open(base, TestDatabases.KEY, true)) {
        for (Record record : db.findRecords(Query.where("name").is(""))) {
          String name = record.get(0);
          found.merge(name.substring(0, name.indexOf('/')), 1, Integer::sum);
        }
      }
      if (inFlight != null && found.containsKey(inFlight)) {
        expected.put(inFlight, inFlightSize);
        whole++;
      } else if (inFlight != null) {
        absent++;
      }
      assertEquals(expected, found, "after kill " + kill + ", batch in flight " + inFlight);
      // Start afresh before reopening gets slow.
      if (Files.size(Path.of(base + ".dat")) > (2L << 20)) {
        for (String extension : new String[] {".str", ".dat", ".idx"}) {
          Files.delete(Path.of(base + extension));
        }
        Database.open(base, TestDatabases.KEY, true, schema).close();
        expected.clear();
      }
    }
    System.out.printf("[figures] batch kills: %d SIGKILLs survived; batches in flight: %d whole, %d absent; "
        + "0 partial%n", kills, whole, absent);
  }
}
