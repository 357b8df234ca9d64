import java.util.Arrays;

/** Run in a second JVM by StorageTest: writes or reads a database and prints what it sees. */
public class StorageChild {
  public static void main(String[] args) {
    DatabaseMarshall db = new DatabaseMarshall();
    String mode = args[0];
    int id = db.register(args[1]);
    if (mode.equals("write")) {
      db.define(id, new boolean[] {true, false, true}, new String[] {"key", "note", "city"});
      db.open(id, "process key", true);
      for (int i = 0; i < 50; i++) {
        db.write(id, new String[] {"key" + i, "note " + i + " ünïcödé", i % 2 == 0 ? "London" : "Paris"});
      }
      db.updateRecord(id, db.getPos(id, "key7"), new String[] {"key7", "grown to a much longer note ünïcödé", "Paris"});
      db.deleteRecord(id, db.getPos(id, "key3"));
      db.close(id);
    }
    if (!db.open(id, "process key", true)) {
      System.out.println("open failed");
      return;
    }
    System.out.println("count " + db.numRecs(id));
    int[] all = db.find(id, new boolean[0], new String[0]);
    System.out.println("positions " + Arrays.toString(all));
    for (int pos : all) {
      System.out.println("record " + pos + " " + String.join("|", db.getRecord(id, pos)));
    }
    System.out.println("london " + Arrays.toString(db.find(id, new boolean[] {false, false, false},
        new String[] {"", "", "LONDON"})));
    System.out.println("notes " + Arrays.toString(db.find(id, new boolean[] {false, true}, new String[] {"", "nïC"})));
    System.out.println("key7 " + db.getPos(id, "key7"));
    db.close(id);
  }
}
