import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.TimeUnit;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.Test;

/**
 * Kills a child JVM with SIGKILL at random moments while it appends, updates (in place and by
 * moving) and deletes records, then reopens the database. While the child works, this JVM's open
 * of the same files is refused; the killed child's lock goes with it. Open must succeed, every acknowledged
 * call must be there, the call in flight must be whole or absent, and no record may appear twice.
 * MERO_CRASH_KILLS sets how many kills (100 by default); MERO_CRASH_NOTE_BYTES makes every note
 * that long (megabytes make each update a multi-page write, the kind a kill can tear).
 */
class CrashKillTest {
  private static final int KILLED = 128 + 9;

  /** One run of the child, read back from its output. */
  static final class Run {
    final List<String> lines = new ArrayList<>();
    boolean ready;
  }

  @Test
  void everyAcknowledgedCallSurvivesAKillAtARandomMoment() throws Exception {
    int kills = Integer.parseInt(System.getenv().getOrDefault("MERO_CRASH_KILLS", "100"));
    String libraryDir = nativeDir();
    Path dir = TestDatabases.scratch("crash-kill");
    String base = dir.resolve("db").toString();
    DatabaseMarshall db = new DatabaseMarshall();
    int id = TestDatabases.createStandard(db, base);
    assertTrue(db.close(id));

    Random random = new Random(20261206L);
    Map<String, String[]> model = new LinkedHashMap<>();  // record order
    long acknowledged = 0;
    int inFlightWhole = 0;
    int inFlightAbsent = 0;
    for (int kill = 0; kill < kills; kill++) {
      int heldId = id;
      Run run = runUntilKilled(dir, libraryDir, CrashWorker.class, base, "r" + kill, random,
          () -> db.open(heldId, TestDatabases.KEY, true));
      // Apply the acknowledged calls; keep the one in flight aside.
      String[] inFlight = null;
      for (String line : run.lines) {
        String[] parts = line.split("\t", -1);
        if (parts[0].equals("B") && parts.length == 5) {
          inFlight = parts;
        } else if (parts[0].equals("A") && parts.length == 2 && inFlight != null) {
          if (!parts[1].equals("0") && !parts[1].equals("true")) {
            // A result cut short by the kill leaves the call in flight; any other is a failure.
            assertFalse(List.of("1", "2", "3", "false").contains(parts[1]),
                "the child saw a call fail: " + String.join(" ", inFlight) + " -> " + parts[1]);
            continue;
          }
          apply(model, inFlight);
          acknowledged++;
          inFlight = null;
        }
      }

      assertTrue(db.open(id, TestDatabases.KEY, true), "open failed after kill " + kill);
      List<String[]> found = TestDatabases.records(db, id);
      assertEquals("", TestDatabases.inconsistencies(db, id), "after kill " + kill);
      List<String[]> without = new ArrayList<>(model.values());
      if (sameRecords(found, without)) {
        inFlightAbsent += inFlight != null ? 1 : 0;
      } else if (inFlight != null) {
        apply(model, inFlight);
        acknowledged++;
        inFlightWhole++;
        List<String[]> with = new ArrayList<>(model.values());
        assertTrue(sameRecords(found, with), "after kill " + kill + " found "
            + TestDatabases.describe(found) + "\nacknowledged " + TestDatabases.describe(without)
            + "\nin flight " + String.join(" ", inFlight));
      } else {
        fail("after kill " + kill + " found " + TestDatabases.describe(found) + "\nacknowledged "
            + TestDatabases.describe(without));
      }
      assertTrue(db.close(id));
      // Moved images stay in the data file; with megabyte records it would soon reach the
      // 2 GiB limit of positions, so start afresh well before that.
      if (Files.size(Path.of(base + ".dat")) > (1L << 30)) {
        assertTrue(db.unregister(id));
        for (String extension : new String[] {".str", ".dat", ".idx"}) {
          Files.delete(Path.of(base + extension));
        }
        id = TestDatabases.createStandard(db, base);
        assertTrue(db.close(id));
        model.clear();
      }
    }
    assertTrue(db.unregister(id));
    System.out.printf("[figures] crash kills: %d SIGKILLs survived, %d calls acknowledged and found, "
        + "in flight: %d whole, %d absent; 0 lost, 0 doubled%n", kills, acknowledged, inFlightWhole, inFlightAbsent);
  }

