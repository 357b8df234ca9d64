import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * The fault-hook build of the library (build/faults) in child JVMs: each write of each operation
 * in turn fails, or ends the process. Through the Java methods, a failed write must give the
 * failure result (write: 3) and leave every answer as before, on the spot and after a new open;
 * an ended process must leave the state before or after the call.
 */
class JniWriteFaultsTest {
  private static final String[] OPERATIONS = {
    "append", "update in place", "update moving the record", "delete a middle record", "delete the last record",
  };
  private static final int ENDED_BY_HOOK = 86;

  /** The records as "position values...", the way FaultWorker prints them. */
  private static List<String> state(DatabaseMarshall db, int id) {
    List<String> out = new ArrayList<>();
    for (int position : db.find(id, ReliabilitySupport.NO_PARTIAL, ReliabilitySupport.NO_TERMS)) {
      out.add(position + " " + String.join(" ", db.getRecord(id, position)));
    }
    return out;
  }

  private static List<String> valuesOnly(List<String> state) {
    List<String> out = new ArrayList<>();
    for (String line : state) {
      out.add(line.substring(line.indexOf(' ') + 1));
    }
    return out;
  }

  private final DatabaseMarshall db = new DatabaseMarshall();

  /** Five records k0..k4 in a new database; returns their state. */
  private List<String> create(String base) {
    int id = ReliabilitySupport.createOpen(db, base);
    for (int i = 0; i < 5; i++) {
      assertEquals(0, db.write(id, new String[] {"k" + i, "city" + i % 3, "note " + i}));
    }
    List<String> state = state(db, id);
    assertTrue(db.unregister(id));
    return state;
  }

  private List<String> reopened(String base) {
    int id = db.register(base);
    assertTrue(db.open(id, ReliabilitySupport.KEY, true), "open after the fault");
    List<String> state = state(db, id);
    assertEquals("", ReliabilitySupport.inconsistencies(db, id));
    assertTrue(db.unregister(id));
    return state;
  }

  private record ChildRun(int status, List<String> lines) {}

  private static ChildRun runChild(Path dir, String base, String operation, String fault)
      throws IOException, InterruptedException {
    ProcessBuilder builder = ReliabilitySupport.childJvm(dir, ReliabilitySupport.requiredDir("MERO_FAULTS_NATIVE_DIR"),
        FaultWorker.class, base, operation);
    builder.environment().put("MERO_WRITE_FAULT", fault);
    Path errors = dir.resolve("child-stderr.txt");
    Process child = builder.redirectError(errors.toFile()).start();
    byte[] output = child.getInputStream().readAllBytes();
    int status = child.waitFor();
    String stderr = Files.readString(errors);
    assertFalse(ReliabilitySupport.hasJniWarning(stderr), stderr);
    return new ChildRun(status, new String(output, StandardCharsets.UTF_8).lines().toList());
  }

  @Test
  void eachFailedWriteGivesTheFailureResultAndChangesNothing() throws Exception {
    int points = 0;
    for (String operation : OPERATIONS) {
      for (int k = 1; ; k++) {
        Path dir = ReliabilitySupport.freshDir("jni-fail");
        String base = dir.resolve("db").toString();
        List<String> before = create(base);
        ChildRun run = runChild(dir, base, operation, "fail:" + k);
        String where = operation + ", write " + k + " fails: " + run.lines;
        assertEquals(0, run.status, where);
        String result = run.lines.get(0);
        if (result.equals("RESULT 0") || result.equals("RESULT true")) {
          assertTrue(k > 1, where);
          break;  // the operation makes fewer than k writes
        }
        assertTrue(result.equals("RESULT 3") || result.equals("RESULT false"), where);
        List<String> answered = new ArrayList<>();
        for (String line : run.lines) {
          if (line.startsWith("R ")) {
            answered.add(line.substring(2));
          }
        }
        assertEquals(before, answered, where);
        assertEquals("CHECK ", run.lines.get(run.lines.size() - 1), where);
        assertEquals(before, reopened(base), where);
        points++;
      }
    }
    System.out.printf("[figures] jni failed writes: %d write points of %d operations failed in turn, "
        + "all reported, 0 lost%n", points, OPERATIONS.length);
  }

  @Test
  void aProcessEndedAtAnyWriteLeavesTheStateBeforeOrAfter() throws Exception {
    int points = 0;
    for (String operation : OPERATIONS) {
      Path refDir = ReliabilitySupport.freshDir("jni-abort-ref");
      String refBase = refDir.resolve("db").toString();
      List<String> before = create(refBase);
      ChildRun reference = runChild(refDir, refBase, operation, "abort:1000000");
      assertEquals(0, reference.status, operation + ": " + reference.lines);
      List<String> after = reopened(refBase);
      assertFalse(after.equals(before), operation);

      for (int k = 1; ; k++) {
        Path dir = ReliabilitySupport.freshDir("jni-abort");
        String base = dir.resolve("db").toString();
        assertEquals(before, create(base));
        ChildRun run = runChild(dir, base, operation, "abort:" + k);
        String where = operation + ", ended before write " + k + ": " + run.lines;
        if (run.status == 0) {
          assertTrue(k > 1, where);
          assertEquals(after, reopened(base), where);
          break;  // the operation makes fewer than k writes
        }
        assertEquals(ENDED_BY_HOOK, run.status, where);
        List<String> found = reopened(base);
        assertTrue(found.equals(before) || found.equals(after), where + "\nfound " + found);
        points++;
      }
    }
    System.out.printf("[figures] jni crash points: %d write points of %d operations ended the process, "
        + "0 lost%n", points, OPERATIONS.length);
  }
}
