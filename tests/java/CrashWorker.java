import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;

/**
 * The child process of CrashKillTest: opens the database and runs appends, in-place and moved
 * updates and deletes until it is killed. Before each call it prints "B", the operation and the
 * values the call will leave; after it, "A" and the result. Every line is flushed at once, so the
 * parent knows every acknowledged call and the one in flight when the kill came.
 *
 * <p>Usage: CrashWorker BASE RUN_TAG SEED
 */
public final class CrashWorker {
  private CrashWorker() {}

  public static void main(String[] args) {
    String base = args[0];
    String tag = args[1];
    Random random = new Random(Long.parseLong(args[2]));
    int padding = Integer.parseInt(System.getenv().getOrDefault("MERO_CRASH_NOTE_BYTES", "0"));
    PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), false, StandardCharsets.US_ASCII);
    DatabaseMarshall db = new DatabaseMarshall();
    int id = db.register(base);
    if (!db.open(id, TestDatabases.KEY, true)) {
      out.println("OPEN FAILED");
      out.flush();
      System.exit(2);
    }
    List<String[]> live = TestDatabases.records(db, id);
    out.println("READY " + live.size());
    out.flush();

    for (int n = 0; ; n++) {
      int choice = random.nextInt(10);
      int fewest = padding > 0 ? 3 : 20;
      if (live.size() < fewest || (choice < 3 && live.size() < 10 * fewest)) {
        String[] values = {tag + "-" + n, "city" + random.nextInt(50), "note" + "p".repeat(padding)};
        begin(out, "append", values);
        int status = db.write(id, values);
        acknowledge(out, Integer.toString(status));
        if (status == 0) {
          live.add(values);
        }
        continue;
      }
      int index = random.nextInt(live.size());
      String[] old = live.get(index);
      int position = db.getPos(id, old[0]);
      if (choice < 8) {
        String[] values = old.clone();
        String note = old[2];
        if (choice < 5) {
          // Same length, other letters: in place (through the journal across pages).
          values[2] = note.replace(note.charAt(0), note.charAt(0) == 'x' ? 'y' : 'x');
        } else if (note.length() > padding + 60) {
          values[2] = padding == 0 ? "short" : "s".repeat(padding);  // shorter: in place if it cannot tear
        } else {
          values[2] = note + "+grown" + n;  // longer: moved to the end of the data file
        }
        begin(out, "update", values);
        boolean ok = db.updateRecord(id, position, values);
        acknowledge(out, Boolean.toString(ok));
        if (ok) {
          live.set(index, values);
        }
      } else {
        begin(out, "delete", old);
        boolean ok = db.deleteRecord(id, position);
        acknowledge(out, Boolean.toString(ok));
        if (ok) {
          live.remove(index);
        }
      }
    }
  }

  private static void begin(PrintStream out, String operation, String[] values) {
    out.println("B\t" + operation + "\t" + String.join("\t", values));
    out.flush();
  }

  private static void acknowledge(PrintStream out, String result) {
    out.println("A\t" + result);
    out.flush();
  }
}