  private static boolean sameRecords(List<String[]> a, List<String[]> b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (int i = 0; i < a.size(); i++) {
      if (!java.util.Arrays.equals(a.get(i), b.get(i))) {
        return false;
      }
    }
    return true;
  }

  static String nativeDir() {
    String dir = System.getenv("MERO_NATIVE_DIR");
    if (dir == null || !Files.isDirectory(Path.of(dir))) {
      throw new IllegalStateException("MERO_NATIVE_DIR must name the library's folder (ctest sets it)");
    }
    return dir;
  }

  private static void apply(Map<String, String[]> model, String[] line) {
    String[] values = {line[2], line[3], line[4]};
    switch (line[1]) {
      case "append", "update" -> model.put(values[0], values);  // an update keeps its place
      case "delete" -> model.remove(values[0]);
      default -> fail("unknown operation " + line[1]);
    }
  }

  /**
   * Starts the child (main(BASE, TAG, SEED) of worker), waits until it has opened, checks that
   * openHere cannot open the files it holds, lets it work a random while, then kills it.
   */
  static Run runUntilKilled(Path dir, String libraryDir, Class<?> worker, String base, String tag, Random random,
      BooleanSupplier openHere) throws IOException, InterruptedException {
    Path errors = dir.resolve("child-stderr.txt");
    Process child = TestDatabases.childJvm(List.of("-Djava.library.path=" + libraryDir,
            "-XX:TieredStopAtLevel=1", "-XX:+UseSerialGC", "-XX:ErrorFile=" + dir.resolve("hs_err_%p.log")),
            worker, base, tag, Long.toString(random.nextLong()))
        .redirectErrorStream(false)
        .redirectError(errors.toFile())
        .start();
    Run run = new Run();
    Object readyLock = new Object();
    Thread reader = new Thread(() -> {
      try (BufferedReader in = new BufferedReader(
          new InputStreamReader(child.getInputStream(), StandardCharsets.US_ASCII))) {
        for (String line; (line = in.readLine()) != null; ) {
          if (line.startsWith("READY")) {
            synchronized (readyLock) {
              run.ready = true;
              readyLock.notifyAll();
            }
          } else {
            run.lines.add(line);
          }
        }
      } catch (IOException e) {
        run.lines.add("READ FAILED " + e);
      }
    });
    reader.start();
    synchronized (readyLock) {
      long until = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
      while (!run.ready && child.isAlive() && System.nanoTime() < until) {
        readyLock.wait(100);
      }
    }
    if (run.ready) {
      // The child holds the files: this JVM must not get them too. Once it is killed, it does.
      assertFalse(openHere.getAsBoolean(), "a second process opened the files while the child held them");
      // Megabyte records take tens of milliseconds a call: a longer window lets calls complete.
      Thread.sleep(random.nextInt(System.getenv("MERO_CRASH_NOTE_BYTES") != null ? 1500 : 120));
    }
    // SIGKILL. Process.destroyForcibly would also close our end of the child's stdout and lose
    // lines still in the pipe; the handle only sends the signal.
    child.toHandle().destroyForcibly();
    int status = child.waitFor();
    reader.join();
    String stderr = Files.readString(errors);
    assertTrue(run.ready, "the child never opened the database: " + run.lines + " " + stderr);
    assertEquals(KILLED, status, "the child ended by itself: " + stderr);
    assertFalse(TestDatabases.hasJniWarning(stderr), stderr);
    return run;
  }
}
